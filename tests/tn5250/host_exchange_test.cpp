// Exchanges with a host byte for byte: records in, fed whole, in two receives split at every
// byte and one byte at a time, and the exact records the terminal answers with. Covers the
// replies hosts parse (read commands, field control words, erase to address) and Save Screen
// and Restore Screen.

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "tests/tn5250/tn_test_support.h"
#include "tn5250/screen/screen_image.h"

namespace qn::tn {
namespace {

using test::Bytes;
using test::join;
using test::record;
using test::sba;
using test::sf;
using test::Terminal;
using test::wtd;

constexpr std::size_t kByteByByte = std::numeric_limits<std::size_t>::max();

// The ways one input is cut into receives: whole, two parts at every byte, single bytes.
std::vector<std::size_t> splits(const Bytes& input) {
    std::vector<std::size_t> all{0};
    for (std::size_t at = 1; at < input.size(); ++at)
        all.push_back(at);
    all.push_back(kByteByByte);
    return all;
}

void feedSplit(Terminal& t, const Bytes& input, std::size_t split) {
    if (split == kByteByByte) {
        for (std::uint8_t b : input)
            t.feed({b});
    } else if (split == 0) {
        t.feed(input);
    } else {
        t.feed(Bytes(input.begin(), input.begin() + long(split)));
        t.feed(Bytes(input.begin() + long(split), input.end()));
    }
}

std::string splitName(std::size_t split) {
    return split == 0             ? "whole"
           : split == kByteByByte ? "byte by byte"
                                  : "split at " + std::to_string(split);
}

struct ExchangeCase {
    const char* name;
    Bytes screen;                                  // fed whole first
    std::function<void(Terminal&)> operate;        // the operator, before the input
    Bytes input;                                   // fed every way
    std::function<void(Terminal&)> after;          // the operator, after it
    Bytes sent;                                    // exactly what goes to the host then
    std::function<void(const Terminal&)> check{};  // the model afterwards
};

void run(const std::vector<ExchangeCase>& cases) {
    for (const ExchangeCase& c : cases) {
        for (std::size_t split : splits(c.input)) {
            SCOPED_TRACE(std::string(c.name) + ", " + splitName(split));
            Terminal t;
            t.feed(c.screen);
            if (c.operate) c.operate(t);
            t.host.sends.clear();
            feedSplit(t, c.input, split);
            if (c.after) c.after(t);
            EXPECT_EQ(t.host.sent(), c.sent);
            EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader);
            if (c.check) c.check(t);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

void enter(Terminal& t) {
    t.stream.sendAid(kAidEnter);
}

// Fields of 5 and 4 positions at rows 3 and 4 from column 2 (1-based), holding "AB" and "C".
Bytes twoFields(std::uint8_t ffw1) {
    return record(join({wtd(),
                        sba(3, 1),
                        sf(ffw1, 0x00, 0x20, 5),
                        {0xC1, 0xC2},
                        sba(4, 1),
                        sf(ffw1, 0x00, 0x20, 4),
                        {0xC3}}));
}

TEST(HostExchange, RepliesHostsParse) {
    run({
        {"Read Input Fields: each field at its length, nulls as blanks",
         twoFields(0x48),
         {},
         record({0x04, 0x42, 0x00, 0x08}),
         enter,
         {0x00, 0x16, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x03, 0x02,
          0xF1, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0xC3, 0x40, 0x40, 0x40, 0xFF, 0xEF}},
        {"Read MDT Fields: an address per field, trailing blanks dropped",
         twoFields(0x48),
         {},
         record({0x04, 0x52, 0x00, 0x08}),
         enter,
         {0x00, 0x16, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x03, 0x02,
          0xF1, 0x11, 0x03, 0x02, 0xC1, 0xC2, 0x11, 0x04, 0x02, 0xC3, 0xFF, 0xEF}},
        {"Read Immediate: cursor, AID 0x00, then the fields; the cursor stays",
         record(join({wtd(), sba(3, 1), sf(0x48, 0x00, 0x20, 3), {0xC1}})),
         [](Terminal& t) { ASSERT_TRUE(t.screen->tapCell(5, 9)); },
         record({0x04, 0x72}),
         {},
         {0x00, 0x10, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x06, 0x0A, 0x00, 0xC1, 0x40,
          0x40, 0xFF, 0xEF},
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->state.row, 5);
             EXPECT_EQ(t.screen->state.column, 9);
             EXPECT_FALSE(t.screen->state.keyboardLocked);
         }},
        {"bytes outside commands are passed over to the next ESC or the record's end; an ESC "
         "that ends a record starts nothing",
         record(join({wtd(), sba(3, 1), sf(0x48, 0x00, 0x20, 3), {0xC1}})),
         [](Terminal& t) { ASSERT_TRUE(t.screen->tapCell(5, 9)); },
         join({record({0xC1, 0x00, 0x04, 0x72, 0x40, 0x12}), record({0x33, 0x04})}),
         {},
         {0x00, 0x10, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x06, 0x0A, 0x00, 0xC1, 0x40,
          0x40, 0xFF, 0xEF}},
        {"a Write Error Code leaves the cursor where the operator put it",
         record(join({wtd(), sba(3, 1), sf(0x40, 0x00, 0x20, 3)})),
         [](Terminal& t) { ASSERT_TRUE(t.screen->tapCell(5, 9)); },
         record({0x04, 0x21, 0xC5}),
         {},
         {},
         [](const Terminal& t) {
             EXPECT_EQ(t.screen->state.row, 5);
             EXPECT_EQ(t.screen->state.column, 9);
         }},
        {"Start Of Field with two control words: attribute and length after both",
         {},
         {},
         record(join({wtd(),
                      sba(2, 2),
                      {0x1D, 0x48, 0x00, 0x81, 0x00, 0x80, 0x07, 0x24, 0x00, 0x06},
                      {0xC1, 0xC2},
                      {0x04, 0x42, 0x00, 0x08}})),
         enter,
         {0x00, 0x13, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x02,
          0x03, 0xF1, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0x40, 0xFF, 0xEF},
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             const FieldEntry& f = t.screen->fields.entries()[0];
             EXPECT_EQ(f.fcw1, 0x81);
             EXPECT_EQ(f.fcw2, 0x00);
             EXPECT_EQ(f.resequence, 7);
             EXPECT_EQ(f.attribute, 0x44);
             EXPECT_EQ(f.length, 6);
             EXPECT_EQ(t.screen->attributeAt(1, 7), 0x44);
             EXPECT_EQ(t.screen->attributeAt(1, 8), 0x00);
         }},
        {"Start Of Field with three control words",
         {},
         {},
         record(join({wtd(0x00, 0x48),
                      sba(2, 2),
                      {0x1D, 0x40, 0x00, 0x82, 0x00, 0x84, 0x00, 0x81, 0x01, 0x21, 0x00, 0x03},
                      {0xC1},
                      sba(2, 10),
                      {0xC2}})),
         {},
         {},
         [](const Terminal& t) {
             ASSERT_EQ(t.screen->fields.count(), 1);
             const FieldEntry& f = t.screen->fields.entries()[0];
             EXPECT_EQ(f.fcw1, 0x82);
             EXPECT_EQ(f.resequence, 0);
             EXPECT_EQ(f.attribute, 0x45);
             EXPECT_EQ(f.length, 3);
             EXPECT_EQ(t.text(1, 1, 9), ".A......B");
         }},
        {"Erase To Address erases its end address too",
         {},
         {},
         record(join({wtd(),
                      sba(1, 1),
                      {0x02, 0x01, 0x08, 0xC1},
                      sba(1, 2),
                      {0x03, 0x01, 0x04, 0x02, 0x00},
                      {0xC2}})),
         {},
         {},
         [](const Terminal& t) { EXPECT_EQ(t.text(0, 0, 9), "A...BAAA."); }},
    });
}

// ---- Save Screen and Restore Screen

// The Restore Screen record a host makes of a Save Screen reply: the reply's body as it is.
Bytes restoreRecordOf(const Bytes& reply) {
    return record(test::replyBody(reply));
}

Bytes saveScreen(Terminal& t) {
    t.host.sends.clear();
    t.feed(record({0x04, 0x02}));
    EXPECT_EQ(t.host.sends.size(), 1u);
    return t.host.sends.empty() ? Bytes{} : t.host.sends[0];
}

void expectSameScreen(const TnScreen& a, const TnScreen& b) {
    EXPECT_TRUE(std::ranges::equal(a.charPlane(), b.charPlane()));
    EXPECT_TRUE(std::ranges::equal(a.attributePlane(), b.attributePlane()));
    EXPECT_TRUE(std::ranges::equal(a.hostAttributePlane(), b.hostAttributePlane()));
    EXPECT_TRUE(std::ranges::equal(a.fields.entries(), b.fields.entries()));
    const ScreenState& x = a.state;
    const ScreenState& y = b.state;
    EXPECT_EQ(x.row, y.row);
    EXPECT_EQ(x.column, y.column);
    EXPECT_EQ(x.insertCursorRow, y.insertCursorRow);
    EXPECT_EQ(x.insertCursorColumn, y.insertCursorColumn);
    EXPECT_EQ(x.keyboardLocked, y.keyboardLocked);
    EXPECT_EQ(x.insertMode, y.insertMode);
    EXPECT_EQ(x.messageShown, y.messageShown);
    EXPECT_EQ(x.placeCursorAtEnd, y.placeCursorAtEnd);
    EXPECT_EQ(x.readMode, y.readMode);
    EXPECT_EQ(x.messageRow, y.messageRow);
    EXPECT_EQ(x.currentAttribute, y.currentAttribute);
    EXPECT_EQ(x.savedMessageRow, y.savedMessageRow);
    EXPECT_EQ(x.messageText, y.messageText);
    EXPECT_EQ(x.currentField, y.currentField);
}

// An entry screen with text, a modified field carrying a resequence word, a numeric field, a
// pending Read MDT Fields and an error message over the message line (keyboard locked).
void entryScreen(Terminal& t) {
    t.feed(record(join({{0x04, 0x40},
                        wtd(),
                        {0x01, 0x07, 0x00, 0x00, 0x00, 0x16, 0x00, 0x00, 0x00},
                        sba(1, 1),
                        {0x22, 0xE3, 0xC9, 0xE3, 0xD3, 0xC5},
                        sba(3, 5),
                        {0x1D, 0x48, 0x00, 0x80, 0x05, 0x24, 0x00, 0x04},
                        {0xC1, 0xC2},
                        sba(4, 5),
                        sf(0x43, 0x06, 0x2C, 6),
                        sba(22, 1),
                        {0xC8, 0xC5, 0xD3, 0xD7},
                        {0x13, 0x03, 0x07},
                        {0x04, 0x52, 0x00, 0x08}})));
    t.feed(record({0x04, 0x21, 0xC5, 0xD9, 0xD9, 0xD6, 0xD9}));
}

// A pop-up window over the screen: a new field table and text, keyboard unlocked.
void popUp(Terminal& t) {
    t.feed(record(join({wtd(0x00, 0x08),
                        sba(10, 20),
                        {0x01, 0x03, 0x00, 0x00, 0x00},
                        sba(10, 20),
                        {0x22, 0xD7, 0xD6, 0xD7},
                        sba(11, 20),
                        sf(0x40, 0x00, 0x24, 2),
                        {0x04, 0x42, 0x00, 0x08}})));
}

// Text in runs across row ends, attribute bytes among it, null and 0x1C bytes, double-byte
// text, orders of every length rule, text running off the planes: each cut of it into
// receives must leave the screen a whole receive leaves.
TEST(HostExchange, EveryCutOfAScreenGivesTheSameScreen) {
    Bytes body = join({{0x04, 0x40},
                       wtd(0x00, 0x08),
                       {0x01, 0x07, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00},
                       sba(1, 70)});
    for (int i = 0; i < 150; ++i)
        body.push_back(i % 23 == 0   ? std::uint8_t(0x20 + i % 32)
                       : i % 37 == 0 ? std::uint8_t(i % 2 == 0 ? 0x00 : 0x1C)
                                     : std::uint8_t(0x40 + i % 0xBF));
    const Bytes more = join({sba(5, 1),
                             {0x0E, 0x41, 0x41, 0x44, 0x5A, 0x0F, 0xC1},
                             {0x1D, 0x40, 0x00, 0x81, 0x00, 0x80, 0x03, 0x24, 0x00, 0x0C},
                             {0xC1, 0xC2, 0xC3},
                             {0x02, 0x06, 0x14, 0x5C},
                             {0x03, 0x06, 0x05, 0x03, 0x00, 0x01},
                             {0x10, 0x00, 0x06, 0x41, 0x42, 0x43, 0x44},
                             {0x12, 0x01, 0x05, 0xC4},
                             {0x14, 0x09, 0x08, 0xC5},
                             {0x13, 0x07, 0x03},
                             sba(33, 75),
                             test::repeated(20, 0xC6),
                             sba(8, 1),
                             sf(0x40, 0x00, 0x20, 5),
                             {0xF1, 0xF2}});
    body.insert(body.end(), more.begin(), more.end());
    const Bytes input = record(body);
    for (std::uint8_t language : {std::uint8_t(0), std::uint8_t(4)}) {
        Terminal whole(language);
        whole.feed(input);
        ASSERT_EQ(whole.screen->fields.count(), 2);
        ASSERT_EQ(whole.text(32, 74, 6), "FFFFFF");
        for (std::size_t split : splits(input)) {
            SCOPED_TRACE(splitName(split) + ", language " + std::to_string(language));
            Terminal t(language);
            feedSplit(t, input, split);
            expectSameScreen(*t.screen, *whole.screen);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(SaveRestore, AFreshScreenSavesExactly) {
    Terminal t;
    Bytes expected{0x00, 0xA9, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04,  // Save Screen
                   0x04, 0x12,                                                  // Restore Screen
                   0xD8, 0xD5, 0x02, 0x00, 0x9D,                                // image, 157 bytes
                   0x01, 0x00, 0x17, 0x00,  // locked, no read, message row 23, attribute 0
                   0x00, 0x00, 0x00, 0x00,  // cursor 0,0
                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // no insert cursor
                   0x00, 0x00,                                      // no field, no fields
                   0x00, 0x00};                                     // no attribute bytes
    // Each plane's 4,224 null cells: 32 runs of 129 and one of 96 (0xFF doubled on the wire);
    // the saved message row and the message text, 128 nulls each.
    for (int plane = 0; plane < 2; ++plane) {
        for (int i = 0; i < 32; ++i)
            expected.insert(expected.end(), {0xFF, 0xFF, 0x00});
        expected.insert(expected.end(), {0xDE, 0x00});
    }
    expected.insert(expected.end(), {0xFE, 0x00, 0xFE, 0x00, 0xFF, 0xEF});
    EXPECT_EQ(saveScreen(t), expected);
    EXPECT_EQ(t.screen->state.row, 0);
}

TEST(SaveRestore, RestoreRebuildsTheSavedScreen) {
    Terminal source;
    entryScreen(source);
    ASSERT_TRUE(source.screen->state.messageShown);
    ASSERT_EQ(source.screen->fields.count(), 2);
    source.screen->state.insertMode = true;
    const TnScreen saved = *source.screen;
    const Bytes restore = restoreRecordOf(saveScreen(source));
    expectSameScreen(*source.screen, saved);  // saving changes nothing

    for (std::size_t split : splits(restore)) {
        SCOPED_TRACE(splitName(split));
        Terminal t;
        entryScreen(t);
        t.screen->state.insertMode = true;
        popUp(t);
        ASSERT_EQ(t.screen->fields.count(), 1);
        t.host.sends.clear();
        feedSplit(t, restore, split);
        expectSameScreen(*t.screen, saved);
        EXPECT_TRUE(t.host.sends.empty());
        // The pending read came back: Reset, then Enter sends the modified field; the cursor
        // is where the insert cursor put it, the error message's record moved nothing.
        t.screen->state.keyboardLocked = false;
        enter(t);
        EXPECT_EQ(t.host.sent(), test::reply({0x03, 0x07, 0xF1, 0x11, 0x03, 0x06, 0xC1, 0xC2}));
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(SaveRestore, NestedSavesComeBackInTurn) {
    Terminal t;
    entryScreen(t);
    const TnScreen first = *t.screen;
    const Bytes restoreFirst = restoreRecordOf(saveScreen(t));
    popUp(t);
    t.feed(record(join({wtd(), sba(12, 20), {0xC1, 0xC1}})));
    const TnScreen second = *t.screen;
    const Bytes restoreSecond = restoreRecordOf(saveScreen(t));
    t.feed(record(join({{0x04, 0x40}, wtd(), sba(2, 2), sf(0x40, 0x00, 0x20, 9)})));

    t.feed(restoreSecond);
    expectSameScreen(*t.screen, second);
    t.feed(restoreFirst);
    expectSameScreen(*t.screen, first);
    // A restored image restores again.
    t.feed(restoreSecond);
    t.feed(restoreFirst);
    expectSameScreen(*t.screen, first);
}

TEST(SaveRestore, CommandsAfterTheImageInTheSameRecordRun) {
    Terminal source;
    entryScreen(source);
    Bytes restore = restoreRecordOf(saveScreen(source));
    const Bytes more = join({wtd(0x00, 0x48), sba(1, 80), {0xE9}});
    restore.insert(restore.end(), more.begin(), more.end());
    const std::size_t size = restore.size();
    restore[0] = std::uint8_t(size >> 8);
    restore[1] = std::uint8_t(size);
    for (std::size_t split : splits(restore)) {
        SCOPED_TRACE(splitName(split));
        Terminal t;
        feedSplit(t, restore, split);
        EXPECT_EQ(t.screen->fields.count(), 2);
        EXPECT_EQ(t.text(0, 79, 1), "Z");
        EXPECT_EQ(t.text(0, 1, 5), "TITLE");
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(SaveRestore, AFullTableAndUnpackableCellsFitTheBound) {
    Terminal source;
    Bytes fields = wtd(0x00, 0x48);
    for (int i = 0; i < kMaxFields; ++i) {
        const Bytes more = join({sba(std::uint8_t(1 + i / 8), std::uint8_t(1 + 10 * (i % 8))),
                                 {0x1D, 0x48, 0x07, 0x80, std::uint8_t(i), 0x24, 0x00, 0x09}});
        fields.insert(fields.end(), more.begin(), more.end());
    }
    source.feed(record(fields));
    ASSERT_EQ(source.screen->fields.count(), kMaxFields);
    // Pairs and singles, the cells packing gains least on.
    auto chars = source.screen->charPlane();
    auto attributes = source.screen->attributePlane();
    for (std::size_t i = 0; i < chars.size(); ++i) {
        chars[i] = std::uint8_t(i % 3 == 2 ? i : i / 3 * 2);
        attributes[i] = std::uint8_t(i * 7);
    }
    auto hostBytes = source.screen->hostAttributePlane();
    for (std::size_t i = 0; i < hostBytes.size(); ++i) {
        if (i % kPlaneColumns < kColumns) hostBytes[i] = std::uint8_t(0x20 + (i / 3 + i % 3) % 32);
    }
    source.screen->state.savedMessageRow.fill(0x41);
    source.screen->state.messageText[5] = 0x42;
    const Bytes reply = saveScreen(source);
    const Bytes restore = restoreRecordOf(reply);
    const std::size_t imageLength = std::size_t(restore[15]) << 8 | restore[16];
    EXPECT_EQ(imageLength + 12, restore.size());
    EXPECT_LE(imageLength, kMaxScreenImage);
    Terminal t;
    t.feed(restore);
    expectSameScreen(*t.screen, *source.screen);
}

TEST(SaveRestore, AnyImageOutOfBoundsIsConsumedAndChangesNothing) {
    Terminal source;
    entryScreen(source);
    const Bytes good = restoreRecordOf(saveScreen(source));
    // Offsets into the record: 10-11 ESC 0x12, then the image from 12.
    constexpr std::size_t kImage = 12;
    // After the two fields, the attribute bytes: their count, then row, column and byte each.
    const std::size_t marks = kImage + kScreenImageHeader + 2 * kScreenImageFieldSize;
    const std::size_t markCount = std::size_t(good[marks]) << 8 | good[marks + 1];
    ASSERT_GE(markCount, 2u);
    const std::size_t cells = marks + 2 + kScreenImageMarkSize * markCount;
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes bad = good;
        bad[at] = value;
        return bad;
    };
    auto resized = [&](long delta) {
        Bytes bad = good;
        if (delta < 0) bad.resize(bad.size() - std::size_t(-delta));
        if (delta > 0) bad.insert(bad.end(), std::size_t(delta), 0x00);
        bad[0] = std::uint8_t(bad.size() >> 8);
        bad[1] = std::uint8_t(bad.size());
        return bad;
    };
    auto relength = [&](long delta) {
        Bytes bad = resized(delta);
        const std::size_t length = (std::size_t(good[kImage + 3]) << 8 | good[kImage + 4]) + delta;
        bad[kImage + 3] = std::uint8_t(length >> 8);
        bad[kImage + 4] = std::uint8_t(length);
        return bad;
    };
    // The previous version's image of the same screen: no attribute bytes.
    Bytes previous = good;
    previous.erase(previous.begin() + long(marks), previous.begin() + long(cells));
    previous[0] = std::uint8_t(previous.size() >> 8);
    previous[1] = std::uint8_t(previous.size());
    const std::size_t previousLength = previous.size() - kImage;
    previous[kImage + 2] = 0x01;
    previous[kImage + 3] = std::uint8_t(previousLength >> 8);
    previous[kImage + 4] = std::uint8_t(previousLength);
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"nothing after Restore Screen", record({0x04, 0x12})},
        {"less than an image header", record({0x04, 0x12, 0xD8, 0xD5, 0x01})},
        {"another version", changed(kImage + 2, 0x03)},
        {"the previous version's image, without attribute bytes", previous},
        {"this image called the previous version", changed(kImage + 2, 0x01)},
        {"an attribute byte that is text", changed(marks + 4, 0x40)},
        {"an attribute byte that is a control", changed(marks + 4, 0x1F)},
        {"an attribute byte at column 80", changed(marks + 3, 80)},
        {"an attribute byte at row 24", changed(marks + 2, 24)},
        {"attribute bytes out of screen order", changed(marks + 2, 23)},
        {"more attribute bytes than the image holds",
         changed(marks + 1, std::uint8_t(markCount + 1))},
        {"fewer attribute bytes than the image holds",
         changed(marks + 1, std::uint8_t(markCount - 1))},
        {"not our image", changed(kImage, 0x40)},
        {"the record ends inside the image", resized(-1)},
        {"its length short of the planes", relength(-1)},
        {"bytes left over after the planes", relength(+1)},
        {"an unknown flag", changed(kImage + 5, 0x11)},
        {"read mode 4", changed(kImage + 6, 0x04)},
        {"message row 24", changed(kImage + 7, 24)},
        {"cursor column 80", changed(kImage + 12, 80)},
        {"cursor row past the planes", changed(kImage + 10, 40)},
        {"insert cursor column -2", changed(kImage + 16, 0xFE)},
        {"current field past the table", changed(kImage + 17, 3)},
        {"more fields than the image holds", changed(kImage + 18, 3)},
        {"209 fields", changed(kImage + 18, 209)},
        {"a field column 80", changed(kImage + 20, 80)},
        {"a field row 33", changed(kImage + 21, 33)},
        {"a bypass field", changed(kImage + 22, 0x60)},
        {"a field without a format word", changed(kImage + 22, 0x08)},
        {"two fields at one position", changed(kImage + 31, good[kImage + 21])},
        {"a damaged run", changed(cells, 0xFF)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.input, good);
        Terminal t;
        popUp(t);
        const TnScreen before = *t.screen;
        t.host.sends.clear();
        t.feed(c.input);
        expectSameScreen(*t.screen, before);
        EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader);
        // The next record is read as usual.
        t.feed(record(join({wtd(0x00, 0x48), sba(1, 1), {0xC1}})));
        EXPECT_EQ(t.text(0, 0, 1), "A");
        EXPECT_TRUE(t.host.sends.empty());
    }
    Terminal t;
    popUp(t);
    t.feed(good);
    EXPECT_EQ(t.screen->fields.count(), 2) << "the unchanged image restores";
}

}  // namespace
}  // namespace qn::tn

namespace qn::tn {
namespace {

// ---- Records without a Write To Display, Read Screen, partial saves, Roll, structured fields

// A record from its header fields: the body after a header with this operation code.
Bytes recordWithOpcode(std::uint8_t opcode, const Bytes& body) {
    Bytes bytes = record(body);
    bytes[9] = opcode;
    return bytes;
}

// Two fields of 8 at rows 3 and 5 from column 11 (1-based), the insert cursor in the second;
// the operator has typed "ab" into the first and left the cursor after them.
void typingScreen(Terminal& t) {
    t.feed(record(join({{0x04, 0x40},
                        wtd(),
                        sba(3, 10),
                        sf(0x40, 0x00, 0x24, 8),
                        sba(5, 10),
                        sf(0x40, 0x00, 0x24, 8),
                        {0x13, 0x05, 0x0D},
                        {0x04, 0x52, 0x00, 0x08}})));
    ASSERT_EQ(t.screen->state.row, 4);
    ASSERT_TRUE(t.screen->tapCell(2, 12));
    t.screen->setChar(2, 10, 'a');
    t.screen->setChar(2, 11, 'b');
}

TEST(HostExchange, OnlyAWriteToDisplayMovesTheCursor) {
    // Each record fed every way while the operator types: the cursor, the insert cursor, the
    // field being typed into and the screen stay as they were.
    const Bytes records[] = {
        recordWithOpcode(0x0B, {}),  // message waiting on
        recordWithOpcode(0x0C, {}),  // and off
        record({0x04, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}),
        record({0x04, 0x03, 0x00, 0x01, 0x01, 0x18, 0x50}),
        record({0x04, 0x23, 0x81, 0x0A, 0x14}),
        record({0x04, 0x42, 0x00, 0x08}),
        record({0x04, 0x52, 0x00, 0x08}),
        record({0x04, 0x82, 0x00, 0x08}),
        record({0x04, 0x72}),
        record({0x04, 0x83}),
        record({0x04, 0x62}),
        record({0x04, 0x64}),
        record({0x04, 0x66}),
        record({0x04, 0x68}),
        record({0x04, 0x6A}),
        record({0x04, 0x6C}),
        record({0x04, 0x02}),
        record({0x04, 0x50}),
    };
    for (const Bytes& input : records) {
        for (std::size_t split : splits(input)) {
            SCOPED_TRACE(std::to_string(input[9]) + "/" +
                         std::to_string(input.size() > 11 ? input[11] : 0) + ", " +
                         splitName(split));
            Terminal t;
            typingScreen(t);
            const TnScreen before = *t.screen;
            feedSplit(t, input, split);
            EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader);
            EXPECT_EQ(t.screen->state.row, 2);
            EXPECT_EQ(t.screen->state.column, 12);
            EXPECT_EQ(t.screen->state.insertCursorRow, 4);
            EXPECT_EQ(t.screen->state.insertCursorColumn, 12);
            EXPECT_EQ(t.screen->state.currentField, before.state.currentField);
            EXPECT_TRUE(std::ranges::equal(t.screen->charPlane(), before.charPlane()));
            if (::testing::Test::HasFailure()) return;
        }
    }
    // A Write To Display places it, at the end of the write, before a read in the same record.
    Terminal t;
    typingScreen(t);
    t.feed(record(join({wtd(), sba(1, 1), {0xC1}, {0x04, 0x72}})));
    EXPECT_EQ(test::replyBody(t.host.sends.at(0)).at(1), 0x0B) << "the cursor reported at (1, 11)";
    EXPECT_EQ(t.screen->state.row, 2);
    EXPECT_EQ(t.screen->state.column, 10);
}

TEST(HostExchange, AReadAnswersByTheMasterModifiedTag) {
    const Bytes header{0x00, 0x0D, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03};
    auto modifyFirst = [](Terminal& t) { t.screen->fields.entries()[0].ffw1 |= ffw::kModified; };
    run({
        {"Read Input Fields, nothing modified: cursor and AID alone",
         twoFields(0x40),
         {},
         record({0x04, 0x42, 0x00, 0x08}),
         enter,
         join({header, {0x03, 0x02, 0xF1, 0xFF, 0xEF}})},
        {"Read Input Fields, one modified: every field",
         twoFields(0x40),
         modifyFirst,
         record({0x04, 0x42, 0x00, 0x08}),
         enter,
         {0x00, 0x16, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x03, 0x02,
          0xF1, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0xC3, 0x40, 0x40, 0x40, 0xFF, 0xEF}},
        {"Read Immediate, nothing modified: cursor and AID 0x00 alone",
         twoFields(0x40),
         {},
         record({0x04, 0x72}),
         {},
         join({header, {0x03, 0x02, 0x00, 0xFF, 0xEF}})},
        {"Read Immediate, one modified: every field",
         twoFields(0x40),
         modifyFirst,
         record({0x04, 0x72}),
         {},
         {0x00, 0x16, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03, 0x03, 0x02,
          0x00, 0xC1, 0xC2, 0x40, 0x40, 0x40, 0xC3, 0x40, 0x40, 0x40, 0xFF, 0xEF}},
    });
}

// What Read Screen sends: the 1,920 positions, as a host record would frame them.
Bytes readScreenReply(const Bytes& positions) {
    Bytes wire = record(positions);
    wire[9] = 0x00;
    wire.insert(wire.end(), {0xFF, 0xEF});
    return wire;
}

TEST(HostExchange, ReadScreenSendsTheDisplayAsWritten) {
    // Attribute bytes (one of them non-display, one of a field), text, nulls, a field's data
    // and the operator's typing, row 24 and column 80; nothing past them.
    const Bytes screen = record(join({wtd(0x00, 0x08),
                                      sba(1, 1),
                                      {0x22, 0xE3, 0xC9, 0xE3, 0xD3, 0xC5, 0x27, 0xC1, 0x00, 0xC2},
                                      sba(3, 10),
                                      sf(0x40, 0x00, 0x24, 4),
                                      {0xF1},
                                      sba(5, 10),
                                      sf(0x40, 0x00, 0x05, 2),  // no attribute byte: null
                                      sba(24, 79),
                                      {0x3A, 0x5C},
                                      sba(25, 1),
                                      {0xC1}}));
    Bytes positions(1920, 0x00);
    const Bytes row1{0x22, 0xE3, 0xC9, 0xE3, 0xD3, 0xC5, 0x27, 0xC1, 0x00, 0xC2};
    std::copy(row1.begin(), row1.end(), positions.begin());
    positions[2 * 80 + 9] = 0x24;
    positions[2 * 80 + 10] = 0xF1;
    positions[2 * 80 + 11] = 0x81;  // typed
    positions[23 * 80 + 78] = 0x3A;
    positions[23 * 80 + 79] = 0x5C;
    run({{"Read Screen",
          screen,
          [](Terminal& t) {
              ASSERT_TRUE(t.screen->tapCell(2, 11));
              t.screen->setChar(2, 11, 'a');
          },
          record({0x04, 0x62}),
          {},
          readScreenReply(positions),
          [](const Terminal& t) {
              EXPECT_EQ(t.screen->state.row, 2);
              EXPECT_EQ(t.screen->state.column, 11);
          }}});
    // Saved whole or as the display's rectangle, the display cleared, the image restored: the
    // host's attribute bytes read back as it wrote them.
    Bytes written = positions;
    written[2 * 80 + 11] = 0x00;
    for (const Bytes& save : {record({0x04, 0x02}), record({0x04, 0x03, 0x00, 1, 1, 24, 80})}) {
        Terminal u;
        u.feed(screen);
        u.host.sends.clear();
        u.feed(save);
        const Bytes restore = record(test::replyBody(u.host.sends.at(0)));
        u.feed(record({0x04, 0x40}));
        u.feed(restore);
        u.host.sends.clear();
        u.feed(record({0x04, 0x62}));
        EXPECT_EQ(u.host.sends.at(0), readScreenReply(written)) << int(save[11]);
    }
    // Text written over an attribute position reads as that text.
    Terminal t;
    t.feed(screen);
    t.feed(record(join({wtd(), sba(1, 1), {0xC4}, {0x04, 0x62}})));
    positions[0] = 0xC4;
    positions[2 * 80 + 11] = 0x00;
    EXPECT_EQ(t.host.sends.at(0), readScreenReply(positions));
    // Erased, an attribute byte is gone: row 1 to column 7 leaves nulls.
    t.host.sends.clear();
    t.feed(record(join({wtd(), sba(1, 1), {0x03, 0x01, 0x07, 0x02, 0xFF}, {0x04, 0x62}})));
    std::fill_n(positions.begin(), 7, 0x00);
    EXPECT_EQ(t.host.sends.at(0), readScreenReply(positions));
}

TEST(HostExchange, SavePartialScreenAnswersARestoreOfItsRectangle) {
    // Row 2 from column 3: an attribute byte, 'A', 'B'; the rectangle of 1 row by 3 columns there.
    const Bytes screen = record(join({wtd(0x00, 0x48), sba(2, 3), {0x20, 0xC1, 0xC2}}));
    const Bytes image{0xD8, 0xD5, 0x81, 0x00, 0x18, 0x5A, 0x01,
                      0x02, 0x01, 0x03, 0x00, 0x01, 0x00, 0x05,  // cursor 1,5
                      0x00,                                      // no field starts inside
                      0x00, 'A',  'B',                           // characters
                      0x00, 0x40, 0x40,                          // attributes
                      0x20, 0x00, 0x00};                         // attribute bytes
    run({{"Save Partial Screen",
          screen,
          {},
          record({0x04, 0x03, 0x5A, 0x02, 0x03, 0x01, 0x03}),
          {},
          join({{0x00, 0x24, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x04, 0x13},
                image,
                {0xFF, 0xEF}})}});
    // A rectangle reaching past the display is cut at its edge: rows 24, columns 79-80.
    Terminal t;
    t.feed(record({0x04, 0x03, 0x00, 0x18, 0x4F, 0x09, 0x09}));
    const Bytes body = test::replyBody(t.host.sends.at(0));
    EXPECT_EQ(Bytes(body.begin() + 8, body.begin() + 12), (Bytes{23, 78, 1, 2}));
}

// An entry screen and a pop-up window drawn over rows 9 to 13, columns 19 to 50 of it.
void popUpWindow(Terminal& t) {
    t.feed(record(join({wtd(0x00, 0x08),
                        sba(9, 19),
                        {0x22},
                        test::repeated(30, 0x60),
                        sba(10, 20),
                        {0x22, 0xD7, 0xD6, 0xD7},
                        sba(11, 20),
                        sf(0x40, 0x00, 0x24, 2),
                        {0x04, 0x42, 0x00, 0x08}})));
}

TEST(HostExchange, RestorePartialScreenBringsBackTheRectangle) {
    Terminal source;
    entryScreen(source);
    // A field that starts inside the rectangle, one that starts outside and runs into it.
    source.feed(record(join({wtd(0x00, 0x48),
                             sba(11, 30),
                             sf(0x48, 0x00, 0x24, 4),
                             {0xC6},
                             sba(12, 10),
                             sf(0x40, 0x00, 0x24, 20)})));
    ASSERT_EQ(source.screen->fields.count(), 4);
    source.screen->state.row = 10;
    source.screen->state.column = 31;
    const TnScreen saved = *source.screen;
    source.feed(record({0x04, 0x03, 0x00, 0x09, 0x13, 0x05, 0x20}));
    const Bytes restore = record(test::replyBody(source.host.sends.back()));
    for (std::size_t split : splits(restore)) {
        SCOPED_TRACE(splitName(split));
        Terminal t;
        entryScreen(t);
        t.feed(record(join({wtd(0x00, 0x48),
                            sba(11, 30),
                            sf(0x48, 0x00, 0x24, 4),
                            {0xC6},
                            sba(12, 10),
                            sf(0x40, 0x00, 0x24, 20)})));
        popUpWindow(t);
        ASSERT_EQ(t.screen->fields.count(), 5);
        t.host.sends.clear();
        feedSplit(t, restore, split);
        EXPECT_TRUE(t.host.sends.empty());
        EXPECT_TRUE(std::ranges::equal(t.screen->charPlane(), saved.charPlane()));
        EXPECT_TRUE(std::ranges::equal(t.screen->attributePlane(), saved.attributePlane()));
        EXPECT_TRUE(std::ranges::equal(t.screen->fields.entries(), saved.fields.entries()));
        EXPECT_EQ(t.screen->state.row, 10);
        EXPECT_EQ(t.screen->state.column, 31);
        EXPECT_EQ(t.screen->state.currentField, saved.fields.entries()[2]);
        if (::testing::Test::HasFailure()) return;
    }
}

TEST(HostExchange, AnyPartialImageOutOfBoundsIsConsumedAndChangesNothing) {
    Terminal source;
    entryScreen(source);
    source.feed(record(join({wtd(0x00, 0x48), sba(4, 20), sf(0x48, 0x00, 0x24, 4)})));
    source.feed(record({0x04, 0x03, 0x00, 0x03, 0x02, 0x03, 0x20}));
    const Bytes good = record(test::replyBody(source.host.sends.back()));
    constexpr std::size_t kImage = 12;  // after the header and ESC 0x13
    ASSERT_EQ(good[kImage + 14], 3) << "three fields start inside";
    auto changed = [&](std::size_t at, std::uint8_t value) {
        Bytes bad = good;
        bad[at] = value;
        return bad;
    };
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"another kind", changed(kImage + 2, 0x01)},
        {"its length one short", changed(kImage + 4, std::uint8_t(good[kImage + 4] - 1))},
        {"rows past the display", changed(kImage + 6, 22)},
        {"columns past the display", changed(kImage + 9, 79)},
        {"a depth the cells do not fill", changed(kImage + 8, 4)},
        {"cursor column 80", changed(kImage + 13, 80)},
        {"a field outside the rectangle", changed(kImage + 15 + 2, 10)},
        {"a bypass field", changed(kImage + 15 + 3, 0x60)},
        {"two fields at one position", changed(kImage + 25 + 2, good[kImage + 15 + 2])},
        {"more fields than it holds", changed(kImage + 14, 4)},
        {"an attribute byte that is text", changed(good.size() - 3 * 32 + 1, 0x40)},
        {"nothing after the command", record({0x04, 0x13})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.input, good);
        Terminal t;
        popUp(t);
        const TnScreen before = *t.screen;
        t.feed(c.input);
        expectSameScreen(*t.screen, before);
        EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader);
        t.feed(record(join({wtd(0x00, 0x48), sba(1, 1), {0xC1}})));
        EXPECT_EQ(t.text(0, 0, 1), "A");
        EXPECT_TRUE(t.host.sends.empty());
    }
    Terminal t;
    popUp(t);
    t.feed(good);
    EXPECT_EQ(t.screen->fields.count(), 4) << "the unchanged image restores";
}

TEST(HostExchange, RollMovesTheLinesOfItsArea) {
    // Rows 1 to 6 read "1" to "6" in column 1; an input field on row 3; the cursor on row 6.
    Bytes rows = wtd(0x00, 0x48);
    for (std::uint8_t r = 1; r <= 6; ++r) {
        const Bytes line = join({sba(r, 1), {std::uint8_t(0xF0 + r)}});
        rows.insert(rows.end(), line.begin(), line.end());
    }
    const Bytes field = join({sba(3, 5), sf(0x40, 0x00, 0x24, 3), sba(6, 2)});
    rows.insert(rows.end(), field.begin(), field.end());
    const struct {
        const char* name;
        Bytes roll;  // direction, top, bottom
        const char* column1;
    } cases[] = {
        {"up 2 over rows 2-5: the two rows left keep their lines", {0x02, 2, 5}, "145456"},
        {"down 1 over rows 1-3", {0x81, 1, 3}, "112456"},
        {"down 3 over rows 2-6", {0x83, 2, 6}, "123423"},
        {"only the count's five bits", {0x61, 1, 2}, "223456"},
        {"count 0", {0x80, 1, 6}, "123456"},
        {"top row 0", {0x01, 0, 6}, "123456"},
        {"bottom row 25", {0x01, 20, 25}, "123456"},
        {"top row not above the bottom", {0x01, 4, 4}, "123456"},
        {"a count past the area", {0x84, 2, 5}, "123456"},
    };
    for (const auto& c : cases) {
        const Bytes input = record(join({{0x04, 0x23}, c.roll}));
        for (std::size_t split : splits(input)) {
            SCOPED_TRACE(std::string(c.name) + ", " + splitName(split));
            Terminal t;
            t.feed(record(rows));
            const FieldEntry field = t.screen->fields.entries()[0];
            feedSplit(t, input, split);
            EXPECT_EQ(t.text(0, 0, 1) + t.text(1, 0, 1) + t.text(2, 0, 1) + t.text(3, 0, 1) +
                          t.text(4, 0, 1) + t.text(5, 0, 1),
                      c.column1);
            ASSERT_EQ(t.screen->fields.count(), 1);
            EXPECT_EQ(t.screen->fields.entries()[0], field) << "the field table stays";
            EXPECT_EQ(t.screen->state.row, 5);
            EXPECT_EQ(t.screen->state.column, 1);
            EXPECT_TRUE(t.host.sends.empty());
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(HostExchange, WriteToDisplayStructuredFieldsLeaveTheScreenConsistent) {
    // Text, a structured field, text, a field: the structured field writes nothing, defines
    // nothing and moves nothing.
    auto screenWith = [](const Bytes& structured) {
        return record(join({wtd(0x00, 0x08),
                            sba(2, 1),
                            {0xC1},
                            structured,
                            {0xC2},
                            sba(4, 5),
                            sf(0x40, 0x00, 0x24, 3),
                            {0x04, 0x52, 0x00, 0x08}}));
    };
    const struct {
        const char* name;
        Bytes structured;
        const char* row2;
        int fields;
    } cases[] = {
        {"a window with a border",
         {0x15, 0x00, 0x0B, 0xD9, 0x51, 0x80, 0x05, 0x20, 0x00, 0x00, 0x04, 0x11},
         "AB",
         1},
        {"a selection field with ESC, SF and SBA bytes inside",
         {0x15, 0x00, 0x0E, 0xD9, 0x50, 0x00, 0x04, 0x52, 0x1D, 0x40, 0x00, 0x24, 0x11, 0x01, 0x01},
         "AB",
         1},
        {"a scroll bar", {0x15, 0x00, 0x08, 0xD9, 0x53, 0x00, 0x00, 0x05, 0x00}, "AB", 1},
        {"a remove-all", {0x15, 0x00, 0x04, 0xD9, 0x5F}, "AB", 1},
        {"a length too short for its class and type: the rest of the write is passed over",
         {0x15, 0x00, 0x02, 0xD9, 0x51},
         "A.",
         0},
        {"a zero length", {0x15, 0x00, 0x00}, "A.", 0},
    };
    for (const auto& c : cases) {
        const Bytes input = screenWith(c.structured);
        for (std::size_t split : splits(input)) {
            SCOPED_TRACE(std::string(c.name) + ", " + splitName(split));
            Terminal t;
            feedSplit(t, input, split);
            EXPECT_EQ(t.text(1, 0, 3), std::string(c.row2) + ".");
            EXPECT_EQ(t.screen->fields.count(), c.fields);
            EXPECT_EQ(t.screen->state.row, c.fields == 1 ? 3 : 0);
            EXPECT_EQ(t.screen->state.column, c.fields == 1 ? 5 : 0);
            EXPECT_EQ(t.screen->state.readMode, 2) << "the command after it runs";
            EXPECT_EQ(t.stream.phase(), TnDataStream::kHeader);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace qn::tn
