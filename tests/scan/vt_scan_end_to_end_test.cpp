// Scans through the whole VT road: quillnet-scan → the simulated reader → "WM_DECODEDATA" →
// the decode handling → the bytes a loopback host receives, with the feedback in order; and the
// host's reader and device commands reaching the simulated reader and the device layer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/scan/vt_scan_rig.h"

namespace qn::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;

constexpr int kDelivered = 0, kRefused = 3;

std::string asText(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// The reader log's lines that match a prefix, in order.
std::vector<std::string> logLines(const std::string& log, const std::string& prefix) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (line.starts_with(prefix)) lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

class VtScanEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.modelFound);
        ASSERT_TRUE(rig.readerLoaded);
        ASSERT_TRUE(rig.reader.readerInitialised());
    }
    void connect() {
        rig.transport.connectSession();
        ASSERT_TRUE(rig.host.waitForClient());
        ASSERT_TRUE(rig.transport.connected());
    }
    VtScanRig rig;
};

struct RoadCase {
    const char* name;
    std::vector<std::string> scanArgs;
    std::function<void(vt::VtSettings&)> settings;
    bool newLineMode;
    std::string received;
};

class VtScanRoad : public VtScanEndToEnd, public ::testing::WithParamInterface<RoadCase> {};

TEST_P(VtScanRoad, ReachesTheHostWithFeedback) {
    const RoadCase& c = GetParam();
    c.settings(rig.session.settings);
    connect();
    if (c.newLineMode) {
        rig.host.send("\033[20h");
        ASSERT_TRUE(eventually([&] { return rig.newLineMode(); }));
    }
    rig.timeline.clear();
    ASSERT_EQ(rig.scan(c.scanArgs), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_EQ(asText(rig.host.waitForBytes(c.received.size())), c.received);
    EXPECT_THAT(rig.messages.texts(), IsEmpty());
    // Feedback follows the send: the scanner vibrator (2 × 250 ms), then its beeper (6).
    auto events = rig.timeline.events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(events.end() - 4, events.end()),
                ElementsAre("repaint", "sleep 500ms", "stop", "play VoicBeep.wav"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Scans, VtScanRoad, ::testing::Values(
    RoadCase{"Barcode", {"ABC-123"}, [](auto&) {}, false, "ABC-123"},
    RoadCase{"EditedBarcode", {"9912345"}, [](auto& s) {
                 s.checkLeadingCode = 1; reader::storeText(s.leadingCode, "99");
                 s.readPartialCode = 1; s.startPosition = 3; s.maximumLength = 4;
                 reader::storeText(s.replaceFrom1, "23"); reader::storeText(s.replaceTo1, "-");
                 s.prefixOn = 1; reader::storeText(s.prefixCode, "P");
                 s.suffixOn = 1; reader::storeText(s.suffixCode, "S");
                 s.autoEnter = 1; }, false, "P1-4S\r"},
    RoadCase{"EnterInNewLineMode", {"X"}, [](auto& s) { s.autoEnter = 1; }, true, "X\r\n"},
    RoadCase{"IacIsNotDoubled", {"--hex", "41ff42"}, [](auto&) {}, false, "A\xff" "B"},
    RoadCase{"RfidUidAndData", {"--rfid", "--uid", "e004a1b2", "--data", "48656c"},
             [](auto& s) {
                 s.rfid.showRfidUid.set(1); s.rfid.showRfidUserData.set(1);
                 s.rfid.rfidMaximumLength.set(8); s.rfid.rfidFieldDelimiter[0] = '/'; },
             false, "E004A1B2/48656C"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(VtScanEndToEnd, AFailedCheckSendsNothingAndGivesNoFeedback) {
    rig.session.settings.checkCodeLength = 1;
    rig.session.settings.codeLength = 3;
    connect();
    rig.timeline.clear();
    ASSERT_EQ(rig.scan({"TOOLONG"}), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_THAT(rig.messages.texts(), ElementsAre("Wrong Length! "));
    // The next scan passes and is the first thing the host sees.
    ASSERT_EQ(rig.scan({"OK"}), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_EQ(asText(rig.host.waitForBytes(2)), "OK");
    EXPECT_EQ(rig.timeline.events().front(), "send OK");
}

TEST_F(VtScanEndToEnd, AScanHandledAfterTheConnectionWentSendsNothingAndShowsNothing) {
    // The decode is posted while connected; the host drops the line before the UI takes it.
    connect();
    ASSERT_EQ(rig.scan({"LOST"}), kDelivered);
    rig.host.closeClient();
    ASSERT_TRUE(eventually([&] { return !rig.transport.connected(); }));
    ASSERT_TRUE(eventually([&] { return !rig.messages.texts().empty(); }));
    EXPECT_THAT(rig.messages.texts(), ElementsAre("Server Closed!"));
    rig.messages.clear();
    rig.timeline.clear();
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_THAT(rig.messages.texts(), IsEmpty());
    EXPECT_THAT(rig.host.received(), IsEmpty());
    // The scan itself was fine: the operator still gets its feedback.
    EXPECT_THAT(rig.timeline.events(),
                ElementsAre("send LOST", "repaint", "sleep 500ms", "stop", "play VoicBeep.wav"));
}

TEST_F(VtScanEndToEnd, AScanBeforeAnyConnectionSendsNothingAndShowsNothing) {
    rig.reader.setTriggerKey(1);
    ASSERT_EQ(rig.scan({"EARLY"}), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_THAT(rig.messages.texts(), IsEmpty());
    // Connecting afterwards does not bring the old scan along.
    connect();
    rig.host.send("x");
    ASSERT_TRUE(eventually([&] { return rig.view.chunks.load() >= 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_THAT(rig.host.received(), IsEmpty());
}

TEST(VtScanTrigger, FollowsTheHostOnlyUnderHostControl) {
    for (std::uint8_t byHost : {0, 1}) {
        SCOPED_TRACE(byHost);
        VtScanRig r;
        r.session.settings.triggerByEscCmd = byHost;
        r.transport.connectSession();
        ASSERT_TRUE(r.host.waitForClient());
        // Disable: a scan is refused only when the host controls the trigger.
        r.host.send("\033[99l");
        ASSERT_TRUE(eventually([&] { return r.view.chunks.load() >= 1; }));
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(r.scan({"A"}), byHost ? kRefused : kDelivered);
        if (!byHost) {
            ASSERT_TRUE(r.handleNextDecode());
        }
        r.host.send("\033[99h");
        ASSERT_TRUE(eventually([&] { return r.view.chunks.load() >= 2; }));
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(r.scan({"B"}), kDelivered);
        ASSERT_TRUE(r.handleNextDecode());
        const auto triggers = logLines(r.readerLog(), "SetTriggerKey");
        if (byHost) {
            EXPECT_THAT(triggers,
                        ElementsAre("SetTriggerKey 0", "SetTriggerKey 0", "SetTriggerKey 1"));
        } else {
            // "Always Enable": on after the connect, and the host's commands change nothing.
            EXPECT_THAT(triggers, ElementsAre("SetTriggerKey 0", "SetTriggerKey 1"));
        }
    }
}

TEST_F(VtScanEndToEnd, AlwaysEnableSwitchesTheTriggerWithTheConnection) {
    rig.clearReaderLog();
    connect();
    EXPECT_EQ(rig.scan({"ON"}), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    rig.transport.disconnectSession();
    EXPECT_EQ(rig.scan({"OFF"}), kRefused);
    EXPECT_THAT(logLines(rig.readerLog(), "SetTriggerKey"),
                ElementsAre("SetTriggerKey 0", "SetTriggerKey 1", "SetTriggerKey 0"));
}

TEST_F(VtScanEndToEnd, AlwaysEnableLeavesTheTriggerOffWithBothReadersOff) {
    rig.session.settings.barcodeReaderOn = 0;
    rig.session.settings.rfidReaderOn = 0;
    rig.clearReaderLog();
    connect();
    EXPECT_EQ(rig.scan({"A"}), kRefused);
    EXPECT_THAT(logLines(rig.readerLog(), "SetTriggerKey"), ElementsAre("SetTriggerKey 0"));
}

struct FeedbackCase {
    std::uint8_t feedbackByCmd;
    std::string hostSends;
    std::vector<std::string> events;
};

class HostFeedback : public VtScanEndToEnd, public ::testing::WithParamInterface<FeedbackCase> {};

TEST_P(HostFeedback, ReachesTheDeviceLayerWhateverFeedbackControlSays) {
    const FeedbackCase& c = GetParam();
    auto& s = rig.session.settings;
    s.feedbackByCmd = c.feedbackByCmd;
    reader::storeText(s.goodFeedbackCommand, "\033[7g");
    reader::storeText(s.errorFeedbackCommand, "\033[8g");
    s.goodVibrator.set(1);
    s.goodBeeper.set(1);
    s.errorVibrator.set(4);
    s.errorBeeper.set(7);
    connect();
    rig.timeline.clear();
    rig.host.send(c.hostSends + "!");
    ASSERT_TRUE(eventually([&] { return rig.timeline.events().size() >= c.events.size(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rig.timeline.events(), c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HostFeedback,
    ::testing::Values(FeedbackCase{0, "\033[7g", {"sleep 250ms", "stop", "play Default.wav"}},
                      FeedbackCase{1, "\033[7g", {"sleep 250ms", "stop", "play Default.wav"}},
                      FeedbackCase{0, "\033[8g", {"sleep 1000ms", "stop", "play Alarm2.wav"}},
                      FeedbackCase{1,
                                   "\033[7g\033[8g",
                                   {"sleep 250ms", "stop", "play Default.wav", "sleep 1000ms",
                                    "stop", "play Alarm2.wav"}},
                      // Device commands: a sound, a vibration.
                      FeedbackCase{
                          0, "\033[1;3]\033[4;2]", {"stop", "play MenuPop.wav", "sleep 500ms"}}));

struct DeviceCase {
    std::uint8_t rfidReaderOn;
    std::uint8_t feedbackByCmd;
    std::string command;
    std::string mask;  // what SetActiveDevice receives (reader type 0x25 here)
    std::vector<std::string> events;
};

class ReaderSwitch : public VtScanEndToEnd, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(ReaderSwitch, DeviceCommandTwoSetsTheActiveDevices) {
    const DeviceCase& c = GetParam();
    auto& s = rig.session.settings;
    s.rfidReaderOn = c.rfidReaderOn;
    s.feedbackByCmd = c.feedbackByCmd;
    s.goodVibrator.set(1);
    s.goodBeeper.set(2);
    connect();
    rig.clearReaderLog();
    rig.timeline.clear();
    rig.host.send(c.command);
    ASSERT_TRUE(eventually([&] { return !logLines(rig.readerLog(), "SetActiveDevice").empty(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_THAT(logLines(rig.readerLog(), "SetActiveDevice"),
                ElementsAre("SetActiveDevice " + c.mask));
    EXPECT_EQ(rig.timeline.events(), c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ReaderSwitch,
    ::testing::Values(
        DeviceCase{1, 0, "\033[2;1]", "0x25", {}}, DeviceCase{0, 0, "\033[2;1]", "0x5", {}},
        DeviceCase{1, 0, "\033[2;0]", "0x20", {}}, DeviceCase{0, 0, "\033[2;0]", "0x0", {}},
        DeviceCase{1, 1, "\033[2;1]", "0x25", {"sleep 250ms", "stop", "play Hwandsw.wav"}}));

TEST_F(VtScanEndToEnd, ReaderSwitchedOffByTheHostRefusesScans) {
    rig.session.settings.rfidReaderOn = 0;
    connect();
    rig.host.send("\033[2;0]");
    ASSERT_TRUE(eventually([&] { return !logLines(rig.readerLog(), "SetActiveDevice").empty(); }));
    EXPECT_EQ(rig.scan({"A"}), kRefused);
    rig.host.send("\033[2;1]");
    ASSERT_TRUE(
        eventually([&] { return logLines(rig.readerLog(), "SetActiveDevice").size() >= 2; }));
    EXPECT_EQ(rig.scan({"B"}), kDelivered);
    ASSERT_TRUE(rig.handleNextDecode());
    EXPECT_EQ(asText(rig.host.waitForBytes(1)), "B");
}

}  // namespace
}  // namespace qn::test
