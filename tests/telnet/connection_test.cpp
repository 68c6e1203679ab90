#include "common/telnet/connection.h"
#include "common/telnet/connection_slot.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>

#include "tests/support/loopback_host.h"

namespace qn::telnet {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class FakeResolver final : public HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string& name) override {
        asked.push_back(name);
        if (name != "terminal-host") return std::nullopt;
        in_addr address{};
        inet_pton(AF_INET, "127.0.0.9", &address);
        return address;
    }
    std::vector<std::string> asked;
};

struct HostCase {
    const char* text;
    HostError error;
    const char* address;  // expected dotted form when no error
    bool lookedUp;
};

class ResolveHostTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(ResolveHostTest, FollowsTheFirstCharacterRule) {
    const HostCase& c = GetParam();
    FakeResolver resolver;
    HostLookup lookup = resolveHost(c.text, 23, resolver);
    EXPECT_EQ(lookup.error, c.error);
    EXPECT_EQ(!resolver.asked.empty(), c.lookedUp);
    if (c.error == HostError::None) {
        ASSERT_EQ(lookup.addresses.size(), 1u);
        EXPECT_EQ(lookup.addresses[0].text(), c.address);
        EXPECT_EQ(lookup.addresses[0].port(), 23);
    } else {
        EXPECT_TRUE(lookup.addresses.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    HostTexts, ResolveHostTest,
    ::testing::Values(HostCase{"127.0.0.1", HostError::None, "127.0.0.1", false},
                      HostCase{"10.0.0.1x", HostError::InvalidAddress, "", false},
                      HostCase{"1host", HostError::InvalidAddress, "", false},
                      HostCase{"255.255.255.255", HostError::InvalidAddress, "", false},
                      HostCase{"300.1.1.1", HostError::InvalidAddress, "", false},
                      HostCase{"terminal-host", HostError::None, "127.0.0.9", true},
                      HostCase{"other-host", HostError::NameNotResolved, "", true},
                      HostCase{"", HostError::NameNotResolved, "", true},
                      HostCase{"::1", HostError::None, "::1", false},
                      HostCase{"[fd00::17]", HostError::None, "fd00::17", false},
                      HostCase{"2001:db8::1", HostError::None, "2001:db8::1", false},
                      HostCase{"fd00:::1", HostError::InvalidAddress, "", false},
                      HostCase{"host:23", HostError::InvalidAddress, "", false}));

TEST(ResolveHost, StopsAtTheFieldTerminator) {
    FakeResolver resolver;
    std::string text("127.0.0.1\0junk", 14);
    EXPECT_EQ(resolveHost(text, 23, resolver).error, HostError::None);
}

class RecordingSender final : public ByteSender {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    std::vector<Bytes> sends;
};

struct AnswerCase {
    std::uint8_t verb;
    Bytes agreed;
    Bytes refused;
};

TEST(Answers, AgreeAndRefuseMapVerbs) {
    const std::vector<AnswerCase> cases{
        {kDo, {kIac, kWill, 7}, {kIac, kWont, 7}},
        {kWill, {kIac, kDo, 7}, {kIac, kDont, 7}},
        {kDont, {kIac, kWont, 7}, {}},
        {kWont, {kIac, kDont, 7}, {}},
    };
    for (const auto& c : cases) {
        RecordingSender out;
        agree(out, c.verb, 7);
        EXPECT_EQ(out.sends, std::vector<Bytes>{c.agreed}) << int(c.verb);
        if (!c.refused.empty()) {
            RecordingSender refusal;
            refuse(refusal, c.verb, 7);
            EXPECT_EQ(refusal.sends, std::vector<Bytes>{c.refused});
        }
    }
    RecordingSender out;
    sendWindowSize(out, 80, 24);
    EXPECT_EQ(out.sends, (std::vector<Bytes>{{255, 250, 31, 0, 80, 0, 24, 255, 240}}));
}

// Collects the chunks of a read loop; the end reason arrives through a promise.
class Collector final : public ReadLoopClient {
  public:
    void received(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex);
        data.insert(data.end(), bytes.begin(), bytes.end());
        ++chunks;
    }
    void afterChunk() override { ++passes; }
    void ended(ReceiveStatus why) override { end.set_value(why); }

    std::mutex mutex;
    Bytes data;
    int chunks = 0;
    std::atomic<int> passes{0};
    std::promise<ReceiveStatus> end;
};

std::shared_ptr<Socket> connectTo(std::uint16_t port) {
    auto socket = Socket::create();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!socket || !socket->connect(address)) return nullptr;
    return socket;
}

TEST(ReadLoop, DeliversDataUntilTheHostCloses) {
    test::LoopbackHost host;
    auto socket = connectTo(host.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(host.waitForClient());
    Collector collector;
    platform::FakeClock clock;
    auto end = collector.end.get_future();
    std::thread reader([&] { runReadLoop(*socket, collector, clock, 100ms); });

    Bytes big(5000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    host.send(big);
    host.closeClient();
    ASSERT_EQ(end.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(end.get(), ReceiveStatus::Closed);
    reader.join();
    EXPECT_EQ(collector.data, big);
    EXPECT_GE(collector.chunks, 5) << "at most 1024 bytes a pass";
    EXPECT_EQ(collector.passes.load(), collector.chunks);
    EXPECT_EQ(clock.sleeps().size(), static_cast<std::size_t>(collector.chunks));
}

TEST(ReadLoop, LocalDisconnectEndsABlockedReceiveAtOnce) {
    test::LoopbackHost host;
    auto socket = connectTo(host.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(host.waitForClient());
    Collector collector;
    platform::FakeClock clock;
    auto end = collector.end.get_future();
    std::thread reader([&] { runReadLoop(*socket, collector, clock, 0ms); });
    std::this_thread::sleep_for(50ms);  // let it block in the receive
    socket->shutdownLocal();
    ASSERT_EQ(end.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(end.get(), ReceiveStatus::Interrupted);
    reader.join();
    EXPECT_TRUE(host.waitForClientClose());
}

TEST(Socket, SendsReachTheHostWhole) {
    test::LoopbackHost host;
    auto socket = connectTo(host.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(host.waitForClient());
    // Two threads sending whole messages: no message is split by the other's bytes.
    auto sendMany = [&](std::uint8_t mark) {
        Bytes message(300, mark);
        for (int i = 0; i < 50; ++i)
            socket->sendBytes(message);
    };
    std::thread a(sendMany, 'a'), b(sendMany, 'b');
    a.join();
    b.join();
    Bytes got = host.waitForBytes(2 * 50 * 300);
    ASSERT_EQ(got.size(), 2u * 50 * 300);
    for (std::size_t i = 0; i < got.size(); i += 300) {
        EXPECT_EQ(std::count(got.begin() + static_cast<long>(i),
                             got.begin() + static_cast<long>(i + 300), got[i]),
                  300);
    }
}

TEST(Socket, RefusedConnectFails) {
    EXPECT_EQ(connectTo(test::unusedLoopbackPort()), nullptr);
}

}  // namespace
}  // namespace qn::telnet

namespace qn::telnet {
namespace {

TEST(ConnectionSlot, AnOldConnectionCannotCloseANewOne) {
    test::LoopbackHost first, second;
    ConnectionSlot slot;
    auto old = connectTo(first.port());
    auto current = connectTo(second.port());
    ASSERT_TRUE(old && current);
    slot.install(old);
    slot.install(current);
    EXPECT_FALSE(slot.close(old));
    EXPECT_EQ(slot.current(), current);
    EXPECT_TRUE(slot.close(current));
    EXPECT_EQ(slot.current(), nullptr);
    EXPECT_TRUE(current->closedLocally());
    EXPECT_FALSE(old->closedLocally());
}

TEST(ConnectionSlot, ReadersAreJoinedWhenFinishedAndAtTheEnd) {
    std::atomic<int> ran{0};
    test::LoopbackHost host;  // outlives the slot: only the slot may end the receive
    {
        ConnectionSlot slot;
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(slot.startReader([&ran] { ++ran; }));
        }
        auto socket = connectTo(host.port());
        ASSERT_NE(socket, nullptr);
        ASSERT_TRUE(host.waitForClient());
        slot.install(socket);
        // A reader blocked in a receive ends when the slot goes away.
        ASSERT_TRUE(slot.startReader([socket, &ran] {
            std::array<std::uint8_t, 16> buffer;
            if (socket->receive(buffer).status == ReceiveStatus::Interrupted) ++ran;
        }));
    }
    EXPECT_EQ(ran.load(), 21);
}

// The programs link this layer as the test does: a plain connection must not load the TLS
// library, so start-up and plain sessions pay nothing for it.
TEST(Tls, APlainConnectionLoadsNothingOfIt) {
    test::LoopbackHost host;
    auto socket = connectTo(host.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(host.waitForClient());
    EXPECT_FALSE(tlsModuleLoaded());
    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(mapped.find("libssl"), std::string::npos);
    EXPECT_EQ(mapped.find("libcrypto"), std::string::npos);
    EXPECT_EQ(mapped.find(kTlsModuleName), std::string::npos);
}

}  // namespace
}  // namespace qn::telnet
