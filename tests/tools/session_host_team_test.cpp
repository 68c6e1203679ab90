// quillnet-session as host teams drive it, against the demo hosts on 127.0.0.1: sign-ons led by
// `wait ready` alone, the 5250 fields by meaning with the password kept out of every output,
// the long-lived JSON mode, the JUnit report read back by an XML parser, and 200 sessions at
// once from one process, also over TLS.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_host.h"
#include "tests/support/tls_rig.h"
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

// A loopback relay in front of a host that keeps what each client sent, to show what went over
// the wire.
class RecordingRelay {
  public:
    explicit RecordingRelay(std::uint16_t backendPort) : backendPort_(backendPort) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listenFd_, 256) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { accept(); });
    }
    ~RecordingRelay() {
        sent();
        ::close(listenFd_);
    }
    std::uint16_t port() const { return port_; }
    // Once both sides of every connection have ended: what each client sent.
    std::vector<std::vector<std::uint8_t>> sent() {
        ::shutdown(listenFd_, SHUT_RDWR);
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& relay : relays_)
            if (relay.joinable()) relay.join();
        return sent_;
    }

  private:
    void accept() {
        for (int client; (client = ::accept(listenFd_, nullptr, nullptr)) >= 0;) {
            const int host = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(backendPort_);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(host, reinterpret_cast<sockaddr*>(&address), sizeof address);
            std::size_t index;
            {
                std::lock_guard lock(mutex_);
                index = sent_.size();
                sent_.emplace_back();
            }
            relays_.emplace_back([this, client, host, index] { relay(client, host, index); });
        }
    }
    // Both ways until both sides have ended (or nothing moved for 10 s).
    void relay(int client, int host, std::size_t index) {
        pollfd fds[2] = {{client, POLLIN, 0}, {host, POLLIN, 0}};
        char buffer[4096];
        while ((fds[0].fd >= 0 || fds[1].fd >= 0) && ::poll(fds, 2, 10000) > 0) {
            for (int from = 0; from < 2; ++from) {
                if (fds[from].fd < 0 || fds[from].revents == 0) continue;
                const int to =
                    fds[1 - from].fd == -1 ? (from == 0 ? host : client) : fds[1 - from].fd;
                const ssize_t n = ::recv(fds[from].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::shutdown(to, SHUT_WR);
                    fds[from].fd = -1;
                    continue;
                }
                if (from == 0) {
                    std::lock_guard lock(mutex_);
                    sent_[index].insert(sent_[index].end(), buffer, buffer + n);
                }
                ::send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
        }
        ::close(client);
        ::close(host);
    }

    std::uint16_t backendPort_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> relays_;
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> sent_;
};

// Whether the bytes are whole TLS records end to end (handshake, alert, change cipher spec,
// encrypted data): nothing in clear.
bool onlyTlsRecords(const std::vector<std::uint8_t>& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 5 || bytes[at] < 20 || bytes[at] > 23 || bytes[at + 1] != 3)
            return false;
        at += 5 + (std::size_t{bytes[at + 3]} << 8 | bytes[at + 4]);
    }
    return at == bytes.size() && !bytes.empty();
}

// Parallel sessions against the demo host over TLS, each way a connect may ask for it and each
// way the certificate is checked, with the messages and exit status of a single session; every
// byte every session sent went in TLS records.
TEST(SessionHostTeam, ParallelSessionsOverTls) {
    if (const std::string why = test::tlsRigMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TestCertificates certificates;
    ASSERT_TRUE(certificates.ok());
    constexpr int kSessions = 20;
    const auto home = tempFile("tls-home");
    std::filesystem::create_directories(home);
    ::setenv("QUILLNET_HOME", home.c_str(), 1);
    const std::string ca = certificates.ca().string();
    const std::string pin = certificates.fingerprint(certificates.server());
    const struct {
        const char* name;
        DemoProtocol protocol;
        bool tlsHost;
        std::string hostText;
        std::string ini;  // connections.ini
        std::vector<std::string> extra;
        int status;
        std::string reason;  // of every session's failure
    } cases[] = {
        {"--tls and --ca-file",
         DemoProtocol::Tn5250,
         true,
         "127.0.0.1",
         "",
         {"--tls", "--ca-file", ca},
         kSessionDone,
         ""},
        {"VT, tls = on and the CA in the file",
         DemoProtocol::Vt,
         true,
         "127.0.0.1",
         "[127.0.0.1]\ntls = on\nca-file = " + ca + "\n",
         {},
         kSessionDone,
         ""},
        {"the tls: prefix and a pinned certificate",
         DemoProtocol::Tn5250,
         true,
         "tls:127.0.0.1",
         "[127.0.0.1]\nfingerprint = " + pin + "\n",
         {},
         kSessionDone,
         ""},
        {"an unknown CA",
         DemoProtocol::Tn5250,
         true,
         "127.0.0.1",
         "",
         {"--tls"},
         kSessionConnectionLost,
         "Certificate not trusted: unable to get local issuer certificate"},
        {"--insecure",
         DemoProtocol::Tn5250,
         true,
         "127.0.0.1",
         "",
         {"--tls", "--insecure"},
         kSessionDone,
         ""},
        {"pinned to another certificate",
         DemoProtocol::Tn5250,
         true,
         "127.0.0.1",
         "[defaults]\ntls = on\nfingerprint = " + certificates.fingerprint(certificates.expired()) +
             "\n",
         {},
         kSessionConnectionLost,
         "Certificate fingerprint does not match"},
        {"a client certificate that cannot be read",
         DemoProtocol::Tn5250,
         true,
         "127.0.0.1",
         "[127.0.0.1]\ncert-file = /nonexistent/client.pem\n",
         {"--tls", "--ca-file", ca},
         kSessionConnectionLost,
         "Client certificate not readable: /nonexistent/client.pem"},
        {"a plain host",
         DemoProtocol::Tn5250,
         false,
         "127.0.0.1",
         "",
         {"--tls", "--ca-file", ca},
         kSessionConnectionLost,
         "TLS handshake failed: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(home / "connections.ini") << c.ini;
        DemoHostOptions options = Served::options(c.protocol);
        options.sessions = kSessions;
        if (c.tlsHost) {
            options.tlsCert = certificates.server().string();
            options.tlsKey = certificates.key().string();
        }
        DemoHost host(options);
        ASSERT_TRUE(host.listening());
        std::thread thread([&] { host.run(); });
        RecordingRelay relay(host.port());
        ASSERT_NE(relay.port(), 0);
        const auto report = tempFile("tls.xml");
        const std::string script = c.protocol == DemoProtocol::Vt
                                       ? "wait login:\nchar guest\nkey 0x0D\nwait Password:\n"
                                       : kTnSignOnReady + "fn 3\n";
        std::istringstream in(script);
        std::ostringstream out, err;
        std::vector<std::string> args{c.protocol == DemoProtocol::Vt ? "vt" : "5250",
                                      "--host",
                                      c.hostText,
                                      "--port",
                                      std::to_string(relay.port()),
                                      "--parallel",
                                      std::to_string(kSessions),
                                      "--junit",
                                      report.string(),
                                      "--timeout",
                                      "30"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const int status = runSessionTool(args, {in, out, err});
        host.stop();
        thread.join();
        EXPECT_EQ(status, c.status) << err.str();
        const int passed = c.status == kSessionDone ? kSessions : 0;
        EXPECT_NE(out.str().find("passed " + std::to_string(passed) + ","), std::string::npos)
            << out.str();
        EXPECT_NE(out.str().find("handshake: n " + std::to_string(passed) + ","), std::string::npos)
            << out.str();
        const std::string junit = readFile(report);
        std::filesystem::remove(report);
        if (c.reason.empty()) {
            EXPECT_EQ(err.str(), "");
        } else {
            // Each session failed at its connect, with the reason.
            const std::string what = "line 1: " + c.reason;
            EXPECT_NE(err.str().find("session " + std::to_string(kSessions) + ": " + what),
                      std::string::npos)
                << err.str();
            EXPECT_NE(junit.find("message=\"" + what), std::string::npos) << junit;
            EXPECT_NE(junit.find("errors=\"" + std::to_string(kSessions) + "\""),
                      std::string::npos);
        }
        // The connect refused before any handshake sends nothing at all.
        const bool handshakes = c.reason.find("Client certificate") == std::string::npos;
        const auto sent = relay.sent();
        EXPECT_EQ(sent.size(), static_cast<std::size_t>(kSessions));
        for (const auto& bytes : sent)
            EXPECT_TRUE(handshakes ? onlyTlsRecords(bytes) : bytes.empty()) << hex(bytes);
    }
    ::unsetenv("QUILLNET_HOME");
    std::filesystem::remove_all(home);
}

// A host that is not TLS after all: a session's handshake ends with the reason within the
// connect time-out, and the session sent nothing but its client hello.
TEST(SessionHostTeam, ParallelHandshakeFaultsEndTheSession) {
    const auto home = tempFile("fault-home");
    std::filesystem::create_directories(home);
    std::ofstream(home / "connections.ini") << "[127.0.0.1]\nconnect-timeout = 1\n";
    ::setenv("QUILLNET_HOME", home.c_str(), 1);
    for (const test::HandshakeFault& c : test::handshakeFaults()) {
        SCOPED_TRACE(c.name);
        test::LoopbackHost host;
        const auto started = std::chrono::steady_clock::now();
        auto run = std::async(std::launch::async, [&] {
            return session("5250", host.port(), "wait ready\n",
                           {"--host", "tls:127.0.0.1", "--parallel", "1", "--timeout", "20"});
        });
        ASSERT_TRUE(host.waitForClient());
        const auto hello = host.waitForBytes(5);
        ASSERT_GE(hello.size(), 5u);
        c.host(host);
        const Outcome o = run.get();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(o.status, kSessionConnectionLost);
        EXPECT_EQ(o.err, "quillnet-session: session 1: line 1: " + c.message + "\n");
        EXPECT_NE(o.out.find("handshake: n 0, p50 0.00 ms, p90 0.00 ms, p99 0.00 ms, max 0.00 "
                             "ms, failures 1"),
                  std::string::npos)
            << o.out;
        EXPECT_TRUE(onlyTlsRecords(host.received())) << hex(host.received());
    }
    ::unsetenv("QUILLNET_HOME");
    std::filesystem::remove_all(home);
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
                {"--parallel", std::to_string(kSessions), "--ramp", "0.5", "--device-name",
                 "QN%03d", "--junit", report.string(), "--timeout", "60"});
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
