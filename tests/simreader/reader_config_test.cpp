#include "plugins/simreader/reader_config.h"

#include <gtest/gtest.h>

#include "tests/simreader/test_support.h"

namespace qn::sim {
namespace {

using platform::IniFile;

TEST(ReaderConfig, MissingFileGivesDefaults) {
    test::TempDir root;
    EXPECT_EQ(loadReaderConfig(root.path()), ReaderConfig{});
    ReaderConfig defaults;
    EXPECT_EQ(defaults.readerType, 0x15u);
    EXPECT_EQ(defaults.activeDevices, 0x27u);
    EXPECT_FALSE(defaults.triggerOn);
    EXPECT_EQ(defaults.initResult, 1);
    EXPECT_EQ(defaults.haltResult, 1);
    EXPECT_TRUE(defaults.defaultsAvailable);
    EXPECT_TRUE(defaults.serialPath.empty());
    EXPECT_EQ(defaults.fetchWait, std::chrono::milliseconds(2000));
}

TEST(ReaderConfig, EmptyOrBinaryFilesGiveDefaults) {
    test::TempDir root;
    test::writeFile(root / "reader.ini", "");
    EXPECT_EQ(loadReaderConfig(root.path()), ReaderConfig{});
    test::writeFile(root / "reader.ini", std::string("\0\xff\xfe[reader\x01\ntype=", 17));
    EXPECT_EQ(loadReaderConfig(root.path()), ReaderConfig{});
}

TEST(ReaderConfig, AFolderOrAHugeFileGivesDefaults) {
    test::TempDir root;
    std::filesystem::create_directory(root / "reader.ini");
    EXPECT_EQ(loadReaderConfig(root.path()), ReaderConfig{});
    std::filesystem::remove(root / "reader.ini");
    test::writeFile(root / "reader.ini",
                    "[reader]\ntype=0x40\n" + std::string(IniFile::kMaxFileBytes, ';'));
    EXPECT_EQ(loadReaderConfig(root.path()), ReaderConfig{});
}

TEST(ReaderConfig, ReadsEveryKey) {
    ReaderConfig config = readerConfigFrom(IniFile::parse(
        "[reader]\n"
        "type=0xC0\nactive=0x20\ntrigger=1\ninit=-102\nhalt=0\ndefaults=0\n"
        "version=KX ScanSvc 9.9\nserial=/dev/ttyUSB3\nbaud=115200\nfetch_wait_ms=150\n"));
    EXPECT_EQ(config.readerType, 0xC0u);
    EXPECT_EQ(config.activeDevices, 0x20u);
    EXPECT_TRUE(config.triggerOn);
    EXPECT_EQ(config.initResult, -102);
    EXPECT_EQ(config.haltResult, 0);
    EXPECT_FALSE(config.defaultsAvailable);
    EXPECT_EQ(config.version, "KX ScanSvc 9.9");
    EXPECT_EQ(config.serialPath, "/dev/ttyUSB3");
    EXPECT_EQ(config.baud, 115200);
    EXPECT_EQ(config.fetchWait, std::chrono::milliseconds(150));
}

TEST(ReaderConfig, MalformedOrOutOfRangeValuesKeepTheirDefaults) {
    ReaderConfig config = readerConfigFrom(IniFile::parse(
        "[reader]\n"
        "type=lots\nactive=0x1FFFFFFFF\ntrigger=2\ninit=99999999999\nhalt=1x\ndefaults=yes\n"
        "version=\nbaud=12345\nfetch_wait_ms=-5\n"));
    EXPECT_EQ(config, ReaderConfig{});
}

TEST(ReaderConfig, OtherSectionsAndBrokenLinesAreIgnored) {
    ReaderConfig config = readerConfigFrom(IniFile::parse(
        "type=0x01\n[system]\ntype=0x02\n[reader\ntype=0x04\n[READER]\nactive = 0x07 \n"
        "no equals sign\n=0x40\n"));
    EXPECT_EQ(config.readerType, 0x15u);
    EXPECT_EQ(config.activeDevices, 0x07u);
}

TEST(ReaderConfig, LongVersionIsCut) {
    ReaderConfig config =
        readerConfigFrom(IniFile::parse("[reader]\nversion=" + std::string(500, 'v') + "\n"));
    EXPECT_EQ(config.version, std::string(kMaxVersionText, 'v'));
}

}  // namespace
}  // namespace qn::sim
