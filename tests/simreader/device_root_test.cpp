// The device root the build assembles.

#include <gtest/gtest.h>

#include <set>

#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "plugins/simreader/reader_config.h"
#include "tests/simreader/test_support.h"

namespace qn::test {
namespace {

constexpr const char* kSounds[] = {"Default",  "Hwandsw", "MenuPop", "MsgBox", "Notify",
                                   "VoicBeep", "Alarm2",  "Alarm3",  "LowBatt"};

TEST(DeviceRoot, RegistryNamesTheModel) {
    platform::IniRegistry registry(buildDeviceRoot() / "registry.ini");
    auto key = registry.openKey("HKEY_LOCAL_MACHINE\\Ident");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->text("DeviceModel", 100), "KX2CE");
    EXPECT_EQ(key->text("Name", 100), "KX2CE");
}

TEST(DeviceRoot, HoldsTheLibraries) {
    for (const char* file :
         {"ScanSvc_CE.so", "KX1CE_SYS.so", "KX2CE_SYS.so", "KX3CE_SYS.so", "KX4CE_SYS.so"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(buildDeviceRoot() / file)) << file;
    }
}

TEST(DeviceRoot, ReaderIniIsABarcodeAndRfidDevice) {
    auto config = sim::loadReaderConfig(buildDeviceRoot());
    EXPECT_NE(config.readerType & 0x05u, 0u);
    EXPECT_NE(config.readerType & 0x110u, 0u);
    EXPECT_EQ(config.activeDevices, 0x27u);
    EXPECT_EQ(config.initResult, 1);
    auto system = platform::IniFile::load(buildDeviceRoot() / "system.ini");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->value("system", "digit"), "0");
}

TEST(DeviceRoot, NineDistinctShortTones) {
    std::set<std::string> contents;
    for (const char* name : kSounds) {
        auto file = buildDeviceRoot() / (std::string(name) + ".wav");
        std::string bytes = readFile(file);
        auto sound =
            platform::parseWave(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        ASSERT_TRUE(sound) << name;
        EXPECT_EQ(sound->channels, 1u) << name;
        EXPECT_EQ(sound->bitsPerSample, 16u) << name;
        const double ms =
            1000.0 * static_cast<double>(sound->frames.size() / 2) / sound->sampleRate;
        EXPECT_GE(ms, 100) << name;
        EXPECT_LE(ms, 400) << name;
        contents.insert(bytes);
    }
    EXPECT_EQ(contents.size(), std::size(kSounds));
}

}  // namespace
}  // namespace qn::test
