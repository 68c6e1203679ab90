#include "tn5250/datastream/field_encoder.h"

#include <algorithm>

namespace qn::tn {

void appendFieldData(const TnScreen& screen, std::uint8_t language, const FieldEntry& field,
                     FieldDataOptions options, std::vector<std::uint8_t>& out) {
    const int start = std::max(field.start(), 0);
    int end = std::min(TnScreen::fieldEnd(field, true), kPlanePositions - 1);
    if (options.dropTrailing) {
        while (end >= start &&
               (screen.charAtPosition(end) == 0 || screen.charAtPosition(end) == 0x20)) {
            --end;
        }
    }
    auto cell = [&](int position) {
        const std::uint8_t c = screen.charAtPosition(position);
        return c == 0 && options.nullsAsBlanks ? std::uint8_t{0x20} : c;
    };

    const std::size_t before = out.size();
    // Each field starts and ends in single-byte mode, whatever state received text left.
    bool doubleByte = false;
    for (int p = start; p <= end; ++p) {
        const std::uint8_t c = cell(p);
        if (p < end && isLocalDbcsPair(language, c, cell(p + 1))) {
            BytePair pair{c, cell(p + 1)};
            if (localToHostPair(language, pair)) {
                if (!doubleByte) out.push_back(kShiftOut);
                doubleByte = true;
                out.push_back(pair[0]);
                out.push_back(pair[1]);
                ++p;
                continue;
            }
        }
        if (doubleByte) out.push_back(kShiftIn);
        doubleByte = false;
        out.push_back(localToSbcs(language, c));
    }
    if (doubleByte) out.push_back(kShiftIn);

    if (options.applySign && ffw::isSignedNumeric(field.ffw1) && out.size() > before) {
        const int signPosition = TnScreen::fieldEnd(field, false);
        if (screen.charAtPosition(signPosition) == '-') {
            out.back() = static_cast<std::uint8_t>(0xD0 | (out.back() & 0x0F));
        }
    }
}

}  // namespace qn::tn
