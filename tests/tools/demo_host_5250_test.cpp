// The 5250 demo host as the 5250 program meets it on 127.0.0.1: the program's transport,
// telnet layer, interpreter and field editor against the host, through a whole operator
// session, with the exact records the host receives.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_services.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/settings/tn_key_map.h"
#include "tn5250/telnet/tn_transport.h"
#include "tools/quillnet-demohost/demo_host.h"

namespace qn::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct NullView final : telnet::ConnectionView {
    void connected() override {}
    void chunkReceived() override {}
    void disconnected() override { closed = true; }
    std::atomic<bool> closed{false};
};

struct NullTrigger final : telnet::TriggerSwitch {
    void setTriggerKey(int) override {}
};

struct Effects final : tn::TnHost {
    void sendBytes(std::span<const std::uint8_t> bytes) override { transport->sendBytes(bytes); }
    void alarm() override { ++alarms; }
    tn::TnTransport* transport = nullptr;
    std::atomic<int> alarms{0};
};

struct LoopbackOnly final : telnet::HostResolver {
    std::optional<in_addr> resolveName(const std::string&) override { return std::nullopt; }
};

class Records {
  public:
    void add(const Bytes& record) {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    std::vector<Bytes> get() {
        std::lock_guard lock(mutex_);
        return records_;
    }

  private:
    std::mutex mutex_;
    std::vector<Bytes> records_;
};

// An AID record as the station sends it: header, cursor, AID, then SBA and EBCDIC data of each
// field given.
Bytes aidRecord(int row, int column, std::uint8_t aid,
                std::initializer_list<std::pair<std::pair<int, int>, Bytes>> fields) {
    Bytes body{static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(column), aid};
    for (const auto& [where, data] : fields) {
        body.insert(body.end(), {0x11, static_cast<std::uint8_t>(where.first),
                                 static_cast<std::uint8_t>(where.second)});
        body.insert(body.end(), data.begin(), data.end());
    }
    const std::size_t size = 10 + body.size();
    body.insert(body.begin(), {static_cast<std::uint8_t>(size >> 8),
                               static_cast<std::uint8_t>(size), 0x12, 0xA0, 0, 0, 4, 0, 0, 3});
    return body;
}

struct Station {
    Station() : host(options()), hostThread([this] { host.run(); }) {
        reader::storeText(session.hostAddress, "127.0.0.1");
        session.telnetPort.set(host.port());
        session.useDeviceName = 1;
        reader::storeText(session.deviceName, "qn01");
        effects.transport = &transport;
    }
    ~Station() {
        transport.disconnectSession();
        host.stop();
        hostThread.join();
    }
    DemoHostOptions options() {
        DemoHostOptions o;
        o.once = true;
        o.protocol = DemoProtocol::Tn5250;
        o.inboundRecord = [this](const Bytes& record) { records.add(record); };
        return o;
    }

    std::string row(int r) {
        std::lock_guard lock(sessionLock);
        std::string text;
        for (std::uint8_t c : screen.charRow(r).first<tn::kColumns>())
            text += c == 0 ? ' ' : static_cast<char>(c);
        return text;
    }
    bool shows(int r, const std::string& text) {
        return test::eventually([&] { return row(r).find(text) != std::string::npos; });
    }
    template <class Read>
    auto locked(Read&& read) {
        std::lock_guard lock(sessionLock);
        return read();
    }
    void type(std::string_view text) {
        transport.withSession([&] {
            for (char c : text)
                editor.typeChar(static_cast<std::uint8_t>(c));
        });
    }
    void function(int code) {
        transport.withSession([&] { editor.runFunction(code); });
    }
    void scan(std::string_view text) {
        transport.withSession([&] {
            editor.enterScannedData(
                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        });
    }
    // The AID record that the last key sent, once the host has it.
    Bytes lastRecord(std::size_t count) {
        EXPECT_TRUE(test::eventually([&] { return records.get().size() >= count; }));
        const auto all = records.get();
        return all.size() >= count ? all[count - 1] : Bytes{};
    }

    Records records;
    DemoHost host;
    std::thread hostThread;
    test::FakeServices fake{"[HKEY_LOCAL_MACHINE\\Ident]\nName=handheld\n"};
    tn::TnSession session{};
    std::mutex sessionLock;
    tn::TnScreen screen;
    tn::DeferredTnHost deferred;
    tn::TnDataStream stream{screen, session, deferred};
    tn::TnFieldEditor editor{screen, stream, session, deferred};
    Effects effects;
    NullView view;
    NullTrigger trigger;
    LoopbackOnly resolver;
    tn::TnTransport transport{
        {fake.services, session, sessionLock, stream, deferred, effects, view, trigger, resolver}};
};

TEST(DemoHost5250, SignOnMenuPickingErrorsAndSignOff) {
    Station s;
    ASSERT_TRUE(s.host.listening());
    s.transport.connectSession();
    ASSERT_TRUE(s.transport.connected());

    // Negotiated: the sign-on screen shows the device name the station gave in NEW-ENVIRON.
    ASSERT_TRUE(s.shows(0, "QUILLNET SIGN ON"));
    EXPECT_TRUE(s.shows(3, "Display  . :  QN01"));
    // The query went first and was answered (AID 0x88).
    ASSERT_GE(s.records.get().size(), 1u);
    EXPECT_EQ(s.records.get()[0][12], 0x88);
    s.locked([&] {
        const auto fields = s.screen.fields.entries();
        ASSERT_EQ(fields.size(), 2u);
        EXPECT_EQ(fields[0].ffw2 & 0x20, 0x20);    // user: monocase
        EXPECT_EQ(fields[1].attribute & 0x07, 7);  // password: non-display
        EXPECT_EQ(s.screen.state.row, 5);
        EXPECT_EQ(s.screen.state.column, 15);
    });

    // Enter without a user: the message locks the keyboard until Reset.
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(23, "User must be entered."));
    EXPECT_TRUE(s.locked([&] { return s.screen.state.keyboardLocked; }));
    s.type("x");
    EXPECT_TRUE(test::eventually([&] { return s.effects.alarms.load() == 1; }));
    s.function(tn::fn::kReset);
    EXPECT_EQ(s.row(23).find("User"), std::string::npos);
    EXPECT_FALSE(s.locked([&] { return s.screen.state.keyboardLocked; }));

    s.type("clerk\rsecret");
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(0, "MAIN MENU"));
    EXPECT_TRUE(s.shows(1, "User: CLERK"));
    // Monocase in the user field; the password as typed; both by their field's position.
    EXPECT_EQ(s.lastRecord(3), aidRecord(7, 22, 0xF1,
                                         {{{6, 16}, {0xC3, 0xD3, 0xC5, 0xD9, 0xD2}},
                                          {{7, 16}, {0xA2, 0x85, 0x83, 0x99, 0x85, 0xA3}}}));

    s.type("7");
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(23, "Option 7 not valid."));
    s.function(tn::fn::kReset);
    s.type("1");  // digits only: the cursor stayed on the selection field's first position
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(0, "PICKING"));
    s.locked([&] {
        const auto fields = s.screen.fields.entries();
        ASSERT_EQ(fields.size(), 3u);
        EXPECT_EQ(fields[0].ffw1, 0x43);  // item: numeric only
        EXPECT_EQ(fields[1].ffw2, 0x06);  // quantity: right-adjust, blank fill
        EXPECT_EQ(fields[2].ffw2, 0x28);  // bin: monocase, mandatory enter
    });

    // An unknown item: Write Error Code, Reset clears it.
    s.scan("999");
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(23, "Item 999 not found."));
    s.function(tn::fn::kReset);
    EXPECT_EQ(s.row(23).find("Item"), std::string::npos);

    // A known item: the host answers with its description, the cursor on the quantity.
    s.scan("0123456789");
    s.function(tn::fn::kEnter);
    EXPECT_EQ(s.lastRecord(7),
              aidRecord(5, 26, 0xF1,
                        {{{5, 16}, {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9}}}));
    ASSERT_TRUE(s.shows(8, "BOLT M8 X 40 ZINC"));
    EXPECT_TRUE(s.shows(9, "Pick from A0703  Stock 240"));
    EXPECT_EQ(s.locked([&] { return std::pair(s.screen.state.row, s.screen.state.column); }),
              std::pair(5, 15));

    // Quantity right-adjusted by field exit, then the bin.
    s.type("3");
    s.function(tn::fn::kFieldExit);
    s.type("b1204");
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(23, "Wrong bin: pick from A0703.")) << s.row(23);
    EXPECT_EQ(s.lastRecord(8), aidRecord(7, 21, 0xF1,
                                         {{{6, 16}, {0x40, 0x40, 0x40, 0x40, 0xF3}},
                                          {{7, 16}, {0xC2, 0xF1, 0xF2, 0xF0, 0xF4}}}));
    s.function(tn::fn::kReset);
    s.type("a0703");
    s.function(tn::fn::kEnter);
    ASSERT_TRUE(s.shows(11, "Picked 3 x 0123456789"));
    EXPECT_TRUE(s.shows(1, "Picked: 1"));

    // F3 ends the session: the host closes, as a server does.
    s.function(3);
    EXPECT_TRUE(test::eventually([&] { return s.view.closed.load(); }));
    EXPECT_TRUE(test::eventually([&] { return !s.fake.messages.shown().empty(); }));
    EXPECT_EQ(s.fake.messages.shown().back().text, "Server Closed!");
}

}  // namespace
}  // namespace qn::tools
