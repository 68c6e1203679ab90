// The scanner assemblers: key events through real xkbcommon keymaps (US and German), HID POS
// reports, serial lines, and the framing rules they share (terminator, gap, bound, unplug).

#include <gtest/gtest.h>

#include <map>

#include "plugins/simreader/hidpos_assembler.h"
#include "plugins/simreader/key_assembler.h"
#include "plugins/simreader/reader_config.h"
#include "tests/simreader/scanner_script.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;
using test::hidReport;
using test::keyScript;

std::shared_ptr<const Keymap> keymapFor(const std::string& layout) {
    static std::map<std::string, std::shared_ptr<const Keymap>> compiled;
    auto& keymap = compiled[layout];
    if (!keymap) keymap = Keymap::compile(layout);
    return keymap;
}

std::vector<std::string> dataOf(const std::vector<ScannerDecode>& decodes) {
    std::vector<std::string> data;
    for (const auto& decode : decodes)
        data.push_back(decode.data);
    return data;
}

struct KeyCase {
    const char* name;
    const char* layout;
    ScanTerminator terminator;
    std::string script;
    std::vector<std::string> expected;
};

std::string repeated(const std::string& word, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += word + " ";
    return text;
}

const std::vector<KeyCase> kKeyCases = {
    {"us shift and digits",
     "us",
     ScanTerminator::Enter,
     "+LEFTSHIFT A -LEFTSHIFT B 1 2 ENTER",
     {"Ab12"}},
    {"us right shift and symbols",
     "us",
     ScanTerminator::Enter,
     "+RIGHTSHIFT 4 SLASH -RIGHTSHIFT MINUS DOT ENTER",
     {"$?-."}},
    {"caps lock, and shift under caps lock",
     "us",
     ScanTerminator::Enter,
     "CAPSLOCK A B +LEFTSHIFT C -LEFTSHIFT 1 CAPSLOCK D ENTER",
     {"ABc1d"}},
    {"german letters and shifted digits",
     "de",
     ScanTerminator::Enter,
     "Y Z +LEFTSHIFT 7 2 -LEFTSHIFT MINUS SEMICOLON ENTER",
     {"zy/\"\xDF\xF6"}},
    {"german altgr", "de", ScanTerminator::Enter, "+RIGHTALT Q 7 -RIGHTALT ENTER", {"@{"}},
    {"german dead circumflex then space",
     "de",
     ScanTerminator::Enter,
     "GRAVE SPACE A ENTER",
     {"^a"}},
    {"german dead key before the terminator", "de", ScanTerminator::Enter, "A GRAVE ENTER", {"a^"}},
    {"german without dead keys", "de(nodeadkeys)", ScanTerminator::Enter, "GRAVE A ENTER", {"^a"}},
    {"GS1 with alt + keypad GS",
     "us",
     ScanTerminator::Enter,
     "0 1 +LEFTALT KP0 KP2 KP9 -LEFTALT 1 7 +LEFTALT KP2 KP9 -LEFTALT 1 0 ENTER",
     {"01\x1D"
      "17\x1D"
      "10"}},
    {"alt + keypad wraps at 256, 0 types nothing",
     "us",
     ScanTerminator::Enter,
     "+LEFTALT KP2 KP9 KP3 -LEFTALT +LEFTALT KP0 -LEFTALT A ENTER",
     {"%a"}},
    {"GS as ctrl + ]",
     "us",
     ScanTerminator::Enter,
     "A +LEFTCTRL RIGHTBRACE -LEFTCTRL B ENTER",
     {"a\x1D"
      "b"}},
    {"keypad enter ends a decode", "us", ScanTerminator::Enter, "KP1 KPENTER", {"1"}},
    {"tab terminator: enter is data", "us", ScanTerminator::Tab, "A TAB B ENTER TAB", {"a", "b\r"}},
    {"enter terminator: tab is data", "us", ScanTerminator::Enter, "A TAB B ENTER", {"a\tb"}},
    {"empty decodes are not posted",
     "us",
     ScanTerminator::Enter,
     "ENTER ENTER A ENTER ENTER",
     {"a"}},
    {"autorepeat types nothing more",
     "us",
     ScanTerminator::Enter,
     "+A *A *A -A +LEFTSHIFT *LEFTSHIFT B -LEFTSHIFT ENTER",
     {"aB"}},
    {"events dropped: the scan under way is lost",
     "us",
     ScanTerminator::Enter,
     "A +LEFTSHIFT B DROP C ENTER D ENTER",
     {"d"}},
    {"a character past latin-1 loses its decode",
     "de",
     ScanTerminator::Enter,
     "+RIGHTALT E -RIGHTALT 1 ENTER 2 ENTER",
     {"2"}},
    {"a decode past the bound is dropped whole",
     "us",
     ScanTerminator::Enter,
     repeated("A", 4097) + "ENTER B ENTER",
     {"b"}},
    {"a decode at the bound is kept",
     "us",
     ScanTerminator::Enter,
     repeated("A", 4096) + "ENTER",
     {std::string(4096, 'a')}},
};

class KeyAssemblerTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyAssemblerTest, TypesTheDecodes) {
    const KeyCase& c = GetParam();
    auto keymap = keymapFor(c.layout);
    ASSERT_NE(keymap, nullptr) << c.layout;
    const auto events = keyScript(c.script);
    const std::string bytes = test::eventBytes(events);
    // Event by event, and as a byte stream cut at every size a pipe may return.
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{7},
                              sizeof(input_event) + 5, std::size_t{4096}}) {
        KeyAssembler assembler(keymap, {c.terminator, 0ms, 4096});
        std::vector<ScannerDecode> out;
        const auto now = ScanClock::now();
        if (chunk == 0) {
            for (const auto& event : events)
                assembler.feed(event, now, out);
        } else {
            for (std::size_t at = 0; at < bytes.size(); at += chunk) {
                const std::size_t size = std::min(chunk, bytes.size() - at);
                assembler.feedBytes(
                    std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, size), now,
                    out);
            }
        }
        EXPECT_EQ(dataOf(out), c.expected) << c.name << ", chunk " << chunk;
        for (const auto& decode : out) {
            EXPECT_EQ(decode.kind, ScannerKind::Keyboard);
            EXPECT_EQ(decode.symbology, "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, KeyAssemblerTest, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

TEST(KeyAssembler, LayoutsThatDoNotCompileAreRefused) {
    for (const char* layout :
         {"", "zz-nothing", "us(", "de(nodeadkeys", "us;rm", "../us", "us(bad variant)"}) {
        EXPECT_EQ(Keymap::compile(layout), nullptr) << layout;
    }
    EXPECT_EQ(Keymap::compile(std::string(65, 'a')), nullptr);
}

// The gap ends a decode without a terminator; an unplug drops what was under way, and every
// modifier counts as released afterwards.
TEST(KeyAssembler, GapAndUnplug) {
    KeyAssembler assembler(keymapFor("us"), {ScanTerminator::Enter, 50ms, 4096});
    std::vector<ScannerDecode> out;
    const auto start = ScanClock::now();
    auto type = [&](const char* script, ScanClock::time_point at) {
        for (const auto& event : keyScript(script))
            assembler.feed(event, at, out);
    };
    type("A B", start);
    EXPECT_EQ(assembler.framer().untilExpiry(start + 20ms), 30ms);
    type("C", start + 49ms);
    type("D", start + 99ms + 1ms);  // 51 ms after C: "abc" ended before D
    EXPECT_EQ(dataOf(out), std::vector<std::string>{"abc"});
    assembler.framer().expire(start + 120ms, out);
    EXPECT_EQ(out.size(), 1u);
    assembler.framer().expire(start + 150ms, out);
    EXPECT_EQ(dataOf(out), (std::vector<std::string>{"abc", "d"}));
    EXPECT_EQ(assembler.framer().untilExpiry(start + 150ms), std::nullopt);

    out.clear();
    type("+LEFTSHIFT X", start + 1s);
    assembler.reset();
    type("Y ENTER", start + 1s);
    assembler.framer().expire(start + 2s, out);
    EXPECT_EQ(dataOf(out), std::vector<std::string>{"y"});
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Reports through an assembler: one a read (chunk 0), or as a FIFO stream in chunks.
std::vector<ScannerDecode> assemble(const std::optional<HidPosLayout>& layout,
                                    const std::vector<std::string>& reports, std::size_t chunk) {
    HidPosAssembler assembler(4096, layout);
    std::vector<ScannerDecode> out;
    const auto now = ScanClock::now();
    std::string stream;
    for (const auto& report : reports) {
        if (chunk == 0) assembler.feedReport(bytesOf(report), now, out);
        stream += report;
    }
    for (std::size_t at = 0; chunk > 0 && at < stream.size(); at += chunk)
        assembler.feedBytes(bytesOf(stream).subspan(at, std::min(chunk, stream.size() - at)), now,
                            out);
    return out;
}

struct HidCase {
    const char* name;
    std::vector<std::string> reports;
    std::vector<ScannerDecode> expected;
};

const std::vector<HidCase> kHidCases = {
    {"one report with its identifier",
     {hidReport("4006381333931", "]E0")},
     {{ScannerKind::HidPos, "4006381333931", "]E0"}}},
    {"continued reports make one decode, identifier of the first",
     {hidReport(std::string(56, 'x'), "]d2", true), hidReport("\x1D"
                                                              "10ABC",
                                                              "", false)},
     {{ScannerKind::HidPos,
       std::string(56, 'x') + "\x1D"
                              "10ABC",
       "]d2"}}},
    {"no identifier, and one that is not text",
     {hidReport("A1"), hidReport("B2", "\x01\x02")},
     {{ScannerKind::HidPos, "A1", ""}, {ScannerKind::HidPos, "B2", ""}}},
    {"a length past the report drops the decode it belongs to",
     {hidReport("AAAA", "]C1", true), hidReport("BBBB", "", false, 57), hidReport("OK")},
     {{ScannerKind::HidPos, "OK", ""}}},
    {"other report IDs are passed over",
     {hidReport("status", "", false, -1, 0x04), hidReport("DATA", "]Q1")},
     {{ScannerKind::HidPos, "DATA", "]Q1"}}},
    {"empty data posts nothing", {hidReport("")}, {}},
    {"data with a zero byte is kept as sent",
     {hidReport(std::string("A\0B", 3))},
     {{ScannerKind::HidPos, std::string("A\0B", 3), ""}}},
};

class HidPosAssemblerTest : public ::testing::TestWithParam<HidCase> {};

TEST_P(HidPosAssemblerTest, PutsReportsTogether) {
    const HidCase& c = GetParam();
    std::string stream;
    for (const auto& report : c.reports)
        stream += report;
    // The common layout assumed, and the same layout read from a scanner's descriptor.
    const auto declared = parseHidPosLayout(bytesOf(test::hid::commonDescriptor()));
    ASSERT_TRUE(declared);
    for (const auto& layout : {std::optional<HidPosLayout>(), declared}) {
        for (std::size_t chunk : {std::size_t{0}, std::size_t{3}, std::size_t{100}}) {
            EXPECT_EQ(assemble(layout, c.reports, chunk), c.expected)
                << c.name << ", chunk " << chunk << (layout ? ", declared" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, HidPosAssemblerTest, ::testing::ValuesIn(kHidCases));

TEST(HidPosAssembler, ShortReportsBoundAndUnplug) {
    HidPosAssembler assembler(100);
    std::vector<ScannerDecode> out;
    const auto now = ScanClock::now();
    auto feed = [&](const std::string& report) {
        assembler.feedReport(
            std::span(reinterpret_cast<const std::uint8_t*>(report.data()), report.size()), now,
            out);
    };
    // A short report: its own size sets how much data it can hold.
    std::string shortReport = hidReport("12345678").substr(0, 12);
    shortReport.back() = 0;
    shortReport[1] = 4;
    feed(shortReport);
    feed(hidReport("x").substr(0, 8));  // too short to carry anything
    // Past the bound: dropped whole.
    feed(hidReport(std::string(56, 'a'), "", true));
    feed(hidReport(std::string(56, 'b')));
    // Cut by an unplug: nothing partial.
    feed(hidReport("partial", "]E0", true));
    assembler.reset();
    feed(hidReport("after", "]E3"));
    EXPECT_EQ(out, (std::vector<ScannerDecode>{{ScannerKind::HidPos, "1234", ""},
                                               {ScannerKind::HidPos, "after", "]E3"}}));
}

// Other scanners' layouts, read from their descriptors, each fed reports as that scanner sends
// them: one a read and as FIFO streams cut anywhere.
struct LayoutCase {
    const char* name;
    std::string descriptor;
    std::string description;  // the --scanners listing's words
    std::vector<std::string> reports;
    std::vector<ScannerDecode> expected;
};

std::vector<LayoutCase> layoutCases() {
    using test::reportOf;
    auto report7 = [](std::string_view data, std::string_view id, std::string_view flag) {
        return reportOf(33, {{0, "\x07"}, {1, data}, {29, id}, {32, flag}});
    };
    auto unnumbered = [](unsigned length, char flags, std::string_view data) {
        const char head[3] = {static_cast<char>(length & 0xFF), static_cast<char>(length >> 8),
                              flags};
        return reportOf(23, {{0, std::string_view(head, 3)}, {3, data}});
    };
    const std::string trailing = test::hid::trailingIdentifierDescriptor();
    const std::string plain = test::hid::unnumberedDescriptor();
    return {
        {"the common layout declared",
         test::hid::commonDescriptor(),
         "report 2 of 64 bytes: byte count, identifier, 56 data bytes, continuation flag",
         {hidReport("4006381333931", "]E0"), hidReport("status", "", false, -1, 0x04)},
         {{ScannerKind::HidPos, "4006381333931", "]E0"}}},
        {"continued across a status report, padding dropped, identifier of the first",
         trailing,
         "report 7 of 33 bytes: identifier, 28 data bytes, continuation flag",
         {report7(std::string(28, 'a'), "]Q1", "\x01"), reportOf(2, {{0, "\x03\x01"}}),
          report7("XYZ", "]Q3", "")},
         {{ScannerKind::HidPos, std::string(28, 'a') + "XYZ", "]Q1"}}},
        {"zeros inside kept, all-zero data posts nothing, any continuation value continues",
         trailing,
         "report 7 of 33 bytes: identifier, 28 data bytes, continuation flag",
         {report7(std::string("A\0B", 3), "", ""), report7("", "]E0", ""),
          report7("P", "]E0", "\x80"), report7("Q", "]X9", "")},
         {{ScannerKind::HidPos, std::string("A\0B", 3), ""}, {ScannerKind::HidPos, "PQ", "]E0"}}},
        {"a 16-bit count, the continuation in bit 3 of a flags byte",
         plain,
         "report of 23 bytes: byte count, 20 data bytes, continuation flag",
         {unnumbered(20, 0x0F, std::string(20, 'x')), unnumbered(3, 0x07, "ENDJUNK")},
         {{ScannerKind::HidPos, std::string(20, 'x') + "END", ""}}},
        {"a count past the data field drops its decode",
         plain,
         "report of 23 bytes: byte count, 20 data bytes, continuation flag",
         {unnumbered(0x0100, 0x08, "DROPPED"), unnumbered(1, 0, "+"), unnumbered(2, 0, "OK")},
         {{ScannerKind::HidPos, "OK", ""}}},
    };
}

TEST(HidPosLayout, ReadFromTheDescriptorAndAssembled) {
    for (const auto& c : layoutCases()) {
        const auto layout = parseHidPosLayout(bytesOf(c.descriptor));
        ASSERT_TRUE(layout) << c.name;
        EXPECT_EQ(describeHidPosLayout(*layout), c.description) << c.name;
        for (std::size_t chunk : {0, 1, 7, 100}) {
            EXPECT_EQ(assemble(layout, c.reports, chunk), c.expected)
                << c.name << ", chunk " << chunk;
        }
    }
}

// The usual descriptor, item by item, lands each field where the common layout has it.
TEST(HidPosLayout, CommonDescriptorGivesTheCommonPositions) {
    const auto layout = parseHidPosLayout(bytesOf(test::hid::commonDescriptor()));
    ASSERT_TRUE(layout);
    const HidInputReport scanned{2,       64, {40, 56 * 8}, {8, 8}, {{{16, 8}, {24, 8}, {32, 8}}},
                                 {504, 1}};
    EXPECT_EQ(*layout, (HidPosLayout{true, {scanned, HidInputReport{4, 64}}}));
}

// A descriptor that breaks a rule or declares no usable data gives no layout, and the common
// one is read instead.
TEST(HidPosLayout, UnusableDescriptorsFallBackToTheCommonLayout) {
    using namespace test::hid;
    const std::string valid =
        usagePage(0x8C) + reportSize(8) + reportCount(4) + usage(0xFE) + input(kData);
    std::string pushes;
    for (int i = 0; i < 9; ++i)
        pushes += push();
    struct Case {
        const char* name;
        std::string descriptor;
        bool usable;
    };
    const std::vector<Case> cases = {
        {"the smallest usable one", valid, true},
        {"a long item is passed over", std::string("\xFE\x01\x20\x00", 4) + valid, true},
        {"eight pushes and pops", pushes.substr(1) + valid + std::string(8, '\xB4'), true},
        {"empty", "", false},
        {"an item cut short", valid + reportCount(9) + usage(0xFE) + "\x82\x02", false},
        {"a long item cut short", valid + std::string("\xFE\x05\x10\x01", 4), false},
        {"an absurd report count", item(0x94, 0xFFFFFFFF, 4) + valid, false},
        {"a field wider than 256 bits", reportSize(257) + valid, false},
        {"a report past the largest",
         reportSize(256) + reportCount(12288) + input(kConstant) + valid, false},
        {"a ninth push", pushes + valid, false},
        {"a pop without push", pop() + valid, false},
        {"an end without collection", endCollection() + valid, false},
        {"a collection never closed", collection(1) + valid, false},
        {"report ID 0", item(0x84, 0, 1) + valid, false},
        {"numbered after unnumbered", valid + reportId(2) + usage(0xFE) + input(kData), false},
        {"a keyboard",
         usagePage(0x01) + usage(0x06) + collection(1) + usagePage(0x07) + usageMinimum(0xE0) +
             usageMaximum(0xE7) + reportSize(1) + reportCount(8) + input(kData) + endCollection(),
         false},
        {"decoded data in 16-bit fields",
         usagePage(0x8C) + reportSize(16) + reportCount(4) + usage(0xFE) + input(kData), false},
        {"decoded data declared constant",
         usagePage(0x8C) + reportSize(8) + reportCount(4) + usage(0xFE) + input(kConstant), false},
    };
    const std::vector<ScannerDecode> common = {{ScannerKind::HidPos, "4006381333931", "]E0"}};
    for (const auto& c : cases) {
        const auto layout = parseHidPosLayout(bytesOf(c.descriptor));
        EXPECT_EQ(layout.has_value(), c.usable) << c.name;
        if (!c.usable) {
            EXPECT_EQ(assemble(layout, {hidReport("4006381333931", "]E0")}, 0), common) << c.name;
        }
    }
}

TEST(SerialAssembler, LinesBoundAndGap) {
    SerialAssembler assembler(8, 30ms);
    std::vector<ScannerDecode> out;
    const auto start = ScanClock::now();
    auto feed = [&](std::string_view bytes, ScanClock::time_point at) {
        assembler.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                       at, out);
    };
    feed("ONE\r\nTWO\n\nTOOLONGLINE\rTHR", start);
    feed("EE\rFO", start + 10ms);
    feed("UR", start + 50ms);  // 40 ms after "FO": the gap ended it
    assembler.framer().expire(start + 100ms, out);
    EXPECT_EQ(dataOf(out), (std::vector<std::string>{"ONE", "TWO", "THREE", "FO", "UR"}));
    for (const auto& decode : out)
        EXPECT_EQ(decode.kind, ScannerKind::Serial);
}

TEST(ScannerConfig, ScannerSectionOfReaderIni) {
    struct Case {
        std::string ini;
        ScannerConfig expected;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"[scanner]\nevdev= /dev/input/event3 , ,0c2e:0b61\nhidraw=hidraw1\nlayout=de\n"
         "terminator=TAB\ngap-ms=40\n",
         {{"/dev/input/event3", "0c2e:0b61"}, {"hidraw1"}, "de", ScanTerminator::Tab, 40ms}},
        {"[scanner]\nevdev=a,b,c,d,e\nterminator=escape\ngap-ms=10001\nlayout=\n",
         {{"a", "b", "c", "d"}, {}, "us", ScanTerminator::Enter, 0ms}},
        {"[scanner]\nevdev=" + std::string(256, 'x') + ",ok\ngap-ms=-1\n",
         {{"ok"}, {}, "us", ScanTerminator::Enter, 0ms}},
        {"[scanner]\nhid-descriptor=scanners/model7.desc\n",
         {{}, {}, "us", ScanTerminator::Enter, 0ms, "scanners/model7.desc"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readerConfigFrom(platform::IniFile::parse(c.ini)).scanner, c.expected) << c.ini;
    }
}

}  // namespace
}  // namespace qn::sim
