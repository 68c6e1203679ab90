// Screen effects of host output: erasing, cursor movement, the scroll region, printing.

#include <gtest/gtest.h>

#include "tests/vt/vt_test_support.h"

namespace qn::vt::test {
namespace {

// Row expectations: row, characters as rowText shows them, and optionally reverse flags.
struct RowExpect {
    int row;
    std::string chars;
    const char* reverse = nullptr;  // as reverseText shows them; null: not checked
};

struct ScreenCase {
    const char* name;
    std::string setup;  // fed first, in the same stream
    std::string input;
    std::vector<RowExpect> rows;
    int cursorRow;
    int cursorCol;
    Under under = Under::Both;
    // Under vt100 where the classic rules differ only in these: the cursor's column (erasing
    // moved it), the input (the classic rules count rows from the region's top).
    int vt100Col = -1;
    const char* vt100Input = nullptr;
};

void checkOutcome(const ScreenCase& c, const Outcome& out, int cursorCol) {
    for (const RowExpect& expect : c.rows) {
        EXPECT_EQ(rowText(out.screen, expect.row), expect.chars) << "row " << expect.row;
        if (expect.reverse != nullptr) {
            EXPECT_EQ(reverseText(out.screen, expect.row), expect.reverse)
                << "reverse of row " << expect.row;
        }
    }
    EXPECT_EQ(out.screen.cursorRow, c.cursorRow);
    EXPECT_EQ(out.screen.cursorCol, cursorCol);
}

void checkScreen(const ScreenCase& c, const Configure& configure = {}) {
    SCOPED_TRACE(c.name);
    if (c.vt100Col < 0 && c.vt100Input == nullptr) {
        checkOutcome(c, runAllWays(c.setup + c.input, configure, c.under), c.cursorCol);
        return;
    }
    checkOutcome(c, runAllWays(c.setup + c.input, configure, VtEmulation::Classic), c.cursorCol);
    const std::string input = c.vt100Input != nullptr ? c.vt100Input : c.input;
    checkOutcome(c, runAllWays(c.setup + input, configure, VtEmulation::Vt100),
                 c.vt100Col < 0 ? c.cursorCol : c.vt100Col);
}

// Every cell 'E'; rows 3..5 (0-based) 'R' in reverse video; cursor at row 4, column 9.
std::string eraseSetup() {
    std::string s = "\033#8\033[7m";
    for (int row = 4; row <= 6; ++row)
        s += "\033[" + std::to_string(row) + ";1H" + repeat('R', 80);
    return s + "\033[0m\033[5;10H";
}

const std::string kE = repeat('E', 80);
const std::string kR = repeat('R', 80);
const std::string kOnes = repeat('1', 80);

TEST(VtEmulatorErase, LineAndDisplayVariants) {
    const std::string head9 = repeat('R', 9);
    const std::string tail70 = repeat('.', 10) + repeat('R', 70);
    const std::string rev9 = repeat('1', 9);
    const std::string revTail = repeat('0', 10) + repeat('1', 70);
    const ScreenCase cases[] = {
        {"K clears to the end",
         eraseSetup(),
         "\033[K",
         {{3, kR}, {4, head9, rev9.c_str()}, {5, kR}},
         4,
         9},
        {"0K as K", eraseSetup(), "\033[0K", {{4, head9, rev9.c_str()}}, 4, 9},
        {"1K clears to the cursor inclusive; classic: column 0",
         eraseSetup(),
         "\033[1K",
         {{3, kR}, {4, tail70, revTail.c_str()}, {5, kR}},
         4,
         0,
         Under::Both,
         9},
        {"2K clears the row, cursor stays",
         eraseSetup(),
         "\033[2K",
         {{3, kR}, {4, "", ""}, {5, kR}},
         4,
         9},
        {"3K: classic returns the carriage",
         eraseSetup(),
         "\033[3K",
         {{4, kR, kOnes.c_str()}},
         4,
         0,
         Under::Both,
         9},
        {"12K: only the last digit counts", eraseSetup(), "\033[12K", {{4, ""}}, 4, 9},
        {"?1K: last digit 1; classic: column 0",
         eraseSetup(),
         "\033[?1K",
         {{4, tail70}},
         4,
         0,
         Under::Both,
         9},
        {";K: no selector; classic: column 0",
         eraseSetup(),
         "\033[;K",
         {{4, kR}},
         4,
         0,
         Under::Both,
         9},
        {"J clears to the end of row 23",
         eraseSetup(),
         "\033[J",
         {{2, kE}, {3, kR}, {4, head9}, {5, "", ""}, {23, ""}, {24, kE}},
         4,
         9},
        {"1J clears from the top; classic: column 0",
         eraseSetup(),
         "\033[1J",
         {{0, ""}, {3, "", ""}, {4, tail70, revTail.c_str()}, {5, kR}, {23, kE}},
         4,
         0,
         Under::Both,
         9},
        {"2J clears rows 0..23, cursor stays",
         eraseSetup(),
         "\033[2J",
         {{0, ""}, {4, "", ""}, {23, ""}, {24, kE}},
         4,
         9},
        {"12J acts as 2J", eraseSetup(), "\033[12J", {{0, ""}, {23, ""}, {24, kE}}, 4, 9},
        {"3J: classic returns the carriage",
         eraseSetup(),
         "\033[3J",
         {{0, kE}, {4, kR}},
         4,
         0,
         Under::Both,
         9},
        {"K at the pending-wrap column clears nothing",
         eraseSetup(),
         "\033[5;80Hx\033[K",
         {{4, repeat('R', 79) + "x"}},
         4,
         80,
         Under::Classic},
        {"K at the pending-wrap column clears the last column",
         eraseSetup(),
         "\033[5;80Hx\033[K",
         {{4, repeat('R', 79)}},
         4,
         80,
         Under::Vt100},
        {"J at the pending-wrap column clears the last column and below",
         eraseSetup(),
         "\033[5;80Hx\033[J",
         {{4, repeat('R', 79)}, {5, ""}, {24, kE}},
         4,
         80,
         Under::Vt100},
        {"1K at the pending-wrap column clears the row",
         eraseSetup(),
         "\033[5;80Hx\033[1K",
         {{4, ""}},
         4,
         0,
         Under::Both,
         80},
    };
    for (const ScreenCase& c : cases)
        checkScreen(c);
}

TEST(VtEmulatorCursor, MovesAndClamps) {
    const std::string at = "\033[11;41H";  // row 10, column 40
    const std::string region = "\033[5;20r";
    const ScreenCase cases[] = {
        {"A", at, "\033[A", {}, 9, 40},
        {"0A counts as 1", at, "\033[0A", {}, 9, 40},
        {"3A", at, "\033[3A", {}, 7, 40},
        {"A stops at row 0", at, "\033[99A", {}, 0, 40},
        {"B", at, "\033[B", {}, 11, 40},
        {"e as B", at, "\033[2e", {}, 12, 40},
        {"B stops at row 23", at, "\033[99B", {}, 23, 40},
        {"C", at, "\033[C", {}, 10, 41},
        {"a as C", at, "\033[3a", {}, 10, 43},
        {"C stops at column 79", at, "\033[99C", {}, 10, 79},
        {"D", at, "\033[D", {}, 10, 39},
        {"D stops at column 0", at, "\033[99D", {}, 10, 0},
        {"H home", at, "\033[H", {}, 0, 0},
        {"H 0;0 is home", at, "\033[0;0H", {}, 0, 0},
        {"H row only", at, "\033[5H", {}, 4, 0},
        {"H column only", at, "\033[;5H", {}, 0, 4},
        {"H last cell", at, "\033[24;80H", {}, 23, 79},
        {"f clamps into the screen", at, "\033[99;999f", {}, 23, 79},
        {"H extra numbers are ignored", at, "\033[3;4;5H", {}, 2, 3},
        {"G", at, "\033[G", {}, 10, 0},
        {"G 0", at, "\033[0G", {}, 10, 0},
        {"G 80", at, "\033[80G", {}, 10, 79},
        {"G beyond the row", at, "\033[81G", {}, 10, 79},
        {"d", at, "\033[d", {}, 0, 40},
        {"d beyond the screen", at, "\033[99d", {}, 23, 40},
        {"E", at, "\033[E", {}, 11, 0},
        {"0E stays on the row", at, "\033[0E", {}, 10, 0},
        {"E stops at row 23", at, "\033[20E", {}, 23, 0},
        {"F", at, "\033[F", {}, 9, 0},
        {"F stops at row 0", at, "\033[20F", {}, 0, 0},
        {"ESC 7 / ESC 8", at, "\0337\033[H\0338", {}, 10, 40},
        {"CSI s / CSI u", at, "\033[s\033[5;5H\033[u", {}, 10, 40},
        {"a count that wraps below zero counts as one", at, "\033[4294967295A", {}, 9, 40},
        {"a count that wraps to zero counts as one", at, "\033[4294967296A", {}, 9, 40},
        {"the most negative count", at, "\033[2147483648C", {}, 10, 41},
        {"a position that wraps below zero", at, "\033[4294967295G", {}, 10, 0},
        {"region: H counts from the region top", region, "\033[1;1H", {}, 4, 0, Under::Classic},
        {"region: H is absolute", region, "\033[1;1H", {}, 0, 0, Under::Vt100},
        {"region: H is still kept on the screen", region, "\033[30;1H", {}, 23, 0},
        {"origin mode: H counts from the region top",
         region + "\033[?6h",
         "\033[2;3H",
         {},
         5,
         2,
         Under::Vt100},
        {"origin mode: H stays in the region",
         region + "\033[?6h",
         "\033[30;1H",
         {},
         19,
         0,
         Under::Vt100},
        {"origin mode: d counts from the region top",
         region + "\033[?6h",
         "\033[3d",
         {},
         6,
         0,
         Under::Vt100},
        {"region: A above the region reaches row 0",
         region + "\033[3;1H",
         "\033[99A",
         {},
         0,
         0,
         Under::Vt100},
        {"region: B below the region reaches row 23",
         region + "\033[22;1H",
         "\033[99B",
         {},
         23,
         0,
         Under::Vt100},
        {"region: B inside the region stops at its bottom",
         region + "\033[6;1H",
         "\033[99B",
         {},
         19,
         0,
         Under::Vt100},
        {"region: A stops at the region top", region + "\033[10;1H", "\033[99A", {}, 4, 0},
        {"region: B stops at the region bottom", region, "\033[99B", {}, 19, 0},
        {"region: d is absolute", region, "\033[3d", {}, 2, 0},
        {"BS at column 0 stays", "", "\b", {{0, " "}}, 0, 0, Under::Classic},
        {"BS blanks the cell it moves to", "", "abc\b", {{0, "ab "}}, 0, 2, Under::Classic},
        {"BS after the last column",
         "\033[1;79H",
         "xy\b",
         {{0, repeat('.', 78) + " y"}},
         0,
         78,
         Under::Classic},
        {"BS at column 0 stays, blanking nothing", "", "\b", {{0, ""}}, 0, 0, Under::Vt100},
        {"BS only moves the cursor", "", "abc\b\b", {{0, "abc"}}, 0, 1, Under::Vt100},
        {"BS after the last column",
         "\033[1;79H",
         "xy\b",
         {{0, repeat('.', 78) + "xy"}},
         0,
         78,
         Under::Vt100},
        {"BS SP BS erases", "", "12956\b\b\b \b", {{0, "12 56"}}, 0, 2, Under::Vt100},
        {"HT from column 0", "", "\t", {}, 0, 7},
        {"HT from column 7", "\033[1;8H", "\t", {}, 0, 15},
        {"HT from column 79 stays", "\033[1;80H", "\t", {}, 0, 79},
        {"HT from the pending-wrap column", "\033[1;80Hx", "\t", {}, 0, 79},
        {"ESC H sets a stop", "\033[1;4H\033H\033[1;1H", "\t", {}, 0, 3},
        {"0g clears the stop under the cursor", "\033[1;8H\033[0g\033[1;1H", "\t", {}, 0, 15},
        {"g without a number clears nothing", "\033[1;8H\033[g\033[1;1H", "\t", {}, 0, 7},
        {"3g clears every stop", "\033[3g", "\t", {}, 0, 79},
        {"stops belong to their row", "\033[2;4H\033H\033[1;1H", "\t", {}, 0, 7},
        {"CR", "\033[3;9H", "\r", {}, 2, 0},
        {"LF keeps the column", "\033[3;9H", "\n", {}, 3, 8},
        {"VT and FF act as LF", "\033[3;9H", "\v\f", {}, 4, 8},
        {"LF returns the carriage in new-line mode", "\033[20h\033[3;9H", "\n", {}, 3, 0},
    };
    for (const ScreenCase& c : cases)
        checkScreen(c);
}

// Row r holds "L" and its two-digit number.
std::string numberedRows() {
    std::string s;
    for (int row = 0; row < kScreenRows; ++row) {
        char text[32];
        std::snprintf(text, sizeof text, "\033[%d;1HL%02d", row + 1, row);
        s += text;
    }
    return s;
}

TEST(VtEmulatorScroll, RegionsAndLines) {
    const std::string rows = numberedRows();
    const std::string region = rows + "\033[5;20r";  // rows 4..19, cursor at row 5
    const ScreenCase cases[] = {
        {"LF on row 23 scrolls the screen",
         rows,
         "\033[24;1H\n",
         {{0, "L01"}, {22, "L23"}, {23, ""}, {24, ""}},
         23,
         0},
        {"LF on the region's bottom line scrolls the region",
         region,
         "\033[16;1H\n",
         {{3, "L03"}, {4, "L05"}, {18, "L19"}, {19, ""}, {20, "L20"}},
         19,
         0,
         Under::Both,
         -1,
         "\033[20;1H\n"},
        {"ESC D on the bottom line",
         region,
         "\033[16;1H\033D",
         {{4, "L05"}, {19, ""}, {20, "L20"}},
         19,
         0,
         Under::Both,
         -1,
         "\033[20;1H\033D"},
        {"ESC D elsewhere moves down",
         region,
         "\033[3;7H\033D",
         {{4, "L04"}},
         7,
         6,
         Under::Both,
         -1,
         "\033[7;7H\033D"},
        {"the region scrolls under absolute addressing",
         "1\r\n2\r\n3\r\n4\r\n5",
         "\033[2;5r\033[5;1H\n\033[r",
         {{0, "1"}, {1, "3"}, {2, "4"}, {3, "5"}, {4, ""}},
         0,
         0,
         Under::Vt100},
        {"the region's offset sends the scroll below it",
         "1\r\n2\r\n3\r\n4\r\n5",
         "\033[2;5r\033[5;1H\n\033[r",
         {{0, "1"}, {1, "2"}, {2, "3"}, {3, "4"}, {4, "5"}},
         0,
         0,
         Under::Classic},
        {"ESC E on row 23 scrolls once, column 0",
         rows,
         "\033[24;5H\033E",
         {{22, "L23"}, {23, ""}},
         23,
         0},
        {"ESC M on row 0 scrolls down",
         rows,
         "\033[1;5H\033M",
         {{0, ""}, {1, "L00"}, {23, "L22"}},
         0,
         4},
        {"ESC M on the region top scrolls the region down",
         region,
         "\033[1;1H\033M",
         {{3, "L03"}, {4, ""}, {5, "L04"}, {19, "L18"}, {20, "L20"}},
         4,
         0,
         Under::Both,
         -1,
         "\033[5;1H\033M"},
        {"ESC M above the region only moves up",
         region,
         "\033[3;1H\033M",
         {{2, "L02"}, {4, "L04"}},
         1,
         0,
         Under::Vt100},
        {"ESC M on row 0 above the region stays",
         region,
         "\033[1;1H\033M",
         {{0, "L00"}, {4, "L04"}},
         0,
         0,
         Under::Vt100},
        {"LF below the region stops at row 23",
         region,
         "\033[23d\n\n",
         {{4, "L04"}, {19, "L19"}, {23, "L23"}},
         23,
         0},
        {"autowrap scrolls at the bottom",
         rows + "\033[?7h",
         "\033[24;80Hxy",
         {{22, "L23" + repeat('.', 76) + "x"}, {23, "y"}},
         23,
         1},
        {"L inserts at the cursor row",
         rows,
         "\033[5;1H\033[2L",
         {{3, "L03"}, {4, ""}, {5, ""}, {6, "L04"}, {23, "L21"}},
         4,
         0},
        {"L 0 inserts one", rows, "\033[5;1H\033[0L", {{4, ""}, {5, "L04"}}, 4, 0},
        {"L beyond the bottom clears the rest",
         rows,
         "\033[5;1H\033[99L",
         {{3, "L03"}, {4, ""}, {23, ""}},
         4,
         0},
        {"L inside the region",
         region,
         "\033[3;1H\033[2L",
         {{6, ""}, {7, ""}, {8, "L06"}, {19, "L17"}, {20, "L20"}},
         6,
         0,
         Under::Both,
         -1,
         "\033[7;1H\033[2L"},
        {"L above the region does nothing",
         region,
         "\033[2;1H\033[L",
         {{1, "L01"}, {4, "L04"}, {19, "L19"}},
         1,
         0,
         Under::Vt100},
        {"M above the region does nothing",
         region,
         "\033[2;1H\033[M",
         {{1, "L01"}, {2, "L02"}, {19, "L19"}},
         1,
         0,
         Under::Vt100},
        {"M deletes at the cursor row",
         rows,
         "\033[5;1H\033[2M",
         {{4, "L06"}, {21, "L23"}, {22, ""}, {23, ""}},
         4,
         0},
        {"M 0 deletes none", rows, "\033[5;1H\033[0M", {{4, "L04"}}, 4, 0},
        {"M inside the region",
         region,
         "\033[1;1H\033[99M",
         {{3, "L03"}, {4, ""}, {19, ""}, {20, "L20"}},
         4,
         0,
         Under::Both,
         -1,
         "\033[5;1H\033[99M"},
        {"L below the region does nothing", region, "\033[22d\033[L", {{21, "L21"}}, 21, 0},
    };
    for (const ScreenCase& c : cases)
        checkScreen(c);
}

struct RegionCase {
    const char* name;
    std::string input;
    int noRegion, regionTop, regionBottom, cursorRow, cursorCol;
    Under under = Under::Both;
    int originMode = 0;
};

TEST(VtEmulatorScroll, SetScrollRegion) {
    const std::string at = "\033[11;41H";
    const RegionCase cases[] = {
        {"5;20 selects rows 5..20, cursor below its top", at + "\033[5;20r", 0, 5, 20, 5, 0,
         Under::Classic},
        {"5;20 selects rows 5..20, cursor home", at + "\033[5;20r", 0, 5, 20, 0, 0, Under::Vt100},
        {"5 alone is ignored", at + "\033[5r", 1, 1, 24, 10, 40, Under::Classic},
        {"5 alone reaches the last row", at + "\033[5r", 0, 5, 24, 0, 0, Under::Vt100},
        {"0;10 is ignored", at + "\033[0;10r", 1, 1, 24, 10, 40, Under::Classic},
        {"0;10 starts at the first row", at + "\033[0;10r", 0, 1, 10, 0, 0, Under::Vt100},
        {"top not above bottom is ignored", at + "\033[20;5r", 1, 1, 24, 10, 40},
        {"equal top and bottom are ignored", at + "\033[7;7r", 1, 1, 24, 10, 40},
        {"a bottom past row 24 is ignored", at + "\033[10;30r", 1, 1, 24, 10, 40},
        {"1;24", at + "\033[1;24r", 0, 1, 24, 1, 0, Under::Classic},
        {"1;24 is the whole screen", at + "\033[1;24r", 1, 1, 24, 0, 0, Under::Vt100},
        {"23;24", at + "\033[23;24r", 0, 23, 24, 23, 0, Under::Classic},
        {"23;24", at + "\033[23;24r", 0, 23, 24, 0, 0, Under::Vt100},
        {"r restores the whole screen and homes", "\033[5;20r" + at + "\033[r", 1, 1, 24, 0, 0},
        {"0;0 as r", "\033[5;20r" + at + "\033[0;0r", 1, 1, 24, 0, 0},
        {"?6h goes to the region top", "\033[5;20r\033[?6l" + at + "\033[?6h", 0, 5, 20, 4, 0,
         Under::Classic},
        {"?6l homes", "\033[5;20r" + at + "\033[?6l", 1, 5, 20, 0, 0, Under::Classic},
        {"?6h after r keeps to the screen", "\033[r\033[?6h", 0, 1, 24, 0, 0, Under::Classic},
        {"?6h goes to the region top", "\033[5;20r" + at + "\033[?6h", 0, 5, 20, 4, 0, Under::Vt100,
         1},
        {"?6l homes and keeps the region", "\033[5;20r\033[?6h" + at + "\033[?6l", 0, 5, 20, 0, 0,
         Under::Vt100},
        {"?6h after r is the whole screen", "\033[r\033[?6h", 1, 1, 24, 0, 0, Under::Vt100, 1},
        {"r in origin mode homes to the region top", "\033[?6h" + at + "\033[5;20r", 0, 5, 20, 4, 0,
         Under::Vt100, 1},
    };
    for (const RegionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = runAllWays(c.input, {}, c.under);
        EXPECT_EQ(out.screen.noRegion, c.noRegion);
        EXPECT_EQ(out.screen.originMode, c.originMode);
        EXPECT_EQ(out.screen.regionTop, c.regionTop);
        EXPECT_EQ(out.screen.regionBottom, c.regionBottom);
        EXPECT_EQ(out.screen.cursorRow, c.cursorRow);
        EXPECT_EQ(out.screen.cursorCol, c.cursorCol);
    }
}

TEST(VtEmulatorPrint, CharactersAndEdits) {
    const std::string abcdef = "\033[1;1HABCDEF\033[1;3H";  // cursor on the C
    const ScreenCase cases[] = {
        {"text and cursor", "", "Hello", {{0, "Hello"}}, 0, 5},
        {"80 characters leave the cursor past the margin",
         "",
         repeat('a', 80),
         {{0, repeat('a', 80)}, {1, ""}},
         0,
         80},
        {"without autowrap the 81st overwrites column 79",
         "",
         repeat('a', 80) + "b",
         {{0, repeat('a', 79) + "b"}, {1, ""}},
         0,
         80},
        {"with autowrap the 81st starts the next row",
         "\033[?7h",
         repeat('a', 80) + "b",
         {{0, repeat('a', 80)}, {1, "b"}},
         1,
         1},
        {"?7l turns autowrap off again", "\033[?7h\033[?7l", repeat('a', 81), {{1, ""}}, 0, 80},
        {"reverse video",
         "",
         "a\033[7mbc\033[0md\033[1;7mef\033[mg",
         {{0, "abcdefg", "011011"}},
         0,
         7},
        {"m parameters read whole: 27 and ?7 are not 7",
         "",
         "\033[27ma\033[?7mb",
         {{0, "ab", ""}},
         0,
         2},
        {"SO line drawing", "", "\016lqqk\017lq", {{0, "\xda--\xbflq"}}, 0, 6},
        {"every line-drawing letter",
         "\016",
         "jklmntuvwxopqrsa",
         {{0, "\xd9\xbf\xda\xc0\xc5\xc3\xb4\xc1\xc2\xb3---__a"}},
         0,
         16},
        {"ESC ( 0 does not turn line drawing on", "", "\033(0lqk", {{0, "lqk"}}, 0, 3},
        {"ESC ( B turns it off", "\016", "\033(Bl", {{0, "l"}}, 0, 1},
        {"ESC ( A turns it off", "\016", "\033(Al", {{0, "l"}}, 0, 1},
        {"ESC ( x turns it on", "", "\033(xl", {{0, "\xda"}}, 0, 1},
        {"ESC ) B turns it on", "", "\033)Bl", {{0, "\xda"}}, 0, 1},
        {"two intermediates select nothing", "", "\033((Bl\016\033((Bl", {{0, "l\xda"}}, 0, 2},
        {"ESC 7 saves line drawing and reverse",
         "",
         "\016\033[7m\0337\017\033[0m\033[1;5Hl\0338l",
         {{0, "\xda...l", "1"}},
         0,
         1},
        {"ESC # 8 fills all 2000 cells",
         "\033[5;5H",
         "\033#8",
         {{0, repeat('E', 80)}, {24, repeat('E', 80)}},
         4,
         4},
        {"ESC # 9 does nothing", "", "\033#9", {{0, ""}}, 0, 0},
        {"insert mode pushes the row right", abcdef + "\033[4h", "xy", {{0, "ABxyCDEF"}}, 0, 4},
        {"insert mode keeps each cell's attribute",
         abcdef + "\033[4h\033[7m",
         "x",
         {{0, "ABxCDEF", "001"}},
         0,
         3},
        {"4l is replace mode", abcdef + "\033[4h\033[4l", "x", {{0, "ABxDEF"}}, 0, 3},
        {"@ inserts blanks", abcdef, "\033[2@", {{0, "AB  CDEF"}}, 0, 2},
        {"@ 0 inserts one", abcdef, "\033[0@", {{0, "AB CDEF"}}, 0, 2},
        {"@ past the row keeps the cursor",
         abcdef,
         "\033[99@",
         {{0, "AB" + repeat(' ', 78)}},
         0,
         2},
        {"@ loses what is pushed past column 79",
         "\033[1;79HYZ\033[1;79H",
         "\033[@",
         {{0, repeat('.', 78) + " Y"}},
         0,
         78},
        {"P deletes characters", abcdef, "\033[2P", {{0, "ABEF"}}, 0, 2},
        {"P 0 deletes none", abcdef, "\033[0P", {{0, "ABCDEF"}}, 0, 2},
        {"P past the row", abcdef, "\033[200P", {{0, "AB"}}, 0, 2},
        {"P carries reverse flags left",
         "\033[7mAB\033[0mCD\033[1;1H",
         "\033[P",
         {{0, "BCD", "1"}},
         0,
         0},
        {"X erases to empty cells", abcdef, "\033[2X", {{0, "AB..EF"}}, 0, 2},
        {"X 0 erases none", abcdef, "\033[0X", {{0, "ABCDEF"}}, 0, 2},
        {"X keeps reverse flags", "\033[7mABCD\033[1;2H", "\033[2X", {{0, "A..D", "1111"}}, 0, 1},
        {"X past the row", abcdef, "\033[999X", {{0, "AB"}}, 0, 2},
        {"X at the pending-wrap column erases nothing",
         "\033[1;79Hxy",
         "\033[X",
         {{0, repeat('.', 78) + "xy"}},
         0,
         80,
         Under::Classic},
        {"X at the pending-wrap column erases the last column",
         "\033[1;79Hxy",
         "\033[X",
         {{0, repeat('.', 78) + "x"}},
         0,
         80,
         Under::Vt100},
        {"b repeats the character to the left", "", "A\033[3b", {{0, "AAAA"}}, 0, 4},
        {"b 0 repeats once", "", "A\033[0b", {{0, "AA"}}, 0, 2},
        {"b takes the attribute under the cursor",
         "\033[7mAB\033[0m\033[1;2H",
         "\033[2b",
         {{0, "AAA", "111"}},
         0,
         3},
        {"b stops at the end of the row",
         "\033[1;78HA",
         "\033[99b",
         {{0, repeat('.', 77) + "AAA"}},
         0,
         80},
        {"b at column 0 repeats nothing", "", "\033[5b", {{0, ""}}, 0, 0},
        {"?3l clears everything and homes",
         "\033#8\033[5;5H",
         "\033[?3l",
         {{0, ""}, {24, ""}},
         0,
         0},
        {"?3h does nothing", "\033#8\033[5;5H", "\033[?3h", {{0, repeat('E', 80)}}, 4, 4},
        {"8-bit characters print", "", "\xa1\xfe\x80\x9a\x9c", {{0, "\xa1\xfe\x80\x9a\x9c"}}, 0, 5},
        {"DEL and 0xFF are ignored",
         "",
         "a\x7f\xff"
         "b",
         {{0, "ab"}},
         0,
         2},
    };
    for (const ScreenCase& c : cases)
        checkScreen(c);
}

}  // namespace
}  // namespace qn::vt::test
