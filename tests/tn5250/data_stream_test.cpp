// The record assembler and interpreter: host records in, screen, fields, cursor and replies
// out. Byte values on the wire are written as the host sends them.

#include <gtest/gtest.h>

#include <functional>

#include "tests/tn5250/tn_test_support.h"

namespace qn::tn {
namespace {

using test::Bytes;
using test::join;
using test::record;
using test::repeated;
using test::reply;
using test::sba;
using test::sf;
using test::Terminal;
using test::wtd;

// A table case: records fed to a fresh terminal, then checks on it.
struct StreamCase {
    const char* name;
    Bytes input;
    std::function<void(const Terminal&)> check;
    std::uint8_t language = 0;
    bool recordEnds = true;
};

void run(const std::vector<StreamCase>& cases) {
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal t(c.language);
        t.feed(c.input);
        c.check(t);
        if (c.recordEnds) {
            EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader) << "the record ended";
        }
    }
}

TEST(WriteToDisplay, OrdersAndData) {
    run({
        {"SBA and two characters, keyboard unlocked, no field: cursor home",
         record(join({wtd(0x00, 0x08), sba(1, 1), {0xC1, 0xC2}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 3), "AB.");
             EXPECT_FALSE(t.screen->state.keyboardLocked);
             EXPECT_EQ(t.screen->state.row, 0);
             EXPECT_EQ(t.screen->state.column, 0);
             EXPECT_TRUE(t.screen->state.redrawPending);
         }},
        {"a nonzero first control character locks the keyboard",
         record(join({wtd(0x20, 0x00), sba(1, 1), {0xC1}})),
         [](const Terminal& t) { EXPECT_TRUE(t.screen->state.keyboardLocked); }},
        {"attribute bytes take a cell and colour what follows",
         record(join({wtd(), sba(2, 1), {0x24, 0xC1, 0x20, 0xC2}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(1, 0, 4), ".A.B");
             EXPECT_EQ(t.screen->attributeAt(1, 0), 0);
             EXPECT_EQ(t.screen->attributeAt(1, 1), 0x44);
             EXPECT_EQ(t.screen->attributeAt(1, 3), 0x40);
         }},
        {"column 79 continues at column 0 of the next row",
         record(join({wtd(), sba(1, 80), {0xC1, 0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 79, 1) + t.text(1, 0, 1), "AB"); }},
        {"SBA (1,0) is taken as (1,1); MC swaps its bytes; IC sets the insert cursor",
         record(join({wtd(0, 0x48),
                      sba(1, 0),
                      {0xC1},
                      {0x14, 0x07, 0x03},
                      {0xC2},
                      {0x13, 0x05, 0x06},
                      {0xC3}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 1), "A");
             EXPECT_EQ(t.text(2, 6, 1), "B");  // row 3, column 7
             EXPECT_EQ(t.text(4, 5, 1), "C");
             EXPECT_EQ(t.screen->state.insertCursorRow, 4);
             EXPECT_EQ(t.screen->state.insertCursorColumn, 5);
             EXPECT_EQ(t.screen->state.column, 6) << "control character 2 keeps the cursor";
         }},
        {"a data byte right after the control characters is dropped",
         record(join({wtd(), {0xC1, 0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 2), "B."); }},
        {"an unknown order code among data swallows the next byte",
         record(join({wtd(), sba(1, 1), {0xC1, 0x05, 0xC2, 0xC3}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 3), "AC."); }},
        {"transparent data is written untranslated",
         record(join({wtd(), sba(1, 1), {0x10, 0x00, 0x05, 0xC1, 0x41, 0xFF}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->charAt(0, 0), 0xC1);
             EXPECT_EQ(t.screen->charAt(0, 1), 0x41);
             EXPECT_EQ(t.screen->charAt(0, 2), 0xFF);
         }},
        {"write extended attribute",
         record(join({wtd(),
                      sba(1, 1),
                      {0x20, 0x12, 0x01, 0x05, 0xC1, 0x12, 0x02, 0x01, 0xC2, 0x12, 0x03, 0x07, 0xC3,
                       0x12, 0x01, 0x00, 0xC4}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->attributeAt(0, 1), 0x45);
             EXPECT_EQ(t.screen->attributeAt(0, 2), 0x40);
             EXPECT_EQ(t.screen->attributeAt(0, 3), 0x40);
             EXPECT_EQ(t.screen->attributeAt(0, 4), 0x40);
         }},
        {"double-byte text between SO and SI takes two cells a character",
         record(join({wtd(), sba(1, 1), {0x0E, 0x41, 0x41, 0x40, 0x40, 0x0F, 0xC1}})),
         [](const Terminal& t) {
             const Bytes expected{0x20, 0x83, 0xBF, 0x81, 0x40, 0x20, 'A'};
             for (int i = 0; i < 7; ++i)
                 EXPECT_EQ(t.screen->charAt(0, i), expected[i]) << i;
         },
         4},
    });
}

TEST(WriteToDisplay, ControlCharactersOnFields) {
    // A field with text and MDT, then a Write To Display whose first control character is cc1.
    const struct {
        std::uint8_t cc1;
        bool modified;
        bool nulled;
    } cases[] = {
        {0x00, true, false}, {0x20, true, false}, {0x40, false, false}, {0x60, false, false},
        {0x80, true, true},  {0xA0, false, true}, {0xC0, true, true},   {0xE0, false, true},
    };
    for (const auto& c : cases) {
        Terminal t;
        t.feed(record(join({wtd(), sba(3, 1), sf(0x48, 0x00, 0x20, 5), {0xC1, 0xC2}})));
        ASSERT_TRUE(ffw::isModified(t.screen->fields.entries()[0].ffw1));
        t.feed(record(wtd(c.cc1, 0x00)));
        EXPECT_EQ(ffw::isModified(t.screen->fields.entries()[0].ffw1), c.modified)
            << std::hex << int(c.cc1);
        EXPECT_EQ(t.text(2, 1, 2), c.nulled ? ".." : "AB") << std::hex << int(c.cc1);
    }
}

TEST(WriteToDisplay, AlarmByTheSecondControlCharacter) {
    Terminal t;
    t.feed(record(wtd(0x00, 0x04)));
    t.feed(record(wtd(0x00, 0x08)));
    EXPECT_EQ(t.host.alarms, 1);
}

TEST(StartOfField, DefinesInputFields) {
    run({
        {"FFW without FCW at (5,10)", record(join({wtd(), sba(5, 10), sf(0x40, 0x00, 0x24, 10)})),
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             const FieldEntry& f = t.screen->fields.entries()[0];
             EXPECT_EQ(f.number, 1);
             EXPECT_EQ(f.row, 4);
             EXPECT_EQ(f.column, 10);
             EXPECT_EQ(f.attribute, 0x44);
             EXPECT_EQ(f.length, 10);
             EXPECT_EQ(t.screen->attributeAt(4, 9), 0);
             for (int c = 10; c < 20; ++c)
                 EXPECT_EQ(t.screen->attributeAt(4, c), 0x44) << c;
             EXPECT_EQ(t.screen->attributeAt(4, 20), 0);
             EXPECT_EQ(t.screen->state.currentAttribute, 0x44);
             EXPECT_EQ(t.screen->state.row, 4) << "cursor placed at the first field";
             EXPECT_EQ(t.screen->state.column, 10);
             EXPECT_EQ(t.screen->state.currentField.number, 1);
         }},
        {"FCW 0x80nn gives the resequence number",
         record(join({wtd(), sba(2, 2), {0x1D, 0x40, 0x00, 0x80, 0x07, 0x21, 0x00, 0x04}})),
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             const FieldEntry& f = t.screen->fields.entries()[0];
             EXPECT_EQ(f.fcw1, 0x80);
             EXPECT_EQ(f.fcw2, 0x07);
             EXPECT_EQ(f.resequence, 7);
             EXPECT_EQ(f.attribute, 0x45);
             EXPECT_EQ(f.length, 4);
         }},
        {"other control words give no resequence number",
         record(join({wtd(), sba(2, 2), {0x1D, 0x40, 0x00, 0x81, 0x07, 0x21, 0x00, 0x04}})),
         [](const Terminal& t) { EXPECT_EQ(t.screen->fields.entries()[0].resequence, 0); }},
        {"no FFW changes nothing",
         record(join({wtd(0, 0x48), sba(3, 3), {0x1D, 0x20, 0x00, 0x0A}, {0xC1}})),
         [](const Terminal& t) {
             EXPECT_TRUE(t.screen->fields.empty());
             EXPECT_EQ(t.screen->attributeAt(2, 2), 0);
             EXPECT_EQ(t.text(2, 2, 2), "A.") << "the address did not move";
         }},
        {"a bypass field paints its attribute but has no entry",
         record(join({wtd(), sba(3, 1), sf(0x60, 0x00, 0x22, 3)})),
         [](const Terminal& t) {
             EXPECT_TRUE(t.screen->fields.empty());
             EXPECT_EQ(t.screen->attributeAt(2, 1), 0xE0);
             EXPECT_EQ(t.screen->attributeAt(2, 3), 0xE0);
             EXPECT_EQ(t.screen->attributeAt(2, 4), 0);
         }},
        {"two SFs at the same address: second's words, first's length",
         record(join(
             {wtd(), sba(7, 5), sf(0x40, 0x00, 0x24, 10), sba(7, 5), sf(0x47, 0x07, 0x21, 3)})),
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             const FieldEntry& f = t.screen->fields.entries()[0];
             EXPECT_EQ(f.ffw1, 0x47);
             EXPECT_EQ(f.ffw2, 0x07);
             EXPECT_EQ(f.attribute, 0x45);
             EXPECT_EQ(f.length, 10);
             EXPECT_EQ(f.number, 1);
         }},
        {"the characters under a new field stay",
         record(join({wtd(), sba(1, 1), {0xC1, 0xC2, 0xC3}, sba(1, 1), sf(0x40, 0, 0x20, 2)})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 3), ".BC"); }},
    });
}

TEST(StartOfField, AFieldPastTheTableIsDropped) {
    Bytes body = wtd();
    for (int i = 0; i < kMaxFields + 1; ++i) {
        const Bytes more = join({sba(std::uint8_t(1 + i / 10), std::uint8_t(1 + 8 * (i % 10))),
                                 sf(0x40, 0x00, 0x20, 3)});
        body.insert(body.end(), more.begin(), more.end());
    }
    Terminal t;
    t.feed(record(body));
    EXPECT_EQ(t.screen->fields.count(), kMaxFields);
    EXPECT_EQ(t.screen->fields.entries().back().row, (kMaxFields - 1) / 10);
    // The dropped field still paints its attribute.
    EXPECT_EQ(t.screen->attributeAt(20, 65), 0x44);
}

TEST(RepeatAndErase, FillAndEraseToAnAddress) {
    run({
        {"RA from home fills columns 0-4",
         record(join({wtd(), sba(1, 1), {0x02, 0x01, 0x05, 0xC1}, {0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 7), "AAAAAB."); }},
        {"RA translates its character, 0xFF giving 0",
         record(join({wtd(), sba(1, 1), {0x02, 0x01, 0x02, 0xDF}, {0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 3), "..B"); }},
        {"EA of characters from home clears columns 0-4, its end included; the address ends at 5",
         record(join({wtd(),
                      sba(1, 1),
                      {0x02, 0x01, 0x08, 0xC1},
                      sba(1, 1),
                      {0x03, 0x01, 0x05, 0x02, 0x00},
                      {0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 8), ".....BAA"); }},
        {"EA of colour bits keeps characters",
         record(join({wtd(),
                      sba(1, 1),
                      {0x28},
                      {0x02, 0x01, 0x05, 0xC1},
                      sba(1, 2),
                      {0x03, 0x01, 0x04, 0x02, 0x01}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 1, 3), "AAA");
             EXPECT_EQ(t.screen->attributeAt(0, 1), 0x00);
             EXPECT_EQ(t.screen->attributeAt(0, 2), 0x00);
             EXPECT_EQ(t.screen->attributeAt(0, 3), 0x00) << "the target cell is erased too";
             EXPECT_EQ(t.screen->attributeAt(0, 4), 0x80);
         }},
        {"EA of all three",
         record(join({wtd(),
                      sba(1, 1),
                      {0x22},
                      {0x02, 0x01, 0x05, 0xC1},
                      sba(1, 2),
                      {0x03, 0x01, 0x04, 0x02, 0xFF}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 1, 4), "...A");
             EXPECT_EQ(t.screen->attributeAt(0, 3), 0x00);
         }},
        {"RA aimed before the address fills nothing and leaves the address past the target",
         record(join({wtd(), sba(3, 10), {0x02, 0x01, 0x05, 0xC1}, {0xC2}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 6), ".....B");
             EXPECT_EQ(t.text(2, 9, 2), "..");
         }},
        {"EA aimed before the address erases nothing",
         record(join({wtd(),
                      sba(1, 1),
                      {0x02, 0x01, 0x0A, 0xC1},
                      sba(1, 8),
                      {0x03, 0x01, 0x03, 0x02, 0xFF},
                      {0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 10), "AAABAAAAAA"); }},
        {"RA to the last plane cell and past it stays inside the planes",
         record(join({wtd(), sba(33, 75), {0x02, 0xFF, 0xFF, 0xC1}, {0xC2}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(32, 74, 6), "AAAAAA");
             EXPECT_EQ(t.screen->charAt(32, 80), 0);
         }},
    });
}

TEST(StartOfHeader, ClearsFieldsAndSetsTheErrorRow) {
    const std::pair<std::uint8_t, int> cases[] = {{5, 4}, {1, 0},  {24, 23},
                                                  {0, 7}, {25, 7}, {0xFF, 7}};
    for (auto [errorRow, messageRow] : cases) {
        Terminal t;
        t.screen->state.messageRow = 7;
        t.feed(record(join({wtd(),
                            sba(2, 2),
                            sf(0x40, 0, 0x20, 3),
                            {0x01, 0x07, 0x00, 0x00, 0x00, errorRow, 0x00, 0x00, 0x00}})));
        EXPECT_TRUE(t.screen->fields.empty());
        EXPECT_EQ(t.screen->state.messageRow, messageRow) << int(errorRow);
    }
    // A header too short to hold the error row keeps the message row.
    Terminal t;
    t.feed(record(join({wtd(), {0x01, 0x03, 0x00, 0x00, 0x05}})));
    EXPECT_EQ(t.screen->state.messageRow, 23);
}

TEST(Commands, ClearAndLock) {
    run({
        {"Clear Unit empties the screen",
         join({record(join({wtd(), sba(1, 1), {0xC1}, sba(3, 1), sf(0x40, 0, 0x20, 3)})),
               record({0x04, 0x40})}),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 1), ".");
             EXPECT_TRUE(t.screen->fields.empty());
             EXPECT_TRUE(t.screen->state.keyboardLocked);
         }},
        {"Clear Unit Alternate locks, keeps the screen",
         join({record(join({wtd(), sba(1, 1), {0xC1}})), record({0x04, 0x20, 0x00})}),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 1), "A");
             EXPECT_TRUE(t.screen->state.keyboardLocked);
             EXPECT_TRUE(t.screen->state.redrawPending);
         }},
        {"Clear Format Table keeps the fields",
         join({record(join({wtd(), sba(3, 1), sf(0x40, 0, 0x20, 3)})), record({0x04, 0x50})}),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->fields.count(), 1);
             EXPECT_TRUE(t.screen->state.keyboardLocked);
         }},
        {"an unknown command runs to the next ESC",
         record(join({{0x04, 0x99, 0x11, 0x01, 0x01, 0xC1}, wtd(), sba(1, 2), {0xC2}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 2), ".B"); }},
        {"unsupported commands are consumed silently",
         record(join({{0x04, 0x23, 1, 2, 3},
                      {0x04, 0xF4, 0x00, 0x04, 0xAA, 0xBB},
                      {0x04, 0x16, 1, 2},
                      wtd(),
                      sba(1, 1),
                      {0xC1}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 1), "A");
             EXPECT_TRUE(t.host.sends.empty());
         }},
        {"Restore Screen of anything but a saved image takes the rest of the record",
         record(join({{0x04, 0x12, 0x01}, wtd(), sba(1, 1), {0xC1}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 1), "."); }},
        {"read commands set the read mode after their control characters",
         record({0x04, 0x52, 0x00, 0x08}),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->state.readMode, 2);
             EXPECT_FALSE(t.screen->state.keyboardLocked);
             EXPECT_TRUE(t.host.sends.empty());
         }},
    });
}

TEST(Framing, RecordsEndByTheirLength) {
    const Bytes second = record(join({wtd(), sba(1, 2), {0xC2}}));
    run({
        {"a record shorter than its data: the rest starts the next record",
         join({record(wtd()), second}),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 2), ".B"); }},
        {"the bytes after a short length are parsed as a header",
         join({Bytes{0x00, 0x0E, 0x12, 0xA0, 0, 0, 4, 0, 0, 0}, wtd(), sba(1, 1), {0xC1}}),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 1), ".") << "SBA bytes became a header"; },
         0, false},
        {"a length below the header ends the record early",
         join({Bytes{0x00, 0x05, 0x12, 0xA0, 0x00}, second}),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 2), ".B"); }},
        {"a length of 0 ends the record after its length bytes", join({Bytes{0x00, 0x00}, second}),
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 2), ".B"); }},
        {"a command cut by the record end is dropped", join({second, record({0x04, 0x20})}),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(0, 0, 2), ".B");
             EXPECT_FALSE(t.screen->state.keyboardLocked) << "Clear Unit Alternate did not run";
         }},
    });
}

TEST(Framing, RedrawFlagClearedByEachRecordAndSetByChanges) {
    Terminal t;
    t.feed(record(join({wtd(), sba(1, 1), {0xC1}})));
    EXPECT_TRUE(t.screen->state.redrawPending);
    t.feed(Bytes{0x00});
    EXPECT_FALSE(t.screen->state.redrawPending) << "the first byte of a record clears it";
}

TEST(Bounds, OverLongParametersAreConsumedAndDropped) {
    // Transparent data of 997 bytes: the parameter space keeps 453 of them.
    Bytes td{0x10, 0x03, 0xE7};
    for (int i = 0; i < 997; ++i)
        td.push_back(std::uint8_t(i < 453 ? 'x' : 'y'));
    Terminal t;
    t.feed(record(join({wtd(), sba(1, 1), td, sba(24, 1), {0xC1}})));
    EXPECT_EQ(t.screen->charAtPosition(452), 'x');
    EXPECT_EQ(t.screen->charAtPosition(453), 0);
    EXPECT_EQ(t.text(23, 0, 1), "A") << "the order after it is read as one";

    // A long error message and a long structured field.
    Terminal u;
    Bytes message{0x04, 0x21};
    for (int i = 0; i < 2000; ++i)
        message.push_back(0xC1);
    u.feed(
        record(join({message, {0x04, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}, repeated(1000, 0x40)})));
    EXPECT_EQ(u.text(23, 0, 80), std::string(80, 'A'));
    EXPECT_EQ(u.screen->charAt(23, 80), 0);
    EXPECT_EQ(u.host.sends.size(), 1u) << "the query still answered";
}

TEST(Bounds, AddressesOutsideTheScreen) {
    run({
        {"writing past row 32 stops at the planes' end",
         record(join({wtd(0x00, 0x48), sba(33, 79), test::repeated(300, 0xC1)})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(32, 78, 2), "AA");
             EXPECT_EQ(t.screen->state.row, kPlaneRows);
         }},
        {"row and column 0 and 255 are harmless",
         record(join({wtd(),
                      sba(0, 0),
                      {0xC1},
                      sba(255, 255),
                      {0xC1},
                      {0x13, 0x00, 0x00},
                      sf(0x40, 0, 0x20, 0xFFFF),
                      {0x02, 0x00, 0x00, 0xC1},
                      {0x03, 0xFF, 0xFF, 0x02, 0xFF}})),
         [](const Terminal& t) { EXPECT_TRUE(t.screen->fields.empty()); }},
        {"a field reaching past the planes is painted up to their end",
         record(join({wtd(), sba(33, 70), sf(0x40, 0, 0x24, 0xFFFF)})),
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             EXPECT_EQ(t.screen->attributeAt(32, 79), 0x44);
         }},
    });
}

TEST(Replies, QueryReplyIsExact) {
    // The device the negotiated terminal type names, a 24 x 80 display, the field table's 208
    // entries, no structured-field constructs.
    const struct {
        std::uint8_t language;
        Bytes device;
    } cases[] = {
        {0, {0xF3, 0xF1, 0xF7, 0xF9, 0xF0, 0xF0, 0xF2}},  // 3179 002
        {5, {0xF3, 0xF1, 0xF7, 0xF9, 0xF0, 0xF0, 0xF2}},
        {4, {0xF5, 0xF5, 0xF5, 0xF5, 0xC2, 0xF0, 0xF1}},  // 5555 B01
        {1, {0xF5, 0xF5, 0xF5, 0xF5, 0xC2, 0xF0, 0xF1}},
    };
    for (const auto& c : cases) {
        Terminal t(c.language);
        t.feed(record({0x04, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}));
        const Bytes expected = join(
            {{0x00, 0x47, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0x00,
              0x88, 0x00, 0x3A, 0xD9, 0x70, 0x80, 0x06, 0x00, 0x01, 0x00, 0x00},
             repeated(16, 0x00),
             {0x01},
             c.device,
             {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x00, 0xD0, 0x00, 0x00, 0x00, 0x23, 0x31},
             repeated(10, 0x00),
             {0xFF, 0xEF}});
        ASSERT_EQ(expected.size(), 73u);
        ASSERT_EQ(t.host.sends.size(), 1u);
        EXPECT_EQ(t.host.sends[0], expected) << int(c.language);
    }

    Terminal other;
    other.feed(record({0x04, 0xF3, 0x00, 0x05, 0xD9, 0x71, 0x00}));
    other.feed(record({0x04, 0xF3, 0x00, 0x05, 0xD9}));
    EXPECT_TRUE(other.host.sends.empty());
}

TEST(Replies, ReadMdtAndEnterWithoutModifiedField) {
    Terminal t;
    t.feed(record(join({wtd(), sba(4, 6), sf(0x40, 0, 0x20, 5), {0xC1}})));
    t.feed(record({0x04, 0x52, 0x00, 0x08}));
    t.stream.sendAid(kAidEnter);
    EXPECT_EQ(t.host.sent(), (Bytes{0x00, 0x0D, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03,
                                    0x04, 0x07, 0xF1, 0xFF, 0xEF}));
    EXPECT_TRUE(t.screen->state.keyboardLocked);
    EXPECT_EQ(t.screen->state.readMode, 2) << "kept after the reply";
}

// Fills a fresh terminal with a screen of three fields (row 3: "AB" in 5 cells, MDT; row 4: "C"
// then a null then "D" in 5 cells; row 5: signed numeric "12" with '-' in its sign position, MDT),
// then a read command.
void threeFields(Terminal& t, std::uint8_t readCommand) {
    t.feed(record(join({wtd(),
                        sba(3, 1),
                        sf(0x48, 0, 0x20, 5),
                        {0xC1, 0xC2},
                        sba(4, 1),
                        sf(0x40, 0, 0x20, 5),
                        {0xC3},
                        sba(4, 4),
                        {0xC4},
                        sba(5, 1),
                        sf(0x4F, 0, 0x20, 4),
                        {0xF1, 0xF2},
                        sba(5, 5),
                        {0x60},
                        sba(4, 2)})));
    if (readCommand != 0) t.feed(record({0x04, readCommand, 0x00, 0x08}));
}

TEST(Replies, AidRecordByReadMode) {
    const struct {
        const char* name;
        std::uint8_t readCommand;
        Bytes body;
    } cases[] = {
        {"no read pending: header only", 0, {}},
        {"read input fields: all fields at their length, no SBA, nulls as blanks, sign",
         0x42,
         {0x03, 0x02, 0xF1, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0xC3, 0x40, 0xC4, 0x40, 0x40, 0xF1, 0xF2,
          0xD0}},
        {"read MDT fields: modified fields behind SBA",
         0x52,
         {0x03, 0x02, 0xF1, 0x11, 0x03, 0x02, 0xC1, 0xC2, 0x11, 0x05, 0x02, 0xF1, 0xD2}},
    };
    for (const auto& c : cases) {
        Terminal t;
        threeFields(t, c.readCommand);
        // The cursor was placed at the first field; move it as the operator would.
        t.screen->state.row = 2;
        t.screen->state.column = 1;
        t.screen->locateField(2, 1);
        t.stream.sendAid(kAidEnter);
        EXPECT_EQ(t.host.sent(), reply(c.body)) << c.name;
    }
}

TEST(Replies, ReadMdtAlternateKeepsNulls) {
    Terminal t;
    threeFields(t, 0x82);
    t.screen->fields.entries()[1].ffw1 |= ffw::kModified;
    t.screen->state.row = 0;
    t.screen->state.column = 0;
    t.screen->state.currentField = {};
    t.stream.sendAid(0x33);
    EXPECT_EQ(t.host.sent(), reply({0x01, 0x01, 0x33, 0x11, 0x03, 0x02, 0xC1, 0xC2, 0x11, 0x04,
                                    0x02, 0xC3, 0xFF, 0xC4, 0x11, 0x05, 0x02, 0xF1, 0xD2}));
}

TEST(Replies, CursorOnePastItsFieldMovesBack) {
    Terminal t;
    threeFields(t, 0x52);
    t.screen->locateField(2, 1);
    t.screen->state.row = 2;
    t.screen->state.column = 6;  // the field is 2,1 .. 2,5
    t.stream.sendAid(kAidEnter);
    EXPECT_EQ(t.screen->state.column, 5);
    EXPECT_EQ(t.host.sent()[10], 0x03);
    EXPECT_EQ(t.host.sent()[11], 0x06);
}

TEST(Replies, ReadImmediateAndReadModifiedImmediateAlternate) {
    Terminal t;
    threeFields(t, 0);
    t.feed(record({0x04, 0x72}));
    EXPECT_EQ(t.host.sent(), reply({0x03, 0x02, 0x00, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0xC3, 0x40,
                                    0xC4, 0x40, 0x40, 0xF1, 0xF2, 0x40}));
    EXPECT_FALSE(t.screen->state.keyboardLocked) << "unlocked after the reply";

    Terminal u;
    threeFields(u, 0);
    u.feed(record({0x04, 0x83}));
    EXPECT_EQ(u.host.sent(), reply({0x11, 0x03, 0x02, 0xC1, 0xC2, 0x11, 0x05, 0x02, 0xF1, 0xF2}));
    EXPECT_FALSE(u.screen->state.keyboardLocked);
}

TEST(Replies, AttentionRecord) {
    Terminal t;
    t.stream.sendAttention();
    EXPECT_EQ(t.host.sent(),
              (Bytes{0x00, 0x0A, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x40, 0x00, 0x00, 0xFF, 0xEF}));
}

TEST(Replies, AFieldWithoutEbcdicCodeGoesOutAsDoubled0xFF) {
    Terminal t;
    t.feed(record(join({wtd(), sba(1, 1), sf(0x48, 0, 0x20, 2), {0x04, 0x52, 0x00, 0x08}})));
    t.screen->setChar(0, 1, 0x01);  // no code from 0x40 up gives it
    t.screen->setChar(0, 2, 'A');
    t.stream.sendAid(kAidEnter);
    EXPECT_EQ(t.host.sent(),
              (Bytes{0x00, 0x12, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x01,
                     0x02, 0xF1, 0x11, 0x01, 0x02, 0xFF, 0xFF, 0xC1, 0xFF, 0xEF}));
}

TEST(Replies, ALongAidRecordStopsBeforeItsLengthOverflows) {
    Terminal t;
    Bytes body = wtd();
    // 200 overlapping fields of 2000 cells each, all modified.
    for (int i = 0; i < 200; ++i) {
        const Bytes more = join({sba(1, std::uint8_t(1 + i % 70)), sf(0x48, 0, 0x20, 2000)});
        body.insert(body.end(), more.begin(), more.end());
    }
    t.feed(record(body));
    t.feed(record({0x04, 0x52, 0x00, 0x08}));
    t.screen->fields.entries()[0].ffw1 |= ffw::kModified;
    for (int p = 0; p < kPlanePositions; ++p)
        t.screen->setCharAtPosition(p, 'A');
    t.stream.sendAid(kAidEnter);
    const Bytes sent = t.host.sent();
    const std::size_t length = std::size_t(sent[0]) << 8 | sent[1];
    EXPECT_EQ(length + 2, sent.size());
    EXPECT_GT(length, 60000u);
}

TEST(ErrorMessages, WriteErrorCode) {
    run({
        {"text up to its first null",
         join({record(join({wtd(), sba(24, 1), {0xC1, 0xC2}})),
               record({0x04, 0x21, 0xC8, 0xC9, 0x00, 0xC1, 0xC2})}),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(23, 0, 4), "HI..");
             EXPECT_EQ(t.screen->state.savedMessageRow[0], 'A');
             EXPECT_EQ(t.screen->state.savedMessageRow[1], 'B');
             EXPECT_TRUE(t.screen->state.messageShown);
             EXPECT_TRUE(t.screen->state.keyboardLocked);
             EXPECT_EQ(t.screen->state.messageText[0], 'H');
             EXPECT_EQ(t.screen->state.messageText[1], 'I');
             EXPECT_EQ(t.screen->state.messageText[2], 0);
         }},
        {"with a cursor address", record({0x04, 0x21, 0x13, 0x05, 0x0A, 0x40, 0xC5, 0x40}),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->state.row, 4);
             EXPECT_EQ(t.screen->state.column, 9);
             EXPECT_EQ(t.text(23, 0, 3), " E ");
             EXPECT_EQ(t.screen->state.messageText[0], 'E');
             EXPECT_EQ(t.screen->state.messageText[1], 0) << "trailing blanks removed";
         }},
        {"a cursor column past the row continues on the next rows",
         record({0x04, 0x21, 0x13, 0x03, 0xA0, 0x40, 0xC5}),
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->state.row, 3);
             EXPECT_EQ(t.screen->state.column, 79);
         }},
        {"ends at the next command", record(join({{0x04, 0x21, 0xC1}, wtd(), sba(1, 1), {0xC2}})),
         [](const Terminal& t) {
             EXPECT_EQ(t.text(23, 0, 2), "A.");
             EXPECT_EQ(t.text(0, 0, 1), "B");
         }},
        {"on the row of the header's error line",
         record(join(
             {wtd(), {0x01, 0x07, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00}, {0x04, 0x21, 0xC1}})),
         [](const Terminal& t) { EXPECT_EQ(t.text(2, 0, 1), "A"); }},
        {"double-byte text in the message", record({0x04, 0x21, 0x0E, 0x41, 0x41, 0x0F, 0xC1}),
         [](const Terminal& t) {
             const Bytes expected{0x20, 0x83, 0xBF, 0x20, 'A'};
             for (int i = 0; i < 5; ++i)
                 EXPECT_EQ(t.screen->charAt(23, i), expected[i]) << i;
         },
         4},
    });
}

TEST(ErrorMessages, ResetBringsBackTheLineBeforeTheFirstMessage) {
    Terminal t;
    t.feed(record(join({wtd(), sba(24, 1), {0xC1, 0xC2}})));
    t.feed(record({0x04, 0x21, 0xC5, 0xD9, 0xD9}));
    t.feed(record({0x04, 0x21, 0xC6}));
    EXPECT_EQ(t.text(23, 0, 3), "F..");
    t.screen->restoreMessageRow();
    EXPECT_EQ(t.text(23, 0, 3), "AB.");
}

TEST(ErrorMessages, WriteErrorCodeToWindow) {
    Terminal t;
    t.feed(record(join({wtd(), sba(24, 1), {0xC1, 0xC1, 0xC1, 0xC1, 0xC1, 0xC1}})));
    // Columns 3 to 6 (1-based): four bytes from offset 3.
    t.feed(record({0x04, 0x22, 0x03, 0x07, 0xC8, 0xC9, 0x40, 0x40, 0xC7}));
    EXPECT_EQ(t.text(23, 0, 7), "AAHI  .");
    EXPECT_EQ(t.screen->state.messageText[0], 'H');
    EXPECT_EQ(t.screen->state.messageText[1], 'I');
    EXPECT_EQ(t.screen->state.messageText[2], 0);
    EXPECT_TRUE(t.screen->state.messageShown);
    EXPECT_EQ(t.screen->state.savedMessageRow[2], 'A');

    // A window wider than the bytes given, and an inverted one, stay in bounds.
    Terminal u;
    u.feed(record({0x04, 0x22, 0x01, 0xFF, 0xC1}));
    u.feed(record({0x04, 0x22, 0x50, 0x01, 0xC1}));
    EXPECT_EQ(u.text(23, 0, 2), "A.");
}

TEST(SignOn, NameAndPasswordIntoTheFirstTwoFields) {
    Terminal t;
    reader::storeText(t.session->loginName, "guest");
    reader::storeText(t.session->loginPassword, "secret");
    t.feed(record(join({wtd(), sba(5, 10), sf(0x40, 0, 0x24, 4), {0x04, 0x52, 0x00, 0x08}})));
    EXPECT_FALSE(t.stream.trySignOn()) << "one field: nothing is sent";
    EXPECT_EQ(t.text(4, 10, 4), "gues");
    EXPECT_TRUE(t.host.sends.empty());

    t.feed(record(join({wtd(), sba(6, 10), sf(0x40, 0, 0x24, 10)})));
    EXPECT_TRUE(t.stream.trySignOn());
    EXPECT_EQ(t.text(5, 10, 7), "secret.");
    EXPECT_EQ(t.host.sent(), reply({0x05, 0x0B, 0xF1, 0x11, 0x05, 0x0B, 0x87, 0xA4, 0x85, 0xA2,
                                    0x11, 0x06, 0x0B, 0xA2, 0x85, 0x83, 0x99, 0x85, 0xA3}));
}

}  // namespace
}  // namespace qn::tn
