// The replay tool as a black box: step files and raw captures in, the JSON report out.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vt/vt_test_support.h"
#include "tools/quillnet-replay/vt_replay.h"
#include "tools/quillnet-settings/settings_tool.h"

namespace qn::tools {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string hexOf(const std::string& text) {
    std::string out;
    char two[3];
    for (unsigned char c : text) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

VtReplayResult script(const std::string& steps, std::optional<std::string> settings = {},
                      vt::VtEmulation emulation = vt::VtEmulation::Vt100) {
    VtReplayOptions options;
    options.script = true;
    options.settingsPath = std::move(settings);
    options.emulation = emulation;
    return replayVt(bytes(steps), options);
}

// A settings document with the emulator's defaults and a change.
std::string settingsDocument(const std::function<void(vt::VtSettings&)>& change) {
    vt::VtSettings settings{};
    vt::test::applyEmulatorDefaults(settings);
    change(settings);
    const auto path =
        std::filesystem::temp_directory_path() /
        ("qn_vt_replay_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".qnvt");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(settings.bytes().data()), vt::kVtSettingsSize);
    return path.string();
}

bool contains(const std::string& json, const std::string& piece) {
    return json.find(piece) != std::string::npos;
}

TEST(VtReplay, ReportShowsScreenCursorModesAndReplies) {
    const VtReplayResult r = script(
        "# a cursor report after some text\n"
        "recv 1b5b353b3130 48 6869   # ESC [ 5 ; 1 0 H h i\n"
        "recv 0e6c710f 1b5b376d 41 1b5b366e\n");
    ASSERT_EQ(r.exitCode, 0) << r.error;
    // Row 4: nine empty cells as spaces, "hi", the line-drawing corner as U+00DA, '-', 'A'.
    EXPECT_TRUE(contains(r.json, "\"         hi\xc3\x9a-A" + std::string(66, ' ') + "\""))
        << r.json;
    EXPECT_TRUE(contains(r.json, "\"" + std::string(13, '0') + "1" + std::string(66, '0') + "\""));
    EXPECT_TRUE(contains(r.json, "\"cursor\": {\"row\": 4, \"col\": 14}"));
    EXPECT_TRUE(contains(r.json, "\"lineDrawing\": 0, \"localEcho\": 1"));
    EXPECT_TRUE(contains(r.json, "\"sent\": \"" + hexOf("\033[5;15R") + "\""));
    EXPECT_TRUE(contains(r.json, "\"events\": [\"trigger 0\", \"trigger 1\"]"));
}

TEST(VtReplay, StepErrors) {
    const std::pair<std::string, std::string> cases[] = {
        {"recv 414\n", "line 1: bad hex"},
        {"# fine\n\nsend 41\n", "line 3: unknown step send"},
        {"fn 3\n", "line 1: step fn is not taken here"},
        {"key 0x100\n", "line 1: key needs a virtual-key code 1 to 0xFF"},
        {"char 1\\x4\n", "line 1: bad escape (\\xHH or \\\\)"},
        {"rfid\n", "line 1: rfid needs UID [DATA]"},
    };
    for (const auto& [steps, error] : cases) {
        const VtReplayResult r = script(steps);
        EXPECT_EQ(r.exitCode, 1) << steps;
        EXPECT_EQ(r.error, error) << steps;
    }
}

// A settings document: the program's defaults, then quillnet-settings "set" assignments.
std::string settingsFrom(const std::vector<std::string>& assignments) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("qn_vt_golden_" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".qnvt");
    std::ostringstream out, err;
    EXPECT_EQ(runSettingsTool({"vt", "new", path.string()}, out, err, QN_TEST_DEVICE_ROOT), 0)
        << err.str();
    std::vector<std::string> set{"vt", "set", path.string()};
    set.insert(set.end(), assignments.begin(), assignments.end());
    if (!assignments.empty()) {
        EXPECT_EQ(runSettingsTool(set, out, err, QN_TEST_DEVICE_ROOT), 0) << err.str();
    }
    return path.string();
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", \"" : "\"") + items[i] + "\"";
    return out + "]";
}

struct GoldenSession {
    const char* name;
    std::vector<std::string> settings;
    std::string steps;
    std::vector<std::string> sends;  // the text of each send
    std::vector<std::string> events;
    std::string firstRow;  // the start of screen row 0
    int cursorColumn;      // on row 0
};

// Whole operator sessions through the program's keyboard and decode handling: each case's
// sends, in order and one by one, its operator events, and the screen row the typing is on,
// the same under either emulation.
TEST(VtReplay, GoldenSessions) {
    const std::vector<std::string> connect{"trigger 0", "trigger 1"};
    auto after = [&](std::vector<std::string> more) {
        more.insert(more.begin(), connect.begin(), connect.end());
        return more;
    };
    const GoldenSession cases[] = {
        {"a scan with prefix, suffix and Auto Enter, then in new-line mode",
         {"prefixOn=1", "prefixCode=3c", "suffixOn=1", "suffixCode=3e"},
         "scan 4711\nrecv 1b5b323068  # ESC [ 20 h\nscan 12\n",
         {"<4711>\r", "<12>\r\n"},
         after({"sound 1", "sound 1"}),
         "",
         0},
        {"no Auto Enter; the scan feedback vibrates, then sounds",
         {"autoEnter=0", "scanVibrator=2", "scanBeeper=3"},
         "scan 4711\n",
         {"4711"},
         after({"vibrate 500", "sound 3"}),
         "",
         0},
        {"a refused leading code sends nothing and says so; the right one passes",
         {"checkLeadingCode=1", "leadingCode=3939", "errorVibrator=2"},
         "scan 4711\nscan 9912\n",
         {"9912\r"},
         after({"message Wrong Leading Code! ", "sound 1"}),
         "",
         0},
        {"a wrong length",
         {"checkCodeLength=1", "codeLength=3"},
         "scan 4711\nscan 471\n",
         {"471\r"},
         after({"message Wrong Length! ", "sound 1"}),
         "",
         0},
        {"replacements, the first removing, the second growing",
         {"replaceFrom1=2d", "replaceFrom2=41", "replaceTo2=4242"},
         "scan 12-A-\n",
         {"12BB\r"},
         after({"sound 1"}),
         "",
         0},
        {"feedback left to the host", {"feedbackByCmd=1"}, "scan 1\n", {"1\r"}, connect, "", 0},
        {"a mapped function key, an unmapped one",
         {"keyCodeTable=00000000001b5b31317e"},
         "key 0x70\nkey 0x71\n",
         {"\033[11~", "\033OQ"},
         connect,
         "",
         0},
        {"cursor keys by the host's cursor-key mode",
         {},
         "key 0x26\nrecv 1b5b3f3168\nkey 0x26\nkey 0x25\nrecv 1b5b3f316c\nkey 0x28\n",
         {"\033[A", "\033OA", "\033OD", "\033[B"},
         connect,
         "",
         0},
        {"Enter by the host's new-line mode",
         {},
         "key 0x0D\nrecv 1b5b323068\nkey 0x0D\n",
         {"\r", "\r\n"},
         connect,
         "",
         0},
        {"line-buffer typing: edited locally, sent whole on Enter",
         {"lineBuffer=1"},
         "char ab\nchar \\x08\nchar c\n",
         {},
         connect,
         "ac",
         2},
        {"line-buffer Enter: the line, then Enter, the local text backed over",
         {"lineBuffer=1"},
         "char ab\nchar \\x08\nchar c\nkey 0x0D\n",
         {"ac", "\r"},
         connect,
         "  ",
         0},
        {"local echo", {}, "char hi\n", {"h", "i"}, connect, "hi", 2},
        {"no local echo", {"localEcho=0"}, "char hi\n", {"h", "i"}, connect, "  ", 0},
        {"RFID reads: UID, delimiter and user data; a tag without data; no prefix",
         {"showRfidUserData=1", "prefixOn=1", "prefixCode=3c"},
         "rfid 0A0B DATA\nrfid 0C\n",
         {"0A0B,DATA", "0C"},
         after({"sound 1", "sound 1"}),
         "",
         0},
    };
    for (const GoldenSession& c : cases) {
        for (const vt::VtEmulation emulation : {vt::VtEmulation::Vt100, vt::VtEmulation::Classic}) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(vt::vtEmulationName(emulation));
            const std::string doc = settingsFrom(c.settings);
            const VtReplayResult r = script(c.steps, doc, emulation);
            std::filesystem::remove(doc);
            ASSERT_EQ(r.exitCode, 0) << r.error;
            std::vector<std::string> sends;
            for (const std::string& send : c.sends)
                sends.push_back(hexOf(send));
            EXPECT_TRUE(contains(r.json, "\"sends\": " + jsonList(sends) + ",")) << r.json;
            EXPECT_TRUE(contains(r.json, "\"events\": " + jsonList(c.events) + "\n")) << r.json;
            EXPECT_TRUE(contains(r.json, "\"screen\": [\n    \"" + c.firstRow)) << r.json;
            EXPECT_TRUE(contains(r.json, "\"cursor\": {\"row\": 0, \"col\": " +
                                             std::to_string(c.cursorColumn) + "}"))
                << r.json;
        }
    }
}

// One capture of host output that leans on every rule the emulations differ in, replayed under
// each: the screen rows, the cursor and the report's emulation.
TEST(VtReplay, EmulationOption) {
    const std::string capture =
        "\033]0;user@host: ~\007"                          // a shell's title
        "1\r\n2\r\n3\r\n4\r\n5\033[2;5r\033[5;1H\n\033[r"  // a region scrolled by LF
        "\033[7;1H12956\b\b\b3\033[?7;25h"                 // an edit with BS; modes set together
        "\033[8;1Habc\033[1K\033[2Cz";  // erasing, then moving on from the cursor
    const struct {
        vt::VtEmulation emulation;
        std::vector<std::string> rows;  // rows 0..7, trailing blanks left off
        std::string cursor;
        std::string autoWrap;
    } cases[] = {
        {vt::VtEmulation::Vt100,
         {"1", "3", "4", "5", "", "", "12356", "     z"},
         "{\"row\": 7, \"col\": 6}",
         "\"autoWrap\": 1"},
        {vt::VtEmulation::Classic,
         {"0;user@host: ~1", "2", "3", "4", "5", "", "123", "  z"},
         "{\"row\": 7, \"col\": 3}",
         "\"autoWrap\": 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(vt::vtEmulationName(c.emulation));
        VtReplayOptions options;
        options.emulation = c.emulation;
        const VtReplayResult r = replayVt(bytes(capture), options);
        ASSERT_EQ(r.exitCode, 0) << r.error;
        std::string screen = "\"screen\": [\n";
        for (std::size_t row = 0; row < c.rows.size(); ++row) {
            screen += (row ? ",\n    \"" : "    \"") + c.rows[row] +
                      std::string(80 - c.rows[row].size(), ' ') + "\"";
        }
        EXPECT_TRUE(contains(r.json, screen)) << r.json;
        EXPECT_TRUE(contains(r.json, "\"cursor\": " + c.cursor)) << r.json;
        EXPECT_TRUE(contains(r.json, c.autoWrap)) << r.json;
        EXPECT_TRUE(contains(
            r.json, "\"emulation\": \"" + std::string(vt::vtEmulationName(c.emulation)) + "\""));
        EXPECT_TRUE(contains(
            r.json, "\"events\": [\"trigger 0\", \"trigger 1\"" +
                        std::string(c.emulation == vt::VtEmulation::Classic ? ", \"beep\"]"
                                                                            : ", \"caret show\"]")))
            << r.json;
    }
}

TEST(VtReplay, TelnetCommandsAreAnsweredInOrderWithReplies) {
    // DO TERMINAL-TYPE, then a SEND request straddling two receives, text, a status request.
    const VtReplayResult r = script(
        "recv fffd18 fffa18\n"
        "recv 01fff0 41 1b5b356e\n");
    ASSERT_EQ(r.exitCode, 0) << r.error;
    EXPECT_TRUE(contains(r.json, "\"sends\": [\"fffb18\", \"fffa18007674313030fff0\", \"" +
                                     hexOf("\033[0n") + "\"]"))
        << r.json;
    EXPECT_TRUE(contains(r.json, "\"A" + std::string(79, ' ') + "\""));
}

TEST(VtReplay, RawInputIsTheSameWhateverTheReceiveSize) {
    std::string capture;
    for (int i = 0; i < 40; ++i) {
        capture += "\033[" + std::to_string(i % 24 + 1) + ";" + std::to_string(i * 3 % 70 + 1) +
                   "H\033[7mline " + std::to_string(i) + "\033[0m\r\n\033[K\016lqk\017\033[6n";
    }
    VtReplayOptions options;
    options.chunk = 1024;
    const VtReplayResult whole = replayVt(bytes(capture), options);
    ASSERT_EQ(whole.exitCode, 0);
    for (std::size_t chunk : {1u, 7u, 100u}) {
        options.chunk = chunk;
        EXPECT_EQ(replayVt(bytes(capture), options).json, whole.json) << chunk;
    }
}

TEST(VtReplay, ReaderCommandsFollowTheSettingsDocument) {
    const std::string doc = settingsDocument([](vt::VtSettings& s) {
        s.triggerByEscCmd = 1;
        reader::storeText(s.errorFeedbackCommand, "\033[7q");
        s.errorVibrator.set(3);
    });
    const VtReplayResult r = script("recv 1b5b393968\nrecv 1b5b3771 1b5b343b335d\n", doc);
    ASSERT_EQ(r.exitCode, 0) << r.error;
    // Connect switches the trigger off and leaves it to the host; then the host's commands.
    EXPECT_TRUE(contains(r.json,
                         "\"events\": [\"trigger 0\", \"trigger 1\", \"vibrate 750\", "
                         "\"sound 2\", \"vibrate 750\"]"))
        << r.json;
    std::filesystem::remove(doc);

    const VtReplayResult defaults = script("recv 1b5b393968\n");
    EXPECT_TRUE(contains(defaults.json, "\"events\": [\"trigger 0\", \"trigger 1\"]"));
    EXPECT_EQ(script("recv 41\n", "/nonexistent/dir/x.qnvt").exitCode, 1);
}

TEST(VtReplay, AutoSignOnAnswersPromptsOnTheCursorRowOnce) {
    const std::string doc = settingsDocument([](vt::VtSettings& s) {
        s.autoSignOn = 1;
        reader::storeText(s.loginName, "guest");
        reader::storeText(s.loginPrompt, "login:");
        reader::storeText(s.passwordPrompt, "Password:");
        reader::storeText(s.loginPassword, "secret");
    });
    const std::string steps =
        "recv " + hexOf("\033[2J\033[1;1HWelcome\r\nlogin: ") + "\n" +  // answered
        "recv " + hexOf("guest\r\n") + "\n" +                           // echo: no prompt
        "recv " + hexOf("Password: ") + "\n" +                          // answered
        "recv " + hexOf("\r\nLogin incorrect\r\nlogin: ") + "\n" +      // not again
        "recv " + hexOf("\033[20;1HPassword: \033[1;1H") + "\n";        // not the cursor row
    const VtReplayResult r = script(steps, doc);
    ASSERT_EQ(r.exitCode, 0) << r.error;
    EXPECT_TRUE(contains(r.json, "\"sends\": [\"" + hexOf("guest") + "\", \"" + hexOf("\r\n") +
                                     "\", \"" + hexOf("secret") + "\", \"" + hexOf("\r\n") + "\"]"))
        << r.json;
    std::filesystem::remove(doc);
}

TEST(VtReplay, BenchFeedsEveryByte) {
    const auto data = bytes(std::string(5000, 'x'));
    const VtBenchResult r = benchVt(data, 1024, 3);
    EXPECT_EQ(r.bytes, 15000.0);
    EXPECT_GE(r.seconds, 0.0);
}

}  // namespace
}  // namespace qn::tools
