// The 5250 connection against a scripted host on 127.0.0.1: connect and its failures, the
// trigger, negotiation and records over the socket, the redraw and sign-on hooks, teardown, and
// hosts that misbehave: resets, trickles, silence, endless sub-negotiations, floods, a close
// while records are being sent.

#include "tn5250/telnet/tn_transport.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "tests/support/fault_host.h"
#include "tests/tn5250/tn_test_support.h"

namespace qn::tn {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::join;
using test::record;
using test::reply;
using test::sba;
using test::sf;
using test::wtd;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingView final : public telnet::ConnectionView {
  public:
    void connected() override { add("connected"); }
    void chunkReceived() override { ++redraws; }
    void disconnected() override { add("disconnected"); }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::atomic<int> redraws{0};

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

  private:
    std::mutex mutex;
    std::vector<int> calls;
};

// Sends go back through the transport; alarms are counted.
class Effects final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (transport != nullptr) transport->sendBytes(bytes);
    }
    void alarm() override { ++alarms; }
    TnTransport* transport = nullptr;
    std::atomic<int> alarms{0};
};

// Resolves every name to 127.0.0.1 except "no-such-host", and remembers what it was asked.
class LoopbackResolver final : public telnet::HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string& name) override {
        std::lock_guard lock(mutex);
        asked.push_back(name);
        if (name == "no-such-host") return std::nullopt;
        in_addr address{};
        address.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    std::mutex mutex;
    std::vector<std::string> asked;
};

struct Fixture {
    // connections: the connections.ini to read at connect; empty for the settings folder's.
    explicit Fixture(std::filesystem::path connections = {})
        : connectionsFile(std::move(connections)) {
        reader::storeText(session.hostAddress, "127.0.0.1");
        session.telnetPort.set(host.port());
        session.barcodeReaderOn = 1;
        session.rfidReaderOn = 0;
        session.useDeviceName = 1;
        reader::storeText(session.deviceName, "QN01");
        effects.transport = &transport;
    }
    // Reads the screen under the session lock, as the UI would.
    template <class Read>
    auto locked(Read&& read) {
        std::lock_guard lock(sessionLock);
        return read();
    }

    qn::test::FaultHost host;
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nName=handheld\n"};
    platform::FakeLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, loader, messages, queue, clock, sound, "/root"};
    TnSession session{};
    std::mutex sessionLock;
    TnScreen screen;
    DeferredTnHost deferred;
    TnDataStream stream{screen, session, deferred};
    Effects effects;
    RecordingView view;
    RecordingTrigger trigger;
    LoopbackResolver resolver;
    std::filesystem::path connectionsFile;
    TnTransport transport{{services, session, sessionLock, stream, deferred, effects, view, trigger,
                           resolver, nullptr, connectionsFile}};
};

template <class Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

platform::ShownMessage error(const char* text) {
    return {text, "Error", platform::MbButtons::Ok, platform::MbIcon::Exclamation};
}

TEST(TnTransport, HostTextFailures) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.0.0.1x", "Invalid Host IP given."},
        {"255.255.255.255", "Invalid Host IP given."},
        {"no-such-host", "Host IP error !!"},
    };
    for (auto [hostText, message] : cases) {
        Fixture f;
        reader::storeText(f.session.hostAddress, hostText);
        f.transport.connectSession();
        EXPECT_FALSE(f.transport.connected());
        EXPECT_THAT(f.messages.shown(), ElementsAre(error(message))) << hostText;
        EXPECT_THAT(f.trigger.get(), IsEmpty());
    }
}

TEST(TnTransport, HostNamesUseAllFiftyBytes) {
    Fixture f;
    const std::string name(50, 'h');
    reader::storeText(f.session.hostAddress, name);
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::lock_guard lock(f.resolver.mutex);
    EXPECT_THAT(f.resolver.asked, ElementsAre(name));
}

TEST(TnTransport, TheScreenIsResetBeforeTheSocket) {
    Fixture f;
    f.session.telnetPort.set(qn::test::unusedLoopbackPort());
    f.screen.setChar(3, 3, 'X');
    f.screen.addField(1, 1, 0x40, 0, 0, 0, 0, 3, 0);
    f.transport.connectSession();
    EXPECT_FALSE(f.transport.connected());
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Can not establish connection")));
    EXPECT_EQ(f.screen.charAt(3, 3), 0);
    EXPECT_TRUE(f.screen.fields.empty());
}

// A host's first questions (terminal type, then the environment), and the answer of a 3179-2
// named QN01.
const Bytes kHostAsks{255, 253, 24, 255, 250, 24, 1, 255, 240, 255, 250, 39, 1, 255, 240};
const Bytes kQn01Answers = join({{255, 251, 24, 255, 250, 24, 0},
                                 {'I', 'B', 'M', '-', '3', '1', '7', '9', '-', '2'},
                                 {255, 240, 255, 250, 39, 0, 3},
                                 {'I', 'B', 'M', 'R', 'S', 'E', 'E', 'D'},
                                 {0, 3},
                                 {'D', 'E', 'V', 'N', 'A', 'M', 'E'},
                                 {1, 'Q', 'N', '0', '1', 255, 240}});

TEST(TnTransport, ConnectTriggersOnceAndNegotiates) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    EXPECT_TRUE(f.transport.connected());
    EXPECT_THAT(f.view.get(), ElementsAre("connected"));
    EXPECT_THAT(f.trigger.get(), ElementsAre(1));
    f.host.send(kHostAsks);
    EXPECT_EQ(f.host.waitForBytes(kQn01Answers.size()), kQn01Answers);
    EXPECT_THAT(f.messages.shown(), IsEmpty());
}

TEST(TnTransport, TriggerOffWithBothReadersOff) {
    Fixture f;
    f.session.barcodeReaderOn = 0;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    EXPECT_THAT(f.trigger.get(), ElementsAre(0));
}

TEST(TnTransport, RecordsInRepliesOutAndARedrawAfterEachChangingBlock) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.send(record(join({wtd(), sba(2, 3), {0xC1}, sba(4, 1), sf(0x40, 0, 0x20, 5)})));
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 1; }));
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(1, 2); }), 'A');

    // The query is answered on the read thread.
    f.host.send(record({0x04, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}));
    EXPECT_EQ(f.host.waitForBytes(73).size(), 73u);

    // An AID key on the UI thread after a read command.
    f.host.send(record({0x04, 0x52, 0x00, 0x08}));
    ASSERT_TRUE(eventually([&] { return f.locked([&] { return f.screen.state.readMode == 2; }); }));
    f.transport.withSession([&] {
        f.screen.setChar(3, 1, 'Z');
        f.screen.fields.entries()[0].ffw1 |= ffw::kModified;
        f.stream.sendAid(kAidEnter);
    });
    const Bytes aid = reply({0x04, 0x02, 0xF1, 0x11, 0x04, 0x02, 0xE9});
    const Bytes got = f.host.waitForBytes(73 + aid.size());
    EXPECT_EQ(Bytes(got.begin() + 73, got.end()), aid);
    // No pause between receives.
    EXPECT_THAT(f.clock.sleeps(), IsEmpty());
}

TEST(TnTransport, AlarmRunsOutsideTheLock) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.send(record(wtd(0x00, 0x04)));
    EXPECT_TRUE(eventually([&] { return f.effects.alarms.load() == 1; }));
}

TEST(TnTransport, ServerClosed) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.send(record(join({wtd(), sba(1, 1), {0xC1}})));
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 1; }));
    f.host.closeClient();
    ASSERT_TRUE(eventually([&] { return f.view.get().size() == 2; }));
    EXPECT_FALSE(f.transport.connected());
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Server Closed!")));
    EXPECT_THAT(f.trigger.get(), ElementsAre(1, 0));
    EXPECT_THAT(f.view.get(), ElementsAre("connected", "disconnected"));
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(0, 0); }), 0);
}

TEST(TnTransport, UserDisconnectAsksAndIsSilent) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::this_thread::sleep_for(20ms);  // the read thread is blocked in its receive
    f.messages.queueAnswer(platform::MbResult::No);
    EXPECT_FALSE(f.transport.disconnectCommand());
    EXPECT_TRUE(f.transport.connected());
    f.messages.queueAnswer(platform::MbResult::Yes);
    EXPECT_TRUE(f.transport.disconnectCommand());
    EXPECT_FALSE(f.transport.connected());
    EXPECT_TRUE(f.host.waitForClientClose());
    std::this_thread::sleep_for(50ms);
    const auto shown = f.messages.shown();
    ASSERT_EQ(shown.size(), 2u) << "only the two questions";
    EXPECT_EQ(shown[0].text, "Disconnect session?");
    EXPECT_EQ(shown[0].buttons, platform::MbButtons::YesNo);
    EXPECT_THAT(f.trigger.get(), ElementsAre(1, 0));
}

TEST(TnTransport, AutomaticSignOnOncePerConnection) {
    Fixture f;
    f.session.autoSignOn = 1;
    reader::storeText(f.session.loginName, "guest");
    reader::storeText(f.session.loginPassword, "pw");
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    // One field: the name goes in, nothing is sent.
    f.host.send(record(join({wtd(), sba(6, 20), sf(0x40, 0, 0x24, 10)})));
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 1; }));
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(5, 20); }), 'g');
    // Two fields and a read command: name and password with Enter.
    f.host.send(record(join({{0x04, 0x40},
                             wtd(),
                             sba(6, 20),
                             sf(0x40, 0, 0x24, 10),
                             sba(7, 20),
                             sf(0x40, 0, 0x27, 10),
                             {0x04, 0x52, 0x00, 0x08}})));
    const Bytes aid = reply({0x06, 0x15, 0xF1, 0x11, 0x06, 0x15, 0x87, 0xA4, 0x85, 0xA2, 0xA3, 0x11,
                             0x07, 0x15, 0x97, 0xA6});
    EXPECT_EQ(f.host.waitForBytes(aid.size()), aid);
    // Signed on: the next screen is left alone.
    f.host.send(record(join({{0x04, 0x40},
                             wtd(),
                             sba(6, 20),
                             sf(0x40, 0, 0x24, 10),
                             sba(7, 20),
                             sf(0x40, 0, 0x27, 10)})));
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 3; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(f.host.received().size(), aid.size());
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(5, 20); }), 0);
}

TEST(TnTransport, ReconnectStartsWithAFreshScreen) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.send(record(join({wtd(), sba(1, 1), {0xC1}})));
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 1; }));
    f.host.closeClient();
    ASSERT_TRUE(eventually([&] { return !f.transport.connected(); }));
    qn::test::LoopbackHost second;
    f.session.telnetPort.set(second.port());
    f.transport.connectSession();
    ASSERT_TRUE(second.waitForClient());
    EXPECT_TRUE(f.transport.connected());
    second.send(Bytes{255, 253, 6});
    EXPECT_EQ(second.waitForBytes(3), (Bytes{255, 252, 6}));
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(0, 0); }), 0);
}

// A listener on 127.0.0.1 that the test thread accepts from, once per connection.
class Listener {
  public:
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("no loopback listener");
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    std::uint16_t port() const { return port_; }
    // The next connection, or -1 after the time-out.
    int accept(std::chrono::milliseconds timeout) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

// The exact bytes from the socket, or what arrived before the time-out.
Bytes receiveExactly(int fd, std::size_t n, std::chrono::milliseconds timeout = 5s) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1) break;
        std::uint8_t buffer[256];
        const ssize_t r = ::recv(fd, buffer, std::min(sizeof buffer, n - got.size()), 0);
        if (r <= 0) break;
        got.insert(got.end(), buffer, buffer + r);
    }
    return got;
}

// A connection reset under the session (the handheld roamed off its access point) comes back
// by itself with reconnect on: the host is asked again under the same device name, so it can
// hand back the job it held, and the screen starts empty instead of showing the lost one.
TEST(TnTransport, AResetConnectionComesBackUnderTheSameDeviceName) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("qn-tn-reconnect-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "connections.ini") << "[127.0.0.1]\nreconnect = on\n";
    Listener listener;
    Fixture f(dir / "connections.ini");
    f.session.telnetPort.set(listener.port());

    f.transport.connectSession();
    const int first = listener.accept(5s);
    ASSERT_GE(first, 0);
    ::send(first, kHostAsks.data(), kHostAsks.size(), MSG_NOSIGNAL);
    EXPECT_EQ(receiveExactly(first, kQn01Answers.size()), kQn01Answers);
    const Bytes screen = record(join({wtd(), sba(1, 1), {0xC1}}));
    ::send(first, screen.data(), screen.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(eventually([&] { return f.view.redraws.load() == 1; }));
    EXPECT_NE(f.locked([&] { return f.screen.charAt(0, 0); }), 0);
    const linger abort{1, 0};
    ::setsockopt(first, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(first);

    const int second = listener.accept(5s);  // after the first wait of a second
    ASSERT_GE(second, 0);
    ::send(second, kHostAsks.data(), kHostAsks.size(), MSG_NOSIGNAL);
    EXPECT_EQ(receiveExactly(second, kQn01Answers.size()), kQn01Answers);
    EXPECT_TRUE(f.transport.connected());
    EXPECT_EQ(f.locked([&] { return f.screen.charAt(0, 0); }), 0);
    EXPECT_THAT(f.messages.shown(), IsEmpty());
    EXPECT_THAT(f.view.get(), ElementsAre("connected"));
    f.transport.disconnectSession();
    ::close(second);
    std::filesystem::remove_all(dir);
}

TEST(TnTransport, SendWithoutConnectionIsSilent) {
    Fixture f;
    f.transport.sendBytes(Bytes{'x'});
    f.transport.withSession([&] { f.stream.sendAid(kAidEnter); });
    EXPECT_THAT(f.messages.shown(), IsEmpty());
}

// ---- Faulty hosts. Every wait is bounded; each case ends in the transport's own message.

// The read thread has stopped: the screen asks for no further redraw.
bool readThreadStopped(Fixture& f) {
    int before = f.view.redraws.load();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(20ms);
        const int now = f.view.redraws.load();
        if (now == before) return true;
        before = now;
    }
    return false;
}

// "HELLO" at row 2, column 3.
const Bytes kHelloRecord = record(join({wtd(), sba(2, 3), {0xC8, 0xC5, 0xD3, 0xD3, 0xD6}}));

TEST(TnFaults, AResetMidStreamEndsWithTheErrorAndTheNextConnectionStartsClean) {
    struct Case {
        const char* name;
        Bytes beforeReset;
    };
    const Bytes half(kHelloRecord.begin(), kHelloRecord.begin() + 19);  // "HE" of five letters
    const Case cases[] = {
        {"mid-record", half},
        {"mid-sub-negotiation", join({half, {0x01}, {255, 250, 24, 1, 7, 7}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.transport.connectSession();
        ASSERT_TRUE(f.host.waitForClient());
        f.host.send(c.beforeReset);
        ASSERT_TRUE(
            eventually([&] { return f.locked([&] { return f.screen.charAt(1, 3); }); }, 2s));
        EXPECT_EQ(f.locked([&] { return f.screen.charAt(1, 2); }), 'H') << "what came is shown";
        const auto start = std::chrono::steady_clock::now();
        f.host.resetClient();
        ASSERT_TRUE(eventually([&] { return !f.transport.connected(); }, 2s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        ASSERT_TRUE(eventually([&] { return f.messages.shown().size() == 1; }, 2s));
        EXPECT_THAT(f.messages.shown(), ElementsAre(error("Can not establish connection!")));
        EXPECT_EQ(f.locked([&] { return f.screen.charAt(1, 2); }), 0);

        // The half record and the half sub-negotiation are gone with the connection: the next
        // host's terminal-type request gets exactly one answer and its record stands alone.
        qn::test::LoopbackHost next;
        f.session.telnetPort.set(next.port());
        f.transport.connectSession();
        ASSERT_TRUE(next.waitForClient());
        next.send(join({{255, 250, 24, 1, 255, 240}, kHelloRecord}));
        const Bytes terminalType = {255, 250, 24,  0,   'I', 'B', 'M', '-',
                                    '3', '1', '7', '9', '-', '2', 255, 240};
        EXPECT_EQ(next.waitForBytes(terminalType.size() + 1, 1s), terminalType);
        EXPECT_TRUE(
            eventually([&] { return f.locked([&] { return f.screen.charAt(1, 6); }); }, 2s));
        EXPECT_EQ(f.locked([&] { return f.screen.charAt(1, 6); }), 'O');
    }
}

TEST(TnFaults, ARecordTrickledOneByteAtATimeArrivesWhole) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.trickle(join({{255, 253, 24}, kHelloRecord, {255, 239}}), 200us);
    EXPECT_EQ(f.host.waitForBytes(3, 2s), (Bytes{255, 251, 24}));
    ASSERT_TRUE(
        eventually([&] { return f.locked([&] { return f.screen.charAt(1, 6); }) == 'O'; }, 2s));
    EXPECT_GE(f.view.redraws.load(), 1);
    f.host.closeClient();
    ASSERT_TRUE(eventually([&] { return f.messages.shown().size() == 1; }, 2s));
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Server Closed!")));
}

TEST(TnFaults, ASilentHostNeverHoldsUpTheUserDisconnect) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::this_thread::sleep_for(30ms);  // the read thread waits in its receive
    f.messages.queueAnswer(platform::MbResult::Yes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(f.transport.disconnectCommand());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(f.host.waitForClientClose(1s));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(f.messages.texts(), std::vector<std::string>{"Disconnect session?"});
}

TEST(TnFaults, EndlessOutputKeepsAnswersAndMemoryBoundedAndTheDisconnectHonoured) {
    struct Case {
        const char* name;
        Bytes start;
        qn::test::FaultHost::Generator more;
        bool answersBounded;  // nothing at all is answered while it lasts
    };
    const Case cases[] = {
        {"endless terminal-type request", {255, 250, 24, 1}, qn::test::repeatedBytes(1), true},
        {"endless environment request", {255, 250, 39, 1}, qn::test::repeatedBytes(3), true},
        {"random flood", {}, qn::test::randomBytes(52), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.transport.connectSession();
        ASSERT_TRUE(f.host.waitForClient());
        f.host.send(c.start);
        f.host.startStream(c.more);
        ASSERT_TRUE(eventually([&] { return f.host.streamed() > 500'000; }, 15s));
        const std::int64_t heapEarly = qn::test::liveHeapBytes();
        ASSERT_TRUE(eventually([&] { return f.host.streamed() > 2'500'000; }, 15s));
        EXPECT_GT(heapEarly, 0);
        EXPECT_LT(qn::test::liveHeapBytes() - heapEarly, 256 * 1024) << "memory stays flat";
        EXPECT_TRUE(f.transport.connected());
        if (c.answersBounded) {
            EXPECT_THAT(f.host.received(), IsEmpty());
        } else {
            EXPECT_LE(f.host.received().size(), f.host.streamed());
        }

        f.messages.queueAnswer(platform::MbResult::Yes);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(f.transport.disconnectCommand());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_TRUE(readThreadStopped(f)) << "the read thread ends within its pass";
        EXPECT_TRUE(eventually([&] { return f.host.streamEnded(); }, 2s));
        EXPECT_EQ(f.messages.texts(), std::vector<std::string>{"Disconnect session?"});
    }
}

TEST(TnFaults, AnEndlessRequestEndsInOneAnswer) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    f.host.send(Bytes{255, 250, 24, 1});
    f.host.startStream(qn::test::repeatedBytes(1), 1'000'000);
    ASSERT_TRUE(eventually([&] { return f.host.streamEnded(); }, 5s));
    f.host.send(Bytes{255, 240});
    const Bytes answer =
        join({{255, 250, 24, 0}, {'I', 'B', 'M', '-', '3', '1', '7', '9', '-', '2'}, {255, 240}});
    EXPECT_EQ(f.host.waitForBytes(answer.size(), 2s), answer);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(f.host.received().size(), answer.size());
}

TEST(TnFaults, AHostClosingWhileRecordsAreSentGetsEveryRecordWhole) {
    Fixture f;
    f.transport.connectSession();
    ASSERT_TRUE(f.host.waitForClient());
    std::thread closer([&] {
        f.host.waitForBytes(400);
        f.host.closeClient();
    });
    // AID keys on this (the UI) thread as fast as they go, until the connection ends.
    int sent = 0;
    for (; sent < 100000 && f.transport.connected(); ++sent)
        f.transport.withSession([&] { f.stream.sendAid(kAidEnter); });
    closer.join();
    ASSERT_TRUE(eventually([&] { return !f.transport.connected(); }, 2s));
    ASSERT_TRUE(eventually([&] { return f.messages.shown().size() == 1; }, 2s));
    EXPECT_THAT(f.messages.shown(), ElementsAre(error("Server Closed!")));
    ASSERT_TRUE(f.host.waitForClientClose(2s));
    // Record after record, each as long as its header says and ended by IAC EOR.
    const Bytes got = f.host.received();
    std::size_t at = 0;
    int records = 0;
    while (at + 2 <= got.size()) {
        const std::size_t length = std::size_t(got[at]) << 8 | got[at + 1];
        ASSERT_GE(length, 10u);
        ASSERT_LE(at + length + 2, got.size()) << "record " << records << " cut short";
        EXPECT_EQ(got[at + length], 0xFF);
        EXPECT_EQ(got[at + length + 1], 0xEF);
        at += length + 2;
        ++records;
    }
    EXPECT_EQ(at, got.size());
    EXPECT_GE(records, 10);
    EXPECT_LE(records, sent);
}

}  // namespace
}  // namespace qn::tn
