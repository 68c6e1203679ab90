// The replay tool as a black box: step files and raw captures in, the JSON report out.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/vt/vt_test_support.h"
#include "tools/quillnet-replay/vt_replay.h"

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

VtReplayResult script(const std::string& steps, std::optional<std::string> settings = {}) {
    VtReplayOptions options;
    options.script = true;
    options.settingsPath = std::move(settings);
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

struct StepCase {
    const char* name;
    std::string steps;
    int exitCode;
    const char* error;
};

TEST(VtReplay, StepErrors) {
    const StepCase cases[] = {
        {"keys need the keyboard", "recv 41\nkey 0x70\n", 2, "unsupported step: key"},
        {"characters need the keyboard", "char 41\n", 2, "unsupported step: char"},
        {"scans need decode handling", "scan 3132\n", 2, "unsupported step: scan"},
        {"RFID needs decode handling", "rfid 0102 0304\n", 2, "unsupported step: rfid"},
        {"odd hex", "recv 414\n", 1, "line 1: bad hex"},
        {"unknown step", "# fine\n\nsend 41\n", 1, "line 3: unknown step send"},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        const VtReplayResult r = script(c.steps);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.error, c.error);
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
