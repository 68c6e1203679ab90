// The operator's editing of a host screen: typing under the shift and edit rules, field exit
// and the sign keys, cursor movement with the mandatory checks, the key functions, the
// keyboard lock and the entry of scanned data. Screens are built from host records.

#include "tn5250/input/field_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tn5250/tn_test_support.h"
#include "tn5250/input/tn_keys.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {
namespace {

using test::Bytes;
using test::join;
using test::record;
using test::sba;
using test::sf;

struct FieldSpec {
    std::uint8_t ffw1 = 0x40;
    std::uint8_t ffw2 = 0x00;
    std::uint16_t length = 5;
};

// Field k's attribute cell is at row 3 + k, column 10 (1-based), so its data starts at
// row 2 + k, column 10 (0-based).
struct Editing : test::Terminal {
    explicit Editing(const std::vector<FieldSpec>& specs) {
        Bytes body = test::wtd(0x00, 0x08);
        for (std::size_t k = 0; k < specs.size(); ++k) {
            const Bytes at = sba(static_cast<std::uint8_t>(3 + k), 10);
            body.insert(body.end(), at.begin(), at.end());
            const Bytes field = sf(specs[k].ffw1, specs[k].ffw2, 0x24, specs[k].length);
            body.insert(body.end(), field.begin(), field.end());
        }
        feed(record(body));
        feed(record({0x04, 0x52, 0x00, 0x08}));  // Read MDT Fields
        host.sends.clear();
    }

    const FieldEntry& field(int k) const { return screen->fields.entries()[std::size_t(k)]; }
    // The cells of field k, nulls as '.'.
    std::string fieldText(int k) const {
        std::string out;
        for (int i = 0; i < field(k).length; ++i) {
            const std::uint8_t c = screen->charAtPosition(field(k).start() + i);
            out += c == 0 ? '.' : static_cast<char>(c);
        }
        return out;
    }
    void fill(int k, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            screen->setCharAtPosition(field(k).start() + int(i),
                                      text[i] == '.' ? 0 : std::uint8_t(text[i]));
        }
    }
    void cursorTo(int k, int offset) {
        screen->setPosition(field(k).start() + offset);
        screen->locateField(screen->state.row, screen->state.column);
        screen->selectField(screen->state.currentField);
    }
    // Field index and offset of the cursor; -1 when in no field.
    std::pair<int, int> cursor() const {
        const int number = screen->state.currentField.number;
        if (number == 0) return {-1, screen->position()};
        return {number - 1, screen->position() - field(number - 1).start()};
    }
    void type(const std::string& text) {
        for (char c : text)
            editor.typeChar(static_cast<std::uint8_t>(c));
    }
    bool modified(int k) const { return ffw::isModified(field(k).ffw1); }

    TnFieldEditor editor{*screen, stream, *session, host};
};

TEST(Editing, TheScreenStartsInTheFirstField) {
    Editing t({{}, {}});
    EXPECT_FALSE(t.screen->state.keyboardLocked);
    EXPECT_EQ(t.screen->state.readMode, 2);
    EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
}

struct TypeCase {
    const char* name;
    FieldSpec spec;
    std::string initial;
    bool insertMode;
    std::string typed;
    std::string expected;  // field 0
    std::string next;      // field 1
    int alarms;
    std::pair<int, int> cursor;
};

TEST(Editing, TypingByShiftAndEditRules) {
    const std::vector<TypeCase> cases{
        {"numeric only refuses a letter",
         {0x43, 0, 5},
         "",
         false,
         "A",
         ".....",
         ".....",
         1,
         {0, 0}},
        {"numeric only takes digits and its signs but not minus",
         {0x43, 0, 5},
         "",
         false,
         "1 +-,.",
         "1 +,.",
         ".....",
         1,
         {1, 0}},
        {"alphabetic only", {0x41, 0, 5}, "", false, "ab1,-.", "ab,-.", ".....", 1, {1, 0}},
        {"digits only refuses a blank",
         {0x45, 0, 5},
         "",
         false,
         "1 2",
         "12...",
         ".....",
         1,
         {0, 2}},
        {"signed numeric: the sign position is not typed; the next field takes over",
         {0x47, 0, 5},
         "",
         false,
         "12345",
         "1234.",
         "5....",
         0,
         {1, 1}},
        {"monocase", {0x40, 0x20, 5}, "", false, "ab1", "AB1..", ".....", 0, {0, 3}},
        {"insert mode drops the last character",
         {0x40, 0, 5},
         "ABCDE",
         true,
         "X",
         "XABCD",
         ".....",
         0,
         {0, 1}},
        {"insert mode in a signed-numeric field keeps the sign",
         {0x47, 0, 5},
         "123.-",
         true,
         "9",
         "9123-",
         ".....",
         0,
         {0, 1}},
        {"overtype", {0x40, 0, 5}, "ABCDE", false, "XY", "XYCDE", ".....", 0, {0, 2}},
        {"field exit required: the cursor stays on the last position, which then refuses",
         {0x40, 0x40, 3},
         "",
         false,
         "ABCD",
         "ABC",
         ".....",
         1,
         {0, 2}},
        {"auto-advance to the next field",
         {0x40, 0, 2},
         "",
         false,
         "ABC",
         "AB",
         "C....",
         0,
         {1, 1}},
        {"Tab moves to the next field, carriage return exits the field",
         {0x40, 0, 5},
         "",
         false,
         "A\tB\r",
         "A....",
         "B....",
         0,
         {0, 0}},
        {"other control characters are dropped",
         {0x40, 0, 5},
         "",
         false,
         "A\x01\x08"
         "B",
         "AB...",
         ".....",
         0,
         {0, 2}},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({c.spec, {}});
        t.fill(0, c.initial);
        t.screen->state.insertMode = c.insertMode;
        t.type(c.typed);
        EXPECT_EQ(t.fieldText(0), c.expected);
        EXPECT_EQ(t.fieldText(1), c.next);
        EXPECT_EQ(t.host.alarms, c.alarms);
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_TRUE(t.host.sends.empty());
    }
}

TEST(Editing, TypingSetsTheModifiedTagOfTheTableEntry) {
    Editing t({{}, {}});
    EXPECT_FALSE(t.modified(0));
    t.type("A");
    EXPECT_TRUE(t.modified(0));
    EXPECT_FALSE(t.modified(1));
}

TEST(Editing, AutoEnterSendsEnterWhenTheFieldIsFull) {
    Editing t({{0x40, 0x80, 2}, {}});
    t.type("AB");
    ASSERT_EQ(t.host.sends.size(), 1u);
    const Bytes& sent = t.host.sends[0];
    EXPECT_EQ(sent[10], 3);  // the cursor stepped back onto the field's last position
    EXPECT_EQ(sent[11], 12);
    EXPECT_EQ(sent[12], kAidEnter);
    EXPECT_TRUE(t.screen->state.keyboardLocked);
}

TEST(Editing, TypingOutsideAnInputFieldSoundsTheAlarm) {
    Editing t({FieldSpec{}});
    t.screen->setPosition(0);
    t.screen->locateField(0, 0);
    t.type("A");
    EXPECT_EQ(t.host.alarms, 1);
    EXPECT_EQ(t.screen->charAtPosition(0), 0);
}

TEST(Editing, DoubleByteSecondHalfIsNotUpperCased) {
    // Language 4's local code takes 0x82 0x61 as one double-byte character.
    Editing t({{0x40, 0x20, 5}});
    t.session->language = 4;
    ASSERT_TRUE(isLocalDbcsPair(4, 0x82, 0x61));
    t.type(
        "\x82"
        "aa");
    EXPECT_EQ(t.screen->charAtPosition(t.field(0).start()), 0x82);
    EXPECT_EQ(t.fieldText(0).substr(1), "aA..");
}

struct ExitCase {
    const char* name;
    FieldSpec spec;
    std::string initial;
    int cursorOffset;
    int function;
    std::string expected;
    int alarms;
};

TEST(Editing, FieldExitAndTheSignKeys) {
    const std::vector<ExitCase> cases{
        {"right adjust, blank fill", {0x40, 0x06, 5}, "12...", 2, fn::kFieldExit, "   12", 0},
        {"right adjust, zero fill", {0x40, 0x05, 5}, "12...", 2, fn::kFieldExit, "00012", 0},
        {"no adjustment: the rest of the field is nulled",
         {0x40, 0x00, 5},
         "12345",
         2,
         fn::kFieldExit,
         "12...",
         0},
        {"an empty right-adjust field stays empty",
         {0x40, 0x06, 5},
         ".....",
         0,
         fn::kFieldExit,
         ".....",
         0},
        {"signed numeric adjusts the digits and keeps the sign",
         {0x47, 0x06, 6},
         "12....",
         2,
         fn::kFieldExit,
         "   12.",
         0},
        {"field plus blanks the sign", {0x47, 0x06, 6}, "12...-", 2, fn::kFieldPlus, "   12 ", 0},
        {"field minus sets the sign", {0x47, 0x06, 6}, "12....", 2, fn::kFieldMinus, "   12-", 0},
        {"field minus on numeric only gives the units digit the negative zone",
         {0x43, 0x06, 5},
         "5....",
         1,
         fn::kFieldMinus,
         "    N",
         0},
        {"field minus without adjustment marks the digit where it is",
         {0x43, 0x00, 5},
         "125..",
         3,
         fn::kFieldMinus,
         "12N..",
         0},
        {"field minus on a zero", {0x43, 0x06, 3}, "0..", 1, fn::kFieldMinus, "  }", 0},
        {"field minus refuses a field ending in a sign character",
         {0x43, 0x06, 5},
         "1+...",
         2,
         fn::kFieldMinus,
         "1+...",
         1},
        {"field minus refuses a field ending in a blank",
         {0x43, 0x06, 5},
         "1 ...",
         2,
         fn::kFieldMinus,
         "1 ...",
         1},
        {"field minus leaves a negative zone alone",
         {0x43, 0x06, 3},
         "1J.",
         2,
         fn::kFieldMinus,
         " 1J",
         0},
        {"field minus on an alphanumeric field is a field exit",
         {0x40, 0x06, 4},
         "ab..",
         2,
         fn::kFieldMinus,
         "  ab",
         0},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({c.spec, {}});
        t.fill(0, c.initial);
        t.cursorTo(0, c.cursorOffset);
        t.editor.runFunction(c.function);
        EXPECT_EQ(t.fieldText(0), c.expected);
        EXPECT_EQ(t.host.alarms, c.alarms);
        if (c.alarms == 0) {
            EXPECT_TRUE(t.modified(0));
            EXPECT_EQ(t.cursor(), std::make_pair(1, 0)) << "on to the next field";
        } else {
            EXPECT_EQ(t.cursor(), std::make_pair(0, c.cursorOffset));
        }
    }
}

TEST(Editing, FieldExitFromTheLastFieldGoesToTheFirst) {
    Editing t({{}, {}});
    t.cursorTo(1, 0);
    t.editor.runFunction(fn::kFieldExit);
    EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
}

struct DeleteCase {
    const char* name;
    FieldSpec spec;
    int field;
    int offset;
    int function;
    std::string first, second;  // the fields after
    std::pair<int, int> cursor;
};

TEST(Editing, DeleteAndBackspace) {
    const std::vector<DeleteCase> cases{
        {"delete closes the gap", {0x40, 0, 5}, 0, 1, fn::kDelete, "ACDE.", "VWXYZ", {0, 1}},
        {"delete keeps a signed field's sign",
         {0x47, 0, 5},
         0,
         1,
         fn::kDelete,
         "ACD.E",
         "VWXYZ",
         {0, 1}},
        {"backspace deletes the character before the cursor",
         {0x40, 0, 5},
         0,
         2,
         fn::kBackspace,
         "ACDE.",
         "VWXYZ",
         {0, 1}},
        {"backspace at a field's start goes back into the previous field",
         {0x40, 0, 5},
         1,
         0,
         fn::kBackspace,
         "ABCD.",
         "VWXYZ",
         {0, 4}},
        {"backspace at the first field's start goes to the last field",
         {0x40, 0, 5},
         0,
         0,
         fn::kBackspace,
         "ABCDE",
         "VWXY.",
         {1, 4}},
    };
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({c.spec, {}});
        t.fill(0, "ABCDE");
        t.fill(1, "VWXYZ");
        t.cursorTo(c.field, c.offset);
        EXPECT_TRUE(t.editor.runFunction(c.function));
        EXPECT_EQ(t.fieldText(0), c.first);
        EXPECT_EQ(t.fieldText(1), c.second);
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_TRUE(t.modified(c.cursor.first));
    }
}

TEST(Editing, BackspaceIntoAFieldWithoutDataCellsTouchesNothingOutsideIt) {
    // Field 0 is a signed-numeric field of one position: only its sign.
    Editing t({{0x47, 0, 1}, {}});
    t.fill(0, "-");
    t.fill(1, "VWXYZ");
    const int before = t.field(0).start() - 1;
    t.screen->setCharAtPosition(before, 'Q');
    t.cursorTo(1, 0);
    t.editor.runFunction(fn::kBackspace);
    EXPECT_EQ(t.screen->charAtPosition(before), 'Q');
    EXPECT_EQ(t.fieldText(0), "-");
    EXPECT_EQ(t.fieldText(1), "VWXYZ");
    EXPECT_EQ(t.cursor().first, 0);
}

struct MoveCase {
    const char* name;
    FieldSpec spec;
    std::string initial;
    int offset;
    int key;
    std::pair<int, int> cursor;  // field, offset; field -1: screen position
    int alarms;
};

TEST(Editing, ArrowKeysAndTheMandatoryChecks) {
    const int start = 2 * kColumns + 10;  // field 0's first position
    const std::vector<MoveCase> cases{
        {"right within the field", {}, "", 0, vk::kRight, {0, 1}, 0},
        {"left out of a plain field", {}, "", 0, vk::kLeft, {-1, start - 1}, 0},
        {"down into the next field", {}, "", 2, vk::kDown, {1, 2}, 0},
        {"mandatory enter keeps an empty field", {0x40, 0x08, 5}, "", 0, vk::kLeft, {0, 0}, 1},
        {"mandatory enter lets an entered field go",
         {0x40, 0x08, 5},
         "A",
         0,
         vk::kUp,
         {-1, start - kColumns},
         0},
        {"mandatory fill keeps a half-filled field",
         {0x40, 0x07, 3},
         "AB.",
         2,
         vk::kRight,
         {0, 2},
         1},
        {"mandatory fill lets a full field go",
         {0x40, 0x07, 3},
         "ABC",
         2,
         vk::kRight,
         {-1, start + 3},
         0},
        {"mandatory fill lets an empty field go",
         {0x40, 0x07, 3},
         "",
         0,
         vk::kLeft,
         {-1, start - 1},
         0},
    };
    for (const MoveCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({c.spec, {}});
        t.fill(0, c.initial);
        t.cursorTo(0, c.offset);
        t.editor.keyDown(c.key);
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_EQ(t.host.alarms, c.alarms);
    }
}

TEST(Editing, ArrowKeysWrapAroundTheScreen) {
    const struct {
        int row, column, key, toRow, toColumn;
    } cases[] = {
        {0, 5, vk::kUp, 23, 5},     {23, 5, vk::kDown, 0, 5},  {0, 0, vk::kLeft, 23, 79},
        {23, 79, vk::kRight, 0, 0}, {4, 79, vk::kRight, 5, 0}, {5, 0, vk::kLeft, 4, 79},
    };
    for (const auto& c : cases) {
        Editing t({});
        t.screen->state.row = c.row;
        t.screen->state.column = c.column;
        t.editor.keyDown(c.key);
        EXPECT_EQ(t.screen->state.row, c.toRow) << c.row << "," << c.column;
        EXPECT_EQ(t.screen->state.column, c.toColumn) << c.row << "," << c.column;
    }
}

TEST(Editing, CursorFunctions) {
    const struct {
        const char* name;
        int function;
        int field, offset;
        std::pair<int, int> cursor;
    } cases[] = {
        {"BEGIN", fn::kBegin, 0, 3, {0, 0}},
        {"END leaves the sign out", fn::kEnd, 0, 0, {0, 4}},
        {"LAST: after the last non-blank", fn::kLast, 0, 0, {0, 2}},
        {"NEXT", fn::kNext, 0, 3, {1, 0}},
        {"NEXT from the last field", fn::kNext, 2, 0, {0, 0}},
        {"PREVIOUS from the first field", fn::kPrevious, 0, 2, {2, 0}},
        {"RECORD", fn::kRecord, 2, 1, {0, 0}},
        {"LEFT", fn::kLeft, 1, 2, {1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({{0x47, 0, 6}, {}, {}});
        t.fill(0, "AB ...");
        t.cursorTo(c.field, c.offset);
        EXPECT_TRUE(t.editor.runFunction(c.function));
        EXPECT_EQ(t.cursor(), c.cursor);
    }
}

TEST(Editing, NextAndPreviousFromNoFieldTakeTheFirstAndTheLast) {
    Editing t({{}, {}, {}});
    t.screen->setPosition(0);
    t.screen->locateField(0, 0);
    t.editor.runFunction(fn::kNext);
    EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
    t.screen->setPosition(0);
    t.screen->locateField(0, 0);
    t.editor.runFunction(fn::kPrevious);
    EXPECT_EQ(t.cursor(), std::make_pair(2, 0));
}

TEST(Editing, EraseInputNullsEveryFieldAndTagsIt) {
    Editing t({{}, {}});
    t.fill(0, "ABC");
    t.fill(1, "XYZ");
    t.cursorTo(1, 2);
    t.editor.runFunction(fn::kErase);
    EXPECT_EQ(t.fieldText(0), ".....");
    EXPECT_EQ(t.fieldText(1), ".....");
    EXPECT_TRUE(t.modified(0));
    EXPECT_TRUE(t.modified(1));
    EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
}

TEST(Editing, FunctionsWithoutActionChangeNothing) {
    for (int code : {0, 39, 40, 41, 42, 43, 48, 200}) {
        Editing t({FieldSpec{}});
        t.fill(0, "AB");
        t.cursorTo(0, 1);
        EXPECT_FALSE(t.editor.runFunction(code)) << code;
        EXPECT_EQ(t.fieldText(0), "AB...") << code;
        EXPECT_EQ(t.cursor(), std::make_pair(0, 1)) << code;
        EXPECT_TRUE(t.host.sends.empty()) << code;
        EXPECT_FALSE(t.screen->state.keyboardLocked) << code;
    }
}

TEST(Editing, AidFunctionsSendTheirAidByte) {
    const struct {
        int function;
        std::uint8_t aid;
    } cases[] = {{1, 0x31}, {12, 0x3C}, {13, 0xB1}, {24, 0xBC}, {35, 0xF5}, {36, 0xF4}, {45, 0xF1}};
    for (const auto& c : cases) {
        Editing t({FieldSpec{}});
        EXPECT_TRUE(t.editor.runFunction(c.function));
        ASSERT_EQ(t.host.sends.size(), 1u) << c.function;
        EXPECT_EQ(t.host.sends[0][12], c.aid) << c.function;
        EXPECT_TRUE(t.screen->state.keyboardLocked);
    }
}

TEST(Editing, AttentionSendsItsRecord) {
    Editing t({FieldSpec{}});
    t.editor.runFunction(fn::kAttn);
    ASSERT_EQ(t.host.sends.size(), 1u);
    const Bytes& sent = t.host.sends[0];
    EXPECT_EQ(sent.size(), 12u);  // header and IAC EOR, no body
    EXPECT_EQ(sent[7], 0x40);
    EXPECT_EQ(sent[9], 0x00);
}

TEST(Editing, ResetUnlocksAndBringsBackTheMessageLine) {
    Editing t({FieldSpec{}});
    t.feed(record(join({test::wtd(), sba(24, 1), {0xC1, 0xC2}})));
    t.feed(record({0x04, 0x21, 0xC5, 0xD9, 0xD9}));
    ASSERT_TRUE(t.screen->state.keyboardLocked);
    ASSERT_EQ(t.text(23, 0, 3), "ERR");
    t.editor.keyDown(vk::kEscape);
    EXPECT_FALSE(t.screen->state.keyboardLocked);
    EXPECT_FALSE(t.screen->state.messageShown);
    EXPECT_EQ(t.text(23, 0, 3), "AB.");
    EXPECT_EQ(t.host.alarms, 0);
}

TEST(Editing, LockedKeyboardTakesOnlyResetAndAttention) {
    const Bytes attention{0x00, 0x0A, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x40, 0x00, 0x00, 0xFF, 0xEF};
    const struct {
        const char* name;
        int mappedSlot;  // slot given mappedFunction, 0 for none
        int mappedFunction;
        bool isKey;
        int code;  // virtual key or character
        bool accepted;
        Bytes sent{};
    } cases[] = {
        {"Escape", 0, 0, true, vk::kEscape, true},
        {"F1 (PF1)", 0, 0, true, vk::kF1, false},
        {"Return (ENTER)", 0, 0, true, vk::kReturn, false},
        {"an arrow key", 0, 0, true, vk::kLeft, false},
        {"F1 mapped to RESET", 1, fn::kReset, true, vk::kF1, true},
        {"Tab mapped to RESET", 46, fn::kReset, true, vk::kTab, true},
        {"F1 mapped to ATTN interrupts the host", 1, fn::kAttn, true, vk::kF1, true, attention},
        {"Tab mapped to ATTN", 46, fn::kAttn, true, vk::kTab, true, attention},
        {"a printable character", 0, 0, false, 'A', false},
        {"control character mapped to RESET", 46, fn::kReset, false, 0x09, true},
        {"control character mapped to ATTN", 46, fn::kAttn, false, 0x09, true},
        {"control character without RESET", 0, 0, false, 0x09, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t({{}, {}});
        if (c.mappedSlot != 0)
            slotFunction(*t.session, c.mappedSlot) = std::uint8_t(c.mappedFunction);
        t.screen->state.keyboardLocked = true;
        if (c.isKey)
            t.editor.keyDown(c.code);
        else
            t.editor.typeChar(static_cast<std::uint8_t>(c.code));
        EXPECT_EQ(t.host.alarms, c.accepted ? 0 : 1);
        EXPECT_EQ(t.host.sent(), c.sent);
        if (!c.accepted) {
            EXPECT_TRUE(t.screen->state.keyboardLocked);
            EXPECT_EQ(t.cursor(), std::make_pair(0, 0));
        }
    }
}

TEST(Editing, InsertKeyTogglesInsertModeUnlessMapped) {
    Editing t({FieldSpec{}});
    t.editor.keyDown(vk::kInsert);
    EXPECT_TRUE(t.screen->state.insertMode);
    t.editor.keyDown(vk::kInsert);
    EXPECT_FALSE(t.screen->state.insertMode);
    slotFunction(*t.session, 44) = fn::kEnter;
    t.editor.keyDown(vk::kInsert);
    EXPECT_FALSE(t.screen->state.insertMode);
    EXPECT_EQ(t.host.sends.size(), 1u);
}

// --- Scanned data

struct ScanCase {
    const char* name;
    std::vector<FieldSpec> fields;
    std::uint8_t rule;
    std::string prefix, data, suffix;
    std::uint8_t otherFieldSuffix, lastFieldSuffix;
    ScanEntry result;
    std::vector<std::string> texts;
    std::pair<int, int> cursor;
    bool enterSent;
};

TEST(Editing, ScannedDataIntoFields) {
    const FieldSpec five{};
    const std::vector<ScanCase> cases{
        {"reject: nothing entered",
         {five, five},
         kOverLengthReject,
         "",
         "ABCDEFG",
         "",
         0,
         0,
         ScanEntry::TooLong,
         {"XY...", "....."},
         {0, 0},
         false},
        {"truncate",
         {five, five},
         kOverLengthTruncate,
         "",
         "ABCDEFG",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"ABCDE", "....."},
         {1, 0},
         false},
        {"split to the next field",
         {five, five},
         kOverLengthSplit,
         "",
         "ABCDEFG",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"ABCDE", "FG..."},
         {1, 2},
         false},
        {"split stops at the last field",
         {five, five},
         kOverLengthSplit,
         "",
         "ABCDEFGHIJKL",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"ABCDE", "FGHIJ"},
         {1, 4},
         false},
        {"short data nulls the rest of the field",
         {five, five},
         kOverLengthReject,
         "",
         "AB",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"AB...", "....."},
         {0, 2},
         false},
        {"a signed-numeric field holds one digit less",
         {{0x47, 0, 5}, five},
         kOverLengthReject,
         "",
         "12345",
         "",
         0,
         0,
         ScanEntry::TooLong,
         {"XY...", "....."},
         {0, 0},
         false},
        {"prefix, then Tab in the suffix moves on",
         {five, five},
         kOverLengthReject,
         "P",
         "AB",
         "\t",
         0,
         0,
         ScanEntry::Entered,
         {"PAB..", "....."},
         {1, 0},
         false},
        {"Tab inside the data splits it over two fields",
         {five, five},
         kOverLengthReject,
         "",
         "AB\tCD",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"AB...", "CD..."},
         {1, 2},
         false},
        {"carriage return exits the field",
         {{0x40, 0x06, 5}, five},
         kOverLengthReject,
         "",
         "12",
         "\r",
         0,
         0,
         ScanEntry::Entered,
         {"   12", "....."},
         {1, 0},
         false},
        {"0x1C sends Enter and drops the rest",
         {five, five},
         kOverLengthReject,
         "",
         "AB\x1c"
         "CD",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"AB...", "....."},
         {0, 2},
         true},
        {"other control characters are removed",
         {five, five},
         kOverLengthReject,
         "",
         "A\x01\x02"
         "B",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"AB...", "....."},
         {0, 2},
         false},
        {"other-field suffix runs a function",
         {five, five},
         kOverLengthReject,
         "",
         "AB",
         "",
         fn::kFieldExit,
         0,
         ScanEntry::Entered,
         {"AB...", "....."},
         {1, 0},
         false},
        {"other-field suffix types a character",
         {five, five},
         kOverLengthReject,
         "",
         "AB",
         "",
         127 + 'Z',
         0,
         ScanEntry::Entered,
         {"ABZ..", "....."},
         {0, 3},
         false},
        {"last-field suffix in the last field",
         {five},
         kOverLengthReject,
         "",
         "AB",
         "",
         0,
         fn::kEnter,
         ScanEntry::Entered,
         {"AB..."},
         {0, 2},
         true},
        {"filling the field auto-advances",
         {five, five},
         kOverLengthReject,
         "",
         "ABCDE",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"ABCDE", "....."},
         {1, 0},
         false},
        {"auto-enter ends the entry before the suffix",
         {{0x40, 0x80, 2}, five},
         kOverLengthReject,
         "",
         "AB",
         "",
         127 + 'Z',
         0,
         ScanEntry::Entered,
         {"AB", "....."},
         {0, 1},
         true},
        {"split types without auto-advance: an auto-enter field does not send",
         {{0x40, 0x80, 2}, five},
         kOverLengthSplit,
         "",
         "ABC",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"AB", "C...."},
         {1, 1},
         false},
        {"a refused character is dropped, the rest goes in",
         {{0x43, 0, 5}, five},
         kOverLengthReject,
         "",
         "1A2",
         "",
         0,
         0,
         ScanEntry::Entered,
         {"12...", "....."},
         {0, 2},
         false},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        Editing t(c.fields);
        t.fill(0, "XY");
        t.session->overLengthRule = c.rule;
        if (!c.prefix.empty()) {
            t.session->prefixOn = 1;
            reader::storeText(t.session->prefixCode, c.prefix);
        }
        if (!c.suffix.empty()) {
            t.session->suffixOn = 1;
            reader::storeText(t.session->suffixCode, c.suffix);
        }
        t.session->otherFieldSuffix = c.otherFieldSuffix;
        t.session->lastFieldSuffix = c.lastFieldSuffix;
        const std::string& d = c.data;
        EXPECT_EQ(
            t.editor.enterScannedData({reinterpret_cast<const std::uint8_t*>(d.data()), d.size()}),
            c.result);
        for (std::size_t k = 0; k < c.texts.size(); ++k)
            EXPECT_EQ(t.fieldText(int(k)), c.texts[k]) << "field " << k;
        EXPECT_EQ(t.cursor(), c.cursor);
        EXPECT_EQ(!t.host.sends.empty(), c.enterSent);
        if (c.result == ScanEntry::Entered) {
            EXPECT_TRUE(t.modified(0));
        }
    }
}

TEST(Editing, ScanRefusedWhenLockedOrOutsideAField) {
    {
        Editing t({FieldSpec{}});
        t.screen->state.keyboardLocked = true;
        const std::uint8_t data[] = {'A'};
        EXPECT_EQ(t.editor.enterScannedData(data), ScanEntry::Refused);
        EXPECT_EQ(t.host.alarms, 1);
        EXPECT_EQ(t.fieldText(0), ".....");
    }
    {
        Editing t({FieldSpec{}});
        t.screen->setPosition(0);
        t.screen->locateField(0, 0);
        const std::uint8_t data[] = {'A'};
        EXPECT_EQ(t.editor.enterScannedData(data), ScanEntry::Refused);
        EXPECT_EQ(t.host.alarms, 1);
    }
}

TEST(Editing, ScanThenEnterSendsTheModifiedFields) {
    Editing t({{}, {}});
    t.fill(1, "OLD");
    const std::uint8_t data[] = {'1', '2', '3'};
    ASSERT_EQ(t.editor.enterScannedData(data), ScanEntry::Entered);
    t.editor.keyDown(vk::kReturn);
    ASSERT_EQ(t.host.sends.size(), 1u);
    // Cursor (3, 14), Enter, then the one modified field behind its SBA: "123" in EBCDIC.
    EXPECT_EQ(t.host.sends[0], test::reply({3, 14, 0xF1, 0x11, 3, 11, 0xF1, 0xF2, 0xF3}));
}

// --- Key resolution

TEST(KeyResolution, EmptyKeyMapGivesTheBuiltInFunctions) {
    const TnSession session{};
    const struct {
        int key, function;
    } cases[] = {
        {vk::kF1, 1},
        {vk::kF20, 20},
        {vk::kTab, fn::kFieldExit},
        {vk::kHome, fn::kRecord},
        {vk::kEnd, fn::kEnd},
        {vk::kPageUp, fn::kPageUp},
        {vk::kPageDown, fn::kPageDown},
        {vk::kDelete, fn::kDelete},
        {vk::kBack, fn::kBackspace},
        {vk::kReturn, fn::kEnter},
        {vk::kEscape, fn::kReset},
        {vk::kSend, 0},
        {vk::kDeviceEnd, 0},
        {vk::kUp, 0},
        {vk::kInsert, 0},
        {'A', 0},
        {0x84, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveKeyFunction(session, c.key), c.function) << std::hex << c.key;
        if (c.key != vk::kReturn && c.key != vk::kEscape) {
            EXPECT_EQ(builtinKeyFunction(c.key), c.function) << std::hex << c.key;
        }
    }
}

TEST(KeyResolution, TheKeyMapOverridesAllButReturnAndEscape) {
    const struct {
        const char* name;
        int slot, function, key, expected;
    } cases[] = {
        {"F1 mapped to ENTER", 1, fn::kEnter, vk::kF1, fn::kEnter},
        {"Tab mapped to Undefined keeps FIELDEXIT", 46, 0, vk::kTab, fn::kFieldExit},
        {"an arrow slot replaces the cursor movement", 36, fn::kPf1 + 2, vk::kUp, 3},
        {"the KX4CE Send key", 50, fn::kEnter, vk::kSend, fn::kEnter},
        {"the KX4CE End key, beyond the cleared table", 51, fn::kReset, vk::kDeviceEnd, fn::kReset},
        {"Backspace mapped to DELETE", 49, fn::kDelete, vk::kBack, fn::kDelete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TnSession session{};
        slotFunction(session, c.slot) = std::uint8_t(c.function);
        EXPECT_EQ(resolveKeyFunction(session, c.key), c.expected);
        // Return and Escape cannot be remapped through any slot.
        EXPECT_EQ(resolveKeyFunction(session, vk::kReturn), fn::kEnter);
        EXPECT_EQ(resolveKeyFunction(session, vk::kEscape), fn::kReset);
    }
}

TEST(KeyResolution, SlotBytesSitAtTheirRecordOffsets) {
    TnSession session{};
    slotFunction(session, 1) = 7;
    slotFunction(session, 51) = 9;
    EXPECT_EQ(session.bytes()[833], 7);
    EXPECT_EQ(session.bytes()[983], 9);
}

TEST(KeyResolution, DefaultKeyMapClearsSlotsAndGivesF1ToF20TheirPfKeys) {
    TnSession session{};
    slotFunction(session, 46) = fn::kReset;
    slotFunction(session, 51) = fn::kReset;
    session.bytes()[829] = 0x55;
    installDefaultKeyMap(session);
    for (int slot = 1; slot <= 20; ++slot)
        EXPECT_EQ(slotFunction(session, slot), slot);
    EXPECT_EQ(slotFunction(session, 46), 0);
    EXPECT_EQ(session.bytes()[829], 0);
    EXPECT_EQ(slotFunction(session, 51), fn::kReset) << "outside the 153 bytes";
    EXPECT_EQ(kTnFunctionNames[0], "Undefined");
    EXPECT_EQ(kTnFunctionNames[46], "LEFT");
}

}  // namespace
}  // namespace qn::tn
