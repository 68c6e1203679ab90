// The VT decode handling with a scripted reader library: what a decode sends, which message it
// shows and which feedback follows, in order.

#include "vt/scan/vt_decode_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/scan/scan_test_support.h"
#include "vt/emulator/recording_vt_host.h"

namespace qn::vt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// What the scripted library hands out.
struct Library {
    static inline std::string barcode;
    static inline std::string uid, userData;
    static inline std::vector<std::string> calls;

    static int copy(const std::string& what, unsigned char* buffer, int size) {
        const int n = std::min(static_cast<int>(what.size()), size - 1);
        std::copy_n(what.begin(), n, buffer);
        return n;
    }
    static int initReader() { return 1; }
    static int getOutputRecord(int kind, unsigned char* buffer, int size) {
        calls.push_back("GetOutputRecord " + std::to_string(kind) + " " + std::to_string(size));
        return copy(barcode, buffer, size);
    }
    static int getUid(unsigned char* buffer, int size) {
        calls.push_back("GetDecodeRfidUID " + std::to_string(size));
        return copy(uid, buffer, size);
    }
    static int getUserData(unsigned char* buffer, int size) {
        calls.push_back("GetDecodeRfidData " + std::to_string(size));
        return copy(userData, buffer, size);
    }
    static int setVibratorPower(int) { return 1; }
};

struct Rig {
    Rig() {
        Library::calls.clear();
        loader.add("/root/ScanSvc_CE.so",
                   {{{"InitReader", platform::symbolAddress(&Library::initReader)},
                     {"GetOutputRecord", platform::symbolAddress(&Library::getOutputRecord)},
                     {"GetDecodeRfidUID", platform::symbolAddress(&Library::getUid)},
                     {"GetDecodeRfidData", platform::symbolAddress(&Library::getUserData)}}});
        loader.add("/root/KX2CE_SYS.so",
                   {{{"SetVibratorPower", platform::symbolAddress(&Library::setVibratorPower)}}});
        device.detectModel();
        reader.load();
        auto& s = session.settings;
        s.scanVibrator.set(2);
        s.scanBeeper.set(6);
        s.errorVibrator.set(3);
        emulator.vtReset();
    }

    test::Timeline timeline;
    test::TimelineClock clock{timeline};
    test::TimelineSound sound{timeline};
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n"};
    platform::FakeLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::Services services{registry, loader, messages, queue, clock, sound, "/root"};
    device::DeviceLayer device{services};
    reader::ReaderLibrary reader{services};
    VtSession session;
    std::mutex sessionLock;
    RecordingVtHost host;
    VtEmulator emulator{session.settings, host};
    VtDecodeHandler handler{{messages, reader, device, session, sessionLock, emulator,
                             [this](std::span<const std::uint8_t> bytes) {
                                 timeline.add(test::sendEvent(bytes.data(), bytes.size()));
                             },
                             [this] { timeline.add("repaint"); }}};
};

const std::vector<std::string> kScanFeedback{"sleep 500ms", "stop", "play VoicBeep.wav"};

std::vector<std::string> sentThenFeedback(const std::string& send) {
    std::vector<std::string> events;
    if (!send.empty()) events.push_back("send " + send);
    events.push_back("repaint");
    events.insert(events.end(), kScanFeedback.begin(), kScanFeedback.end());
    return events;
}

struct DecodeCase {
    const char* name;
    std::uintptr_t wParam;
    std::string barcode;
    std::function<void(VtSettings&)> settings;
    bool newLineMode;
    std::vector<std::string> messages;
    std::vector<std::string> timeline;
};

void noChange(VtSettings&) {}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, SendsAndGivesFeedback) {
    const DecodeCase& c = GetParam();
    Rig rig;
    Library::barcode = c.barcode;
    Library::uid = "E004A1B2";
    Library::userData = "48656C6C6F";
    c.settings(rig.session.settings);
    if (c.newLineMode) {
        const std::string_view setNewLine = "\033[20h";
        rig.emulator.feed(reinterpret_cast<const std::uint8_t*>(setNewLine.data()),
                          setNewLine.size());
    }
    rig.handler.handleDecode(c.wParam);
    EXPECT_THAT(rig.messages.texts(), ElementsAreArray(c.messages));
    EXPECT_THAT(rig.timeline.events(), ElementsAreArray(c.timeline));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Vt, DecodeTest, ::testing::Values(
    DecodeCase{"PlainBarcode", 7, "ABC-123", noChange, false, {}, sentThenFeedback("ABC-123")},
    DecodeCase{"FeedbackByHost", 7, "ABC", [](auto& s) { s.feedbackByCmd = 1; }, false, {},
               {"send ABC", "repaint"}},
    DecodeCase{"NoVibratorNoSound", 7, "ABC", [](auto& s) {
                   s.scanVibrator.set(0); s.scanBeeper.set(0); }, false, {},
               {"send ABC", "repaint", "stop"}},
    DecodeCase{"WrongLeadingCode", 7, "XBC", [](auto& s) {
                   s.checkLeadingCode = 1; reader::storeText(s.leadingCode, "AB"); }, false,
               {"Wrong Leading Code! "}, {}},
    DecodeCase{"WrongLength", 7, "0123456789A", [](auto& s) {
                   s.checkCodeLength = 1; s.codeLength = 10; }, false, {"Wrong Length! "}, {}},
    DecodeCase{"InvalidationSetting", 7, "ABCDEF", [](auto& s) {
                   s.readPartialCode = 1; s.startPosition = 8; s.maximumLength = 20; }, false,
               {"Invalidation Setting!!!"}, {}},
    DecodeCase{"EmptyCutStillFeedsBack", 7, "ABCDEF", [](auto& s) {
                   s.readPartialCode = 1; s.startPosition = 7; s.maximumLength = 20; }, false,
               {}, sentThenFeedback("")},
    DecodeCase{"EveryEdit", 7, "XX12-34XX", [](auto& s) {
                   s.checkLeadingCode = 1; reader::storeText(s.leadingCode, "XX");
                   s.checkCodeLength = 1; s.codeLength = 9;
                   s.readPartialCode = 1; s.startPosition = 3; s.maximumLength = 5;
                   reader::storeText(s.replaceFrom1, "-"); reader::storeText(s.replaceTo1, "--");
                   reader::storeText(s.replaceFrom2, "1"); reader::storeText(s.replaceTo2, "");
                   s.prefixOn = 1; reader::storeText(s.prefixCode, "<");
                   s.suffixOn = 1; reader::storeText(s.suffixCode, ">");
                   s.autoEnter = 1; }, false, {}, sentThenFeedback("<2--34><0d>")},
    DecodeCase{"EnterInNewLineMode", 7, "A", [](auto& s) { s.autoEnter = 1; }, true, {},
               sentThenFeedback("A<0d><0a>")},
    DecodeCase{"RfidBoth", 8, "", [](auto& s) {
                   s.rfid.showRfidUid.set(1); s.rfid.showRfidUserData.set(1);
                   s.rfid.rfidMaximumLength.set(16); s.rfid.rfidFieldDelimiter[0] = ',';
                   s.rfid.rfidFieldDelimiter[4] = ';'; }, false, {},
               sentThenFeedback("E004A1B2,;48656C6C6F")},
    DecodeCase{"RfidUidOnlyIgnoresEdits", 0, "", [](auto& s) {
                   s.rfid.showRfidUid.set(1); s.prefixOn = 1; s.autoEnter = 1;
                   reader::storeText(s.prefixCode, "P"); }, false, {},
               sentThenFeedback("E004A1B2")},
    DecodeCase{"RfidDataWithoutUidSendsNothing", 8, "", [](auto& s) {
                   s.rfid.showRfidUserData.set(1); s.rfid.rfidMaximumLength.set(16); }, false,
               {}, sentThenFeedback("")},
    DecodeCase{"RfidFeedbackByHost", 8, "", [](auto& s) {
                   s.rfid.showRfidUid.set(1); s.feedbackByCmd = 1; }, false, {},
               {"send E004A1B2", "repaint"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(VtDecode, FetchesWithTheProgramsBufferAndOperations) {
    Rig rig;
    Library::barcode = "ABC";
    rig.session.settings.rfid.showRfidUid.set(1);
    rig.session.settings.rfid.showRfidUserData.set(1);
    rig.session.settings.rfid.rfidMaximumLength.set(1);
    rig.handler.handleDecode(7);
    rig.handler.handleDecode(8);
    EXPECT_THAT(Library::calls, ElementsAre("GetOutputRecord 7 260", "GetDecodeRfidUID 260",
                                            "GetDecodeRfidData 260"));
}

TEST(VtDecode, ALongDecodeGrownByEveryEditIsSentWhole) {
    Rig rig;
    Library::barcode = std::string(300, 'a');  // the library may offer more than fits
    auto& s = rig.session.settings;
    reader::storeText(s.replaceFrom1, "a");
    reader::storeText(s.replaceTo1, "bbbbbbbbb");
    reader::storeText(s.replaceFrom2, "b");
    reader::storeText(s.replaceTo2, "ccccccccc");
    s.prefixOn = 1;
    reader::storeText(s.prefixCode, std::string(40, '<'));
    s.suffixOn = 1;
    reader::storeText(s.suffixCode, std::string(40, '>'));
    s.autoEnter = 1;
    std::vector<std::uint8_t> sent;
    VtDecodeHandler handler{{rig.messages,
                             rig.reader,
                             rig.device,
                             rig.session,
                             rig.sessionLock,
                             rig.emulator,
                             [&](std::span<const std::uint8_t> bytes) {
                                 sent.insert(sent.end(), bytes.begin(), bytes.end());
                             },
                             {}}};
    handler.handleDecode(7);
    // 259 bytes fit the 260-byte buffer; each became 81.
    EXPECT_EQ(std::string(sent.begin(), sent.end()),
              std::string(40, '<') + std::string(259 * 81, 'c') + std::string(40, '>') + "\r");
}

TEST(VtDecode, SettingsChangedBetweenScansApply) {
    Rig rig;
    Library::barcode = "A";
    rig.handler.handleDecode(7);
    {
        std::lock_guard lock(rig.sessionLock);
        rig.session.settings.suffixOn = 1;
        reader::storeText(rig.session.settings.suffixCode, "!");
    }
    rig.handler.handleDecode(7);
    auto events = rig.timeline.events();
    ASSERT_EQ(events.size(), 10u);
    EXPECT_EQ(events[0], "send A");
    EXPECT_EQ(events[5], "send A!");
}

}  // namespace
}  // namespace qn::vt
