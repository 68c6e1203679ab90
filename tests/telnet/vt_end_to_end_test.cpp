// The VT connection with the real emulator behind it, against a scripted loopback host: host
// output on the screen, replies on the wire, device commands reaching the device layer, and the
// automatic sign-on answering a login screen the emulator drew.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_services.h"
#include "tests/support/loopback_host.h"
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

    test::LoopbackHost host;
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

}  // namespace
}  // namespace qn::vt
