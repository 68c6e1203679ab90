#include "platform/ini.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace qn::platform {
namespace {

struct IniCase {
    const char* name;
    const char* text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

class IniParseTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniParseTest, FindsValue) {
    const IniCase& c = GetParam();
    EXPECT_EQ(IniFile::parse(c.text).value(c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniParseTest,
    ::testing::Values(
        IniCase{"Plain", "[a]\nk=v\n", "a", "k", "v"},
        IniCase{"CaseInsensitiveNames", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n",
                "hkey_local_machine\\ident", "devicemodel", "KX2CE"},
        IniCase{"ValueCaseKept", "[a]\nk=MiXeD\n", "a", "k", "MiXeD"},
        IniCase{"TrimsAndCrLf", "[ a ]\r\n  k  =  v w  \r\n", "a", "k", "v w"},
        IniCase{"Quoted", "[a]\nk=\" v \"\n", "a", "k", " v "},
        IniCase{"EmptyValue", "[a]\nk=\n", "a", "k", ""},
        IniCase{"LastWins", "[a]\nk=1\nk=2\n", "a", "k", "2"},
        IniCase{"LastWinsInAnyCase", "[a]\nKeyZ=1\nkEYz=2\n", "a", "KEYZ", "2"},
        IniCase{"SectionMetAgainInAnyCase", "[Ab]\nk=1\n[aB]\nj=2\n", "AB", "k", "1"},
        IniCase{"PrefixIsAnotherName", "[a]\nabc=1\nab=2\nabcd=3\n", "a", "ABC", "1"},
        IniCase{"OnlyAsciiFolds", "[a]\n\xC4=1\n", "a", "\xE4", std::nullopt},
        IniCase{"Comments", "; c\n# c\n[a]\n;k=1\n", "a", "k", std::nullopt},
        IniCase{"KeyBeforeSection", "k=1\n[a]\n", "a", "k", std::nullopt},
        IniCase{"BrokenHeaderHidesLines", "[a]\nk=1\n[b\nk=2\n", "a", "k", "1"},
        IniCase{"NoEquals", "[a]\nk\n", "a", "k", std::nullopt},
        IniCase{"NoFinalNewline", "[a]\nk=v", "a", "k", "v"},
        IniCase{"EmbeddedNul", std::string_view("[a]\nk=v\0w\n").data(), "a", "k", "v"},
        IniCase{"Empty", "", "a", "k", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniParse, GarbageNeverThrows) {
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 7919) & 0xFF));
    EXPECT_NO_THROW(IniFile::parse(junk));
}

TEST(ParseInteger, DecimalHexAndJunk) {
    EXPECT_EQ(parseInteger("42"), 42);
    EXPECT_EQ(parseInteger("-51"), -51);
    EXPECT_EQ(parseInteger("0x27"), 0x27);
    EXPECT_EQ(parseInteger("0X100"), 0x100);
    EXPECT_EQ(parseInteger(" 7 "), 7);
    EXPECT_EQ(parseInteger("7x"), std::nullopt);
    EXPECT_EQ(parseInteger("0x"), std::nullopt);
    EXPECT_EQ(parseInteger(""), std::nullopt);
    EXPECT_EQ(parseInteger("99999999999999999999999"), std::nullopt);
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/qn-platform-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

TEST(IniRegistry, ReadsFileOnEveryOpen) {
    TempDir dir;
    auto file = dir.path() / "registry.ini";
    IniRegistry registry(file);
    EXPECT_FALSE(registry.openKey("HKEY_LOCAL_MACHINE\\Ident").has_value());
    std::ofstream(file) << "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n";
    auto key = registry.openKey("HKEY_LOCAL_MACHINE\\Ident");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->text("DeviceModel", 100), "KX2CE");
    EXPECT_EQ(key->text("DeviceModel", 3), "KX2");
    EXPECT_EQ(key->text("Name", 100), std::nullopt);
}

TEST(IniRegistry, OversizedFileIsUnreadable) {
    TempDir dir;
    auto file = dir.path() / "registry.ini";
    std::ofstream out(file);
    out << "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n";
    out << std::string(IniFile::kMaxFileBytes, ';');
    out.close();
    EXPECT_FALSE(IniRegistry(file).openKey("HKEY_LOCAL_MACHINE\\Ident").has_value());
}

TEST(DlLibraryLoader, FailsCleanly) {
    TempDir dir;
    DlLibraryLoader loader;
    EXPECT_EQ(loader.load(dir.path() / "missing.so"), nullptr);
    EXPECT_EQ(loader.load("libc.so.6"), nullptr) << "relative names are never searched";
    std::ofstream(dir.path() / "junk.so") << "not a library";
    EXPECT_EQ(loader.load(dir.path() / "junk.so"), nullptr);
}

TEST(Paths, EnvironmentChoosesTheFolders) {
    setenv("QUILLNET_DEVICE_ROOT", "/some/root", 1);
    EXPECT_EQ(deviceRoot(), "/some/root");
    unsetenv("QUILLNET_DEVICE_ROOT");
    EXPECT_EQ(deviceRoot().filename(), "device");

    setenv("QUILLNET_HOME", "/q/home", 1);
    EXPECT_EQ(settingsDir(), "/q/home");
    unsetenv("QUILLNET_HOME");
    setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(settingsDir(), "/xdg/QuillNet");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(settingsDir(), "/home/op/.config/QuillNet");
}

}  // namespace
}  // namespace qn::platform
