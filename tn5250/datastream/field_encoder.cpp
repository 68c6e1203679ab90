#include "tn5250/datastream/field_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qn::tn {

namespace {

// Cells as double-byte text reads them: unchanged, or with a null as a blank, looked up where
// they are read.
constexpr std::array<std::uint8_t, 256> cellMap(bool nullAsBlank) {
    std::array<std::uint8_t, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    if (nullAsBlank) map[0] = 0x20;
    return map;
}
constexpr std::array<std::uint8_t, 256> kSame = cellMap(false);
constexpr std::array<std::uint8_t, 256> kNullAsBlank = cellMap(true);

}  // namespace

void appendFieldData(const TnScreen& screen, std::uint8_t language, const FieldEntry& field,
                     FieldDataOptions options, std::vector<std::uint8_t>& out) {
    const int start = std::max(field.start(), 0);
    const int end = std::min(TnScreen::fieldEnd(field, true), kPlanePositions - 1);
    if (end < start) return;
    // The field's cells side by side, however its rows lie in the planes.
    std::array<std::uint8_t, kPlanePositions> cells;
    screen.copyPositions(start, end - start + 1, cells.data());
    std::size_t n = static_cast<std::size_t>(end - start + 1);
    const std::uint8_t* const c = cells.data();
    if (options.dropTrailing) {
        // Eight cells at a time from the end: each byte of the word is null or blank exactly
        // when nothing but the blank's bit is set anywhere in it.
        for (std::uint64_t word = 0; n >= 8; n -= 8) {
            std::memcpy(&word, c + n - 8, 8);
            if ((word & ~0x2020202020202020ull) != 0) break;
        }
        while (n > 0 && (c[n - 1] == 0 || c[n - 1] == 0x20))
            --n;
    }
    const std::size_t before = out.size();
    const std::uint8_t* const single = localToSbcsTable(language).data();
    if (!isDbcsLanguage(language)) {
        // One lookup per cell: a null sent as a blank takes the blank's byte in a copy.
        SbcsTable blanked;
        const std::uint8_t* table = single;
        if (options.nullsAsBlanks) {
            std::memcpy(blanked.data(), single, blanked.size());
            blanked[0] = single[0x20];
            table = blanked.data();
        }
        out.resize(before + n);
        std::uint8_t* const to = out.data() + before;
        for (std::size_t i = 0; i < n; ++i)
            to[i] = table[c[i]];
    } else {
        // At most five bytes for three cells (SO, a pair, SI, a single byte): room for twice
        // the cells, written in place and cut to what was written.
        out.resize(before + 2 * n + 1);
        std::uint8_t* const first = out.data() + before;
        std::uint8_t* to = first;
        // Each field starts and ends in single-byte mode, whatever state received text left.
        bool doubleByte = false;
        const std::uint8_t* const local = (options.nullsAsBlanks ? kNullAsBlank : kSame).data();
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t cell = local[c[i]];
            if (i + 1 < n && cell >= kLowestLocalDbcsLead &&
                isLocalDbcsPair(language, cell, local[c[i + 1]])) {
                BytePair pair{cell, local[c[i + 1]]};
                if (localToHostPair(language, pair)) {
                    if (!doubleByte) *to++ = kShiftOut;
                    doubleByte = true;
                    *to++ = pair[0];
                    *to++ = pair[1];
                    ++i;
                    continue;
                }
            }
            if (doubleByte) *to++ = kShiftIn;
            doubleByte = false;
            *to++ = single[cell];
        }
        if (doubleByte) *to++ = kShiftIn;
        out.resize(before + static_cast<std::size_t>(to - first));
    }

    if (options.applySign && ffw::isSignedNumeric(field.ffw1) && out.size() > before) {
        const int signPosition = TnScreen::fieldEnd(field, false);
        if (screen.charAtPosition(signPosition) == '-') {
            out.back() = static_cast<std::uint8_t>(0xD0 | (out.back() & 0x0F));
        }
    }
}

}  // namespace qn::tn
