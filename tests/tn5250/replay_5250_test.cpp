// The 5250 replay as a black box: captures and step files in, the JSON report out.

#include "tools/quillnet-replay/replay_5250.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/tn5250/tn_test_support.h"

namespace qn::tools {
namespace {

using tn::test::Bytes;
using tn::test::join;
using tn::test::record;
using tn::test::sba;
using tn::test::sf;
using tn::test::wtd;

std::string hexOf(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

Bytes textBytes(const std::string& s) {
    return {s.begin(), s.end()};
}

bool contains(const std::string& json, const std::string& piece) {
    return json.find(piece) != std::string::npos;
}

// A screen with a caption at row 1, an input field at row 3, column 10, and a read command.
const Bytes kSignOnScreen = join({Bytes{0xFF, 0xFD, 0x18, 0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0},
                                  record(join({{0x04, 0x40},
                                               wtd(),
                                               sba(1, 1),
                                               {0xE2, 0xC9, 0xC7, 0xD5},
                                               sba(3, 9),
                                               sf(0x40, 0x00, 0x24, 10),
                                               {0x04, 0x52, 0x00, 0x08}})),
                                  Bytes{0xFF, 0xEF}});

struct GoldenCase {
    const char* name;
    Tn5250ReplayOptions options;
    Bytes input;
    std::vector<std::string> pieces;
};

TEST(Replay5250, GoldenReports) {
    const std::string answers = hexOf(
        join({{0xFF, 0xFB, 0x18, 0xFF, 0xFA, 0x18, 0x00}, textBytes("IBM-3179-2"), {0xFF, 0xF0}}));
    const GoldenCase cases[] = {
        {"a sign-on screen",
         {},
         kSignOnScreen,
         {"\"SIGN" + std::string(76, ' ') + "\"", "\"5349474e" + std::string(152, '0') + "\"",
          "\"" + std::string(18, '0') + std::string(20, '4') + std::string(122, '0') + "\"",
          "\"fields\": [\n    {\"number\": 1, \"row\": 2, \"col\": 9, \"length\": 10, \"ffw1\": "
          "64, "
          "\"ffw2\": 0, \"fcw1\": 0, \"fcw2\": 0, \"attribute\": 68, \"resequence\": 0}\n  ]",
          "\"cursor\": {\"row\": 2, \"col\": 9}", "\"insertCursor\": {\"row\": -1, \"col\": -1}",
          "\"currentField\": 1", "\"keyboardLocked\": false", "\"readMode\": 2",
          "\"messageRow\": 23", "\"sent\": \"" + answers + "\"", "\"events\": [\"trigger 1\"]"}},
        {"cut into one-byte receives",
         {.chunk = 1},
         kSignOnScreen,
         {"\"SIGN" + std::string(76, ' ') + "\"", "\"sent\": \"" + answers + "\""}},
        {"language 4: terminal type and double-byte text",
         {.language = 4},
         join({Bytes{0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0},
               record(join({wtd(), sba(1, 1), {0x0E, 0x41, 0x41, 0x0F}}))}),
         {"\"sends\": [\"" +
              hexOf(join({{0xFF, 0xFA, 0x18, 0x00}, textBytes("IBM-5555-B01"), {0xFF, 0xF0}})) +
              "\"]",
          "\"2083bf20" + std::string(152, '0') + "\""}},
        {"an error message",
         {},
         join({record(join({wtd(), sba(24, 1), {0xC1}})), record({0x04, 0x21, 0xC5, 0xD9, 0xD9})}),
         {"\"messageShown\": true", "\"messageText\": \"455252\"", "\"keyboardLocked\": true"}},
        {"the alarm plays the error sound",
         {},
         record(wtd(0x00, 0x04)),
         {"\"events\": [\"trigger 1\", \"sound 2\"]"}},
    };
    for (const auto& c : cases) {
        const auto result = replay5250(c.input, c.options);
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.error;
        for (const auto& piece : c.pieces)
            EXPECT_TRUE(contains(result.json, piece)) << c.name << ": " << piece << "\n"
                                                      << result.json;
    }
}

Tn5250ReplayResult script(const std::string& steps, Tn5250ReplayOptions options = {}) {
    options.script = true;
    return replay5250(textBytes(steps), options);
}

TEST(Replay5250, ScriptStepsAnswerAsTheOperatorWould) {
    const std::string screen = hexOf(kSignOnScreen);
    const auto result = script("recv " + screen +
                               "  # the host's screen\n"
                               "tap 2 12\n"
                               "fn 45\n"
                               "fn 45   # locked now: the alarm\n"
                               "fn 44\n"
                               "fn 3\n");
    ASSERT_EQ(result.exitCode, 0) << result.error;
    const std::string enter = hexOf(Bytes{0x00, 0x0D, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00,
                                          0x03, 0x03, 0x0D, 0xF1, 0xFF, 0xEF});
    const std::string f3 = hexOf(Bytes{0x00, 0x0D, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03,
                                       0x03, 0x0D, 0x33, 0xFF, 0xEF});
    EXPECT_TRUE(contains(result.json, "\"" + enter + "\", \"" + f3 + "\"]")) << result.json;
    EXPECT_TRUE(contains(result.json, "\"events\": [\"trigger 1\", \"sound 2\"]"));
    EXPECT_TRUE(contains(result.json, "\"cursor\": {\"row\": 2, \"col\": 12}"));
}

TEST(Replay5250, StepErrors) {
    const struct {
        std::string steps;
        int exitCode;
        std::string error;
    } cases[] = {
        {"recv 0g\n", 1, "line 1: bad hex"},
        {"\n\nrecv 123\n", 1, "line 3: bad hex"},
        {"jump 3\n", 1, "line 1: unknown step jump"},
        {"fn 0\n", 1, "line 1: fn needs 1 to 47"},
        {"fn x\n", 1, "line 1: fn needs 1 to 47"},
        {"tap 1\n", 1, "line 1: tap needs ROW COL"},
        {"recv " + hexOf(record(wtd())) + "\nfn 27\n", 2,
         "unsupported step: fn 27 (field editing)"},
        {"key 13\n", 2, "unsupported step: key"},
        {"scan 123\n", 2, "unsupported step: scan"},
    };
    for (const auto& c : cases) {
        const auto result = script(c.steps);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.steps;
        EXPECT_EQ(result.error, c.error) << c.steps;
    }
}

TEST(Replay5250, SettingsDocumentAndLanguage) {
    auto session = std::make_unique<tn::TnSession>();
    session->language = 3;
    session->useDeviceName = 1;
    reader::storeText(session->deviceName, "DOCK7");
    const auto path = std::filesystem::temp_directory_path() /
                      ("qn_tn_replay_" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".qntn");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(session->bytes().data()), tn::kTnSessionSize);
    }
    const Bytes ask{0xFF, 0xFA, 0x27, 0x01, 0xFF, 0xF0};
    const auto fromDocument = replay5250(ask, {.settingsPath = path.string()});
    ASSERT_EQ(fromDocument.exitCode, 0) << fromDocument.error;
    EXPECT_TRUE(contains(fromDocument.json, hexOf(textBytes("DOCK7")) + "03" +
                                                hexOf(textBytes("CODEPAGE")) + "01" +
                                                hexOf(textBytes("933"))));
    const auto overridden = replay5250(ask, {.settingsPath = path.string(), .language = 0});
    EXPECT_FALSE(contains(overridden.json, hexOf(textBytes("CODEPAGE"))));
    std::filesystem::remove(path);

    EXPECT_EQ(replay5250(ask, {.settingsPath = "/nonexistent/x.qntn"}).exitCode, 1);
    EXPECT_EQ(replay5250(ask, {.language = 9}).exitCode, 1);
}

TEST(Replay5250, CommandLine) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("qn_tn_replay_cli_" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".bin");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(kSignOnScreen.data()),
                  std::streamsize(kSignOnScreen.size()));
    }
    const std::string file = path.string();
    auto run = [](std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int code = runReplay5250(int(argv.size()), argv.data());
        const std::string out = ::testing::internal::GetCapturedStdout();
        ::testing::internal::GetCapturedStderr();
        return std::pair{code, out};
    };
    auto [code, out] = run({"quillnet-replay", "5250", "--chunk", "7", file});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(contains(out, "\"SIGN"));
    std::tie(code, out) = run({"quillnet-replay", "5250", "--bench", "--repeat", "3", file});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.starts_with("bytes=" + std::to_string(3 * kSignOnScreen.size()) + " ")) << out;
    EXPECT_TRUE(contains(out, " MBps="));
    EXPECT_EQ(run({"quillnet-replay", "5250", "--language", "7", file}).first, 1);
    EXPECT_EQ(run({"quillnet-replay", "5250", "--chunk", "0", file}).first, 1);
    EXPECT_EQ(run({"quillnet-replay", "vt", file}).first, 1);
    EXPECT_EQ(run({"quillnet-replay", "5250", "/nonexistent/capture"}).first, 1);
    std::filesystem::remove(path);
}

TEST(Replay5250, BenchCountsEveryRound) {
    const auto result = bench5250(kSignOnScreen, 64, 5);
    EXPECT_EQ(result.bytes, double(kSignOnScreen.size() * 5));
    EXPECT_GE(result.seconds, 0.0);
}

}  // namespace
}  // namespace qn::tools
