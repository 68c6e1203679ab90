#include "common/device/device.h"

#include "tests/support/fake_services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace qn::device {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The fake system library records into process-wide state, as a real C library would.
std::vector<int> gVibratorCalls;
unsigned char gSysInfoDigit = '7';

int fakeSetVibratorPower(int on) {
    gVibratorCalls.push_back(on);
    return 1;
}

int fakeGetSysInfo(unsigned char* record) {
    std::memset(record, 'x', QN_SYSINFO_SIZE);
    record[QN_SYSINFO_DIGIT_OFFSET] = gSysInfoDigit;
    return 1;
}

struct Fixture : test::FakeServices {
    explicit Fixture(std::string_view registryText)
        : test::FakeServices(registryText), device(services) {
        gVibratorCalls.clear();
        gSysInfoDigit = '7';
        for (const auto& entry : kModelTable) {
            loader.add(std::filesystem::path("/dev-root") / entry.systemLibrary,
                       {{{"SetVibratorPower", platform::symbolAddress(&fakeSetVibratorPower)},
                         {"GetSysInfo", platform::symbolAddress(&fakeGetSysInfo)}}});
        }
    }
    DeviceLayer device;
};

struct ModelCase {
    const char* name;
    const char* registry;
    bool found;
    const char* library;  // loaded system library, or "" for none
    const char* message;  // expected message box, or "" for none
};

class DetectModelTest : public ::testing::TestWithParam<ModelCase> {};

TEST_P(DetectModelTest, BindsTheModelsSystemLibrary) {
    const ModelCase& c = GetParam();
    Fixture f(c.registry);
    EXPECT_EQ(f.device.detectModel(), c.found);
    if (*c.library != '\0') {
        EXPECT_THAT(f.loader.loadedPaths(), ElementsAre(std::string("/dev-root/") + c.library));
    } else {
        EXPECT_THAT(f.loader.loadedPaths(), IsEmpty());
    }
    if (*c.message != '\0') {
        EXPECT_THAT(f.messages.texts(), ElementsAre(c.message));
    } else {
        EXPECT_THAT(f.messages.texts(), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, DetectModelTest,
    ::testing::Values(
        ModelCase{"DeviceModel", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX4CE\nName=KX1CE\n",
                  true, "KX4CE_SYS.so", ""},
        ModelCase{"NameWhenDeviceModelEmpty",
                  "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=\nName=KX3CE\n", true, "KX3CE_SYS.so",
                  ""},
        ModelCase{"NameWhenDeviceModelMissing", "[HKEY_LOCAL_MACHINE\\Ident]\nName=KX1CE\n", true,
                  "KX1CE_SYS.so", ""},
        ModelCase{"LowerCaseIsNotFound", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=kx2ce\n", false,
                  "", ""},
        ModelCase{"PocketPc", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=Pocket_PC\n", false, "",
                  "Cannot find system!!"},
        ModelCase{"UnknownModel", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX9CE\n", false, "",
                  ""},
        ModelCase{"NoKey", "[HKEY_LOCAL_MACHINE\\Other]\nDeviceModel=KX2CE\n", false, "", ""},
        ModelCase{"EmptyRegistry", "", false, "", ""},
        ModelCase{"MalformedLines", "[HKEY_LOCAL_MACHINE\\Ident\nDeviceModel=KX2CE\n= \n", false,
                  "", ""},
        ModelCase{"BothEmpty", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=\nName=\n", false, "", ""},
        ModelCase{"TrailingTextIsPartOfTheName",
                  "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE-B\n", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetectModel, LibraryThatDoesNotLoadStopsSilently) {
    test::FakeServices f("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
    DeviceLayer device(f.services);
    EXPECT_FALSE(device.detectModel());
    EXPECT_THAT(f.messages.texts(), IsEmpty());
}

TEST(DetectModel, LongNameIsCutToFiftyCharacters) {
    std::string longName(80, 'K');
    Fixture f("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=" + longName + "\n");
    EXPECT_FALSE(f.device.detectModel());
    EXPECT_EQ(f.device.modelName(), std::string(50, 'K'));
}

TEST(PlaySound, StopsThenPlaysTheNumberedFile) {
    Fixture f("");
    for (int n : {1, 6, 9, 0, 10, -1})
        f.device.playSound(n);
    EXPECT_THAT(f.sound.events(),
                ElementsAre("stop", "play Default.wav", "stop", "play VoicBeep.wav", "stop",
                            "play LowBatt.wav", "stop", "stop", "stop"));
}

struct VibrateCase {
    int steps;
    std::chrono::milliseconds slept;
    std::vector<int> powerCalls;
};

class VibrateTest : public ::testing::TestWithParam<VibrateCase> {};

TEST_P(VibrateTest, PowersOnSleepsAndPowersOff) {
    Fixture f("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
    ASSERT_TRUE(f.device.detectModel());
    f.device.vibrate(GetParam().steps);
    EXPECT_EQ(f.clock.elapsed(), GetParam().slept);
    EXPECT_EQ(gVibratorCalls, GetParam().powerCalls);
}

INSTANTIATE_TEST_SUITE_P(Steps, VibrateTest,
                         ::testing::Values(VibrateCase{4, 1000ms, {1, 0}},
                                           VibrateCase{1, 250ms, {1, 0}}, VibrateCase{0, 0ms, {}},
                                           VibrateCase{-3, 0ms, {}},
                                           VibrateCase{1 << 30, 60000ms, {1, 0}}));

TEST(Vibrate, WithoutSystemLibraryReturnsAtOnce) {
    Fixture f("");
    f.device.vibrate(4);
    EXPECT_EQ(f.clock.elapsed(), 0ms);
}

TEST(SystemInfoDigit, ReadsByte22) {
    Fixture f("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
    EXPECT_EQ(f.device.systemInfoDigit(), 0) << "no library bound yet";
    ASSERT_TRUE(f.device.detectModel());
    EXPECT_EQ(f.device.systemInfoDigit(), 7);
    gSysInfoDigit = 'A';
    EXPECT_EQ(f.device.systemInfoDigit(), 0);
    gSysInfoDigit = '0';
    EXPECT_EQ(f.device.systemInfoDigit(), 0);
    gSysInfoDigit = '9';
    EXPECT_EQ(f.device.systemInfoDigit(), 9);
}

TEST(FreeLibraries, ReaderThenSystemWithPausesAndMessages) {
    Fixture f("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
    f.loader.add("/dev-root/KX2CE_SYS.so", {{}, /*releaseFails=*/true});
    f.loader.add("/dev-root/ScanSvc_CE.so", {{}, /*releaseFails=*/true});
    ASSERT_TRUE(f.device.detectModel());
    f.device.freeLibraries(f.loader.load("/dev-root/ScanSvc_CE.so"));
    EXPECT_THAT(f.loader.releasedPaths(),
                ElementsAre("/dev-root/ScanSvc_CE.so", "/dev-root/KX2CE_SYS.so"));
    EXPECT_THAT(f.messages.texts(),
                ElementsAre("Failed to Free Reader Library!!", "Failed to Free System Library!!"));
    EXPECT_THAT(f.clock.sleeps(), ElementsAre(55ms, 10ms));
    // Vibration after the system library is gone must not call into it.
    f.device.vibrate(1);
    EXPECT_EQ(f.clock.elapsed(), 65ms);
}

TEST(FreeLibraries, NothingLoadedNothingFreed) {
    Fixture f("");
    f.device.freeLibraries(nullptr);
    EXPECT_THAT(f.loader.releasedPaths(), IsEmpty());
    EXPECT_THAT(f.clock.sleeps(), IsEmpty());
    EXPECT_THAT(f.messages.texts(), IsEmpty());
}

DialogLayout sampleDialog() {
    DialogLayout d;
    d.rect = {10, 20, 200, 150};
    d.controls = {{"button", {7, 9, 51, 15}, "", 0},
                  {"combobox", {5, 31, 61, 13}, "", 0},
                  {"checkbox", {3, 11, 41, 9}, "", 0},
                  {"edit", {0, 0, 1, 1}, "", 0}};
    return d;
}

TEST(FitDialog, ModeOneMovesAndSizesOnly) {
    DialogLayout d = sampleDialog();
    fitDialog(d, 1);
    EXPECT_EQ(d.rect, (Rect{0, 0, 240, 320}));
    EXPECT_TRUE(d.captionOkButton);
    const DialogLayout original = sampleDialog();
    for (std::size_t i = 0; i < d.controls.size(); ++i) {
        EXPECT_EQ(d.controls[i].rect, original.controls[i].rect);
        EXPECT_EQ(d.controls[i].fontFace, "");
    }
}

TEST(FitDialog, ModeTwoScalesWithClassRules) {
    DialogLayout d = sampleDialog();
    fitDialog(d, 2);
    EXPECT_EQ(d.rect, (Rect{0, 0, 480, 640}));
    EXPECT_TRUE(d.captionOkButton);
    EXPECT_EQ(d.controls[0].rect, (Rect{14, 13, 102, 22}));   // 9*1.5=13.5, 15*1.5=22.5 truncated
    EXPECT_EQ(d.controls[1].rect, (Rect{10, 46, 122, 213}));  // combobox: 13 + 200
    EXPECT_EQ(d.controls[2].rect, (Rect{6, 16, 41, 13}));     // checkbox keeps its width
    EXPECT_EQ(d.controls[3].rect, (Rect{0, 0, 2, 1}));
    for (const auto& c : d.controls) {
        EXPECT_EQ(c.fontFace, "Tahoma");
        EXPECT_EQ(c.fontPointTenths, 150);
    }
}

TEST(ScreenMode, FollowsTheMainWindowWidth) {
    EXPECT_EQ(screenModeForWidth(480), 2);
    EXPECT_EQ(screenModeForWidth(240), 1);
    EXPECT_EQ(screenModeForWidth(640), 1);
}

}  // namespace
}  // namespace qn::device
