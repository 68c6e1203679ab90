// quillnet-session end to end against the two demo hosts on 127.0.0.1: whole operator sessions
// (sign on, scan an item, read the answer, log off), a refused port, a host that closes under
// the script, the time-outs and checks, and scripts the tool refuses before it connects.

#include "tools/quillnet-session/session_tool.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_host.h"
#include "tests/support/tls_rig.h"
#include "tools/quillnet-demohost/demo_host.h"

namespace qn::tools {
namespace {

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

Outcome session(const std::string& program, std::uint16_t port, const std::string& script,
                std::vector<std::string> extra = {}) {
    std::istringstream in(script);
    std::ostringstream out, err;
    std::vector<std::string> args{program, "--host", "127.0.0.1", "--port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    const int status = runSessionTool(args, {in, out, err});
    return {status, out.str(), err.str()};
}

const std::string kVtSignOn =
    "wait login:\n"
    "char guest\n"
    "key 0x0D\n"
    "wait Password:\n"
    "char demo\n"
    "key 0x0D\n"
    "wait Scan item:\n";

const std::string kTnSignOn =
    "wait SIGN ON --row 0\n"
    "char clerk\n"
    "key 0x09         # Tab: field exit to the password\n"
    "char secret\n"
    "key 0x0D\n"
    "wait MAIN MENU\n"
    "char 1\n"
    "key 0x0D\n"
    "wait PICKING\n";

struct Case {
    const char* name;
    DemoProtocol protocol;
    std::string script;
    std::vector<std::string> extra;
    int status;
    std::vector<std::string> err;  // pieces of standard error
    std::vector<std::string> out;  // pieces of standard output
};

TEST(SessionTool, AgainstTheDemoHosts) {
    const Case cases[] = {
        {"VT: sign on, scan an item, read the answer, log off",
         DemoProtocol::Vt,
         kVtSignOn + "scan 4711        # Auto Enter ends the line\n"
                     "wait Item 4711 OK --row 8\n"
                     "expect 8 0 Item 4711\n"
                     "char 3\n"
                     "key 0x0D\n"
                     "wait Picked 3 x 4711\n"
                     "dump --text\n"
                     "char exit\n"
                     "key 0x0D\n"
                     "wait Bye.\n",
         {},
         kSessionDone,
         {},
         {"Picked 1 line(s)", "Picked 3 x 4711"}},
        {"5250: sign on, scan an item, read the answer, log off",
         DemoProtocol::Tn5250,
         kTnSignOn + "scan 0123456789\n"
                     "field 1 0123456789\n"
                     "key 0x0D\n"
                     "wait BOLT M8 X 40 ZINC --row 8\n"
                     "expect 9 1 Pick from A0703\n"
                     "cursor 5 15\n"
                     "dump\n"
                     "fn 3\n"
                     "wait Goodbye, CLERK\n",
         {},
         kSessionDone,
         {},
         {"\"screen\": [\n    \"  PICKING  Order 10042 ", "\"currentField\": 2",
          "\"events\": [\n    \"trigger 1\",\n    \"sound 1\"\n  ]"}},
        {"VT: the host closes under the script",
         DemoProtocol::Vt,
         kVtSignOn + "char exit\nkey 0x0D\nwait never shown\nchar 1\n",
         {},
         kSessionHostClosed,
         {"Server Closed!\nquillnet-session: line 10: the connection has ended\n"},
         {}},
        {"5250: the host closes under the script",
         DemoProtocol::Tn5250,
         kTnSignOn + "fn 3\nwait never shown\n",
         {},
         kSessionHostClosed,
         {"Server Closed!\nquillnet-session: line 11: the connection has ended\n",
          "Signed off. Goodbye, CLERK."},
         {}},
        {"5250: a wait that times out prints the screen",
         DemoProtocol::Tn5250,
         "wait never shown --timeout 0.3\n",
         {},
         kSessionWaitTimedOut,
         {"quillnet-session: line 1: wait: \"never shown\" not on the screen after 0.3 s\n",
          " QUILLNET SIGN ON"},
         {}},
        {"5250: an unknown item, its error message, Reset",
         DemoProtocol::Tn5250,
         kTnSignOn + "scan 999\nkey 0x0D\nwait Item 999 not found. --row 23\n"
                     "key 0x1B   # Escape: Reset\nexpect 23 0 \\x20\\x20\\x20\\x20\\x20\n"
                     "scan 4006381333931\nkey 0x0D\nwait PENCIL HB\n",
         {},
         kSessionDone,
         {},
         {}},
        {"VT: the global time-out ends a wait that would outlast it",
         DemoProtocol::Vt,
         "wait never shown --timeout 30\n",
         {"--timeout", "0.4"},
         kSessionTimedOut,
         {"quillnet-session: line 1: timed out after 0.4 s (--timeout)\n", "login:"},
         {}},
        {"VT: nothing is typed after the script's own disconnect",
         DemoProtocol::Vt,
         "wait login:\ndisconnect\nchar guest\n",
         {},
         kSessionNoConnection,
         {"quillnet-session: line 3: not connected (the script disconnected)\n"},
         {}},
        {"5250: a field that holds something else",
         DemoProtocol::Tn5250,
         "wait SIGN ON\nchar ab\nfield 1 AC\nfield 3 x\n",
         {},
         kSessionCheckFailed,
         {"quillnet-session: line 3: field 1: \"AC\" expected, it holds \"AB\"\n"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Served served(c.protocol);
        ASSERT_TRUE(served.host.listening());
        const Outcome o = session(c.protocol == DemoProtocol::Vt ? "vt" : "5250",
                                  served.host.port(), c.script, c.extra);
        EXPECT_EQ(o.status, c.status) << o.err;
        for (const std::string& piece : c.err)
            EXPECT_NE(o.err.find(piece), std::string::npos) << piece << "\n" << o.err;
        for (const std::string& piece : c.out)
            EXPECT_NE(o.out.find(piece), std::string::npos) << piece << "\n" << o.out;
        if (c.status == kSessionDone) {
            EXPECT_EQ(o.err.find("quillnet-session"), std::string::npos) << o.err;
        }
    }
}

// Both demo hosts over TLS with a certificate of the test's CA; the tool trusts it through
// --ca-file, refuses it without, and takes it unchecked with --insecure.
TEST(SessionTool, OverTls) {
    if (const std::string why = test::tlsRigMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TestCertificates certificates;
    ASSERT_TRUE(certificates.ok());
    // No connections.ini of the machine's own takes part.
    const auto home = std::filesystem::temp_directory_path() / "qn-session-tls-home";
    std::filesystem::create_directories(home);
    ::setenv("QUILLNET_HOME", home.c_str(), 1);
    struct TlsCase {
        const char* name;
        DemoProtocol protocol;
        bool tlsHost;
        std::vector<std::string> extra;
        int status;
        std::string err;
    };
    const std::string ca = certificates.ca().string();
    const TlsCase cases[] = {
        {"VT with the CA file",
         DemoProtocol::Vt,
         true,
         {"--tls", "--ca-file", ca},
         kSessionDone,
         ""},
        {"5250 with the CA file",
         DemoProtocol::Tn5250,
         true,
         {"--tls", "--ca-file", ca},
         kSessionDone,
         ""},
        {"an unknown CA",
         DemoProtocol::Vt,
         true,
         {"--tls"},
         kSessionConnectionLost,
         "Certificate not trusted: unable to get local issuer certificate\n"},
        {"checks off", DemoProtocol::Tn5250, true, {"--tls", "--insecure"}, kSessionDone, ""},
        {"a plain host",
         DemoProtocol::Vt,
         false,
         {"--tls", "--ca-file", ca},
         kSessionConnectionLost,
         "TLS handshake failed: "},
    };
    for (const TlsCase& c : cases) {
        SCOPED_TRACE(c.name);
        DemoHostOptions options = Served::options(c.protocol);
        if (c.tlsHost) {
            options.tlsCert = certificates.server().string();
            options.tlsKey = certificates.key().string();
        }
        DemoHost host(options);
        ASSERT_TRUE(host.listening());
        std::thread thread([&] { host.run(); });
        std::vector<std::string> extra = c.extra;
        extra.insert(extra.end(), {"--timeout", "10"});
        const Outcome o = session(c.protocol == DemoProtocol::Vt ? "vt" : "5250", host.port(),
                                  c.protocol == DemoProtocol::Vt ? kVtSignOn : kTnSignOn, extra);
        host.stop();
        thread.join();
        EXPECT_EQ(o.status, c.status) << o.err;
        if (c.err.empty()) {
            EXPECT_EQ(o.err, "");
        } else {
            EXPECT_EQ(o.err.rfind(c.err, 0), 0u) << o.err;
        }
    }
    ::unsetenv("QUILLNET_HOME");
    std::filesystem::remove_all(home);
}

TEST(SessionTool, ARefusedPortIsTheProgramsMessage) {
    const std::uint16_t port = test::unusedLoopbackPort();
    for (const char* program : {"vt", "5250"}) {
        const Outcome o = session(program, port, "wait login:\n");
        EXPECT_EQ(o.status, kSessionNoConnection) << program;
        EXPECT_EQ(o.err, "Can not establish connection\n") << program;
    }
}

TEST(SessionTool, RefusedBeforeConnecting) {
    const std::uint16_t port = test::unusedLoopbackPort();
    const struct {
        const char* program;
        std::string script;
        std::vector<std::string> extra;
        std::string err;
    } cases[] = {
        {"vt", "fn 3\n", {}, "quillnet-session: line 1: step fn is not taken here\n"},
        {"vt", "field 1 x\n", {}, "quillnet-session: line 1: step field is not taken here\n"},
        {"5250", "recv 41\n", {}, "quillnet-session: line 1: step recv is not taken here\n"},
        {"5250", "\nwait\n", {}, "quillnet-session: line 2: wait needs TEXT\n"},
        {"5250", "wait x --timeout 0\n", {}, "line 1: wait --timeout needs seconds (up to 3600)"},
        {"5250", "wait x --row 24\n", {}, "line 1: wait --row needs 0 to 23\n"},
        {"vt", "expect 24 0 x\n", {}, "line 1: expect needs ROW COL TEXT\n"},
        {"vt", "cursor 1\n", {}, "line 1: cursor needs ROW 0-23 COL 0-79\n"},
        {"vt", "sleep -1\n", {}, "line 1: sleep needs MS (0 to 3600000)\n"},
        {"vt", "dump --json\n", {}, "line 1: dump takes only --text\n"},
        {"vt", "", {"--settings", "/nonexistent/x.qnvt"}, "cannot read settings"},
        {"vt", "", {"--timeout", "0"}, "--timeout: needs more than 0, up to 86400 seconds"},
        {"vt", "", {"--emulation", "vt52"}, "--emulation: must be vt100 or classic"},
        {"5250", "", {"--emulation", "classic"}, "not expected: --emulation"},
        {"vt", "", {"--host", "a-host-name-longer-than-twenty"}, "longer than the session's field"},
        {"5250", "wait ready --row 2\n", {}, "line 1: wait ready takes no --row\n"},
        {"vt", "wait login: --quiet 100\n", {}, "line 1: wait --quiet is for wait ready\n"},
        {"vt", "wait ready --quiet 0\n", {}, "line 1: wait --quiet needs MS (1 to 3600000)\n"},
        {"vt", "", {"--serve", "script.txt"}, "--serve excludes SCRIPT"},
        {"vt", "", {"--serve", "--parallel", "2"}, "--serve excludes --parallel"},
        {"5250", "", {"--parallel", "0"}, "--parallel: Value 0 not in range 1 to 1000"},
        {"5250", "", {"--parallel", "1001"}, "--parallel: Value 1001 not in range 1 to 1000"},
        {"5250", "", {"--parallel", "0x10"}, "--parallel: needs a decimal number"},
        {"5250", "", {"--ramp", "-1"}, "--ramp: needs 0 to 3600 seconds"},
        {"5250", "", {"--device-name", "QN%s"}, "--device-name: needs one %d at most"},
        {"5250", "", {"--device-name", "QN%d%d"}, "--device-name: needs one %d at most"},
        {"5250", "", {"--device-name", "QN%030d"}, "--device-name: needs one %d at most"},
        {"5250", "", {"--junit"}, "--junit: 1 required F missing"},
        {"5250", "", {"--junit", "/nonexistent/dir/r.xml"}, "cannot write /nonexistent/dir/r.xml"},
    };
    for (const auto& c : cases) {
        const Outcome o = session(c.program, port, c.script, c.extra);
        EXPECT_EQ(o.status, kSessionBadInput) << c.script;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << c.err << "\n" << o.err;
    }
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(runSessionTool({"5250", "--port", "23"}, {in, out, err}), kSessionBadInput);
    EXPECT_EQ(runSessionTool({"3270", "--host", "127.0.0.1"}, {in, out, err}), kSessionBadInput);
}

// The program itself: its exit status and standard error.
TEST(SessionTool, CommandLine) {
    const std::string bin = QN_TEST_BIN_DIR "/quillnet-session";
    const auto errFile =
        std::filesystem::temp_directory_path() /
        ("qn_session_cli_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    auto run = [&](const std::string& args) {
        const int status =
            std::system((bin + " " + args + " </dev/null 2>" + errFile.string()).c_str());
        std::ifstream in(errFile);
        std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return std::pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, err);
    };
    const std::uint16_t port = test::unusedLoopbackPort();
    EXPECT_EQ(run("5250 --host 127.0.0.1 --port " + std::to_string(port)),
              std::pair(kSessionNoConnection, std::string("Can not establish connection\n")));
    EXPECT_EQ(run("vt").first, kSessionBadInput);
    std::filesystem::remove(errFile);
}

}  // namespace
}  // namespace qn::tools
