// The VT connection with the real emulator behind it, against a scripted loopback host: host
// output on the screen, replies on the wire, device commands reaching the device layer, the
// automatic sign-on answering a login screen the emulator drew, and hosts that misbehave:
// resets, trickles, silence, endless sub-negotiations, floods, refusals, a close under a scan.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/fake_services.h"
#include "tests/support/fault_host.h"
#include "tests/support/real_telnet_server.h"
#include "tests/support/tls_rig.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/session_host.h"

namespace qn::vt {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

class NoView final : public telnet::ConnectionView, public VtViewSignals {
  public:
    void connected() override {}
    void chunkReceived() override { ++chunks; }
    void disconnected() override {}
    void beep() override { ++beeps; }
    void showCaret(bool) override {}
    std::atomic<int> chunks{0};
    std::atomic<int> beeps{0};
};

class NoResolver final : public telnet::HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string&) override { return std::nullopt; }
};

std::mutex gReaderMutex;
std::vector<std::string> gReaderCalls;
int fakeInitReader() {
    return 1;
}
int fakeGetReaderType() {
    return 0x15;
}
int fakeSetTriggerKey(int on) {
    std::lock_guard lock(gReaderMutex);
    gReaderCalls.push_back("trigger " + std::to_string(on));
    return 1;
}
int fakeSetActiveDevice(int mask) {
    std::lock_guard lock(gReaderMutex);
    gReaderCalls.push_back("active " + std::to_string(mask));
    return 1;
}
std::vector<std::string> readerCalls() {
    std::lock_guard lock(gReaderMutex);
    return gReaderCalls;
}

struct Session {
    Session() {
        {
            std::lock_guard lock(gReaderMutex);
            gReaderCalls.clear();
        }
        loader.add("/root/ScanSvc_CE.so",
                   {{{"InitReader", platform::symbolAddress(&fakeInitReader)},
                     {"GetReaderType", platform::symbolAddress(&fakeGetReaderType)},
                     {"SetTriggerKey", platform::symbolAddress(&fakeSetTriggerKey)},
                     {"SetActiveDevice", platform::symbolAddress(&fakeSetActiveDevice)}}});
        reader.load();
        reader.initialise();
        auto& s = session.settings;
        reader::storeText(s.hostAddress, "127.0.0.1");
        s.telnetPort.set(host.port());
        reader::storeText(s.terminalType, "vt100");
        reader::storeText(s.enableCommand, "\033[99h");
        reader::storeText(s.disableCommand, "\033[99l");
        s.barcodeReaderOn = 1;
        s.rfidReaderOn = 1;
        s.localEcho = 1;
        session.settingsLoaded = 1;
        sessionHost.attach(&transport);
    }
    ~Session() { sessionHost.attach(nullptr); }

    std::string row(int r) {
        std::lock_guard lock(sessionLock);
        auto chars = emulator.screen().rowChars(r);
        std::string text;
        for (auto c : chars)
            text += c == 0 ? ' ' : static_cast<char>(c);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    test::FaultHost host;
    test::FakeServices fakes{"", "/root"};
    platform::FakeLibraryLoader& loader = fakes.loader;
    platform::RecordingMessageBoxes& messages = fakes.messages;
    platform::RecordingSoundPlayer& sound = fakes.sound;
    platform::Services& services = fakes.services;
    device::DeviceLayer device{services};
    reader::ReaderLibrary reader{services};
    VtSession session;
    std::mutex sessionLock;
    NoView view;
    VtSessionHost sessionHost{device, reader, view};
    DeferredVtHost deferred{sessionHost};
    VtEmulator emulator{session.settings, deferred};
    EmulatorTerminal terminal{emulator};
    NoResolver resolver;
    VtTransport transport{
        {services, session, sessionLock, terminal, deferred, view, sessionHost, resolver, 0ms}};
};

TEST(VtEndToEnd, HostOutputRepliesAndDeviceCommands) {
    Session s;
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());

    // Negotiation, text, the identify request and answerback, all in one receive.
    s.host.send(Bytes{255, 253, 24});
    s.host.send("\033[2J\033[5;10HHello\033Z\005");
    Bytes expected{255, 251, 24, 0x1B, '/', 'Z'};
    for (char c : std::string("qarnebt"))
        expected.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(s.host.waitForBytes(expected.size()), expected);
    ASSERT_TRUE(eventually([&] { return s.row(4) == "         Hello"; }));

    // Device commands: a sound, then the readers switched (RFID on: mask & 0x27).
    s.host.send("\033[1;6]\033[2;1]");
    ASSERT_TRUE(eventually([&] { return s.sound.events().size() >= 2; }));
    EXPECT_THAT(s.sound.events(), ElementsAre("stop", "play VoicBeep.wav"));
    ASSERT_TRUE(eventually([&] { return readerCalls().size() >= 3; }));
    EXPECT_THAT(readerCalls(), ElementsAre("trigger 0", "trigger 1", "active 5"));
}

TEST(VtEndToEnd, ReaderCommandsSwitchTheTriggerOnlyUnderHostControl) {
    for (std::uint8_t byHost : {0, 1}) {
        Session s;
        s.session.settings.triggerByEscCmd = byHost;
        s.transport.connectSession();
        ASSERT_TRUE(s.host.waitForClient());
        s.host.send("\033[99l\033[99hX");
        ASSERT_TRUE(eventually([&] { return s.row(0) == "X"; }));
        std::this_thread::sleep_for(20ms);
        if (byHost) {
            EXPECT_THAT(readerCalls(), ElementsAre("trigger 0", "trigger 0", "trigger 1"));
        } else {
            EXPECT_THAT(readerCalls(), ElementsAre("trigger 0", "trigger 1"));
        }
    }
}

TEST(VtEndToEnd, SignsOnAgainstALoginScreen) {
    Session s;
    auto& settings = s.session.settings;
    settings.autoSignOn = 1;
    reader::storeText(settings.loginName, "guest");
    reader::storeText(settings.loginPrompt, "login:");
    reader::storeText(settings.passwordPrompt, "Password:");
    reader::storeText(settings.loginPassword, "secret");
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());

    // A banner with "login:" off the cursor's row must not be answered.
    s.host.send("\033[H\033[2Jlogin: is below\r\n\r\nWelcome\r\n");
    ASSERT_TRUE(eventually([&] { return s.view.chunks.load() >= 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(s.host.received().empty());

    s.host.send("login: ");
    EXPECT_EQ(s.host.waitForBytes(7), (Bytes{'g', 'u', 'e', 's', 't', '\r', '\n'}));
    s.host.send("guest\r\nPassword: ");
    auto got = s.host.waitForBytes(15);
    EXPECT_EQ(std::string(got.begin(), got.end()), "guest\r\nsecret\r\n");
    s.host.send("\r\nlogin: ");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(s.host.received().size(), 15u) << "each prompt is answered once per connection";
}

TEST(VtEndToEnd, DisconnectClearsTheScreenAndTheTrigger) {
    Session s;
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());
    s.host.send("text");
    ASSERT_TRUE(eventually([&] { return s.row(0) == "text"; }));
    s.transport.disconnectSession();
    EXPECT_EQ(s.row(0), "");
    EXPECT_THAT(readerCalls(), ElementsAre("trigger 0", "trigger 1", "trigger 0"));
    EXPECT_TRUE(s.host.waitForClientClose());
}

// ---- Faulty hosts. Every wait is bounded; each case ends in the transport's own message.

platform::ShownMessage error(const char* text) {
    return {text, "Error", platform::MbButtons::Ok, platform::MbIcon::Exclamation};
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

const Bytes kTerminalTypeVt100{255, 250, 24, 0, 'v', 't', '1', '0', '0', 255, 240};

// The read thread has stopped: no further chunk reaches the view.
bool readThreadStopped(Session& s) {
    int before = s.view.chunks.load();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(20ms);
        const int now = s.view.chunks.load();
        if (now == before) return true;
        before = now;
    }
    return false;
}

struct ResetCase {
    const char* name;
    Bytes beforeReset;      // the host's last output, cut short
    std::string shownRow0;  // what reached the screen before the reset
    Bytes answers;          // what the terminal answered before the reset
};

TEST(VtFaults, AResetMidStreamEndsWithTheErrorAndTheNextConnectionStartsClean) {
    const ResetCase cases[] = {
        {"mid-sub-negotiation", {'o', 'k', 255, 250, 24, 1, 1, 1}, "ok", kTerminalTypeVt100},
        {"mid-escape", {'o', 'k', 0x1B, '[', '1', ';'}, "ok", {}},
        // The next host's first command must not be read as the second byte of this one.
        {"after a lone IAC", {'o', 'k', 255}, "ok", {}},
    };
    for (const ResetCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.transport.connectSession();
        ASSERT_TRUE(s.host.waitForClient());
        s.host.send(c.beforeReset);
        ASSERT_TRUE(eventually([&] { return s.row(0) == c.shownRow0; }, 2s));
        EXPECT_EQ(s.host.waitForBytes(c.answers.size(), 1s), c.answers);
        const auto start = std::chrono::steady_clock::now();
        s.host.resetClient();
        ASSERT_TRUE(eventually([&] { return !s.transport.connected(); }, 2s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        ASSERT_TRUE(eventually([&] { return s.messages.shown().size() == 1; }, 2s));
        EXPECT_THAT(s.messages.shown(), ElementsAre(error("Can not establish connection!")));
        EXPECT_EQ(s.row(0), "") << "the teardown clears the screen";

        // A host that negotiates (as every one does) finds the terminal in order again.
        test::LoopbackHost next;
        s.session.settings.telnetPort.set(next.port());
        s.transport.connectSession();
        ASSERT_TRUE(next.waitForClient());
        next.send(Bytes{255, 250, 24, 1, 255, 240});
        next.send("\033[1;1Hnext");
        EXPECT_EQ(next.waitForBytes(kTerminalTypeVt100.size(), 2s), kTerminalTypeVt100);
        EXPECT_TRUE(eventually([&] { return s.row(0) == "next"; }, 2s)) << s.row(0);
    }
}

TEST(VtFaults, AScreenTrickledOneByteAtATimeArrivesWhole) {
    Session s;
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());
    s.host.trickle(bytesOf("\033[H\033[2J\033[1;1HScan item:\033[24;1H\033[7mF1=Exit\033[m"
                           "\033[1;12H"),
                   200us);
    // The last byte sent moves the cursor back behind the prompt.
    auto cursorColumn = [&] {
        std::lock_guard lock(s.sessionLock);
        return s.emulator.screen().cursorCol;
    };
    ASSERT_TRUE(eventually([&] { return s.row(23) == "F1=Exit" && cursorColumn() == 11; }, 2s));
    EXPECT_EQ(s.row(0), "Scan item:");
    s.host.closeClient();
    ASSERT_TRUE(eventually([&] { return s.messages.shown().size() == 1; }, 2s));
    EXPECT_THAT(s.messages.shown(), ElementsAre(error("Server Closed!")));
}

TEST(VtFaults, ASilentHostNeverHoldsUpTheUserDisconnect) {
    Session s;
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());
    std::this_thread::sleep_for(30ms);  // the read thread waits in its receive
    s.messages.queueAnswer(platform::MbResult::Yes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.transport.disconnectCommand());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(s.transport.connected());
    EXPECT_TRUE(s.host.waitForClientClose(1s));
    EXPECT_TRUE(readThreadStopped(s));
    ASSERT_EQ(s.messages.texts(), std::vector<std::string>{"Disconnect the session?"});
}

// An endless host output: the stream is measured while it runs, then the user disconnects.
struct EndlessCase {
    const char* name;
    Bytes start;                      // sent once, first
    test::FaultHost::Generator more;  // then this, without end
    std::size_t maxAnswerBytes;       // what the terminal may answer in all
};

constexpr std::size_t kNoFixedBound = SIZE_MAX;  // bounded by what the host sent

TEST(VtFaults, EndlessOutputKeepsAnswersAndMemoryBoundedAndTheDisconnectHonoured) {
    const EndlessCase cases[] = {
        // One request of megabytes, every payload byte a SEND: one answer.
        {"endless terminal-type request",
         {255, 250, 24},
         test::repeatedBytes(1),
         kTerminalTypeVt100.size()},
        // A window-size sub-negotiation without end: its payload is data for the emulator.
        {"endless window-size payload", {255, 250, 31}, test::repeatedBytes('w'), 0},
        // Random bytes: answers to what they happen to ask, never more than they carry.
        {"random flood", {}, test::randomBytes(18), kNoFixedBound},
    };
    for (const EndlessCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.transport.connectSession();
        ASSERT_TRUE(s.host.waitForClient());
        s.host.send(c.start);
        s.host.startStream(c.more);
        ASSERT_TRUE(eventually([&] { return s.host.streamed() > 500'000; }, 15s));
        const std::int64_t heapEarly = test::liveHeapBytes();
        ASSERT_TRUE(eventually([&] { return s.host.streamed() > 2'500'000; }, 15s));
        EXPECT_LT(test::liveHeapBytes() - heapEarly, 256 * 1024) << "memory stays flat";
        EXPECT_TRUE(s.transport.connected());
        EXPECT_GT(heapEarly, 0);
        EXPECT_LE(s.host.received().size(),
                  c.maxAnswerBytes == kNoFixedBound ? s.host.streamed() : c.maxAnswerBytes);

        s.messages.queueAnswer(platform::MbResult::Yes);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(s.transport.disconnectCommand());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_TRUE(readThreadStopped(s)) << "the read thread ends within its pass";
        EXPECT_TRUE(eventually([&] { return s.host.streamEnded(); }, 2s));
        EXPECT_EQ(s.messages.texts(), std::vector<std::string>{"Disconnect the session?"});
    }
}

TEST(VtFaults, ARefusedPortIsReportedAtOnce) {
    Session s;
    s.session.settings.telnetPort.set(test::unusedLoopbackPort());
    const auto start = std::chrono::steady_clock::now();
    s.transport.connectSession();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(s.transport.connected());
    EXPECT_THAT(s.messages.shown(), ElementsAre(error("Can not establish connection")));
}

TEST(VtFaults, AHostClosingWhileScansAreSentGetsEveryScanWhole) {
    Session s;
    s.transport.connectSession();
    ASSERT_TRUE(s.host.waitForClient());
    std::thread closer([&] {
        s.host.waitForBytes(200);
        s.host.closeClient();
    });
    // Scans go out on this (the UI) thread as fast as they come, until the connection ends.
    std::string sent;
    for (int i = 0; i < 100000 && s.transport.connected(); ++i) {
        char scan[16];
        std::snprintf(scan, sizeof scan, "S%06d\r", i);
        s.transport.sendBytes(reinterpret_cast<const std::uint8_t*>(scan), 8);
        sent += scan;
    }
    closer.join();
    ASSERT_TRUE(eventually([&] { return !s.transport.connected(); }, 2s));
    ASSERT_TRUE(eventually([&] { return s.messages.shown().size() == 1; }, 2s));
    EXPECT_THAT(s.messages.shown(), ElementsAre(error("Server Closed!")));
    ASSERT_TRUE(s.host.waitForClientClose(2s));
    const Bytes got = s.host.received();
    ASSERT_GE(got.size(), 200u);
    EXPECT_EQ(got.size() % 8, 0u) << "no scan cut short";
    EXPECT_EQ(std::string(got.begin(), got.end()), sent.substr(0, got.size()))
        << "in order, none lost before the close";
}

// ---- A real telnet server and a real shell.

// The keyboard as the view drives it, straight onto the transport.
class KeyboardOnTransport final : public KeyboardLink, public KeyboardView {
  public:
    explicit KeyboardOnTransport(VtTransport& transport) : transport_(transport) {}
    bool socketOpen() const override { return transport_.connected(); }
    void sendBytes(std::span<const std::uint8_t> bytes) override { transport_.sendBytes(bytes); }
    void runDeferred() override { transport_.runDeferred(); }
    void invalidate() override {}
    void placeCaret() override {}
    void repaintAfterKey() override {}
    void frameEscape() override {}

  private:
    VtTransport& transport_;
};

TEST(VtRealServer, ATypedCommandLineAgainstARealShellThenLogout) {
    if (!test::RealTelnetServer::available()) {
        GTEST_SKIP() << "no telnet server at " << test::RealTelnetServer::kTelnetd
                     << " (scripts/setup installs inetutils-telnetd)";
    }
    Session s;
    test::RealTelnetServer server;
    s.session.settings.telnetPort.set(server.port());
    reader::storeText(s.session.settings.terminalType, "vt100");
    KeyboardOnTransport keys(s.transport);
    VtKeyboard keyboard(s.session, s.sessionLock, s.emulator, keys, keys);

    s.transport.connectSession();
    ASSERT_TRUE(s.transport.connected());
    ASSERT_TRUE(server.serveOne());
    // The shell's own prompt ("#" or "$").
    ASSERT_TRUE(eventually([&] { return !s.row(0).empty(); }, 5s));
    const std::string prompt = s.row(0);
    auto promptOn = [&](int row) { return s.row(row) == prompt; };
    {
        std::lock_guard lock(s.sessionLock);
        EXPECT_EQ(s.session.localEchoActive, 0) << "the negotiation turned local echo off";
    }

    // Typed at once, faster than the echo comes back: characters, then Return as a key-down.
    for (char c : std::string("echo $TERM; stty size"))
        keyboard.character(static_cast<std::uint8_t>(c));
    keyboard.keyDown(vk::kReturn);
    ASSERT_TRUE(eventually([&] { return promptOn(3); }, 5s)) << s.row(0) << "|" << s.row(3);
    EXPECT_EQ(s.row(0), prompt + " echo $TERM; stty size");
    EXPECT_EQ(s.row(1), "vt100");
    EXPECT_EQ(s.row(2), "24 80");

    for (char c : std::string("exit"))
        keyboard.character(static_cast<std::uint8_t>(c));
    keyboard.keyDown(vk::kReturn);
    ASSERT_TRUE(eventually([&] { return !s.messages.shown().empty(); }, 5s));
    EXPECT_THAT(s.messages.shown(), ElementsAre(error("Server Closed!")));
    EXPECT_FALSE(s.transport.connected());
    EXPECT_TRUE(server.waitForExit());
}

// The same shell through stunnel: the certificate checked against the test's CA from
// connections.ini, the host text's "tls:" prefix asking for TLS, the host's entry choosing the
// emulation rules.
TEST(VtRealServer, SignOnThroughTls) {
    if (!test::RealTelnetServer::available()) {
        GTEST_SKIP() << "no telnet server at " << test::RealTelnetServer::kTelnetd;
    }
    if (const std::string why = test::tlsRigMissing(); !why.empty()) GTEST_SKIP() << why;
    test::TestCertificates certificates;
    ASSERT_TRUE(certificates.ok());
    test::RealTelnetServer server;
    test::Stunnel tunnel({certificates.server(), certificates.key(), server.port(), {}});
    ASSERT_TRUE(tunnel.running());
    const auto home = certificates.path("home");
    std::filesystem::create_directories(home);
    std::ofstream(home / "connections.ini")
        << "[127.0.0.1]\nca-file = " << certificates.ca().string() << "\nemulation = classic\n";
    ::setenv("QUILLNET_HOME", home.c_str(), 1);

    Session s;
    ASSERT_EQ(s.emulator.emulation(), VtEmulation::Vt100);
    reader::storeText(s.session.settings.hostAddress, "tls:127.0.0.1");
    s.session.settings.telnetPort.set(tunnel.port());
    KeyboardOnTransport keys(s.transport);
    VtKeyboard keyboard(s.session, s.sessionLock, s.emulator, keys, keys);
    s.transport.connectSession();
    ::unsetenv("QUILLNET_HOME");
    ASSERT_TRUE(s.transport.connected()) << ::testing::PrintToString(s.messages.texts());
    EXPECT_EQ(s.emulator.emulation(), VtEmulation::Classic);
    ASSERT_TRUE(server.serveOne());
    ASSERT_TRUE(eventually([&] { return !s.row(0).empty(); }, 5s));
    const std::string prompt = s.row(0);
    for (char c : std::string("echo $TERM"))
        keyboard.character(static_cast<std::uint8_t>(c));
    keyboard.keyDown(vk::kReturn);
    ASSERT_TRUE(eventually([&] { return s.row(1) == "vt100"; }, 5s)) << s.row(1);
    for (char c : std::string("exit"))
        keyboard.character(static_cast<std::uint8_t>(c));
    keyboard.keyDown(vk::kReturn);
    ASSERT_TRUE(eventually([&] { return !s.messages.shown().empty(); }, 5s));
    EXPECT_THAT(s.messages.shown(), ElementsAre(error("Server Closed!")));
    EXPECT_TRUE(server.waitForExit());
}

}  // namespace
}  // namespace qn::vt
