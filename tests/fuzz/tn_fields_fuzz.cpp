// The field data encoder: any screen content in any fields. The encoded data must decode back
// to the cells it came from (every cell that has a host code), with SO and SI paired.
//
// Input: byte 0 the language and options; then fields of 5 bytes each (row, column, format
// word, length) followed by the cells' content.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/datastream/field_encoder.h"

namespace {

using namespace qn::tn;

class NullHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t>) override {}
    void alarm() override {}
};

// Decodes encoded field data as the host would and compares it with the cells.
void checkRoundTrip(const TnScreen& screen, std::uint8_t language, const FieldEntry& field,
                    const std::vector<std::uint8_t>& encoded) {
    static std::vector<std::uint8_t> decoded;
    static std::vector<bool> exact;  // whether the cell comes back as it was
    decoded.clear();
    exact.clear();
    bool shifted = false;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const std::uint8_t b = encoded[i];
        if (b == kShiftOut || b == kShiftIn) {
            if ((b == kShiftOut) == shifted) std::abort();  // SO inside SO, SI outside
            shifted = b == kShiftOut;
            continue;
        }
        if (shifted) {
            if (i + 1 >= encoded.size()) std::abort();  // half a pair
            BytePair pair{b, encoded[++i]};
            if (!hostToLocalPair(language, pair)) std::abort();
            decoded.insert(decoded.end(), pair.begin(), pair.end());
            exact.insert(exact.end(), {true, true});
        } else {
            if (b < 0x40) std::abort();  // never a control or attribute byte
            decoded.push_back(sbcsToLocal(language, b));
            // 0xFF is "no code"; a code whose table entry is 0xFF decodes as 0.
            exact.push_back(b != kNoEbcdicCode && sbcsTable(language)[b] != 0xFF);
        }
    }
    if (shifted) std::abort();  // SI closes every field
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        std::uint8_t cell = screen.charAtPosition(field.start() + static_cast<int>(i));
        if (cell == 0) cell = 0x20;  // nulls go as blanks in this call
        if (exact[i] && decoded[i] != cell) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t language = data[0] % 7;
    static qn::fuzz::Fresh<TnSession> freshSession;
    TnSession* const session = &freshSession.make();
    session->language = language;
    static TnScreen screenStorage;  // reset as the program resets its screen, not rebuilt
    TnScreen* const screen = &screenStorage;
    screen->reset();
    std::size_t at = 1;
    const std::size_t fieldCount = size > 1 ? data[at++] % 40 : 0;
    // Every cell of a field is encoded several times per run: fields of four rows between them
    // keep a run short and still reach every boundary (a field may start anywhere and wrap
    // past the end of the plane).
    constexpr int kCellsPerRun = 4 * kColumns;
    int cellsInFields = 0;
    for (std::size_t i = 0; i < fieldCount && at + 5 <= size && cellsInFields < kCellsPerRun;
         ++i, at += 5) {
        const int row = data[at] % kPlaneRows;
        const int column = data[at + 1] % kColumns;
        const int length =
            std::min((data[at + 3] << 8 | data[at + 4]) % 3000, kCellsPerRun - cellsInFields);
        cellsInFields += length;
        screen->addField(static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row),
                         data[at + 2] & 0xDF, 0, 0, 0, 0x44, length, 0);
    }
    for (int p = 0; at < size && p < kPlanePositions; ++p, ++at)
        screen->setCharAtPosition(p, data[at]);

    static std::vector<std::uint8_t> out;
    for (const FieldEntry& field : screen->fields.entries()) {
        out.clear();
        appendFieldData(*screen, language, field,
                        {.dropTrailing = (data[0] & 0x80) != 0, .nullsAsBlanks = true}, out);
        checkRoundTrip(*screen, language, field, out);
        out.clear();
        appendFieldData(*screen, language, field,
                        {.dropTrailing = true, .nullsAsBlanks = false, .applySign = true}, out);
    }
    // A whole reply over the same screen, in the read mode the input picks.
    NullHost host;
    TnDataStream stream(*screen, *session, host);
    screen->state.readMode = (data[0] >> 5) & 3;
    stream.sendAid(0xF1);
    return 0;
}
