// The 5250 replay as a black box: captures and step files in, the JSON report out.

#include "tools/quillnet-replay/replay_5250.h"
#include "tools/quillnet-replay/replay_json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tn5250/input/field_editor.h"
#include "tn5250/settings/tn_key_map.h"

#include "tests/tn5250/tn_test_support.h"

namespace qn::tools {
namespace {

using tn::test::Bytes;
using tn::test::join;
using tn::test::record;
using tn::test::reply;
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
        {"key\n", 1, "line 1: key needs a virtual-key code 1 to 0xFF"},
        {"key 0x100\n", 1, "line 1: key needs a virtual-key code 1 to 0xFF"},
        {"key 0x\n", 1, "line 1: key needs a virtual-key code 1 to 0xFF"},
        {"key 13x\n", 1, "line 1: key needs a virtual-key code 1 to 0xFF"},
        {"char\n", 1, "line 1: char needs TEXT"},
        {"scan    # blanks only\n", 1, "line 1: scan needs TEXT"},
        {"char 1\\x4\n", 1, "line 1: bad escape (\\xHH or \\\\)"},
        {"scan a\\qb\n", 1, "line 1: bad escape (\\xHH or \\\\)"},
        {"char \\xg0\n", 1, "line 1: bad escape (\\xHH or \\\\)"},
        {"rfid\n", 1, "line 1: rfid needs UID [DATA]"},
        {"rfid 01 02 03\n", 1, "line 1: rfid needs UID [DATA]"},
        {"rfid 01 \\x0\n", 1, "line 1: bad escape (\\xHH or \\\\)"},
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

// ---- Whole operator sessions: host screens in, steps, the exact records the host receives.

// A host record as it arrives on the wire: the record with 0xFF doubled, then IAC EOR.
Bytes onWire(const Bytes& body) {
    Bytes wire;
    for (std::uint8_t b : record(body)) {
        wire.push_back(b);
        if (b == 0xFF) wire.push_back(0xFF);
    }
    return join({wire, Bytes{0xFF, 0xEF}});
}

// Clear unit, Write To Display, a title on row 1, the fields, and Read MDT Fields (keyboard
// unlocked): the host waits for the operator.
Bytes entryScreen(const Bytes& fields) {
    return onWire(join({{0x04, 0x40},
                        wtd(),
                        sba(1, 2),
                        {0xE3, 0xC5, 0xE2, 0xE3},
                        fields,
                        {0x04, 0x52, 0x00, 0x08}}));
}

// User at row 6 and password (non-display) at row 7, ten positions each from column 54.
const Bytes kTwoFieldSignOn =
    entryScreen(join({sba(6, 53), sf(0x40, 0x00, 0x24, 10), sba(7, 53), sf(0x40, 0x00, 0x27, 10)}));
// Item (16 positions, no restriction) at row 4 and quantity (4, numeric only) at row 5, both
// from column 21.
const Bytes kItemScreen =
    entryScreen(join({sba(4, 20), sf(0x40, 0x00, 0x24, 16), sba(5, 20), sf(0x43, 0x00, 0x24, 4)}));
// From column 11: numeric only (5) at row 5, right-adjust blank fill (5) at row 6, no
// restriction (8) at row 7.
const Bytes kTypingScreen =
    entryScreen(join({sba(5, 10), sf(0x43, 0x00, 0x24, 5), sba(6, 10), sf(0x40, 0x06, 0x24, 5),
                      sba(7, 10), sf(0x40, 0x00, 0x24, 8)}));

// The feedback settings every session below uses, so that each sound and vibration says which
// one it was.
void feedback(tn::TnSession& s) {
    s.errorBeeper.set(3);
    s.errorVibrator.set(2);
    s.goodBeeper.set(1);
    s.goodVibrator.set(1);
}
const std::vector<std::string> kAlarm{"sound 3", "vibrate 500"};
const std::vector<std::string> kGood{"vibrate 250", "sound 1"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", \"" : "\"") + items[i] + "\"";
    return out + "]";
}

// A screen row as the report shows it: blanks, the text at column, blanks to the end, as a
// JSON string.
std::string screenRow(int column, const std::string& text) {
    std::string row = std::string(column, ' ') + text;
    row += std::string(80 - row.size(), ' ');
    std::string quoted = "\"";
    for (char c : row) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// The rows of the report's "screen", each still a JSON string.
std::vector<std::string> screenRows(const std::string& json) {
    std::vector<std::string> rows;
    std::size_t at = json.find("\"screen\": [");
    if (at == std::string::npos) return rows;
    const std::size_t end = json.find("\n  ]", at);
    while ((at = json.find("\n    ", at)) != std::string::npos && at < end) {
        at += 5;
        std::string row = json.substr(at, json.find('\n', at) - at);
        if (row.ends_with(',')) row.pop_back();
        rows.push_back(std::move(row));
    }
    return rows;
}

struct SessionCase {
    const char* name;
    std::function<void(tn::TnSession&)> settings;
    std::string steps;
    std::vector<Bytes> replies;                          // record bodies, in order
    std::vector<std::string> events;                     // after the trigger at connect
    std::vector<std::pair<int, std::string>> fieldRows;  // (row, text from column 10 or 20)
    int textColumn = 10;
};

void runSessions(const std::vector<SessionCase>& cases) {
    int index = 0;
    for (const auto& c : cases) {
        auto session = std::make_unique<tn::TnSession>();
        feedback(*session);
        if (c.settings) c.settings(*session);
        const auto path = std::filesystem::temp_directory_path() /
                          ("qn_tn_replay_session_" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                           std::to_string(index++) + ".qntn");
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(session->bytes().data()), tn::kTnSessionSize);
        }
        const auto result = script(c.steps, {.settingsPath = path.string()});
        std::filesystem::remove(path);
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.error;

        std::vector<std::string> sends;
        for (const Bytes& body : c.replies)
            sends.push_back(hexOf(reply(body)));
        EXPECT_TRUE(contains(result.json, "\"sends\": " + jsonList(sends)))
            << c.name << "\n"
            << jsonList(sends) << "\n"
            << result.json;
        const auto events = std::vector<std::string>{"trigger 0"} + c.events;
        EXPECT_TRUE(contains(result.json, "\"events\": " + jsonList(events)))
            << c.name << "\n"
            << jsonList(events) << "\n"
            << result.json;
        const auto rows = screenRows(result.json);
        ASSERT_EQ(rows.size(), 24u) << c.name;
        for (const auto& [row, text] : c.fieldRows)
            EXPECT_EQ(rows[row], screenRow(c.textColumn, text)) << c.name << ": row " << row;
    }
}

TEST(Replay5250Session, AutoSignOnAnswersTheFirstScreen) {
    auto signOn = [](const char* password) {
        return [password](tn::TnSession& s) {
            s.autoSignOn = 1;
            reader::storeText(s.loginName, "OPER1");
            reader::storeText(s.loginPassword, password);
        };
    };
    const std::string screen = "recv " + hexOf(kTwoFieldSignOn) + "\n";
    runSessions({
        // Cursor on the user field, Enter, then each field with its address: OPER1, pw99.
        {"user and password",
         signOn("pw99"),
         screen,
         {{0x06, 0x36, 0xF1, 0x11, 0x06, 0x36, 0xD6, 0xD7, 0xC5, 0xD9, 0xF1, 0x11, 0x07, 0x36, 0x97,
           0xA6, 0xF9, 0xF9}},
         {}},
        // An empty password still goes, as an empty modified field.
        {"no password",
         signOn(""),
         screen,
         {{0x06, 0x36, 0xF1, 0x11, 0x06, 0x36, 0xD6, 0xD7, 0xC5, 0xD9, 0xF1, 0x11, 0x07, 0x36}},
         {}},
        // Signed on once: the host's next screen waits for the operator.
        {"only the first screen",
         signOn("pw99"),
         screen + screen + "key 0x1B\nchar X\n",
         {{0x06, 0x36, 0xF1, 0x11, 0x06, 0x36, 0xD6, 0xD7, 0xC5, 0xD9, 0xF1, 0x11, 0x07, 0x36, 0x97,
           0xA6, 0xF9, 0xF9}},
         {}},
        {"auto sign-on off",
         [](tn::TnSession& s) { reader::storeText(s.loginName, "OPER1"); },
         screen,
         {},
         {}},
    });
}

TEST(Replay5250Session, ScansIntoTheEntryScreen) {
    const std::string screen = "recv " + hexOf(kItemScreen) + "\n";
    // 1-based item field at row 4, column 21; quantity at row 5, column 21.
    const Bytes item{0x11, 0x04, 0x15};
    const Bytes quantity{0x11, 0x05, 0x15};
    runSessions({
        // Prefix P, suffix Tab: the item takes P12345, the Tab moves on to the quantity.
        {"prefix and a Tab suffix, then the quantity",
         [](tn::TnSession& s) {
             s.prefixOn = 1;
             reader::storeText(s.prefixCode, "P");
             s.suffixOn = 1;
             reader::storeText(s.suffixCode, "\t");
         },
         screen + "scan 12345\nchar 3\nkey 0x0D\n",
         {join({{0x05, 0x16, 0xF1}, item, {0xD7, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5}, quantity, {0xF3}})},
         kGood,
         {{3, "P12345"}, {4, "3"}},
         20},
        // The other-field suffix ENTER sends the record as soon as the scan is in.
        {"suffix action Enter",
         [](tn::TnSession& s) { s.otherFieldSuffix = tn::fn::kEnter; },
         screen + "scan 12345\n",
         {join({{0x04, 0x1A, 0xF1}, item, {0xF1, 0xF2, 0xF3, 0xF4, 0xF5}})},
         kGood},
        {"wrong leading code",
         [](tn::TnSession& s) {
             s.checkLeadingCode = 1;
             reader::storeText(s.leadingCode, "99");
         },
         screen + "scan 12345\nkey 0x0D\n",
         {{0x04, 0x15, 0xF1}},
         {"vibrate 500", "message Wrong Leading code! "}},
        {"wrong length",
         [](tn::TnSession& s) {
             s.checkLeadingCode = 1;
             reader::storeText(s.leadingCode, "12");
             s.checkCodeLength = 1;
             s.codeLength = 4;
         },
         screen + "scan 12345\nkey 0x0D\n",
         {{0x04, 0x15, 0xF1}},
         {"message Wrong Length! "}},
        {"partial code",
         [](tn::TnSession& s) {
             s.readPartialCode = 1;
             s.startPosition = 2;
             s.maximumLength = 3;
         },
         screen + "scan 12345\nkey 0x0D\n",
         {join({{0x04, 0x18, 0xF1}, item, {0xF2, 0xF3, 0xF4}})},
         kGood},
        {"partial code starting past the data",
         [](tn::TnSession& s) {
             s.readPartialCode = 1;
             s.startPosition = 9;
             s.maximumLength = 3;
         },
         screen + "scan 12345\n",
         {},
         {"vibrate 500", "message Invalidation Setting!!!"}},
        {"too long for the field under Reject",
         {},
         screen + "scan ABCDEFGHIJKLMNOPQ\nkey 0x0D\n",
         {{0x04, 0x15, 0xF1}},
         {"vibrate 500", "message Data too long"}},
        {"too long, truncated",
         [](tn::TnSession& s) { s.overLengthRule = tn::kOverLengthTruncate; },
         screen + "scan ABCDEFGHIJKLMNOPQ\n",
         {},
         kGood,
         {{3, "ABCDEFGHIJKLMNOP"}},
         20},
        {"cursor outside the fields", {}, screen + "tap 0 0\nscan 12345\n", {}, kAlarm},
        {"keyboard locked after Enter",
         {},
         screen + "key 0x0D\nscan 12345\n",
         {{0x04, 0x15, 0xF1}},
         kAlarm},
        {"escaped control characters in the scan",
         {},
         screen + "scan 12\\x0912\\x1C\n",
         {join({{0x05, 0x17, 0xF1}, item, {0xF1, 0xF2}, quantity, {0xF1, 0xF2}})},
         kGood},
    });
}

TEST(Replay5250Session, RfidReadsIntoTheEntryScreen) {
    const std::string screen = "recv " + hexOf(kItemScreen) + "\n";
    auto rfidOutput = [](int userData) {
        return [userData](tn::TnSession& s) {
            s.rfid.showRfidUid.set(1);
            s.rfid.showRfidUserData.set(userData);
            s.rfid.rfidMaximumLength.set(16);
            s.rfid.rfidFieldDelimiter[0] = '/';
        };
    };
    const Bytes item{0x11, 0x04, 0x15};
    const Bytes uid{0xC5, 0xF0, 0xF0, 0xF4, 0xF0, 0xF1, 0xF5, 0xF0};  // E0040150
    runSessions({
        {"UID, delimiter and user data",
         rfidOutput(1),
         screen + "rfid E0040150 LOT7\nkey 0x0D\n",
         {join({{0x04, 0x22, 0xF1}, item, uid, {0x61, 0xD3, 0xD6, 0xE3, 0xF7}})},
         kGood},
        {"UID alone",
         rfidOutput(0),
         screen + "rfid E0040150 LOT7\nkey 0x0D\n",
         {join({{0x04, 0x1D, 0xF1}, item, uid})},
         kGood},
        {"nothing to enter", rfidOutput(1), screen + "rfid E0040150 LOT7\n", {}, kGood},
    });
}

TEST(Replay5250Session, TypingKeysAndTheKeyMap) {
    const std::string screen = "recv " + hexOf(kTypingScreen) + "\n";
    // 1-based fields from column 11 at rows 5, 6 and 7.
    const Bytes numeric{0x11, 0x05, 0x0B};
    const Bytes adjusted{0x11, 0x06, 0x0B};
    const Bytes text{0x11, 0x07, 0x0B};
    runSessions({
        {"numeric field refuses a letter",
         {},
         screen + "char 12A3\nkey 0x0D\n",
         {join({{0x05, 0x0E, 0xF1}, numeric, {0xF1, 0xF2, 0xF3}})},
         kAlarm,
         {{4, "123"}}},
        {"Tab exits with right adjustment and blank fill",
         {},
         screen + "fn 34\nchar 12\nkey 0x09\nkey 0x0D\n",
         {join({{0x07, 0x0B, 0xF1}, adjusted, {0x40, 0x40, 0x40, 0xF1, 0xF2}})},
         {},
         {{5, "   12"}}},
        {"carriage return typed exits the field too",
         {},
         screen + "fn 34\nchar 12\\x0D\nkey 0x0D\n",
         {join({{0x07, 0x0B, 0xF1}, adjusted, {0x40, 0x40, 0x40, 0xF1, 0xF2}})},
         {},
         {{5, "   12"}}},
        {"field minus gives the units digit the negative zone",
         {},
         screen + "char 15\nfn 31\nkey 0x0D\n",
         {join({{0x06, 0x0B, 0xF1}, numeric, {0xF1, 0xD5}})},
         {},
         {{4, "1N"}}},
        {"locked keyboard: only Escape acts",
         {},
         screen + "key 0x0D\nchar 7\nkey 0x70\nfn 3\nkey 0x1B\nchar 7\nkey 0x0D\n",
         {{0x05, 0x0B, 0xF1}, join({{0x05, 0x0C, 0xF1}, numeric, {0xF7}})},
         kAlarm + kAlarm + kAlarm},
        {"a key mapped to RESET acts while locked",
         [](tn::TnSession& s) { tn::slotFunction(s, 2) = tn::fn::kReset; },
         screen + "key 0x0D\nkey 0x71\nkey 0x70\n",
         {{0x05, 0x0B, 0xF1}, {0x05, 0x0B, 0x31}},
         {}},
        {"F1 by default is PF1", {}, screen + "key 0x70\n", {{0x05, 0x0B, 0x31}}, {}},
        {"F1 mapped to ENTER",
         [](tn::TnSession& s) { tn::slotFunction(s, 1) = tn::fn::kEnter; },
         screen + "key 112\n",
         {{0x05, 0x0B, 0xF1}},
         {}},
        {"escapes and a comment after the text",
         {},
         screen + "fn 34\nfn 34\nchar a\\\\b\\x23   # the comment\nkey 0x0D\n",
         {join({{0x07, 0x0F, 0xF1}, text, {0x81, 0xE0, 0x82, 0x7B}})},
         {},
         {{6, "a\\b#"}}},
    });
}

// The hex strings of the report's "sends", in order.
std::vector<std::string> sendsOf(const std::string& json) {
    std::vector<std::string> sends;
    const std::size_t from = json.find("\"sends\": [");
    const std::string list = json.substr(from, json.find(']', from) - from);
    for (std::size_t at = list.find('"', 9); at != std::string::npos; at = list.find('"', at + 1)) {
        const std::size_t close = list.find('"', at + 1);
        sends.push_back(list.substr(at + 1, close - at - 1));
        at = close;
    }
    return sends;
}

// The report without what was sent.
std::string shownPart(const std::string& json) {
    return json.substr(0, json.find("\"sent\": "));
}

TEST(Replay5250Session, SaveScreenAndRestoreScreenRoundTrip) {
    const Bytes save = onWire({0x04, 0x02});
    const auto saved = replay5250(join({kItemScreen, save}), {});
    ASSERT_EQ(saved.exitCode, 0) << saved.error;
    const auto sends = sendsOf(saved.json);
    ASSERT_EQ(sends.size(), 1u) << saved.json;
    // The host sends the reply's body back as it came: without its header and IAC EOR.
    const auto answer = parseHex(sends[0]);
    ASSERT_TRUE(answer && answer->size() > 12);
    EXPECT_EQ((*answer)[9], 0x04) << "a Save Screen record";
    const Bytes body = tn::test::replyBody(*answer);
    const Bytes popUp = entryScreen(join({sba(8, 30), sf(0x40, 0x00, 0x24, 3)}));
    for (std::size_t chunk : {std::size_t(1024), std::size_t(1), std::size_t(7)}) {
        SCOPED_TRACE(chunk);
        const auto restored =
            replay5250(join({kItemScreen, save, popUp, onWire(body)}), {.chunk = chunk});
        ASSERT_EQ(restored.exitCode, 0) << restored.error;
        EXPECT_EQ(shownPart(restored.json), shownPart(saved.json));
        EXPECT_EQ(sendsOf(restored.json), sends) << "the restore answers nothing";
    }
    // The operator carries on in the restored screen's fields.
    const auto session = script("recv " + hexOf(join({kItemScreen, save, popUp, onWire(body)})) +
                                "\nchar 42\nkey 0x0D\n");
    ASSERT_EQ(session.exitCode, 0) << session.error;
    EXPECT_EQ(sendsOf(session.json).back(),
              hexOf(reply({0x04, 0x17, 0xF1, 0x11, 0x04, 0x15, 0xF4, 0xF2})));
}

// ---- Sessions with the host's screen management while the operator works

// The report of a session of these steps, which must run.
std::string sessionReport(const std::string& steps) {
    const auto result = script(steps);
    EXPECT_EQ(result.exitCode, 0) << result.error;
    return result.json;
}

std::string recv(const Bytes& bytes) {
    return "recv " + hexOf(bytes) + "\n";
}

// A window over rows 8 to 10 from column 30: a border line, a caption and a field, its own read.
const Bytes kWindow = onWire(join({wtd(),
                                   sba(8, 30),
                                   {0x22},
                                   Bytes(20, 0x60),
                                   sba(9, 31),
                                   {0xC3, 0xD6, 0xD7, 0xE8},
                                   sba(10, 31),
                                   sf(0x40, 0x00, 0x24, 3),
                                   {0x04, 0x52, 0x00, 0x08}}));

TEST(Replay5250Session, TypingGoesOnInTheSameFieldWhileOtherRecordsArrive) {
    // "12" into the item field, then the message light on and off, a query, a roll of empty
    // rows, then "34": all four characters land in the item field.
    Bytes messageOn = onWire({});
    messageOn[9] = 0x0B;
    Bytes messageOff = onWire({});
    messageOff[9] = 0x0C;
    const std::string json =
        sessionReport(recv(kItemScreen) + "char 12\n" + recv(messageOn) + "char 3\n" +
                      recv(join({messageOff, onWire({0x04, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}),
                                 onWire({0x04, 0x23, 0x81, 0x0F, 0x14})})) +
                      "char 4\nkey 0x0D\n");
    const auto sends = sendsOf(json);
    ASSERT_EQ(sends.size(), 2u) << json;
    EXPECT_EQ(sends[1], hexOf(reply({0x04, 0x19, 0xF1, 0x11, 0x04, 0x15, 0xF1, 0xF2, 0xF3, 0xF4})));
    EXPECT_EQ(screenRows(json).at(3), screenRow(20, "1234"));
}

TEST(Replay5250Session, APopUpCycleBringsBackTheScreen) {
    // Read Screen before the window; the host writes the display it was sent back, with the
    // fields it knows, once the window is gone.
    const std::string read = recv(kItemScreen) + "char 7\n" + recv(onWire({0x04, 0x62}));
    const auto sends = sendsOf(sessionReport(read));
    ASSERT_EQ(sends.size(), 1u);
    const auto answer = parseHex(sends[0]);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 10u + 1920u + 2u) << "every position, no cursor and no AID";
    EXPECT_EQ((*answer)[9], 0x00);
    const Bytes display(answer->begin() + 10, answer->end() - 2);
    EXPECT_EQ(Bytes(display.begin() + 3 * 80 + 19, display.begin() + 3 * 80 + 22),
              (Bytes{0x24, 0xF7, 0x00}))
        << "the field's attribute byte and the operator's 7";

    const Bytes writeBack = onWire(join({wtd(0x00, 0x08),
                                         {0x01, 0x03, 0x00, 0x00, 0x00},
                                         sba(1, 1),
                                         display,
                                         sba(4, 20),
                                         {0x1D, 0x48, 0x00, 0x24, 0x00, 0x10},
                                         sba(5, 20),
                                         sf(0x43, 0x00, 0x24, 4),
                                         {0x13, 0x04, 0x16},
                                         {0x04, 0x52, 0x00, 0x08}}));
    const std::string json =
        sessionReport(read + recv(kWindow) + recv(writeBack) + "char 5\nkey 0x0D\n");
    const auto rows = screenRows(json);
    ASSERT_EQ(rows.size(), 24u);
    EXPECT_EQ(rows[0], screenRow(1, "TEST"));
    EXPECT_EQ(rows[3], screenRow(20, "75"));
    EXPECT_EQ(rows[7], screenRow(0, ""));
    EXPECT_EQ(sendsOf(json).back(), hexOf(reply({0x04, 0x17, 0xF1, 0x11, 0x04, 0x15, 0xF7, 0xF5})));
}

TEST(Replay5250Session, ReadScreenAfterRestoreScreenSendsWhatTheHostWrote) {
    // Read Screen, Save Screen, the display cleared and a window written, the saved screen
    // restored, Read Screen again: the same 1,920 positions, attribute bytes and all.
    const std::string read = recv(onWire({0x04, 0x62}));
    const std::string save = recv(kItemScreen) + "char 7\n" + read + recv(onWire({0x04, 0x02}));
    const auto sends = sendsOf(sessionReport(save));
    ASSERT_EQ(sends.size(), 2u);
    const auto saved = parseHex(sends[1]);
    ASSERT_TRUE(saved && saved->size() > 14);
    const Bytes restore = onWire(tn::test::replyBody(*saved));
    const std::string json =
        sessionReport(save + recv(onWire({0x04, 0x40})) + recv(kWindow) + recv(restore) + read);
    const auto after = sendsOf(json);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[2], sends[0]);
}

TEST(Replay5250Session, SavePartialAndRestorePartialRoundTrip) {
    // The rectangle of rows 3 to 11, columns 15 to 60 saved, a window drawn inside it, the
    // saved rectangle restored: the report is the one before the window, and typing goes on.
    const std::string before = recv(kItemScreen) + "char 9\n";
    const std::string save = before + recv(onWire({0x04, 0x03, 0x00, 0x03, 0x0F, 0x09, 0x2E}));
    const std::string saved = sessionReport(save);
    const auto sends = sendsOf(saved);
    ASSERT_EQ(sends.size(), 1u);
    const auto answer = parseHex(sends[0]);
    ASSERT_TRUE(answer && answer->size() > 12);
    EXPECT_EQ((*answer)[9], 0x04);
    const Bytes body = tn::test::replyBody(*answer);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 2), (Bytes{0x04, 0x13}));
    const std::string restored = save + recv(kWindow) + recv(onWire(body));
    for (const std::string& steps : {restored, restored + "char 8\nkey 0x0D\n"}) {
        const std::string json = sessionReport(steps);
        if (steps == restored) {
            EXPECT_EQ(shownPart(json), shownPart(saved));
        } else {
            EXPECT_EQ(sendsOf(json).back(),
                      hexOf(reply({0x04, 0x17, 0xF1, 0x11, 0x04, 0x15, 0xF9, 0xF8})));
        }
    }
}

TEST(Replay5250Session, RollUpAndDown) {
    // A list of five lines in rows 7 to 11 under the entry fields; the operator's typing in
    // the item field is not part of the area and stays.
    Bytes list = wtd();
    for (std::uint8_t line = 1; line <= 5; ++line) {
        const Bytes more = join({sba(std::uint8_t(6 + line), 3),
                                 {0xD3, 0xC9, 0xD5, 0xC5},
                                 {std::uint8_t(0xF0 + line)}});
        list.insert(list.end(), more.begin(), more.end());
    }
    const std::string steps = recv(kItemScreen) + recv(onWire(list)) + "char 42\n";
    const struct {
        const char* name;
        std::string rolls;
        std::vector<const char*> lines;  // rows 7 to 11
    } cases[] = {
        {"up 2",
         recv(onWire({0x04, 0x23, 0x02, 0x07, 0x0B})),
         {"LINE3", "LINE4", "LINE5", "LINE4", "LINE5"}},
        {"up 2, then down 1",
         recv(join(
             {onWire({0x04, 0x23, 0x02, 0x07, 0x0B}), onWire({0x04, 0x23, 0x81, 0x07, 0x0B})})),
         {"LINE3", "LINE3", "LINE4", "LINE5", "LINE4"}},
        {"down 4 of rows 7 to 11",
         recv(onWire({0x04, 0x23, 0x84, 0x07, 0x0B})),
         {"LINE1", "LINE2", "LINE3", "LINE4", "LINE1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = sessionReport(steps + c.rolls + "key 0x0D\n");
        const auto rows = screenRows(json);
        ASSERT_EQ(rows.size(), 24u);
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(rows[6 + i], screenRow(2, c.lines[i])) << i;
        EXPECT_EQ(rows[3], screenRow(20, "42"));
        EXPECT_EQ(sendsOf(json).back(),
                  hexOf(reply({0x04, 0x17, 0xF1, 0x11, 0x04, 0x15, 0xF4, 0xF2})));
    }
}

TEST(Replay5250, BenchCountsEveryRound) {
    const auto result = bench5250(kSignOnScreen, 64, 5);
    EXPECT_EQ(result.bytes, double(kSignOnScreen.size() * 5));
    EXPECT_GE(result.seconds, 0.0);
}

}  // namespace
}  // namespace qn::tools
