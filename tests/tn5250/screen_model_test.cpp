// The screen and field model on its own: attributes, the field table and its bound, addresses
// at the edges of the planes, the mandatory checks, cursor placement at a record's end, the
// message line and stylus taps.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tn5250/screen/run_length.h"
#include "tn5250/screen/screen_model.h"

namespace qn::tn {
namespace {

TEST(CellAttributes, FromThe5250AttributeByte) {
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {
        {0x20, 0x40}, {0x21, 0x41}, {0x24, 0x44}, {0x25, 0x45}, {0x22, 0xE0}, {0x2A, 0x88},
        {0x2E, 0x8C}, {0x32, 0xD0}, {0x36, 0xC4}, {0x3A, 0x20}, {0x3E, 0x24}, {0x27, 0x07},
        {0x2F, 0x07}, {0x37, 0x07}, {0x3F, 0x07}, {0x1F, 0x00}, {0x40, 0x00}, {0x00, 0x00},
    };
    for (auto [byte, internal] : cases)
        EXPECT_EQ(internalAttribute(byte), internal) << std::hex << int(byte);
}

TEST(FieldTable, HoldsAtMost208Fields) {
    FieldTable table;
    for (int i = 0; i < kMaxFields; ++i) {
        ASSERT_TRUE(
            table.addField(std::uint8_t(i % 80), std::uint8_t(i / 80), 0x40, 0, 0, 0, 0, 1, 0));
    }
    EXPECT_FALSE(table.addField(79, 30, 0x40, 0, 0, 0, 0, 1, 0));
    EXPECT_EQ(table.count(), kMaxFields);
    EXPECT_EQ(table.entries().back().number, kMaxFields);
    // A full table still takes a redefinition of a field it has.
    EXPECT_TRUE(table.addField(5, 0, 0x48, 0, 0, 0, 0, 1, 0));
    EXPECT_EQ(table.entries()[5].ffw1, 0x48);
}

TEST(FieldTable, WalkStopsAtBothEnds) {
    FieldTable table;
    EXPECT_FALSE(table.first());
    EXPECT_FALSE(table.last());
    EXPECT_FALSE(table.current().isField());
    for (std::uint8_t column : {1, 11, 21})
        table.addField(column, 0, 0x40, 0, 0, 0, 0, 5, 0);
    ASSERT_TRUE(table.first());
    EXPECT_FALSE(table.previous());
    EXPECT_EQ(table.current().number, 1);
    EXPECT_TRUE(table.next());
    EXPECT_TRUE(table.next());
    EXPECT_TRUE(table.currentIsLast());
    EXPECT_FALSE(table.next());
    EXPECT_EQ(table.current().number, 3);
    ASSERT_TRUE(table.last());
    EXPECT_TRUE(table.previous());
    FieldEntry copy = table.current();
    copy.ffw1 |= ffw::kModified;
    table.writeBack(copy);
    EXPECT_TRUE(ffw::isModified(table.entries()[1].ffw1));
    table.clear();
    EXPECT_TRUE(table.empty());
}

struct AdvanceCase {
    int row, column, count;
    int expectedRow, expectedColumn;
};

TEST(ScreenAddress, AdvancesByLinearPositionAndStopsPastThePlanes) {
    const AdvanceCase cases[] = {
        {0, 0, 1, 0, 1},    {0, 79, 1, 1, 0},    {23, 79, 1, 24, 0},
        {32, 79, 1, 33, 0}, {32, 79, 50, 33, 0}, {33, 0, 1, 33, 0},
        {-1, -1, 1, -1, 0}, {-1, 79, 1, 0, 0},   {5, 10, 2, 5, 12},
    };
    for (const auto& c : cases) {
        TnScreen screen;
        screen.state.row = c.row;
        screen.state.column = c.column;
        screen.advance(c.count);
        EXPECT_EQ(screen.state.row, c.expectedRow) << c.row << "," << c.column;
        EXPECT_EQ(screen.state.column, c.expectedColumn) << c.row << "," << c.column;
    }
}

TEST(ScreenAddress, WritesOutsideThePlanesAreDropped) {
    TnScreen screen;
    screen.state.currentAttribute = 0x44;
    screen.writeCell(32, 127, 'A');
    EXPECT_EQ(screen.charAt(32, 127), 'A');
    EXPECT_EQ(screen.attributeAt(32, 127), 0x44);
    for (auto [row, column] : {std::pair{33, 0}, {-1, 0}, {0, 128}, {0, -1}, {1000, 1000}}) {
        screen.writeCell(row, column, 'B');
        EXPECT_EQ(screen.charAt(row, column), 0);
    }
    screen.setCharAtPosition(kPlanePositions, 'C');
    screen.setCharAtPosition(-1, 'C');
    EXPECT_EQ(screen.charAtPosition(kPlanePositions), 0);
}

// Attribute bytes are kept for the display only: one written at row 30 is not read there,
// and does not come into the display with a roll of the planes' last rows; one written in the
// display rolls with its cell.
TEST(ScreenAddress, AttributeBytesStayWithTheDisplay) {
    TnScreen screen;
    const std::uint8_t text[] = {0x22, 0xC1};
    for (int row : {30, 10}) {
        screen.setPosition(row * kColumns + 5);
        screen.writeText(text, text + 2, textTableOf(0));
    }
    const std::uint8_t a = screen.charAt(10, 6);
    ASSERT_NE(a, 0);
    EXPECT_EQ(screen.hostAttributeAt(10, 5), 0x22);
    EXPECT_EQ(screen.hostAttributeAt(30, 5), 0);
    screen.rollRows(10, 12, 1, true);
    EXPECT_EQ(screen.hostAttributeAt(11, 5), 0x22);
    screen.rollRows(20, 32, 9, false);  // row 30 to row 21
    EXPECT_EQ(screen.charAt(21, 6), a);
    EXPECT_EQ(screen.hostAttributeAt(21, 5), 0);
}

// A field of five cells at row 2, column 10, with the given second format word and content.
FieldEntry fieldWith(TnScreen& screen, std::uint8_t ffw1, std::uint8_t ffw2,
                     const std::string& cells) {
    screen.addField(10, 2, ffw1, ffw2, 0, 0, 0x44, 5, 0);
    for (std::size_t i = 0; i < cells.size(); ++i)
        screen.setChar(2, 10 + int(i), cells[i] == '.' ? 0 : std::uint8_t(cells[i]));
    return screen.fields.entries().back();
}

// The row-wise range operations against the cell by cell walk they replace, over ranges that
// start before the planes, cross rows and end past them.
TEST(ScreenAddress, RangeOperationsMatchTheCellByCellWalk) {
    TnScreen screen;
    for (int p = 0; p < kPlanePositions; p += 7)
        screen.setCharAtPosition(p, static_cast<std::uint8_t>(p % 5 == 0 ? 0 : 'A' + p % 26));
    const std::pair<int, int> ranges[] = {{-90, 5},   {0, 0},       {75, 85},     {79, 80},
                                          {160, 159}, {200, 100},   {2550, 2700}, {-5, -1},
                                          {1, 6},     {2632, 2639}, {2600, 5000}};
    for (auto [first, last] : ranges) {
        int walked = last;
        while (walked >= first && screen.charAtPosition(walked) == 0)
            --walked;
        EXPECT_EQ(screen.lastNonNullPosition(first, last), walked) << first << " " << last;
        const int count = std::max(last - first + 1, 0);
        std::string copied(static_cast<std::size_t>(count), '?');
        screen.copyPositions(first, count, reinterpret_cast<std::uint8_t*>(copied.data()));
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(std::uint8_t(copied[std::size_t(i)]), screen.charAtPosition(first + i));
    }
    // Moves either way, overlapping or not, inside the planes and partly or wholly outside.
    const std::array<int, 3> moves[] = {
        {0, 80, 200},     {80, 0, 200},     {100, 101, 50},   {101, 100, 50},  {-10, 5, 30},
        {5, -10, 30},     {2630, 2600, 40}, {2600, 2630, 40}, {-100, -50, 30}, {2700, 2600, 50},
        {-3000, 0, 6000}, {0, 0, 10},       {10, 20, 0},      {10, 20, -5},    {2639, -1, 2}};
    for (const auto& [from, to, count] : moves) {
        TnScreen moved = screen;
        TnScreen walked = screen;
        moved.movePositions(from, to, count);
        for (int i = 0; i < count; ++i) {
            const int at = to <= from ? i : count - 1 - i;
            walked.setCharAtPosition(to + at, walked.charAtPosition(from + at));
        }
        for (int p = 0; p < kPlanePositions; ++p) {
            ASSERT_EQ(moved.charAtPosition(p), walked.charAtPosition(p))
                << from << " " << to << " " << count << " at " << p;
        }
    }
    TnScreen masked;
    for (int p = 0; p < kPlanePositions; ++p)
        masked.paintAttribute(p, 1, static_cast<std::uint8_t>(p));
    masked.maskAttributes(70, 170, 0x1F);
    for (int p = 60; p < 180; ++p) {
        const std::uint8_t painted = static_cast<std::uint8_t>(p);
        EXPECT_EQ(masked.attributeAt(p / kColumns, p % kColumns),
                  p >= 70 && p <= 170 ? painted & 0x1F : painted)
            << p;
    }
}

TEST(FieldRules, CheckMandatory) {
    const struct {
        const char* name;
        std::uint8_t ffw2;
        const char* cells;  // '.' is a null cell
        bool passes;
    } cases[] = {
        {"fill, every cell null", 0x07, ".....", true},
        {"fill, every cell filled", 0x07, "12345", true},
        {"fill, first filled and one null", 0x07, "12.45", false},
        {"fill, first null and one filled", 0x07, "....5", false},
        {"fill, blanks count as filled", 0x07, "1   5", true},
        {"enter, every cell null", 0x08, ".....", false},
        {"enter, one cell filled", 0x08, "...4.", true},
        {"fill and enter, half filled", 0x0F, "12...", false},
        {"fill and enter, all filled", 0x0F, "12345", true},
        {"no rule", 0x00, "1....", true},
        {"right adjust is no mandatory rule", 0x05, "1....", true},
    };
    for (const auto& c : cases) {
        TnScreen screen;
        const FieldEntry field = fieldWith(screen, 0x40, c.ffw2, c.cells);
        EXPECT_EQ(screen.checkMandatory(field), c.passes) << c.name;
    }
}

TEST(FieldRules, ContainsEndAndSign) {
    TnScreen screen;
    const FieldEntry field = fieldWith(screen, 0x47, 0, "");  // signed numeric, 2,10 .. 2,14
    EXPECT_FALSE(TnScreen::fieldContains(field, 2, 9));
    EXPECT_TRUE(TnScreen::fieldContains(field, 2, 10));
    EXPECT_TRUE(TnScreen::fieldContains(field, 2, 14));
    EXPECT_FALSE(TnScreen::fieldContains(field, 2, 15));
    EXPECT_EQ(TnScreen::fieldEnd(field, false), 2 * 80 + 14);
    EXPECT_EQ(TnScreen::fieldEnd(field, true), 2 * 80 + 13);
    // Not signed numeric: the sign flag changes nothing; an invalid word has no edit type.
    FieldEntry plain = field;
    plain.ffw1 = 0x40;
    EXPECT_EQ(TnScreen::fieldEnd(plain, true), 2 * 80 + 14);
    plain.ffw1 = 0x87;
    EXPECT_EQ(ffw::shiftEditType(plain.ffw1), ffw::kNoRestriction);
    EXPECT_EQ(TnScreen::fieldEnd(plain, true), 2 * 80 + 14);
}

TEST(FieldRules, NullFieldsAndModifiedFlags) {
    TnScreen screen;
    fieldWith(screen, 0x48, 0, "ABCDE");  // modified
    screen.addField(0, 5, 0x40, 0, 0, 0, 0x44, 3, 0);
    screen.addField(78, 6, 0x40, 0, 0, 0, 0x44, 4, 0);  // over a row's end
    for (const auto& [row, column] : {std::pair{5, 0}, {2, 15}, {6, 79}, {7, 1}, {7, 2}})
        screen.setChar(row, column, 'Z');
    EXPECT_TRUE(screen.anyModified());
    screen.resetModifiedFlags(true);
    EXPECT_FALSE(screen.anyModified());
    screen.nullFields(true);
    EXPECT_EQ(screen.charAt(2, 10), 0);
    EXPECT_EQ(screen.charAt(2, 14), 0);
    EXPECT_EQ(screen.charAt(5, 0), 0);
    EXPECT_EQ(screen.charAt(6, 79), 0);
    EXPECT_EQ(screen.charAt(7, 1), 0);
    EXPECT_EQ(screen.charAt(2, 15), 'Z') << "past a field";
    EXPECT_EQ(screen.charAt(7, 2), 'Z') << "past a field";
    EXPECT_TRUE(ffw::isModified(screen.fields.entries()[0].ffw1));
    EXPECT_TRUE(ffw::isModified(screen.fields.entries()[1].ffw1));
    screen.resetModifiedFlags(false);
    screen.nullFields(false);
    EXPECT_FALSE(screen.anyModified());
}

TEST(RecordEnd, CursorGoesToInsertCursorElseFirstFieldElseHome) {
    struct Case {
        const char* name;
        bool insertCursor;
        bool fields;
        int row, column;
        std::uint8_t currentField;
    };
    const Case cases[] = {
        {"insert cursor inside the second field", true, true, 6, 3, 2},
        {"first input field", false, true, 2, 10, 1},
        {"home", false, false, 0, 0, 0},
        {"insert cursor without fields", true, false, 6, 3, 0},
    };
    for (const auto& c : cases) {
        TnScreen screen;
        screen.state.row = 17;
        screen.state.column = 17;
        if (c.fields) {
            screen.addField(10, 2, 0x40, 0, 0, 0, 0x44, 5, 0);
            screen.addField(0, 6, 0x40, 0, 0, 0, 0x45, 20, 0);
        }
        if (c.insertCursor) {
            screen.state.insertCursorRow = 6;
            screen.state.insertCursorColumn = 3;
        }
        screen.state.receive.shiftOut = true;
        screen.placeCursorAtRecordEnd();
        EXPECT_EQ(screen.state.row, c.row) << c.name;
        EXPECT_EQ(screen.state.column, c.column) << c.name;
        EXPECT_EQ(screen.state.currentField.number, c.currentField) << c.name;
        EXPECT_FALSE(screen.state.receive.shiftOut) << c.name;
        if (c.currentField != 0) {
            EXPECT_EQ(screen.state.currentAttribute, screen.state.currentField.attribute);
        }
    }
}

TEST(MessageLine, SavedOnceAndRestored) {
    TnScreen screen;
    screen.state.messageRow = 22;
    screen.setChar(22, 0, 'L');
    screen.setChar(22, 100, 'H');  // the hidden columns are saved too
    screen.saveMessageRow();
    screen.clearMessageRow();
    screen.setChar(22, 0, 'E');
    screen.state.messageShown = true;
    // A second message while the first is shown keeps the line saved before the first.
    screen.saveMessageRow();
    screen.clearMessageRow();
    screen.setChar(22, 0, 'F');
    screen.restoreMessageRow();
    EXPECT_EQ(screen.charAt(22, 0), 'L');
    EXPECT_EQ(screen.charAt(22, 100), 'H');
}

// The packing rule, a byte at a time: a run of three or more (at most 129) is repeated; a
// literal (at most 128) stops where three equal bytes start.
std::vector<std::uint8_t> packedByRule(const std::vector<std::uint8_t>& c) {
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < c.size()) {
        std::size_t run = 1;
        while (i + run < c.size() && run < 129 && c[i + run] == c[i])
            ++run;
        if (run >= 3) {
            out.insert(out.end(), {std::uint8_t(0x7E + run), c[i]});
            i += run;
            continue;
        }
        std::size_t p = i + 1;
        while (p < c.size() && p - i < 128 &&
               !(p + 2 < c.size() && c[p] == c[p + 1] && c[p + 1] == c[p + 2]))
            ++p;
        out.push_back(std::uint8_t(p - i - 1));
        out.insert(out.end(), c.begin() + long(i), c.begin() + long(p));
        i = p;
    }
    return out;
}

TEST(SavedScreenRuns, PackAsTheRuleSaysAndUnpackToTheCells) {
    // Few distinct bytes make runs and near-runs at every alignment.
    std::mt19937 random(7);
    for (const int alphabet : {1, 2, 3, 256}) {
        for (std::size_t n = 0; n <= 600; n += (n < 40 ? 1 : 37)) {
            std::vector<std::uint8_t> cells(n);
            for (std::uint8_t& cell : cells)
                cell = std::uint8_t(random() % unsigned(alphabet));
            std::vector<std::uint8_t> packed;
            packRuns(cells, packed);
            ASSERT_EQ(packed, packedByRule(cells)) << "alphabet " << alphabet << ", " << n;
            std::vector<std::uint8_t> back(n);
            ASSERT_TRUE(unpackRuns(packed, back));
            ASSERT_EQ(back, cells);
        }
    }
}

TEST(StylusTap, LeavingAFieldNeedsItsMandatoryCheck) {
    TnScreen screen;
    fieldWith(screen, 0x40, 0x07, "12...");  // mandatory fill, half filled
    screen.addField(0, 6, 0x40, 0, 0, 0, 0x45, 20, 0);
    screen.locateField(2, 11);
    screen.state.row = 2;
    screen.state.column = 11;
    EXPECT_TRUE(screen.tapCell(2, 13));  // inside the same field
    EXPECT_EQ(screen.state.column, 13);
    EXPECT_FALSE(screen.tapCell(6, 5));  // the half-filled field holds the cursor
    EXPECT_EQ(screen.state.row, 2);
    EXPECT_EQ(screen.state.currentField.number, 1);
    screen.setChar(2, 12, '3');
    screen.setChar(2, 13, '4');
    screen.setChar(2, 14, '5');
    EXPECT_TRUE(screen.tapCell(6, 5));
    EXPECT_EQ(screen.state.currentField.number, 2);
    EXPECT_EQ(screen.state.currentAttribute, 0x45);
    EXPECT_TRUE(screen.tapCell(20, 0));  // outside every field
    EXPECT_FALSE(screen.state.currentField.isField());
    EXPECT_FALSE(screen.tapCell(24, 0));
}

}  // namespace
}  // namespace qn::tn
