// Field data as the host receives it, cell by cell.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/tn5250/tn_test_support.h"
#include "tn5250/datastream/field_encoder.h"

namespace qn::tn {
namespace {

using test::Bytes;

struct EncodeCase {
    const char* name;
    std::uint8_t language;
    std::uint8_t ffw1;
    Bytes cells;  // the field's cells, local code, 0 for null
    FieldDataOptions options;
    Bytes expected;
};

constexpr FieldDataOptions kDrop{.dropTrailing = true, .nullsAsBlanks = true, .applySign = true};
constexpr FieldDataOptions kAll{.dropTrailing = false, .nullsAsBlanks = true, .applySign = false};
constexpr FieldDataOptions kRaw{.dropTrailing = true, .nullsAsBlanks = false, .applySign = true};

TEST(FieldEncoder, Cells) {
    const EncodeCase cases[] = {
        {"single bytes, trailing blanks dropped",
         0,
         0x40,
         {'A', 'B', ' ', ' '},
         kDrop,
         {0xC1, 0xC2}},
        {"nothing dropped", 0, 0x40, {'A', 'B', ' ', 0}, kAll, {0xC1, 0xC2, 0x40, 0x40}},
        {"a null inside as blank", 0, 0x40, {'A', 0, 'B'}, kDrop, {0xC1, 0x40, 0xC2}},
        {"a null inside kept: no code", 0, 0x40, {'A', 0, 'B'}, kRaw, {0xC1, 0xFF, 0xC2}},
        {"leading blanks stay", 0, 0x40, {' ', 'A', ' ', 0}, kDrop, {0x40, 0xC1}},
        {"an empty field sends nothing", 0, 0x40, {0, ' ', 0}, kDrop, {}},
        {"a byte without code", 0, 0x40, {0x01, 'a'}, kDrop, {0xFF, 0x81}},
        {"French table", 6, 0x40, {'@', 0xE0}, kDrop, {0x44, 0x7C}},
        {"pairs inside SO ... SI",
         4,
         0x40,
         {0x83, 0xBF, 0x81, 0x40, 'A'},
         kDrop,
         {0x0E, 0x41, 0x41, 0x40, 0x40, 0x0F, 0xC1}},
        {"a pair at the end is closed by SI",
         4,
         0x40,
         {'A', 0x83, 0xBF},
         kDrop,
         {0xC1, 0x0E, 0x41, 0x41, 0x0F}},
        {"a lead byte in the last cell is a single byte",
         4,
         0x40,
         {'A', 0x83},
         kDrop,
         {0xC1, 0xFF}},
        {"a pair the table lacks goes as two single bytes",
         4,
         0x40,
         {0x85, 0x40},
         kDrop,
         {0xFF, 0x7C}},
        {"Big5 ideographic space", 1, 0x40, {0xA1, 0x40}, kDrop, {0x0E, 0x40, 0x40, 0x0F}},
        {"Korean symbols",
         3,
         0x40,
         {0xA1, 0xA2, 0xA1, 0xA3},
         kDrop,
         {0x0E, 0x41, 0x41, 0x41, 0x42, 0x0F}},
        {"a Korean trail above 0xF3 is no pair", 3, 0x40, {0xB0, 0xF5}, kDrop, {0x90, 0xCF}},
        {"signed numeric with minus", 0, 0x47, {'1', '2', '-'}, kDrop, {0xF1, 0xD2}},
        {"signed numeric, sign not asked for", 0, 0x47, {'1', '2', '-'}, kAll, {0xF1, 0xF2}},
        {"signed numeric with blank sign", 0, 0x47, {'1', '2', ' '}, kDrop, {0xF1, 0xF2}},
        {"signed numeric, null inside", 0, 0x47, {'1', 0, '5', '-'}, kDrop, {0xF1, 0x40, 0xD5}},
        {"signed numeric, nothing to sign", 0, 0x47, {' ', ' ', '-'}, kDrop, {}},
        {"sign needs a valid format word", 0, 0x87, {'1', '2', '-'}, kDrop, {0xF1, 0xF2, 0x60}},
        {"numeric only has no sign position", 0, 0x43, {'1', '2', '-'}, kDrop, {0xF1, 0xF2, 0x60}},
    };
    for (const auto& c : cases) {
        test::Terminal t(c.language);
        t.screen->addField(10, 3, c.ffw1, 0, 0, 0, 0x44, std::int32_t(c.cells.size()), 0);
        for (std::size_t i = 0; i < c.cells.size(); ++i)
            t.screen->setChar(3, 10 + int(i), c.cells[i]);
        Bytes out{0xAA};  // what came before the field stays
        appendFieldData(*t.screen, c.language, t.screen->fields.entries()[0], c.options, out);
        Bytes expected{0xAA};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(out, expected) << c.name;
    }
}

TEST(FieldEncoder, TrailingNullsAndBlanksGoWhateverTheFieldsLength) {
    // Long tails are searched several cells at a time: every length and every last text cell.
    for (int length = 1; length <= 40; ++length) {
        for (int last = -1; last < length; ++last) {
            test::Terminal t;
            t.screen->addField(0, 3, 0x40, 0, 0, 0, 0x44, length, 0);
            Bytes expected;
            for (int i = 0; i < length; ++i) {
                const bool text = i == last || (i < last && i % 4 != 1);
                const std::uint8_t blankOrNull = i % 3 == 0 ? 0 : ' ';
                t.screen->setChar(3, i, text ? std::uint8_t('A' + i % 9) : blankOrNull);
                if (i <= last) expected.push_back(text ? std::uint8_t(0xC1 + i % 9) : 0x40);
            }
            Bytes out;
            appendFieldData(*t.screen, 0, t.screen->fields.entries()[0], kDrop, out);
            EXPECT_EQ(out, expected) << "length " << length << ", last text at " << last;
        }
    }
}

TEST(FieldEncoder, AReplysWriterGivesEachFieldAsAlone) {
    // Long overlapping fields over a screen of text, blanks, nulls and double-byte leads with
    // trails, a signed-numeric one among them: past a screenful of cells the writer builds
    // each field from planes translated once, pairs split at any field's start or end.
    for (const std::uint8_t language : {0, 1, 2, 3, 4, 6}) {
        for (const FieldDataOptions options : {kDrop, kAll, kRaw}) {
            test::Terminal t(language);
            for (int i = 0; i < 40; ++i) {
                const std::uint8_t ffw1 = i % 7 == 3 ? 0x47 : 0x40;
                t.screen->addField(i % 80, 1 + i % 20, ffw1, 0, 0, 0, 0x44, 150 + 37 * i, 0);
            }
            for (int p = 0; p < kPlanePositions; ++p) {
                const std::uint8_t cell = p % 11 == 0   ? 0
                                          : p % 5 == 0  ? ' '
                                          : p % 13 == 0 ? '-'
                                          : p % 7 < 3   ? 0x81 + p % 0x7E
                                                        : 'A' + p % 9;
                t.screen->setCharAtPosition(p, cell);
            }
            Bytes alone;
            Bytes written;
            FieldDataWriter writer(*t.screen, language, options);
            for (const FieldEntry& field : t.screen->fields.entries()) {
                appendFieldData(*t.screen, language, field, options, alone);
                writer.append(field, written);
            }
            EXPECT_GT(alone.size(), std::size_t(kPlanePositions)) << "past a screenful";
            if (isDbcsLanguage(language)) {
                EXPECT_GT(std::count(alone.begin(), alone.end(), kShiftOut), 100) << "pairs";
            }
            EXPECT_EQ(written, alone) << "language " << int(language);
        }
    }
}

// The rule cell by cell, as plainly as it can be written: what the encoder's stretches and
// tables must agree with.
Bytes encodeByTheRule(std::uint8_t language, const Bytes& cells, FieldDataOptions options) {
    std::size_t n = cells.size();
    while (options.dropTrailing && n > 0 && (cells[n - 1] == 0 || cells[n - 1] == ' '))
        --n;
    Bytes out;
    bool doubleByte = false;
    for (std::size_t i = 0; i < n; ++i) {
        auto local = [&](std::size_t k) -> std::uint8_t {
            return cells[k] == 0 && options.nullsAsBlanks ? ' ' : cells[k];
        };
        BytePair pair{local(i), i + 1 < n ? local(i + 1) : std::uint8_t(0)};
        if (i + 1 < n && isDbcsLanguage(language) && isLocalDbcsPair(language, pair[0], pair[1]) &&
            localToHostPair(language, pair)) {
            if (!doubleByte) out.push_back(kShiftOut);
            doubleByte = true;
            out.insert(out.end(), pair.begin(), pair.end());
            ++i;
            continue;
        }
        if (doubleByte) out.push_back(kShiftIn);
        doubleByte = false;
        out.push_back(localToSbcs(language, local(i)));
    }
    if (doubleByte) out.push_back(kShiftIn);
    return out;
}

TEST(FieldEncoder, AgreesWithTheRuleOverRandomCells) {
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (std::uint8_t language = 0; language <= 6; ++language) {
        for (const FieldDataOptions options : {kDrop, kAll, kRaw}) {
            for (int round = 0; round < 30; ++round) {
                // Mostly nulls, blanks and lead bytes with trails, so that pairs, stretches and
                // the shifts between them all come up.
                Bytes cells(1 + next() % 60);
                for (std::uint8_t& cell : cells) {
                    const std::uint32_t r = next() >> 8;
                    cell = r % 4 == 0   ? 0
                           : r % 4 == 1 ? ' '
                           : r % 4 == 2 ? std::uint8_t(0x81 + r / 4 % 0x7E)
                                        : std::uint8_t(r / 4);
                }
                test::Terminal t(language);
                t.screen->addField(0, 3, 0x40, 0, 0, 0, 0x44, std::int32_t(cells.size()), 0);
                for (std::size_t i = 0; i < cells.size(); ++i)
                    t.screen->setChar(3, int(i), cells[i]);
                Bytes out;
                appendFieldData(*t.screen, language, t.screen->fields.entries()[0], options, out);
                ASSERT_EQ(out, encodeByTheRule(language, cells, options))
                    << "language " << int(language) << ", round " << round;
            }
        }
    }
}

TEST(FieldEncoder, StartsInSingleByteModeWhateverTheReceivedTextLeft) {
    test::Terminal t(4);
    t.screen->addField(0, 1, 0x40, 0, 0, 0, 0x44, 3, 0);
    t.screen->setChar(1, 0, 'A');
    t.screen->setChar(1, 1, 0x83);
    t.screen->setChar(1, 2, 0xBF);
    t.screen->state.receive.shiftOut = true;  // a host record ended inside SO
    Bytes out;
    appendFieldData(*t.screen, 4, t.screen->fields.entries()[0], kDrop, out);
    EXPECT_EQ(out, (Bytes{0xC1, 0x0E, 0x41, 0x41, 0x0F}));
    EXPECT_TRUE(t.screen->state.receive.shiftOut) << "the received text's state is its own";
}

TEST(FieldEncoder, FieldsPastThePlanesSendOnlyTheirCellsInside) {
    test::Terminal t;
    t.screen->addField(70, 32, 0x40, 0, 0, 0, 0x44, 1000, 0);
    for (int c = 70; c < 80; ++c)
        t.screen->setChar(32, c, 'A');
    Bytes out;
    appendFieldData(*t.screen, 0, t.screen->fields.entries()[0], kAll, out);
    EXPECT_EQ(out, Bytes(10, 0xC1));
}

}  // namespace
}  // namespace qn::tn
