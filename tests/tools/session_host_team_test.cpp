// quillnet-session as host teams drive it, against the demo hosts on 127.0.0.1: sign-ons led by
// `wait ready` alone, the 5250 fields by meaning with the password kept out of every output,
// the long-lived JSON mode, the JUnit report read back by an XML parser, and 200 sessions at
// once from one process.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/quillnet-demohost/demo_host.h"
#include "tools/quillnet-replay/replay_json.h"
#include "tools/quillnet-session/field_view.h"
#include "tools/quillnet-session/session_parallel.h"
#include "tools/quillnet-session/session_tool.h"

extern char** environ;

namespace qn::tools {
namespace {

using Json = nlohmann::json;

struct Served {
    explicit Served(DemoProtocol protocol)
        : host(options(protocol)), thread([this] { host.run(); }) {}
    ~Served() {
        host.stop();
        thread.join();
    }
    static DemoHostOptions options(DemoProtocol protocol) {
        DemoHostOptions o;
        o.protocol = protocol;
        return o;
    }
    DemoHost host;
    std::thread thread;
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome session(const std::string& program, std::uint16_t port, const std::string& input,
                std::vector<std::string> extra = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    std::vector<std::string> args{program, "--host", "127.0.0.1", "--port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    const int status = runSessionTool(args, {in, out, err});
    return {status, out.str(), err.str()};
}

std::filesystem::path tempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("qn_host_team_" + std::to_string(::getpid()) + "_" + name);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// No wait for a text: each check right after `wait ready` sees the host's answer or fails.
const std::string kTnSignOnReady =
    "wait ready\n"
    "expect 0 1 QUILLNET SIGN ON\n"
    "char clerk\n"
    "key 0x09\n"
    "char secret\n"
    "dump\n"
    "key 0x0D\n"
    "wait ready\n"
    "expect 0 1 MAIN MENU\n"
    "char 1\n"
    "key 0x0D\n"
    "wait ready\n"
    "expect 0 2 PICKING\n"
    "scan 0123456789\n"
    "key 0x0D\n"
    "wait ready\n"
    "expect 8 1 BOLT M8 X 40 ZINC\n"
    "dump\n";

// The secret as typed, in ASCII and in EBCDIC hex, and as text.
const char* const kSecretForms[] = {"secret", "SECRET", "736563726574", "a285839985a3"};

TEST(SessionHostTeam, WaitReadyLeadsTheSignOnWithoutTexts) {
    const struct {
        const char* name;
        DemoProtocol protocol;
        std::string script;
        std::vector<std::string> extra;
        int status;
        std::string err;
    } cases[] = {
        {"5250 sign-on and a pick",
         DemoProtocol::Tn5250,
         kTnSignOnReady + "fn 3\n",
         {},
         kSessionDone,
         ""},
        {"5250 device name on the sign-on screen",
         DemoProtocol::Tn5250,
         "wait ready\nexpect 3 15 QN001\n",
         {"--device-name", "QN%03d"},
         kSessionDone,
         ""},
        {"VT sign-on by quiet intervals",
         DemoProtocol::Vt,
         "wait ready\nexpect 3 0 login:\nchar guest\nkey 0x0D\nwait ready --quiet 150\n"
         "expect 4 0 Password:\nchar demo\nkey 0x0D\nwait ready\nexpect 0 1 QUILLNET WAREHOUSE\n",
         {},
         kSessionDone,
         ""},
        // The demo host sends its prompt at once; it is never quiet for 300 ms within 0.2 s.
        {"VT quiet longer than the wait",
         DemoProtocol::Vt,
         "wait ready --quiet 300 --timeout 0.2\n",
         {},
         kSessionWaitTimedOut,
         "line 1: wait ready: the host did not answer in 0.2 s"},
        {"5250 wait ready past the host's end",
         DemoProtocol::Tn5250,
         "wait ready\nfn 3\nwait ready\nwait ready\n",
         {},
         kSessionHostClosed,
         "the connection has ended"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Served served(c.protocol);
        const Outcome o = session(c.protocol == DemoProtocol::Vt ? "vt" : "5250",
                                  served.host.port(), c.script, c.extra);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
}

// The dumps of the sign-on (password typed) and of the picking screen: the fields by meaning,
// and the password nowhere: not in the dump, the transcript, nor in a failure report.
TEST(SessionHostTeam, FieldsByMeaningAndNoPassword) {
    Served served(DemoProtocol::Tn5250);
    const auto transcript = tempFile("transcript.txt");
    const Outcome o = session("5250", served.host.port(), kTnSignOnReady + "fn 3\n",
                              {"--transcript", transcript.string()});
    ASSERT_EQ(o.status, kSessionDone) << o.err;
    const std::string written = readFile(transcript);
    std::filesystem::remove(transcript);
    EXPECT_NE(written.find("step 5: char (hidden)"), std::string::npos) << written;
    EXPECT_NE(written.find("5c5c5c5c5c5c"), std::string::npos) << "masked data sent";
    // The password field's check compares, and fails without telling what it holds.
    Served again(DemoProtocol::Tn5250);
    const Outcome failed =
        session("5250", again.host.port(),
                "wait ready\nchar clerk\nkey 0x09\nchar secret\nfield 2 secret\nfield 2 wrong\n");
    EXPECT_EQ(failed.status, kSessionCheckFailed);
    EXPECT_NE(failed.err.find("line 6: field 2: a non-display field, not as expected"),
              std::string::npos)
        << failed.err;
    for (const char* secret : kSecretForms) {
        for (const std::string* text : {&o.out, &o.err, &written, &failed.err})
            EXPECT_EQ(text->find(secret), std::string::npos) << secret << "\n" << *text;
    }

    // Two dumps, one JSON document each.
    std::vector<Json> dumps;
    std::size_t at = 0;
    while ((at = o.out.find("{\n", at)) != std::string::npos) {
        const std::size_t end = o.out.find("\n}\n", at);
        ASSERT_NE(end, std::string::npos);
        dumps.push_back(Json::parse(o.out.substr(at, end + 2 - at)));
        at = end;
    }
    ASSERT_EQ(dumps.size(), 2u);

    struct Expected {
        int dump, number, row, col, length;
        Json text;
        const char* shift;
        std::vector<std::string> on;  // the flags set; every other is false
    };
    const Expected expected[] = {
        {0, 1, 5, 15, 10, "CLERK", "alphanumeric", {"modified", "monocase"}},
        {0, 2, 6, 15, 10, nullptr, "alphanumeric", {"modified", "nonDisplay"}},
        {1, 1, 4, 15, 13, "0123456789", "numericOnly", {"numericOnly"}},
        {1, 2, 5, 15, 5, "", "numericOnly", {"numericOnly", "rightAdjust"}},
        {1, 3, 6, 15, 6, "", "alphanumeric", {"mandatoryEnter", "monocase"}},
    };
    const char* const flagNames[] = {
        "bypass",        "numericOnly",       "signedNumeric", "mandatoryEnter",
        "mandatoryFill", "rightAdjust",       "autoEnter",     "nonDisplay",
        "modified",      "fieldExitRequired", "monocase"};
    for (const Expected& e : expected) {
        SCOPED_TRACE("dump " + std::to_string(e.dump) + " field " + std::to_string(e.number));
        const Json& fields = dumps[static_cast<std::size_t>(e.dump)]["inputFields"];
        ASSERT_GE(fields.size(), static_cast<std::size_t>(e.number));
        const Json& f = fields[static_cast<std::size_t>(e.number - 1)];
        EXPECT_EQ(f["row"], e.row);
        EXPECT_EQ(f["col"], e.col);
        EXPECT_EQ(f["length"], e.length);
        EXPECT_EQ(f["text"], e.text);
        EXPECT_EQ(f["shift"], e.shift);
        for (const char* name : flagNames) {
            const bool on = std::ranges::find(e.on, name) != e.on.end();
            EXPECT_EQ(f["flags"][name], on) << name;
        }
    }
    EXPECT_EQ(dumps[1]["inputFields"].size(), 3u);
    EXPECT_EQ(dumps[0]["screen"][6], std::string(" Password . .") + std::string(67, ' '));
}

// Another program drives one session: a step a line in, an answer a line out.
TEST(SessionHostTeam, ServeModeAnswersEachStep) {
    Served served(DemoProtocol::Tn5250);
    const std::string requests =
        "{\"step\": \"wait ready\"}\n"
        "{\"step\": \"char clerk\"}\n"
        "not json\n"
        "{\"step\": \"fn 99\"}\n"
        "{\"step\": \"key 0x09\"}\n"
        "{\"step\": \"char secret\"}\n"
        "{\"step\": \"wait nothing --timeout 0.2\"}\n"
        "{\"step\": \"dump --text\"}\n"
        "{\"step\": \"key 0x0D\"}\n"
        "{\"step\": \"wait ready\"}\n"
        "{\"step\": \"dump\"}\n"
        "{\"step\": \"fn 3\"}\n"
        "{\"step\": \"wait ready\"}\n";
    const Outcome o = session("5250", served.host.port(), requests, {"--serve"});
    // The first failure decides, as it would end a script.
    EXPECT_EQ(o.status, kSessionBadInput);
    std::vector<Json> answers;
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);)
        answers.push_back(Json::parse(line));
    ASSERT_EQ(answers.size(), 13u) << o.out;
    const struct {
        bool ok;
        int exit;
        const char* error;
    } expected[] = {
        {true, 0, ""},
        {true, 0, ""},
        {false, kSessionBadInput, "request 3: {\"step\": \"...\"} expected"},
        {false, kSessionBadInput, "request 4: line 1: fn needs 1 to 47"},
        {true, 0, ""},
        {true, 0, ""},
        {false, kSessionWaitTimedOut, "line 7: wait: \"nothing\" not on the screen after 0.2 s"},
        {true, 0, ""},
        {true, 0, ""},
        {true, 0, ""},
        {true, 0, ""},
        {true, 0, ""},
        {false, kSessionHostClosed, "line 13: the connection has ended"},
    };
    for (std::size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE("answer " + std::to_string(i + 1));
        EXPECT_EQ(answers[i]["ok"], expected[i].ok) << answers[i];
        if (expected[i].ok) continue;
        EXPECT_EQ(answers[i]["exit"], expected[i].exit);
        EXPECT_NE(answers[i]["error"].get<std::string>().find(expected[i].error), std::string::npos)
            << answers[i]["error"];
    }
    EXPECT_EQ(answers[6]["screen"][0].get<std::string>().substr(0, 17), " QUILLNET SIGN ON");
    EXPECT_EQ(answers[7]["screen"].size(), 24u);
    EXPECT_EQ(answers[10]["dump"]["screen"][0].get<std::string>().substr(0, 10), " MAIN MENU");
    EXPECT_EQ(answers[10]["dump"]["inputFields"][0]["shift"], "digitsOnly");
    for (const char* secret : kSecretForms)
        EXPECT_EQ(o.out.find(secret), std::string::npos) << secret;
}

// The JUnit report, read back by an XML parser (python3's ElementTree).
TEST(SessionHostTeam, JUnitReportParses) {
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no python3 to parse XML";
    const struct {
        std::string script;
        int status;
        std::string summary;  // what the parser found
    } cases[] = {
        {kTnSignOnReady, kSessionDone, "tests=1 failures=0 errors=0 case=standard input|"},
        {"wait ready\nchar clerk\nkey 0x09\nchar secret\nexpect 0 1 <&\"x\"\n", kSessionCheckFailed,
         "tests=1 failures=1 errors=0 case=standard input|failure|exit 4|"
         "quillnet-session: line 5: expect 0 1: \"<&\"x\"\" expected, the screen has \"QUILL\"|"
         "screen= QUILLNET SIGN ON|secret=False"},
        {"wait ready\nfn 3\nwait never\n", kSessionHostClosed,
         "tests=1 failures=0 errors=1 case=standard input|error|exit 6|"
         "quillnet-session: line 3: the connection has ended|screen= Signed off. "
         "Good|secret=False"},
    };
    // One parser run for all reports: a line each.
    const auto checker = tempFile("check.py");
    std::ofstream(checker) << R"(import sys, xml.etree.ElementTree as ET
for path in sys.argv[1:]:
    suite = ET.parse(path).getroot().find('testsuite')
    out = 'tests=%s failures=%s errors=%s' % (suite.get('tests'), suite.get('failures'), suite.get('errors'))
    for case in suite.findall('testcase'):
        out += ' case=' + case.get('name') + '|'
        for kind in ('failure', 'error'):
            for f in case.findall(kind):
                lines = f.text.split('\n')
                out += kind + '|' + f.get('type') + '|' + f.get('message') + '|screen=' + lines[1][:17]
                out += '|secret=' + str('secret' in f.text.lower())
    print(out.rstrip())
)";
    std::string command = "python3 " + checker.string();
    std::string expected;
    std::vector<std::filesystem::path> reports;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        reports.push_back(tempFile("junit" + std::to_string(reports.size()) + ".xml"));
        Served served(DemoProtocol::Tn5250);
        const Outcome o =
            session("5250", served.host.port(), c.script, {"--junit", reports.back().string()});
        EXPECT_EQ(o.status, c.status) << o.err;
        command += " " + reports.back().string();
        expected += c.summary + "\n";
    }
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string parsed;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        parsed += buffer;
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(parsed, expected);
    for (const auto& report : reports)
        std::filesystem::remove(report);
    std::filesystem::remove(checker);
}

// The demo host as a process of its own, so that its threads do not count in the memory the
// sessions take here.
class HostProcess {
  public:
    explicit HostProcess(const std::vector<std::string>& args) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const std::string bin = QN_TEST_BIN_DIR "/quillnet-demohost";
        std::vector<char*> argv{const_cast<char*>(bin.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, bin.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        FILE* out = ::fdopen(pipeFds[0], "r");
        unsigned port = 0;
        if (out != nullptr && std::fscanf(out, "port %u", &port) == 1) port_ = port;
        if (out != nullptr) std::fclose(out);
    }
    ~HostProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::uint16_t port() const { return static_cast<std::uint16_t>(port_); }

  private:
    pid_t pid_ = -1;
    unsigned port_ = 0;
};

// What is recorded of a send: the non-display field's data masked wherever the record carries
// it, telnet framing and everything else kept byte for byte.
TEST(SessionHostTeam, SendsAreMaskedByTheFieldTable) {
    tn::FieldEntry user{.number = 1, .column = 14, .row = 4, .ffw1 = 0x40, .length = 3};
    tn::FieldEntry password{.number = 2,
                            .column = 14,
                            .row = 5,
                            .ffw1 = 0x48,
                            .attribute = tn::cell_attribute::kNonDisplay,
                            .length = 3};
    const std::vector<tn::FieldEntry> both{user, password};
    const std::vector<tn::FieldEntry> shown{user};
    const std::string header = "001812a0000004000003";  // put/get
    const struct {
        const char* name;
        const std::vector<tn::FieldEntry>* fields;
        std::string sent, recorded;
    } cases[] = {
        {"modified fields by address, an 0xFF in the secret", &both,
         header + "060fF1" + "11050f c1c2c3" + "11060f 81ffff82" + "ffef",
         header + "060fF1" + "11050f c1c2c3" + "11060f 5c5c5c" + "ffef"},
        {"all fields at their lengths, no addresses", &both,
         header + "060f00" + "c1c2c3" + "818283" + "ffef",
         header + "060f00" + "c1c2c3" + "5c5c5c" + "ffef"},
        {"an 0xFF in a shown field stays doubled", &both,
         header + "060fF1" + "11050f ffffc2" + "ffef",
         header + "060fF1" + "11050f ffffc2" + "ffef"},
        {"a saved screen image is masked whole", &both,
         "001012a0000004000004" + std::string("04128182") + "ffef",
         "001012a0000004000004" + std::string("5c5c5c5c") + "ffef"},
        {"no non-display field: as sent", &shown, header + "060fF1" + "11060f 818283" + "ffef",
         header + "060fF1" + "11060f 818283" + "ffef"},
        {"telnet answers pass", &both, "fffa27000349424d525345454400fff0",
         "fffa27000349424d525345454400fff0"},
        {"two records in one send", &both,
         header + "060fF1" + "11060f 81" + "ffef" + header + "060fF3" + "ffef",
         header + "060fF1" + "11060f 5c" + "ffef" + header + "060fF3" + "ffef"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto sent = parseHex(c.sent);
        const auto recorded = parseHex(c.recorded);
        ASSERT_TRUE(sent && recorded);
        EXPECT_EQ(hex(maskSend(*sent, *c.fields)), hex(*recorded));
    }
}

TEST(SessionHostTeam, PercentilesAreNearestRank) {
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i)
        hundred.push_back(i);
    const struct {
        std::vector<double> sorted;
        double fraction, expected;
    } cases[] = {{{}, 0.5, 0},        {{7}, 0.99, 7},      {hundred, 0.5, 50}, {hundred, 0.9, 90},
                 {hundred, 0.99, 99}, {{1, 2, 3}, 0.5, 2}, {{1, 2}, 0.5, 1},   {{1, 2}, 0.99, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(percentile(c.sorted, c.fraction), c.expected)
            << c.sorted.size() << " " << c.fraction;
}

// 200 sessions in this process, all connected at once (each holds the picking screen a while),
// each signed on with its own device name: every step's percentiles, no failure, well under a
// megabyte a session. The hold outlasts the ramp by far: under ThreadSanitizer on two cores a
// sign-on alone has taken 1.3 s, and the first session must not leave before the last arrives.
TEST(SessionHostTeam, TwoHundredSessionsAtOnce) {
    constexpr int kSessions = 200;
    HostProcess host({"5250", "--port", "0", "--sessions", "250"});
    ASSERT_NE(host.port(), 0);
    const std::string script = kTnSignOnReady + "sleep 4000\nfn 3\nwait Goodbye, CLERK\n";
    const auto report = tempFile("parallel.xml");
    const Outcome o =
        session("5250", host.port(), script,
                {"--parallel", std::to_string(kSessions), "--ramp", "0.5", "--device-name", "QN%03d",
                 "--junit", report.string(), "--timeout", "60"});
    std::printf("%s", o.out.c_str());
    EXPECT_EQ(o.status, kSessionDone) << o.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        o.out, m,
        std::regex(R"(sessions (\d+), passed (\d+), failed (\d+), [\d.]+ s, (\d+) at once; )"
                   R"(memory ([\d.]+) KiB a session)")))
        << o.out;
    EXPECT_EQ(std::stoi(m[1]), kSessions);
    EXPECT_EQ(std::stoi(m[2]), kSessions);
    EXPECT_EQ(std::stoi(m[4]), kSessions);
    EXPECT_LT(std::stod(m[5]), 1024.0);
    // Every step of the script, each finished by all sessions, its percentiles in order.
    const std::regex stepLine(
        R"(line (\d+): n (\d+), p50 ([\d.]+) ms, p90 ([\d.]+) ms, p99 ([\d.]+) ms, )"
        R"(max ([\d.]+) ms, failures (\d+))");
    int steps = 0;
    for (auto it = std::sregex_iterator(o.out.begin(), o.out.end(), stepLine);
         it != std::sregex_iterator(); ++it, ++steps) {
        const std::smatch& s = *it;
        EXPECT_EQ(std::stoi(s[2]), kSessions) << s[0];
        EXPECT_LE(std::stod(s[3]), std::stod(s[4])) << s[0];
        EXPECT_LE(std::stod(s[4]), std::stod(s[5])) << s[0];
        EXPECT_LE(std::stod(s[5]), std::stod(s[6])) << s[0];
        EXPECT_EQ(std::stoi(s[7]), 0) << s[0];
        if (std::stoi(s[1]) == 19) {
            EXPECT_GE(std::stod(s[3]), 4000.0) << "the sleep";
        }
    }
    EXPECT_EQ(steps, 21);
    const std::string junit = readFile(report);
    std::filesystem::remove(report);
    EXPECT_NE(junit.find("tests=\"200\" failures=\"0\" errors=\"0\""), std::string::npos);
    EXPECT_NE(junit.find("name=\"session 200 (QN200)\""), std::string::npos);
}

}  // namespace
}  // namespace qn::tools
