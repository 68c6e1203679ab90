// The HID POS scanner's assembler: whatever reports arrive (any size, ID, length byte, flags),
// decodes stay within their bound and carry at most a three-character printable identifier.
// Input: a size byte before each report, as hidraw hands over one report a read.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "plugins/simreader/hidpos_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn::sim;
    constexpr std::size_t kBound = 200;
    HidPosAssembler reports(kBound), stream(kBound);
    std::vector<ScannerDecode> out;
    const auto now = ScanClock::now();
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        reports.feedReport(std::span(data + at + 1, length), now, out);
        at += 1 + length;
    }
    // The same bytes as a FIFO of fixed-size reports.
    stream.feedBytes(std::span(data, size), now, out);
    for (const auto& decode : out) {
        if (decode.data.empty() || decode.data.size() > kBound) std::abort();
        if (decode.kind != ScannerKind::HidPos || decode.symbology.size() > 3) std::abort();
        for (char c : decode.symbology) {
            if (c < 0x21 || c > 0x7E) std::abort();
        }
    }
    return 0;
}
