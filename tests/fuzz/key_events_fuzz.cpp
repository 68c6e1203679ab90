// The keyboard-mode scanner's assembler: whatever input_event records arrive (any type, code or
// value, cut anywhere), decodes stay within their bound, and how the stream is cut into reads
// changes nothing. The first byte picks the layout and the terminator.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "plugins/simreader/key_assembler.h"

namespace {

constexpr std::size_t kBound = 64;  // small, so that the overflow path is reached

const std::shared_ptr<const qn::sim::Keymap>& keymap(int which) {
    static const std::shared_ptr<const qn::sim::Keymap> keymaps[] = {
        qn::sim::Keymap::compile("us"), qn::sim::Keymap::compile("de")};
    return keymaps[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn::sim;
    if (size < 2) return 0;
    const std::uint8_t control = data[0];
    const auto& map = keymap(control & 1);
    if (!map) std::abort();
    const KeyOptions options{(control & 2) ? ScanTerminator::Tab : ScanTerminator::Enter,
                             std::chrono::milliseconds(0), kBound};
    const std::size_t cut = data[1] % 32;
    std::span<const std::uint8_t> stream(data + 2, size - 2);
    const auto now = ScanClock::now();

    KeyAssembler whole(map, options), pieces(map, options);
    std::vector<ScannerDecode> fromWhole, fromPieces;
    whole.feedBytes(stream, now, fromWhole);
    for (std::size_t at = 0; at < stream.size(); at += cut + 1) {
        pieces.feedBytes(stream.subspan(at, std::min(cut + 1, stream.size() - at)), now,
                         fromPieces);
    }
    if (fromWhole != fromPieces) std::abort();
    for (const auto& decode : fromWhole) {
        if (decode.data.empty() || decode.data.size() > kBound) std::abort();
        if (decode.kind != ScannerKind::Keyboard || !decode.symbology.empty()) std::abort();
    }
    // An unplug leaves nothing behind.
    whole.reset();
    if (whole.framer().pending()) std::abort();
    return 0;
}
