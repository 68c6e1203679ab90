// The 5250 decode handling with a scripted reader library and a real screen, interpreter and
// field editor: what a decode types into the field, which message it shows and which feedback
// follows, in order, and that none of it happens while the session lock is held.

#include "tn5250/scan/tn_decode_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>

#include "common/fleet/config_code.h"
#include "platform/library.h"
#include "platform/message_queue.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "tests/tn5250/tn_test_support.h"

namespace qn::tn {
namespace {

using test::Bytes;
using test::join;
using test::record;
using test::sba;
using test::sf;
using test::wtd;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

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
    static int getDecodeData(unsigned char* buffer, int size) {
        calls.push_back("GetDecodeData " + std::to_string(size));
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

// The world a decode acts on — vibrations (the device layer's sleeps), sounds, message boxes and
// the editor's sends and alarms as carried out after the entry — as one list of events. An
// event that happens while another thread would find the session lock taken is marked.
class Events final : public platform::Clock,
                     public platform::SoundPlayer,
                     public platform::MessageBoxes,
                     public TnHost {
  public:
    explicit Events(std::mutex& lock) : lock_(lock) {}
    void add(std::string event) {
        const bool held = std::async(std::launch::async, [this] {
                              if (!lock_.try_lock()) return true;
                              lock_.unlock();
                              return false;
                          }).get();
        list.push_back(held ? event + " under the lock" : std::move(event));
    }

    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override {
        add("sleep " + std::to_string(duration.count()) + "ms");
    }
    void stop() override { add("stop"); }
    void playAsync(const std::filesystem::path& wavFile) override {
        add("play " + wavFile.filename().string());
    }
    platform::MbResult show(std::string_view text, std::string_view, platform::MbButtons,
                            platform::MbIcon) override {
        add("box " + std::string(text));
        return platform::MbResult::Ok;
    }
    void sendBytes(std::span<const std::uint8_t>) override { add("send"); }
    void alarm() override { add("alarm"); }

    std::vector<std::string> list;

  private:
    std::mutex& lock_;
};

// A new host screen: Clear Unit, then a Write To Display that unlocks the keyboard and places
// the cursor on the first field (or the insert cursor).
Bytes hostScreen(const Bytes& orders) {
    return record(join({{0x04, 0x40}, wtd(), orders}));
}

// Two 8-position input fields at rows 3 and 5 (1-based).
const Bytes kTwoFields =
    hostScreen(join({sba(3, 1), sf(0x40, 0x00, 0x20, 8), sba(5, 1), sf(0x40, 0x00, 0x20, 8)}));
// One field, the insert cursor at row 1, column 1: outside it.
const Bytes kCursorOutside = hostScreen(join({sba(3, 1), sf(0x40, 0x00, 0x20, 8), {0x13, 1, 1}}));
// One 3-position auto-enter field.
const Bytes kAutoEnterField = hostScreen(join({sba(3, 1), sf(0x40, 0x80, 0x20, 3)}));

struct Rig {
    Rig() {
        Library::calls.clear();
        loader.add("/root/ScanSvc_CE.so",
                   {{{"InitReader", platform::symbolAddress(&Library::initReader)},
                     {"GetDecodeData", platform::symbolAddress(&Library::getDecodeData)},
                     {"GetDecodeRfidUID", platform::symbolAddress(&Library::getUid)},
                     {"GetDecodeRfidData", platform::symbolAddress(&Library::getUserData)}}});
        loader.add("/root/KX2CE_SYS.so",
                   {{{"SetVibratorPower", platform::symbolAddress(&Library::setVibratorPower)}}});
        device.detectModel();
        reader.load();
        session.goodVibrator.set(2);
        session.goodBeeper.set(6);
        session.errorVibrator.set(3);
        session.errorBeeper.set(8);
        stream.resetScreen();
        feed(kTwoFields);
    }
    // A host record, as the read thread would hand it over; its replies are dropped.
    void feed(const Bytes& bytes) {
        std::lock_guard lock(sessionLock);
        stream.receive(bytes);
        deferred.take();
    }
    // The first field's row, nulls as '.'.
    std::string firstField() const {
        std::string text;
        for (int column = 1; column <= 8; ++column) {
            const std::uint8_t c = screen->charAt(2, column);
            text += c == 0 ? '.' : static_cast<char>(c);
        }
        return text;
    }

    std::mutex sessionLock;
    Events events{sessionLock};
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n"};
    platform::FakeLibraryLoader loader;
    platform::BlockingMessageQueue queue;
    platform::Services services{registry, loader, events, queue, events, events, "/root"};
    device::DeviceLayer device{services};
    reader::ReaderLibrary reader{services};
    TnSession session{};
    std::unique_ptr<TnScreen> screen = std::make_unique<TnScreen>();
    DeferredTnHost deferred;
    TnDataStream stream{*screen, session, deferred};
    TnFieldEditor editor{*screen, stream, session, deferred};
    TnDecodeHandler handler{{events, reader, device, session, sessionLock, editor, deferred, events,
                             [this] { events.add("repaint"); },
                             [this](std::span<const std::uint8_t> decode) {
                                 if (!fleet::isConfigCode(decode)) return false;
                                 events.add("configuration code");
                                 return true;
                             }}};
};

const std::vector<std::string> kGoodFeedback{"repaint", "sleep 500ms", "stop", "play VoicBeep.wav"};
const std::vector<std::string> kErrorFeedback{"stop", "play Alarm3.wav", "sleep 750ms"};

struct DecodeCase {
    const char* name;
    std::uintptr_t wParam;
    std::string barcode;
    std::function<void(Rig&)> prepare;
    bool readsLibrary;
    std::string field;
    std::vector<std::string> timeline;
};

void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << c.name;
}

void asSent(Rig&) {}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, EntersAndGivesFeedback) {
    const DecodeCase& c = GetParam();
    Rig rig;
    Library::barcode = c.barcode;
    Library::uid = "04A1B2";
    c.prepare(rig);
    rig.handler.handleDecode(c.wParam);
    EXPECT_EQ(rig.firstField(), c.field);
    EXPECT_THAT(rig.events.list, ElementsAreArray(c.timeline));
    EXPECT_EQ(Library::calls.empty(), !c.readsLibrary);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tn, DecodeTest, ::testing::Values(
    DecodeCase{"GoodScan", 7, "ABC", asSent, true, "ABC.....", kGoodFeedback},
    DecodeCase{"CursorInNoField", 7, "ABC", [](Rig& r) { r.feed(kCursorOutside); }, false,
               "........", kErrorFeedback},
    DecodeCase{"WrongLeadingCodeVibratesFirst", 7, "XBC", [](Rig& r) {
                   r.session.checkLeadingCode = 1; reader::storeText(r.session.leadingCode, "AB"); },
               true, "........", {"sleep 750ms", "box Wrong Leading code! ", "repaint"}},
    DecodeCase{"PartialCodeEntersTheCut", 7, "XABCDE", [](Rig& r) {
                   r.session.readPartialCode = 1; r.session.startPosition = 2;
                   r.session.maximumLength = 3; }, true, "ABC.....", kGoodFeedback},
    DecodeCase{"EmptyDecode", 7, "", asSent, true, "........", {"repaint"}},
    // Taken before the checks, which would refuse it, and neither entered nor fed back.
    DecodeCase{"ConfigurationCodeIsNotEntered", 7, "~QNC1;5250", [](Rig& r) {
                   r.session.checkLeadingCode = 1; reader::storeText(r.session.leadingCode, "AB"); },
               true, "........", {"configuration code", "repaint"}},
    DecodeCase{"TooLongRejected", 7, "ABCDEFGHI", [](Rig& r) {
                   r.session.overLengthRule = kOverLengthReject; }, true, "........",
               {"sleep 750ms", "box Data too long", "repaint"}},
    DecodeCase{"KeyboardLockedAlarmsAfterTheLock", 7, "ABC", [](Rig& r) {
                   r.feed(record(wtd(0x20, 0x00))); }, true, "........",
               {"alarm", "repaint"}},
    DecodeCase{"AutoEnterSendsBeforeTheFeedback", 7, "ABC", [](Rig& r) {
                   r.feed(kAutoEnterField); }, true,
               "ABC.....", {"send", "repaint", "sleep 500ms", "stop", "play VoicBeep.wav"}},
    DecodeCase{"RfidUid", 8, "", [](Rig& r) { r.session.rfid.showRfidUid.set(1); }, true,
               "04A1B2..", kGoodFeedback},
    DecodeCase{"RfidNothingChosen", 8, "", asSent, false, "........", {"repaint"}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(TnDecode, FetchesWithTheProgramsBufferAndOperations) {
    Rig rig;
    Library::barcode = "A";
    Library::uid = "04";
    Library::userData = "48";
    rig.session.rfid.showRfidUid.set(1);
    rig.session.rfid.showRfidUserData.set(1);
    rig.session.rfid.rfidMaximumLength.set(1);
    rig.handler.handleDecode(7);
    rig.handler.handleDecode(8);
    EXPECT_THAT(Library::calls,
                ElementsAre("GetDecodeData 300", "GetDecodeRfidUID 300", "GetDecodeRfidData 300"));
}

}  // namespace
}  // namespace qn::tn
