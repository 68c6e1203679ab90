// Replies, modes, host reader commands, device commands and the parser's robustness.

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "tests/vt/vt_test_support.h"

namespace qn::vt::test {
namespace {

using Strings = std::vector<std::string>;

struct ReplyCase {
    const char* name;
    std::string input;
    Strings sends;
    Under under = Under::Both;
};

TEST(VtEmulatorReplies, AnswersOnTheWire) {
    const std::string tertiary("\x1b[!|\x01\x01\x02\x05\x9c", 9);
    const ReplyCase cases[] = {
        {"ENQ sends the answerback", "\005", {"qarnebt"}},
        {"c without a number gets nothing", "\033[c", {}},
        {"0c", "\033[0c", {"\033[?1;0c"}},
        {">c", "\033[>c", {"\033[>1;20;1c"}},
        {">0c", "\033[>0c", {"\033[>1;20;1c"}},
        {"=c", "\033[=c", {tertiary}},
        {"=0c", "\033[=0c", {tertiary}},
        {"1c gets nothing", "\033[1c", {}},
        {"5n", "\033[5n", {"\033[0n"}},
        {"6n reports the cursor 1-based", "\033[5;10H\033[6n", {"\033[5;10R"}},
        {"6n in the last cell", "\033[24;80H\033[6n", {"\033[24;80R"}},
        {"6n after the last column", "\033[24;80Hx\033[6n", {"\033[24;81R"}, Under::Classic},
        {"6n on the last column, wrap pending",
         "\033[24;80Hx\033[6n",
         {"\033[24;80R"},
         Under::Vt100},
        {"6n in origin mode counts from the region's top",
         "\033[5;20r\033[?6h\033[3;7H\033[6n",
         {"\033[3;7R"},
         Under::Vt100},
        {"6n with a region is absolute",
         "\033[5;20r\033[?6h\033[3;7H\033[6n",
         {"\033[7;7R"},
         Under::Classic},
        {"private 6n gets nothing", "\033[?6n", {}},
        {"other n gets nothing", "\033[7n", {}},
        {"x without a number", "\033[x", {"\033[3;5;2;64;64;1;0x"}},
        {"0x", "\033[0x", {"\033[2;5;2;64;64;1;0x"}},
        {"1x", "\033[1x", {"\033[3;5;2;64;64;1;0x"}},
        {"x wraps its character", "\033[254x", {"\033[0;5;2;64;64;1;0x"}},
        {"ESC Z", "\033Z", {"\033/Z"}},
        {"8-bit CSI",
         "\x9b"
         "5n",
         {"\033[0n"}},
        {"8-bit ENQ after ESC is a control", "\033\x85", {"qarnebt"}},
        {"replies keep their order", "\033[5n\005\033[0c", {"\033[0n", "qarnebt", "\033[?1;0c"}},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runAllWays(c.input, {}, c.under).sends, c.sends);
    }
}

struct ModeCase {
    const char* name;
    std::string input;
    std::int32_t VtScreen::*field;
    std::int32_t expected;
    Under under = Under::Both;
};

TEST(VtEmulatorModes, SetAndReset) {
    const ModeCase cases[] = {
        {"?1h application cursor keys", "\033[?1h", &VtScreen::cursorKeysNormal, 0},
        {"?1l", "\033[?1h\033[?1l", &VtScreen::cursorKeysNormal, 1},
        {"1h without the private mark", "\033[1h", &VtScreen::cursorKeysNormal, 1},
        {"? alone counts as ?1", "\033[?h", &VtScreen::cursorKeysNormal, 0, Under::Classic},
        {"? alone names no mode", "\033[?h", &VtScreen::cursorKeysNormal, 1, Under::Vt100},
        {"4h insert", "\033[4h", &VtScreen::replaceMode, 0},
        {"4l replace", "\033[4h\033[4l", &VtScreen::replaceMode, 1},
        {"?4h is no mode", "\033[?4h", &VtScreen::replaceMode, 1},
        {"?7h autowrap", "\033[?7h", &VtScreen::autoWrap, 1},
        {"7h without the mark", "\033[7h", &VtScreen::autoWrap, 0},
        {"20h new-line mode", "\033[20h", &VtScreen::newLineModeOff, 0},
        {"20l", "\033[20h\033[20l", &VtScreen::newLineModeOff, 1},
        {"?1;25h is one number", "\033[?1;25h", &VtScreen::cursorKeysNormal, 1, Under::Classic},
        {"?7;8h is one number", "\033[?7;8h", &VtScreen::autoWrap, 0, Under::Classic},
        {"?1;25h sets ?1", "\033[?1;25h", &VtScreen::cursorKeysNormal, 0, Under::Vt100},
        {"?7;8h sets ?7", "\033[?7;8h", &VtScreen::autoWrap, 1, Under::Vt100},
        {"several parameters reset too", "\033[?1;7h\033[?1;7l", &VtScreen::autoWrap, 0,
         Under::Vt100},
        {"an empty parameter is skipped", "\033[?;;1;h", &VtScreen::cursorKeysNormal, 0,
         Under::Vt100},
        {"4;20h sets both", "\033[4;20h", &VtScreen::newLineModeOff, 0, Under::Vt100},
        {"4;20h sets both: insert", "\033[4;20h", &VtScreen::replaceMode, 0, Under::Vt100},
        {"each keeps its own mark: ?4 is no mode", "\033[?4;7h", &VtScreen::replaceMode, 1,
         Under::Vt100},
        {"ESC = keypad", "\033=", &VtScreen::keypadNumeric, 0},
        {"ESC >", "\033=\033>", &VtScreen::keypadNumeric, 1},
        {"ESC c is ignored", "\033[?7h\033c", &VtScreen::autoWrap, 1},
        {"CSI i has no effect", "\033[?7h\033[5i", &VtScreen::autoWrap, 1},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runAllWays(c.input, {}, c.under).screen.*(c.field), c.expected);
    }
}

struct EventCase {
    const char* name;
    Configure configure;
    std::string input;
    Strings events;
    Strings sends;
    Under under = Under::Both;
};

void checkEvents(const EventCase& c) {
    SCOPED_TRACE(c.name);
    const Outcome out = runAllWays(c.input, c.configure, c.under);
    EXPECT_EQ(out.events, c.events);
    EXPECT_EQ(out.sends, c.sends);
}

Configure escTrigger(std::function<void(VtSettings&)> more = {}) {
    return [more](VtSettings& s, RecordingVtHost&) {
        s.triggerByEscCmd = 1;
        if (more) more(s);
    };
}

Configure withSettings(std::function<void(VtSettings&)> change) {
    return [change](VtSettings& s, RecordingVtHost&) { change(s); };
}

TEST(VtEmulatorHostCommands, TriggerAndFeedback) {
    const std::string fullWidth = "\033[" + repeat('1', 43) + "q";  // fills all 46 bytes
    const EventCase cases[] = {
        {"99h is a plain mode without triggerByEscCmd", {}, "\033[99h\033[99l", {}, {}},
        {"99h switches the trigger on", escTrigger(), "\033[99h", {"trigger 1"}, {}},
        {"99l switches it off", escTrigger(), "\033[99l", {"trigger 0"}, {}},
        {"8-bit CSI forms the same text",
         escTrigger(),
         "\x9b"
         "99h",
         {"trigger 1"},
         {}},
        {"the text must match whole", escTrigger(), "\033[?99h\033[999h\033[99H", {}, {}},
        {"a configured enable shadows DSR",
         escTrigger([](VtSettings& s) { reader::storeText(s.enableCommand, "\033[5n"); }),
         "\033[5n",
         {"trigger 1"},
         {}},
        {"without triggerByEscCmd DSR answers",
         withSettings([](VtSettings& s) { reader::storeText(s.enableCommand, "\033[5n"); }),
         "\033[5n",
         {},
         {"\033[0n"}},
        {"good feedback: vibrate, then sound",
         withSettings([](VtSettings& s) {
             reader::storeText(s.goodFeedbackCommand, "\033[5q");
             s.goodVibrator.set(2);
             s.goodBeeper.set(3);
         }),
         "\033[5q",
         {"vibrate 500", "sound 3"},
         {}},
        {"error feedback",
         withSettings([](VtSettings& s) {
             reader::storeText(s.errorFeedbackCommand, "\033[6q");
             s.errorVibrator.set(1);
         }),
         "\033[6q",
         {"vibrate 250", "sound 2"},
         {}},
        {"feedback without vibration",
         withSettings([](VtSettings& s) { reader::storeText(s.goodFeedbackCommand, "\033[5q"); }),
         "\033[5q",
         {"sound 1"},
         {}},
        {"feedback does not need triggerByEscCmd or feedbackByCmd",
         withSettings([](VtSettings& s) { reader::storeText(s.errorFeedbackCommand, "\033[E"); }),
         "\033[E",
         {"sound 2"},
         {}},
        {"a feedback command shadows DSR",
         withSettings([](VtSettings& s) { reader::storeText(s.goodFeedbackCommand, "\033[6n"); }),
         "\033[6n",
         {"sound 1"},
         {}},
        {"empty commands never match",
         withSettings([](VtSettings& s) {
             reader::storeText(s.enableCommand, "");
             s.triggerByEscCmd = 1;
         }),
         "\033[q\033[h\033[99h",
         {},
         {}},
        {"a command filling its field is read to its width",
         withSettings([&](VtSettings& s) { reader::storeText(s.goodFeedbackCommand, fullWidth); }),
         fullWidth + "\033[" + repeat('1', 44) + "q",
         {"sound 1"},
         {}},
        {"enable before feedback",
         escTrigger([](VtSettings& s) { reader::storeText(s.goodFeedbackCommand, "\033[99h"); }),
         "\033[99h",
         {"trigger 1"},
         {}},
        {"BEL beeps", {}, "\007", {"beep"}, {}},
        {"?25 shows and hides the caret",
         {},
         "\033[?25l\033[?25h\033[25l",
         {"caret hide", "caret show"},
         {}},
        {"?25 among several parameters",
         {},
         "\033[?7;25l\033[?25;1h",
         {"caret hide", "caret show"},
         {},
         Under::Vt100},
        {"?25 among several parameters is lost",
         {},
         "\033[?7;25l\033[?25;1h",
         {},
         {},
         Under::Classic},
    };
    for (const EventCase& c : cases)
        checkEvents(c);
}

TEST(VtEmulatorHostCommands, SettingsAreReadLiveBetweenChunks) {
    VtSettings settings{};
    applyEmulatorDefaults(settings);
    RecordingVtHost host;
    VtEmulator emulator(settings, host);
    emulator.vtReset();
    const std::string command = "\033[99h";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(command.data());
    emulator.feed(bytes, command.size());
    settings.triggerByEscCmd = 1;
    emulator.feed(bytes, command.size());
    reader::storeText(settings.enableCommand, "\033[98h");
    emulator.feed(bytes, command.size());
    EXPECT_EQ(host.events, Strings{"trigger 1"});
}

TEST(VtEmulatorHostCommands, LocalEchoSetting) {
    EXPECT_EQ(runAllWays("\033[12l").localEcho, 0);
    EXPECT_EQ(runAllWays("\033[12l\033[12h").localEcho, 1);
    EXPECT_EQ(runAllWays("\033[?12l").localEcho, 1);
}

Configure readers(std::uint32_t type, int rfidOn, int feedbackByCmd = 0) {
    return [=](VtSettings& s, RecordingVtHost& host) {
        host.readerTypeMask = type;
        s.rfidReaderOn = static_cast<std::uint8_t>(rfidOn);
        s.feedbackByCmd = static_cast<std::uint8_t>(feedbackByCmd);
        s.goodVibrator.set(2);
        s.goodBeeper.set(4);
    };
}

TEST(VtEmulatorDeviceCommands, SoundReadersVibration) {
    const EventCase cases[] = {
        {"1 plays a sound", {}, "\033[1;5]", {"sound 5"}, {}},
        {"1 without a number plays sound 0", {}, "\033[1]", {"sound 0"}, {}},
        {"a sign is read", {}, "\033[1;+7]", {"sound 7"}, {}},
        {"an empty number is 0", {}, "\033[1;]", {"sound 0"}, {}},
        {"digits stop at another character", {}, "\033[1;4?9]", {"sound 4"}, {}},
        {"4 vibrates p1 x 250 ms", {}, "\033[4;3]", {"vibrate 750"}, {}},
        {"4 with 0 does nothing", {}, "\033[4;0]", {}, {}},
        {"a negative number drops the command", {}, "\033[4;-1]", {}, {}},
        {"a later negative number drops it too", {}, "\033[1;3;-2]", {}, {}},
        {"3 is accepted and does nothing", {}, "\033[3;1]", {}, {}},
        {"unknown commands do nothing", {}, "\033[9;1]\033[]", {}, {}},
        {"a number is read from its first 19 characters",
         {},
         "\033[1;" + repeat('9', 30) + "]",
         {"sound 2147483647"},
         {}},
        {"bytes past the buffer are dropped, the command still ends",
         {},
         "\033[1;6" + repeat(';', 300) + "-1]",
         {"sound 6"},
         {}},
        {"2 on with RFID", readers(0x27, 1), "\033[2;1]", {"active 0x27"}, {}},
        {"2 on without RFID", readers(0x27, 0), "\033[2;1]", {"active 0x07"}, {}},
        {"2 on with fewer readers", readers(0x05, 1), "\033[2;1]", {"active 0x05"}, {}},
        {"2 off with RFID keeps RFID", readers(0x27, 1), "\033[2;0]", {"active 0x20"}, {}},
        {"2 off without RFID", readers(0x27, 0), "\033[2;0]", {"active 0x00"}, {}},
        {"2 gives good feedback with feedbackByCmd",
         readers(0x27, 1, 1),
         "\033[2;1]",
         {"active 0x27", "vibrate 500", "sound 4"},
         {}},
    };
    for (const EventCase& c : cases)
        checkEvents(c);
}

struct ParserCase {
    const char* name;
    std::string input;
    std::string row0;
    int cursorRow;
    int cursorCol;
    Under under = Under::Both;
};

TEST(VtEmulatorParser, ControlsInsideSequencesAndBadInput) {
    const ParserCase cases[] = {
        {"a control inside a sequence runs without ending it", "abc\033[1\r0C", "abc", 0, 10},
        {"CAN cancels the sequence", "\033[5\030;5H", ";5H", 0, 3},
        {"SUB cancels the sequence", "\033[5\032;5H", ";5H", 0, 3},
        {"ESC starts over", "\033[5;\033[2;3H", "", 1, 2},
        {"DEL and 0xFF inside a sequence are ignored", "\033[2\x7f;3\xffH", "", 1, 2},
        {"8-bit CSI",
         "\x9b"
         "2;3H",
         "", 1, 2},
        {"8-bit bytes are parameter text", "\033[2;3\x9bH", "", 1, 79},
        {"unknown finals are ignored", "\033[5zok", "ok", 0, 2},
        {"an overlong sequence drops its tail and still ends at its final",
         "\033[" + repeat('0', 400) + "5Cok", ".ok", 0, 3},
        {"an 8-bit printable after ESC prints and keeps the escape",
         "\033\xc1"
         "D",
         "A", 1, 1},
        {"0xA0 after ESC is ignored", "\033\xa0x", "", 0, 0},
        {"an 8-bit CAN after ESC cancels", "\033\x98x", "x", 0, 1},
        {"ESC c is ignored", "ab\033cd", "abd", 0, 3},
        {"private functions are ignored", "\033 5\033#3x", "x", 0, 1},
        {"a long intermediate run is bounded", "\033" + repeat(' ', 400) + "Bx", "x", 0, 1},
    };
    for (const ParserCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = runAllWays(c.input, {}, c.under);
        EXPECT_EQ(rowText(out.screen, 0), c.row0);
        EXPECT_EQ(out.screen.cursorRow, c.cursorRow);
        EXPECT_EQ(out.screen.cursorCol, c.cursorCol);
        EXPECT_EQ(out.parserState, kGround);
    }
}

// What a control string (DCS, SOS, OSC, PM, APC) shows: nothing under vt100, its text under
// the classic rules. Row 0, the cursor, and whether a BEL inside it beeped.
TEST(VtEmulatorParser, ControlStrings) {
    const std::string title = "\033]0;user@host: ~\007";
    const ParserCase cases[] = {
        {"OSC ended by BEL", "a" + title + "b", "ab", 0, 2, Under::Vt100},
        {"OSC ended by ST", "a\033]2;title\033\\b", "ab", 0, 2, Under::Vt100},
        {"DCS ended by ST", "a\033P1$r0m\033\\b", "ab", 0, 2, Under::Vt100},
        {"SOS, PM and APC", "\033Xs\033\\\033^p\033\\\033_a\033\\b", "b", 0, 1, Under::Vt100},
        {"BEL does not end a DCS", "\033Pzz\007zz\033\\b", "b", 0, 1, Under::Vt100},
        {"controls inside do nothing", "ab\033]0;\r\n\b\t\016\005x\007c", "abc", 0, 3,
         Under::Vt100},
        {"8-bit bytes and DEL inside", "\033]0;\x9b\x9c\x7f\xff\007c", "c", 0, 1, Under::Vt100},
        {"CAN cancels it", "\033]0;x\030y", "y", 0, 1, Under::Vt100},
        {"SUB cancels it", "\033Px\032y", "y", 0, 1, Under::Vt100},
        {"another escape ends it and runs", "\033]0;x\033[2;3Hy", "", 1, 3, Under::Vt100},
        {"ESC ESC \\ ends it once", "\033Px\033\033\\y", "y", 0, 1, Under::Vt100},
        {"an overlong one is given up, the rest shows",
         "\033P" + repeat('a', kMaxControlString) + "bc", "bc", 0, 2, Under::Vt100},
        {"one at the bound is still passed over",
         "\033]" + repeat('a', kMaxControlString) + "\007bc", "bc", 0, 2, Under::Vt100},
        {"the device command is no OSC", "\033[1;5]x", "x", 0, 1},
        {"OSC prints its text", "a" + title + "b", "a0;user@host: ~b", 0, 16, Under::Classic},
        {"DCS prints its text", "a\033P1$r0m\033\\b", "a1$r0mb", 0, 7, Under::Classic},
    };
    for (const ParserCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = runAllWays(c.input, {}, c.under);
        EXPECT_EQ(rowText(out.screen, 0), c.row0);
        EXPECT_EQ(out.screen.cursorRow, c.cursorRow);
        EXPECT_EQ(out.screen.cursorCol, c.cursorCol);
        EXPECT_EQ(out.parserState, kGround);
        EXPECT_TRUE(out.sends.empty());
    }
    // A BEL inside a DCS is part of it; the classic rules ring it.
    EXPECT_EQ(runAllWays("\033P\007\033\\", {}, Under::Vt100).events, Strings{});
    EXPECT_EQ(runAllWays("\033P\007\033\\", {}, Under::Classic).events, Strings{"beep"});
}

TEST(VtEmulatorParser, StatesAfterOpenSequences) {
    const std::tuple<std::string, std::int32_t, Under> cases[] = {
        {"\033", kEscape, Under::Both},
        {"\033[12", kControlSequence, Under::Both},
        {"\x9b", kControlSequence, Under::Both},
        {"\033(", kEscapeIntermediate, Under::Both},
        {"\033[1\033", kEscape, Under::Both},
        {"\033[1\030", kGround, Under::Both},
        {"\033]0;x", kControlString, Under::Vt100},
        {"\033P\033", kControlStringEscape, Under::Vt100},
        {"\033]0;x", kGround, Under::Classic},
    };
    for (const auto& [input, state, under] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(runAllWays(input, {}, under).parserState, state);
    }
}

TEST(VtEmulatorReset, DefaultsAndWhatSurvives) {
    VtSettings settings{};
    applyEmulatorDefaults(settings);
    RecordingVtHost host;
    VtEmulator emulator(settings, host);
    const std::string before =
        "\033#8\033[5;20r\033[?7h\033[4h\033[20h\033[?1h\033[7m\016\0337\033[3g\033[1";
    emulator.feed(reinterpret_cast<const std::uint8_t*>(before.data()), before.size());
    emulator.vtReset();

    const VtScreen& s = emulator.screen();
    EXPECT_EQ(s.newLineModeOff, 1);
    EXPECT_EQ(s.cursorKeysNormal, 1);
    EXPECT_EQ(s.reverseOn, 0);
    EXPECT_EQ(s.noRegion, 1);
    EXPECT_EQ(s.replaceMode, 1);
    EXPECT_EQ(s.regionTop, 1);
    EXPECT_EQ(s.regionBottom, 24);
    EXPECT_EQ(s.lineDrawing, 0);
    EXPECT_EQ(s.autoWrap, 0);
    EXPECT_EQ(s.savedReverse, 0);
    EXPECT_EQ(s.savedLineDrawing, 1) << "kept by the reset";
    EXPECT_EQ(s.cursorSaved, 0);
    for (int row = 0; row < kBufferRows; ++row)
        EXPECT_EQ(rowText(s, row), "");
    for (int row = 0; row < kScreenRows; ++row) {
        for (int col = 0; col < kScreenColumns; ++col) {
            EXPECT_EQ(s.isTabStop(row, col), col % 8 == 7) << row << "," << col;
        }
    }
    // The sequence in progress survives: "1" + "0;5H" completes as 10;5H.
    EXPECT_EQ(emulator.parserState(), kControlSequence);
    const std::string rest = "0;5H";
    emulator.feed(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
    EXPECT_EQ(s.cursorRow, 9);
    EXPECT_EQ(s.cursorCol, 4);
}

TEST(VtEmulatorLocalEcho, DirectEntryPoints) {
    VtSettings settings{};
    applyEmulatorDefaults(settings);
    RecordingVtHost host;
    VtEmulator emulator(settings, host);
    emulator.vtReset();
    emulator.printChar('a');
    emulator.printChar(0x1F);  // below 32: not printed
    emulator.printChar('b');
    // The line editor's erase blanks the cell it backs onto; a host's BS only moves.
    emulator.backOverCell();
    EXPECT_EQ(emulator.controlChar('\b'), ControlResult::None);
    EXPECT_EQ(emulator.controlChar(0x1B), ControlResult::Escape);
    EXPECT_EQ(emulator.controlChar(0x18), ControlResult::Cancel);
    EXPECT_EQ(rowText(emulator.screen(), 0), "a ");
    EXPECT_EQ(emulator.screen().cursorCol, 0);

    // The teardown blanks the characters only.
    const std::string reverse = "\033[7mxyz";
    emulator.feed(reinterpret_cast<const std::uint8_t*>(reverse.data()), reverse.size());
    emulator.clearScreenChars();
    EXPECT_EQ(rowText(emulator.screen(), 0), "");
    EXPECT_EQ(reverseText(emulator.screen(), 0), "111");
    EXPECT_EQ(emulator.screen().cursorCol, 3);
}

// Random host output made of the pieces real output is made of, plus noise.
std::string randomHostOutput(std::mt19937& random, std::size_t pieces) {
    static const char* const finals = "mHfKJABeCaDLbGPX@dhlnirMcEFsugx]zq";
    std::string out;
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (std::size_t i = 0; i < pieces; ++i) {
        switch (pick(10)) {
            case 0:
            case 1:
                out.append(static_cast<std::size_t>(pick(100)), static_cast<char>('!' + pick(90)));
                break;
            case 2:
                out += pick(2) ? "\r\n" : "\n";
                break;
            case 3: {
                out += pick(8) ? "\033[" : "\x9b";
                if (pick(3) == 0) out += "?";
                const int numbers = pick(4);
                for (int n = 0; n < numbers; ++n) {
                    if (n) out += ';';
                    out += std::to_string(pick(5) ? pick(30) : static_cast<int>(random()));
                }
                out += finals[pick(static_cast<int>(std::strlen(finals)))];
                break;
            }
            case 4: {
                // Control strings, and their ends, open and close anywhere.
                static const char* const escapes[] = {
                    "\033D",  "\033E",   "\033M",  "\0337",        "\0338",  "\033H",
                    "\033(0", "\033(B",  "\033)0", "\033#8",       "\033Z",  "\033=",
                    "\033>",  "\033]0;", "\033P",  "\033_x\033\\", "\033\\", "\033X"};
                out += escapes[pick(18)];
                break;
            }
            case 5:
                out += static_cast<char>("\016\017\b\t\005\007\030\032"[pick(8)]);
                break;
            case 6:
                out += "\033[" + std::to_string(1 + pick(24)) + ";" + std::to_string(1 + pick(80)) +
                       "H";
                break;
            case 7:
                out += "\033[" + std::to_string(1 + pick(12)) + ";" +
                       std::to_string(13 + pick(12)) + "r";
                break;
            case 8:
                out += static_cast<char>(0x80 + pick(128));
                break;
            default:
                out += static_cast<char>(random() & 0xFF);
                break;
        }
    }
    return out;
}

// The chunked fast paths and the byte-at-a-time entry must agree on any output, and the
// emulator's invariants must hold after it.
TEST(VtEmulatorParser, RandomOutputAgreesAcrossChunkings) {
    std::mt19937 random(20240611);
    const Configure configure = [](VtSettings& s, RecordingVtHost&) {
        s.triggerByEscCmd = 1;
        reader::storeText(s.goodFeedbackCommand, "\033[5q");
    };
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        const std::string input = randomHostOutput(random, 400);
        // Some rounds start in insert mode with autowrap, so both print paths are crossed.
        const std::string stream = (round % 3 == 0 ? "\033[4h\033[?7h" : "") + input;
        const VtEmulation emulation = round % 2 ? VtEmulation::Classic : VtEmulation::Vt100;
        const Outcome whole = runCut(stream, configure, {}, false, emulation);
        std::vector<std::size_t> cuts;
        for (std::size_t at = 1 + random() % 50; at < stream.size(); at += 1 + random() % 200) {
            cuts.push_back(at);
        }
        EXPECT_EQ(difference(whole, runCut(stream, configure, cuts, false, emulation)), "");
        EXPECT_EQ(difference(whole, runCut(stream, configure, {}, true, emulation)), "");
        const VtScreen& s = whole.screen;
        EXPECT_TRUE(s.cursorRow >= 0 && s.cursorRow < kScreenRows) << s.cursorRow;
        EXPECT_TRUE(s.cursorCol >= 0 && s.cursorCol <= kScreenColumns) << s.cursorCol;
        EXPECT_TRUE(1 <= s.regionTop && s.regionTop < s.regionBottom && s.regionBottom <= 24);
        EXPECT_TRUE(s.originMode == 0 ||
                    (s.cursorRow >= s.regionTop - 1 && s.cursorRow < s.regionBottom))
            << "origin mode, cursor outside the region";
    }
}

}  // namespace
}  // namespace qn::vt::test
