#include "vt/transport/vt_transport.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "tests/support/fake_services.h"
#include "tests/support/loopback_host.h"

namespace qn::vt {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

// A screen the test writes; data bytes are recorded.
class FakeTerminal final : public VtTerminal {
  public:
    void data(std::span<const std::uint8_t> bytes) override {
        received.insert(received.end(), bytes.begin(), bytes.end());
        // A line of host output lands on the cursor row, as a prompt would.
        for (std::uint8_t b : bytes) {
            if (b == '\n') {
                row.fill(0);
                column = 0;
            } else if (b >= 0x20 && column < row.size()) {
                row[column++] = b;
            }
        }
    }
    void reset() override {
        ++resets;
        row.fill(0);
        column = 0;
    }
    int cursorRow() const override { return 3; }
    std::span<const std::uint8_t> rowText(int) const override { return row; }
    void clearScreenChars() override { ++clears; }

    Bytes received;
    std::array<std::uint8_t, 80> row{};
    std::size_t column = 0;
    int resets = 0;
    int clears = 0;
};

class RecordingView final : public telnet::ConnectionView {
  public:
    void connected() override { add("connected"); }
    void chunkReceived() override { ++chunks; }
    void disconnected() override { add("disconnected"); }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::atomic<int> chunks{0};

  private:
    void add(const char* event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    std::mutex mutex;
    std::vector<std::string> events;
};

class RecordingTrigger final : public telnet::TriggerSwitch {
  public:
    void setTriggerKey(int on) override {
        std::lock_guard lock(mutex);
        calls.push_back(on);
    }
    std::vector<int> get() {
        std::lock_guard lock(mutex);
        return calls;
    }
    std::mutex mutex;
    std::vector<int> calls;
};

class EffectsHost final : public VtHost {
  public:
    void sendBytes(const std::uint8_t* data, std::size_t length) override {
        if (transport != nullptr) transport->sendBytes(data, length);
    }
    void playSound(int) override {}
    void vibrate(int) override {}
    void setTriggerKey(int) override {}
    std::uint32_t readerType() const override { return 0; }
    void setActiveDevice(std::uint32_t) override {}
    void beep() override {}
    void showCaret(bool) override {}
    VtTransport* transport = nullptr;
};

class LoopbackResolver final : public telnet::HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string&) override { return std::nullopt; }
};

struct Fixture {
    Fixture() {
        reader::storeText(session.settings.hostAddress, "127.0.0.1");
        session.settings.telnetPort.set(host.port());
        session.settings.localEcho = 1;
        session.settings.barcodeReaderOn = 1;
        session.settings.rfidReaderOn = 1;
        session.settingsLoaded = 1;
        effects.transport = &transport;
    }
    void setHost(std::string_view text) { reader::storeText(session.settings.hostAddress, text); }

    test::LoopbackHost host;
    test::FakeServices fakes{"", "/root"};
    platform::FakeLibraryLoader& loader = fakes.loader;
    platform::RecordingMessageBoxes& messages = fakes.messages;
    platform::RecordingSoundPlayer& sound = fakes.sound;
    platform::Services& services = fakes.services;
    VtSession session;
    std::mutex sessionLock;
    FakeTerminal terminal;
    EffectsHost effects;
    DeferredVtHost deferred{effects};
    RecordingView view;
    RecordingTrigger trigger;
    LoopbackResolver resolver;
    VtTransport transport{
        {services, session, sessionLock, terminal, deferred, view, trigger, resolver, 0ms}};
};

platform::ShownMessage error(const char* text) {
    return {text, "Error", platform::MbButtons::Ok, platform::MbIcon::Exclamation};
}

struct HostTextCase {
    const char* host;
    const char* message;
};

class ConnectFailureTest : public ::testing::TestWithParam<HostTextCase> {};

TEST_P(ConnectFailureTest, ShowsTheErrorAndStaysDisconnected) {
    Fixture f;
    f.setHost(GetParam().host);
    f.transport.connectSession();
    EXPECT_FALSE(f.transport.connected());
    EXPECT_THAT(f.messages.shown(), ElementsAre(error(GetParam().message)));
    EXPECT_THAT(f.trigger.get(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(HostTexts, ConnectFailureTest,
                         ::testing::Values(HostTextCase{"10.0.0.1x", "Invalid Host IP given."},
                                           HostTextCase{"1host", "Invalid Host IP given."},
                                           HostTextCase{"255.255.255.255",
                                                        "Invalid Host IP given."},
                                           HostTextCase{"no-such-host", "Host IP error !!"}));

TEST(VtTransport, RefusedConnection) {
    Fixture f;
    f.session.settings.telnetPort.set(test::unusedLoopbackPort());
    f.transport.connectSession();
    EXPECT_FALSE(f.transport.connected());
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Can not establish connection")));
}

TEST(VtTransport, PortIsReadLittleEndian) {
    Fixture f;
    const std::uint16_t port = f.host.port();
    f.session.settings.telnetPort.raw = {static_cast<std::uint8_t>(port & 0xFF),
                                         static_cast<std::uint8_t>(port >> 8)};
    f.transport.connectSession();
    EXPECT_TRUE(f.host.waitForClient());
    EXPECT_TRUE(f.transport.connected());
}

TEST(VtTransport, ConnectResetsTriggersAndNegotiates) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    EXPECT_TRUE(f.transport.connected());
    EXPECT_EQ(f.terminal.resets, 1);
    EXPECT_THAT(f.view.get(), ElementsAre("connected"));
    EXPECT_THAT(f.trigger.get(), ElementsAre(0, 1));
    EXPECT_THAT(f.messages.shown(), IsEmpty());

    // sgaAgreed starts set: DO SGA gets no answer; the next negotiation is answered.
    f.host.send(Bytes{255, 253, 3, 255, 253, 24, 'o', 'k'});
    Bytes got = f.host.waitForBytes(3);
    EXPECT_EQ(got, (Bytes{255, 251, 24}));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(f.sessionLock);
        return f.terminal.received == Bytes{'o', 'k'};
    }));
    EXPECT_EQ(f.session.localEchoActive, 0);
}

TEST(VtTransport, TriggerStaysOffUnderHostControl) {
    Fixture f;
    f.session.settings.triggerByEscCmd = 1;
    f.transport.connectSession();
    EXPECT_THAT(f.trigger.get(), ElementsAre(0));
}

TEST(VtTransport, TriggerStaysOffWithBothReadersOff) {
    Fixture f;
    f.session.settings.barcodeReaderOn = 0;
    f.session.settings.rfidReaderOn = 0;
    f.transport.connectSession();
    EXPECT_THAT(f.trigger.get(), ElementsAre(0));
}

TEST(VtTransport, ServerClosed) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.closeClient();
    ASSERT_TRUE(
        eventually([&] { return !f.transport.connected() && f.messages.shown().size() == 1; }));
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Server Closed!")));
    EXPECT_TRUE(eventually([&] { return f.trigger.get().size() == 3; }));
    EXPECT_THAT(f.trigger.get(), ElementsAre(0, 1, 0));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(f.sessionLock);
        return f.terminal.clears == 1;
    }));
}

TEST(VtTransport, UserDisconnectDuringReceiveIsSilent) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::this_thread::sleep_for(20ms);  // the read thread is blocked in its receive
    f.messages.queueAnswer(platform::MbResult::No);
    EXPECT_FALSE(f.transport.disconnectCommand());
    EXPECT_TRUE(f.transport.connected());
    f.session.localEchoActive = 0;
    EXPECT_TRUE(f.transport.disconnectCommand());
    EXPECT_FALSE(f.transport.connected());
    EXPECT_EQ(f.session.localEchoActive, 1);
    EXPECT_TRUE(f.host.waitForClientClose());
    std::this_thread::sleep_for(50ms);
    auto shown = f.messages.shown();
    ASSERT_EQ(shown.size(), 2u) << "only the two questions";
    EXPECT_EQ(shown[0].text, "Disconnect the session?");
    EXPECT_EQ(shown[0].buttons, platform::MbButtons::YesNo);
}

TEST(VtTransport, MacroFrameOfTenBytesHasNoTerminator) {
    Fixture f;
    std::string frame = "0123456789";
    std::copy(frame.begin(), frame.end(), f.session.settings.macroFrame.begin());
    f.transport.connectSession();
    EXPECT_EQ(f.host.waitForBytes(10), Bytes(frame.begin(), frame.end()));
    EXPECT_THAT(f.messages.texts(), ElementsAre("MicroFrame"));
}

TEST(VtTransport, ShortMacroFrameStopsAtItsTerminator) {
    Fixture f;
    reader::storeText(f.session.settings.macroFrame, "go\r");
    f.transport.connectSession();
    EXPECT_EQ(f.host.waitForBytes(3), (Bytes{'g', 'o', '\r'}));
}

TEST(VtTransport, DefaultKeyMapOnFirstConnect) {
    Fixture f;
    f.session.settingsLoaded = 0;
    f.session.settings.keyFunctionTable.fill(0xAA);
    f.transport.connectSession();
    EXPECT_EQ(f.session.settingsLoaded, 1);
    const auto& table = f.session.settings.keyFunctionTable;
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::uint8_t expected = (i >= 4 && i <= 61 && (i - 4) % 3 == 0)
                                    ? static_cast<std::uint8_t>((i - 4) / 3 + 1)
                                    : 0;
        EXPECT_EQ(table[i], expected) << i;
    }
}

struct SignOnCase {
    const char* name;
    const char* loginName;
    const char* loginPrompt;
    const char* passwordPrompt;
    std::vector<std::string> hostLines;  // each sent as its own chunk, waited for
    std::string expected;
};

class SignOnTest : public ::testing::TestWithParam<SignOnCase> {};

TEST_P(SignOnTest, AnswersPromptsOncePerConnection) {
    const SignOnCase& c = GetParam();
    Fixture f;
    f.session.settings.autoSignOn = 1;
    reader::storeText(f.session.settings.loginName, c.loginName);
    reader::storeText(f.session.settings.loginPrompt, c.loginPrompt);
    reader::storeText(f.session.settings.passwordPrompt, c.passwordPrompt);
    reader::storeText(f.session.settings.loginPassword, "pw");
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::size_t chunks = 0;
    for (const auto& line : c.hostLines) {
        f.host.send(line);
        ++chunks;
        ASSERT_TRUE(
            eventually([&] { return static_cast<std::size_t>(f.view.chunks.load()) >= chunks; }));
    }
    f.host.waitForBytes(c.expected.size());
    std::this_thread::sleep_for(30ms);  // and nothing more follows
    Bytes got = f.host.received();
    EXPECT_EQ(std::string(got.begin(), got.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, SignOnTest,
    ::testing::Values(
        SignOnCase{"LoginThenPassword",
                   "guest",
                   "login:",
                   "Password:",
                   {"\nlogin: ", "\nPassword: "},
                   "guest\r\npw\r\n"},
        SignOnCase{"SecondLoginPromptIgnored",
                   "guest",
                   "login:",
                   "Password:",
                   {"\nlogin: ", "\nlogin: "},
                   "guest\r\n"},
        SignOnCase{"PasswordWithoutName",
                   "",
                   "login:",
                   "Password:",
                   {"\nlogin: ", "\nPassword: "},
                   "pw\r\n"},
        SignOnCase{"PromptMustStartTheRow", "guest", "login:", "Password:", {"\nxx login: "}, ""},
        SignOnCase{
            "EmptyPromptsMatchEveryRow", "guest", "", "", {"\nanything"}, "guest\r\npw\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VtTransport, SendWithoutConnectionIsSilent) {
    Fixture f;
    const Bytes data{'x'};
    f.transport.sendBytes(data);
    EXPECT_THAT(f.messages.shown(), IsEmpty());
}

TEST(VtTransport, ReconnectAfterServerClose) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.closeClient();
    ASSERT_TRUE(eventually([&] { return !f.transport.connected(); }));
    test::LoopbackHost second;
    f.session.settings.telnetPort.set(second.port());
    f.transport.connectSession();
    ASSERT_TRUE(second.waitForClient());
    EXPECT_TRUE(f.transport.connected());
    second.send(Bytes{255, 253, 1});
    EXPECT_EQ(second.waitForBytes(3), (Bytes{255, 252, 1}));
}

}  // namespace
}  // namespace qn::vt
