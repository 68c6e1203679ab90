// The VT settings document: defaults, loading and saving, start-up, and the File menu flows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/settings/fake_reader.h"
#include "tests/simreader/test_support.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string bytesOf(const VtSettings& s) {
    return {reinterpret_cast<const char*>(s.bytes().data()), s.bytes().size()};
}

struct Fixture {
    explicit Fixture(int readerType = 0x01) : fake(readerType) {}
    test::FakeReader fake;
    test::TempDir dir;
    VtSession session;
    VtDocument document{session, fake.library, fake.messages, dir.path()};
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

mode_t fileMode(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

TEST(VtDefaults, FillTheImageAndRunTheReaderPart) {
    Fixture f;
    f.session.settings.lineBuffer = 1;
    f.session.settings.prefixOn = 1;  // not a default: kept
    f.document.setDefaultSettings();
    const VtSettings& s = f.session.settings;
    EXPECT_EQ(reader::fixedText(s.hostAddress), "192.168.1.100");
    EXPECT_THAT(s.bytes().subspan(106, 2), ElementsAre(23, 0));
    EXPECT_EQ(reader::fixedText(s.loginName), "guest");
    EXPECT_EQ(reader::fixedText(s.loginPrompt), "login:");
    EXPECT_EQ(reader::fixedText(s.passwordPrompt), "Password:");
    EXPECT_EQ(reader::fixedText(s.terminalType), "vt100");
    EXPECT_EQ(s.fontWidth, 8);
    EXPECT_EQ(s.fontHeight, 16);
    EXPECT_EQ(s.cursorTracking, 1);
    EXPECT_EQ(s.localEcho, 1);
    EXPECT_EQ(s.lineBuffer, 0);
    EXPECT_EQ(s.scrollBarsSetting.get(), 1);
    EXPECT_EQ(s.prefixOn, 1);
    EXPECT_EQ(reader::fixedText(s.enableCommand), "\x1b[99h");
    EXPECT_EQ(s.engine.values[(1468 - 1160) / 4].get(), test::libraryValue(0, 0));
    EXPECT_EQ(f.session.settingsSaved, 0);
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty());
}

TEST(VtPaths, FollowTheProgramFileRule) {
    Fixture f;
    EXPECT_EQ(f.document.defaultSettingsPath(), f.path("QuillNet_VT_v3.qnvt"));
    EXPECT_EQ(f.document.pointerFilePath(), f.path("QuillNet_VT_v3.ini"));
    EXPECT_EQ(f.document.currentSettingsPath(), f.document.defaultSettingsPath());
    // Joined as paths join: one separator, none after an empty folder.
    const std::pair<std::string, std::string> joins[] = {
        {"/data/qn", "/data/qn/QuillNet_VT_v3."},
        {"/data/qn/", "/data/qn/QuillNet_VT_v3."},
        {"/", "/QuillNet_VT_v3."},
        {"", "QuillNet_VT_v3."},
    };
    for (const auto& [dir, base] : joins) {
        const auto paths = reader::documentPaths(dir, kVtProgramName, kVtExtension);
        EXPECT_EQ(paths.defaultSettingsPath, base + "qnvt") << dir;
        EXPECT_EQ(paths.pointerFilePath, base + "ini") << dir;
    }
}

TEST(VtLoad, ReadsUpToTheImageSizeAndKeepsTheRest) {
    for (std::size_t size : {0u, 1u, 100u, 3119u, 3120u, 3121u, 5000u}) {
        Fixture f;
        f.document.setDefaultSettings();
        const std::string before = bytesOf(f.session.settings);
        std::string file(size, '\x7e');
        test::writeFile(f.path("x.qnvt"), file);
        test::gCalls.clear();
        ASSERT_TRUE(f.document.loadSettings(f.path("x.qnvt"))) << size;
        const std::string after = bytesOf(f.session.settings);
        std::size_t changed = std::min<std::size_t>(size, kVtSettingsSize);
        EXPECT_EQ(after.substr(0, changed), file.substr(0, changed)) << size;
        EXPECT_EQ(after.substr(changed), before.substr(changed)) << size;
        // The loaded engine values go to the library.
        EXPECT_EQ(f.fake.callNames().at(1), "UserPreferences_1D w") << size;
    }
}

TEST(VtLoad, RefusesWhatCannotBeOpenedAsAFile) {
    Fixture f;
    for (const std::string& path : {f.path("missing.qnvt"), f.dir.path().string(), std::string()}) {
        EXPECT_FALSE(f.document.loadSettings(path)) << path;
    }
    EXPECT_THAT(f.fake.callNames(), IsEmpty());
}

TEST(VtSave, KeepsTheTailOfALongerFileAndCreatesPrivateFiles) {
    Fixture f;
    f.document.setDefaultSettings();
    test::writeFile(f.path("long.qnvt"), std::string(4000, 'T'));
    ::chmod(f.path("long.qnvt").c_str(), 0644);
    ASSERT_TRUE(f.document.saveSettings(f.path("long.qnvt")));
    std::string written = test::readFile(f.path("long.qnvt"));
    ASSERT_EQ(written.size(), 4000u);
    EXPECT_EQ(written.substr(0, kVtSettingsSize), bytesOf(f.session.settings));
    EXPECT_EQ(written.substr(kVtSettingsSize), std::string(4000 - kVtSettingsSize, 'T'));
    EXPECT_EQ(fileMode(f.path("long.qnvt")), 0644u);  // an existing file keeps its mode
    EXPECT_EQ(f.session.settingsSaved, 1);

    ASSERT_TRUE(f.document.saveSettings(f.path("new.qnvt")));
    EXPECT_EQ(test::readFile(f.path("new.qnvt")), bytesOf(f.session.settings));
    EXPECT_EQ(fileMode(f.path("new.qnvt")), 0600u);
}

TEST(VtSave, FailureLeavesSettingsSavedAndReportsOnce) {
    Fixture f;
    f.session.settingsSaved = 0;
    f.document.setConfigFile(f.path("no/such/dir/x.qnvt"));
    f.fake.messages.clear();
    f.document.save();
    EXPECT_EQ(f.session.settingsSaved, 0);
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Save file fialed!"));
}

TEST(VtStartup, PicksTheDocumentAndReportsABadPointer) {
    struct Case {
        const char* label;
        std::optional<std::string> pointer;  // nullopt: no pointer file
        bool documentExists;
        bool loaded;
        bool message;
    };
    const Case cases[] = {
        {"no pointer, default present", std::nullopt, true, true, false},
        {"no pointer, no default", std::nullopt, false, false, false},
        {"empty pointer", std::string(), true, false, true},
        {"pointer to document", std::string("doc.qnvt"), true, true, false},
        {"pointer with line end", std::string("doc.qnvt\n"), true, true, false},
        {"pointer to missing", std::string("gone.qnvt"), true, false, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.document.setDefaultSettings();
        VtSettings stored = f.session.settings;
        reader::storeText(stored.hostAddress, "stored-host");
        std::string documentPath = f.document.defaultSettingsPath();
        if (c.pointer) {
            std::string target = c.pointer->empty() ? "" : f.path(*c.pointer);
            test::writeFile(f.document.pointerFilePath(), target);
            documentPath = f.path("doc.qnvt");
        }
        if (c.documentExists) test::writeFile(documentPath, bytesOf(stored));
        f.fake.messages.clear();

        f.document.loadAtStartup();
        EXPECT_EQ(f.session.settingsLoaded, c.loaded ? 1 : 0) << c.label;
        EXPECT_EQ(reader::fixedText(f.session.settings.hostAddress),
                  c.loaded ? "stored-host" : "192.168.1.100")
            << c.label;
        if (c.message) {
            EXPECT_THAT(f.fake.messages.texts(),
                        ElementsAre("Failed to Open configuration File!! Please check the path"))
                << c.label;
        } else {
            EXPECT_THAT(f.fake.messages.texts(), IsEmpty()) << c.label;
        }
    }
}

TEST(VtStartup, AsksForConnectAndFullScreenOnlyTogether) {
    struct Case {
        std::uint8_t autoConnect;
        std::int32_t autoFullScreen;
        bool connect;
        bool fullScreen;
    };
    for (const Case c : {Case{0, 0, false, false}, Case{1, 0, true, false},
                         Case{0, 1, false, false}, Case{1, 1, true, true}}) {
        Fixture f;
        VtSettings stored{};
        stored.autoConnect = c.autoConnect;
        stored.autoFullScreen.set(c.autoFullScreen);
        test::writeFile(f.document.defaultSettingsPath(), bytesOf(stored));
        StartupRequests requests = f.document.loadAtStartup();
        EXPECT_EQ(requests.connect, c.connect);
        EXPECT_EQ(requests.fullScreen, c.fullScreen);
    }
}

TEST(VtFileMenu, ExtensionMissingItsLastLetterIsCompleted) {
    struct Case {
        const char* chosen;
        const char* used;
    };
    const Case cases[] = {
        {"/d/a.qnv", "/d/a.qnvt"}, {"/d/a.qnvt", "/d/a.qnvt"}, {"/d/a.qn", "/d/a.qn"},
        {"/d.qnv/a", "/d.qnv/a"},  {"/d/a", "/d/a"},           {"/d/a.txt", "/d/a.txt"},
        {"a.qnv", "a.qnvt"},
    };
    Fixture f;
    for (const auto& c : cases)
        EXPECT_EQ(f.document.browsedPath(c.chosen), c.used) << c.chosen;
    EXPECT_EQ(reader::completeExtension("/d/b.qnt", "qntn"), "/d/b.qntn");
}

TEST(VtFileMenu, OpenLoadsTheCompletedPathOrRestoresDefaults) {
    Fixture f;
    f.document.setDefaultSettings();
    VtSettings stored = f.session.settings;
    reader::storeText(stored.hostAddress, "opened");
    test::writeFile(f.path("a.qnvt"), bytesOf(stored));

    bool asked = false;
    f.document.open(true, [&] { return asked = true, std::optional<std::string>(); });
    EXPECT_FALSE(asked);
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Shut off the connection first!"));

    f.document.open(false, [&] { return std::optional<std::string>(f.path("a.qnv")); });
    EXPECT_EQ(f.document.currentSettingsPath(), f.path("a.qnvt"));
    EXPECT_EQ(reader::fixedText(f.session.settings.hostAddress), "opened");

    f.fake.messages.clear();
    f.document.open(false, [&] { return std::optional<std::string>(f.path("gone.qnvt")); });
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Failed to Open File!!"));
    EXPECT_EQ(reader::fixedText(f.session.settings.hostAddress), "192.168.1.100");
}

TEST(VtFileMenu, SaveAsMovesTheCurrentPathOnlyOnSuccess) {
    Fixture f;
    f.document.saveAs([&] { return std::optional<std::string>(f.path("b.qnv")); });
    EXPECT_EQ(f.document.currentSettingsPath(), f.path("b.qnvt"));
    EXPECT_EQ(test::readFile(f.path("b.qnvt")).size(), kVtSettingsSize);

    f.document.saveAs([&] { return std::optional<std::string>(f.path("none/c.qnvt")); });
    EXPECT_EQ(f.document.currentSettingsPath(), f.path("b.qnvt"));
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Save file fialed!"));
}

TEST(VtFileMenu, SetConfigFileLoadsAndRewritesThePointerFile) {
    Fixture f;
    test::writeFile(f.document.pointerFilePath(), std::string(300, 'z'));
    VtSettings stored{};
    reader::storeText(stored.hostAddress, "configured");
    test::writeFile(f.path("c.qnvt"), bytesOf(stored));

    f.document.setConfigFile(f.path("c.qnvt"));
    EXPECT_EQ(test::readFile(f.document.pointerFilePath()), f.path("c.qnvt"));
    EXPECT_EQ(reader::fixedText(f.session.settings.hostAddress), "configured");

    f.document.setConfigFile("");
    EXPECT_EQ(f.document.currentSettingsPath(), f.document.defaultSettingsPath());
    EXPECT_EQ(test::readFile(f.document.pointerFilePath()), f.document.defaultSettingsPath());
}

TEST(VtConfigure, AsksOnlyWhenTheSheetChangedTheImage) {
    struct Case {
        const char* label;
        bool ok;
        bool change;
        bool answer;
        bool asked;
        bool saved;
        std::uint8_t settingsSaved;
    };
    const Case cases[] = {
        {"cancel", false, true, true, false, false, 1},
        {"ok unchanged", true, false, true, false, false, 1},
        {"ok changed yes", true, true, true, true, true, 1},
        {"ok changed no", true, true, false, true, false, 0},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.session.settingsLoaded = 1;
        f.session.settingsSaved = 1;
        VtSettings before = f.document.beginConfigure(nullptr);
        // The first value of UserPreferences_1D, the first operation of the 1D group.
        if (c.change) f.session.settings.engine.values[(1468 - 1160) / 4].set(77);
        std::vector<std::string> questions;
        test::gCalls.clear();
        f.document.finishConfigure(before, c.ok, [&](std::string_view q) {
            questions.emplace_back(q);
            return c.answer;
        });
        if (c.asked) {
            EXPECT_THAT(questions,
                        ElementsAre("Save change to\r" + f.document.defaultSettingsPath() + " ?"))
                << c.label;
        } else {
            EXPECT_THAT(questions, IsEmpty()) << c.label;
        }
        EXPECT_EQ(std::filesystem::exists(f.document.defaultSettingsPath()), c.saved) << c.label;
        EXPECT_EQ(f.session.settingsSaved, c.settingsSaved) << c.label;
        // A changed image reaches the library with either answer.
        bool synced =
            !test::gCalls.empty() && test::gCalls[1].given == std::vector<std::int32_t>{77, 0, 0};
        EXPECT_EQ(synced, c.asked) << c.label;
    }
}

TEST(VtConfigure, InstallsTheDefaultKeyMapOnceBeforeTheFirstSheet) {
    Fixture f;
    int installs = 0;
    auto install = [&](VtSettings& s) {
        ++installs;
        s.keyFunctionTable[1] = 1;
    };
    VtSettings before = f.document.beginConfigure(install);
    EXPECT_EQ(before.keyFunctionTable[1], 0);  // copied before the key map went in
    EXPECT_EQ(f.session.settingsLoaded, 1);
    f.document.beginConfigure(install);
    EXPECT_EQ(installs, 1);
}

}  // namespace
}  // namespace qn::vt
