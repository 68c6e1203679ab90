// The system library stand-in <model>_SYS.so, loaded from a fresh copy per test.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <vector>

#include "common/device/system_abi.h"
#include "plugins/sysplugin/sysplugin_test_api.h"
#include "tests/simreader/test_support.h"

namespace qn::sys {
namespace {

class SysPluginTest : public ::testing::Test {
  protected:
    void load(std::optional<std::string> systemIni = std::nullopt,
              const std::string& name = "KX3CE_SYS.so") {
        if (systemIni) test::writeFile(root / "system.ini", *systemIni);
        plugin.emplace(test::copyPlugin(root.path(), "KX2CE_SYS.so", name));
        setVibratorPower = plugin->get<QnSetVibratorPowerFn>("SetVibratorPower");
        getSysInfo = plugin->get<QnGetSysInfoFn>("GetSysInfo");
        recordedCalls = plugin->get<QnSysRecordedCallsFn>("QnSysRecordedCalls");
    }

    std::vector<int> calls() {
        std::vector<int> out(QN_SYS_MAX_RECORDED_CALLS);
        int count = recordedCalls(out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<std::size_t>(count));
        return out;
    }

    unsigned char digit() {
        std::vector<unsigned char> record(QN_SYSINFO_SIZE + 1, 0xEE);
        EXPECT_EQ(getSysInfo(record.data()), 1);
        EXPECT_EQ(record[QN_SYSINFO_SIZE], 0xEE) << "wrote past the record";
        return record[QN_SYSINFO_DIGIT_OFFSET];
    }

    test::TempDir root;
    std::optional<test::Plugin> plugin;
    QnSetVibratorPowerFn setVibratorPower = nullptr;
    QnGetSysInfoFn getSysInfo = nullptr;
    QnSysRecordedCallsFn recordedCalls = nullptr;
};

TEST_F(SysPluginTest, TheBuildInstallsOneLibraryUnderEachModelName) {
    for (const char* model : {"KX1CE", "KX2CE", "KX3CE", "KX4CE"}) {
        auto file = test::buildDeviceRoot() / (std::string(model) + "_SYS.so");
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        test::Plugin library(file);
        EXPECT_NE(library.symbol("SetVibratorPower"), nullptr);
        EXPECT_NE(library.symbol("GetSysInfo"), nullptr);
    }
}

TEST_F(SysPluginTest, DigitComesFromSystemIni) {
    load("[system]\ndigit=3\n");
    EXPECT_EQ(digit(), '3');
    test::writeFile(root / "system.ini", "[system]\ndigit=7\n");
    EXPECT_EQ(digit(), '7') << "the file is read on each call";
}

TEST_F(SysPluginTest, MissingEmptyOrMalformedSystemIniGivesZero) {
    load();
    EXPECT_EQ(digit(), '0');
    for (const std::string& ini :
         {std::string(""), std::string("[system]\ndigit=12\n"), std::string("[system]\ndigit=x\n"),
          std::string("[system]\ndigit=\n"), std::string("[other]\ndigit=5\n"),
          std::string("[system\ndigit=5\n"), std::string("\0\xff\x01 garbage", 12),
          "[system]\ndigit=4\n" + std::string(100000, '#')}) {
        test::writeFile(root / "system.ini", ini);
        EXPECT_EQ(digit(), '0') << ini.substr(0, 40);
    }
    std::filesystem::remove(root / "system.ini");
    std::filesystem::create_directory(root / "system.ini");
    EXPECT_EQ(digit(), '0');
}

TEST_F(SysPluginTest, TheRecordNamesTheModelOfTheFile) {
    load("[system]\ndigit=2\n", "KX4CE_SYS.so");
    std::vector<unsigned char> record(QN_SYSINFO_SIZE, 0xEE);
    ASSERT_EQ(getSysInfo(record.data()), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record.data())), "KX4CE");
    EXPECT_EQ(record[QN_SYSINFO_SIZE - 1], 0);
    EXPECT_EQ(getSysInfo(nullptr), 0);
}

TEST_F(SysPluginTest, WithoutAVibratorCallsAreRecorded) {
    load();
    EXPECT_EQ(setVibratorPower(1), 1);
    EXPECT_EQ(setVibratorPower(0), 1);
    EXPECT_EQ(calls(), (std::vector<int>{1, 0}));
    int first = -1;
    EXPECT_EQ(recordedCalls(&first, 1), 2);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(recordedCalls(nullptr, 0), 2);
    plugin->get<QnSysClearRecordedCallsFn>("QnSysClearRecordedCalls")();
    EXPECT_TRUE(calls().empty());
}

TEST_F(SysPluginTest, TheRecordKeepsTheLatestCalls) {
    load();
    for (int i = 0; i < QN_SYS_MAX_RECORDED_CALLS + 10; ++i)
        setVibratorPower(i);
    auto recorded = calls();
    ASSERT_EQ(recorded.size(), static_cast<std::size_t>(QN_SYS_MAX_RECORDED_CALLS));
    EXPECT_EQ(recorded.front(), 10);
    EXPECT_EQ(recorded.back(), QN_SYS_MAX_RECORDED_CALLS + 9);
}

TEST_F(SysPluginTest, ABrightnessFileIsWritten) {
    const auto brightness = root / "brightness";
    test::writeFile(brightness, "0");
    load("[system]\nvibrator=" + brightness.string() + "\n");
    EXPECT_EQ(setVibratorPower(1), 1);
    EXPECT_EQ(test::readFile(brightness), "1");
    EXPECT_EQ(setVibratorPower(0), 1);
    EXPECT_EQ(test::readFile(brightness), "0");
    EXPECT_EQ(calls(), (std::vector<int>{1, 0}));
}

TEST_F(SysPluginTest, AVibratorThatFailsIsReportedNotFatal) {
    test::TempDir other;
    for (const std::string& ini : std::vector<std::string>{
             "[system]\nvibrator=/nonexistent/leds/vibrator/brightness\n",
             "[system]\nvibrator=" + root.path().string() + "\n",    // a folder
             "[system]\nvibrator=/dev/null\nvibrator_kind=evdev\n",  // no force feedback
             "[system]\nvibrator=" + (root / "plain").string() + "\nvibrator_kind=evdev\n",
             "[system]\nvibrator=/dev/input/event999\n",
         }) {
        test::writeFile(root / "plain", "");
        test::writeFile(root / "system.ini", ini);
        if (!plugin) load();
        EXPECT_EQ(setVibratorPower(1), 0) << ini;
        setVibratorPower(0);
    }
    EXPECT_EQ(calls().size(), 10u);
}

TEST_F(SysPluginTest, AFifoDoesNotHangTheCall) {
    const auto fifo = root / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    load("[system]\nvibrator=" + fifo.string() + "\n");
    EXPECT_EQ(setVibratorPower(1), 0);
}

TEST_F(SysPluginTest, AnUnknownVibratorKindMeansNoVibrator) {
    load("[system]\nvibrator=/dev/null\nvibrator_kind=laser\n");
    EXPECT_EQ(setVibratorPower(1), 1);
    EXPECT_EQ(calls(), (std::vector<int>{1}));
}

}  // namespace
}  // namespace qn::sys
