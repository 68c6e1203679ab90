// The 5250 settings document: defaults, loading, the framework's open, saving and Configure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/settings/fake_reader.h"
#include "tests/simreader/test_support.h"
#include "tn5250/settings/tn_document.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string bytesOf(const TnSession& s) {
    return {reinterpret_cast<const char*>(s.bytes().data()), s.bytes().size()};
}

struct Fixture {
    Fixture() : fake(0x40) {}
    test::FakeReader fake;
    test::TempDir dir;
    TnSessionState state;
    TnDocument document{state, fake.library, fake.messages, dir.path()};
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

TEST(TnDefaults, FillTheRecordWithoutTheTag) {
    Fixture f;
    f.document.applyDefaults();
    const TnSession& r = f.state.settings;
    EXPECT_THAT(r.documentTag, ::testing::Each(0));
    EXPECT_EQ(reader::fixedText(r.hostAddress), "192.168.1.100");
    EXPECT_THAT(r.bytes().subspan(777, 2), ElementsAre(0x17, 0x00));
    EXPECT_EQ(reader::fixedText(r.loginName), "guest");
    EXPECT_EQ(reader::fixedText(r.loginPassword), "");
    EXPECT_EQ(reader::fixedText(r.deviceName), "");
    EXPECT_EQ(r.useDeviceName, 1);
    EXPECT_EQ(r.language, 0);
    EXPECT_EQ(r.cursorTracking, 1);
    EXPECT_EQ(r.fontHeight, 16);
    EXPECT_EQ(r.fontWidth, 8);
    EXPECT_EQ(r.scrollBarsSetting.get(), 0);  // not a default
    EXPECT_EQ(r.errorBeeper.get(), 2);
    EXPECT_EQ(f.document.defaultSettingsPath(), f.path("QuillNetTN_v3.qntn"));
    EXPECT_EQ(f.document.pointerFilePath(), f.path("QuillNetTN_v3.ini"));
}

TEST(TnLoad, DefaultedDocumentRoundTripsButFailsTheFrameworkOpen) {
    Fixture f;
    f.document.applyDefaults();
    ASSERT_TRUE(f.document.saveSettings(f.path("d.qntn")));
    const std::string saved = test::readFile(f.path("d.qntn"));
    ASSERT_EQ(saved.size(), kTnSessionSize);
    EXPECT_EQ(saved.substr(0, 6), std::string(6, '\0'));

    TnSessionState other;
    TnDocument reader(other, f.fake.library, f.fake.messages, f.dir.path());
    EXPECT_TRUE(reader.loadSettings(f.path("d.qntn")));
    EXPECT_EQ(bytesOf(other.settings), saved);

    other.settings.language = 4;
    EXPECT_FALSE(reader.openDocument(f.path("d.qntn")));
    EXPECT_EQ(other.settings.language, 4);
    ASSERT_EQ(f.fake.messages.shown().size(), 1u);
    EXPECT_EQ(f.fake.messages.shown()[0].text, "Wrong file format, load failed!");
    EXPECT_EQ(f.fake.messages.shown()[0].icon, platform::MbIcon::Stop);
}

TEST(TnOpenDocument, AcceptsOnlyExactSizeWithTheTag) {
    struct Case {
        const char* label;
        std::size_t size;
        std::string tag;
        bool accepted;
        bool message;
    };
    const Case cases[] = {
        {"exact with tag", kTnSessionSize, "eI100", true, false},
        {"one short", kTnSessionSize - 1, "eI100", false, false},
        {"one long", kTnSessionSize + 1, "eI100", false, false},
        {"empty", 0, "", false, false},
        {"exact without tag", kTnSessionSize, "eI101", false, true},
        {"exact, tag case differs", kTnSessionSize, "EI100", false, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        std::string file(c.size, '\x03');
        file.replace(0, std::min(c.tag.size(), c.size), c.tag.substr(0, c.size));
        test::writeFile(f.path("o.qntn"), file);
        test::gCalls.clear();
        EXPECT_EQ(f.document.openDocument(f.path("o.qntn")), c.accepted) << c.label;
        EXPECT_EQ(f.fake.messages.texts().size(), c.message ? 1u : 0u) << c.label;
        EXPECT_EQ(f.document.currentSettingsPath() == f.path("o.qntn"), c.accepted) << c.label;
        EXPECT_EQ(f.state.settings.language, c.accepted ? 3 : 0) << c.label;
        EXPECT_EQ(test::gCalls.empty(), !c.accepted) << c.label;
    }
    Fixture f;
    EXPECT_FALSE(f.document.openDocument(f.path("missing.qntn")));
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty());
}

TEST(TnLoad, ShortFileChangesOnlyItsOwnBytes) {
    Fixture f;
    f.document.applyDefaults();
    const std::string before = bytesOf(f.state.settings);
    test::writeFile(f.path("s.qntn"), std::string(600, '\x01'));
    EXPECT_TRUE(f.document.loadSettings(f.path("s.qntn")));
    const std::string after = bytesOf(f.state.settings);
    EXPECT_EQ(after.substr(0, 600), std::string(600, '\x01'));
    EXPECT_EQ(after.substr(600), before.substr(600));
}

TEST(TnSave, ReplacesALongerFileSoTheFrameworkOpenStillAcceptsIt) {
    Fixture f;
    f.document.applyDefaults();
    reader::storeText(f.state.settings.documentTag, "eI100");
    test::writeFile(f.path("l.qntn"), std::string(5000, 'L'));
    ASSERT_TRUE(f.document.saveSettings(f.path("l.qntn")));
    EXPECT_EQ(test::readFile(f.path("l.qntn")), bytesOf(f.state.settings));
    EXPECT_TRUE(f.document.openDocument(f.path("l.qntn")));
}

TEST(TnFileMenu, SaveAsCompletesTheExtensionAndReportsCreateFailure) {
    Fixture f;
    f.document.saveAs([&] { return std::optional<std::string>(f.path("n.qnt")); });
    EXPECT_EQ(f.document.currentSettingsPath(), f.path("n.qntn"));
    EXPECT_EQ(f.state.settingsSaved, 1);
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty());

    f.state.settingsSaved = 0;
    f.document.saveAs([&] { return std::optional<std::string>(f.path("x/n.qntn")); });
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Create file fialed!"));
    EXPECT_EQ(f.state.settingsSaved, 0);

    f.fake.messages.clear();
    f.document.save();  // Save fails silently
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty());
}

TEST(TnFileMenu, OpenWhileConnectedAsksNothing) {
    Fixture f;
    bool asked = false;
    f.document.open(true, [&] { return asked = true, std::optional<std::string>(); });
    EXPECT_FALSE(asked);
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Shut off the connection first!"));
    f.fake.messages.clear();
    // A failed load is not reported and keeps the record.
    f.state.settings.language = 5;
    f.document.open(false, [&] { return std::optional<std::string>(f.path("gone.qnt")); });
    EXPECT_EQ(f.document.currentSettingsPath(), f.path("gone.qntn"));
    EXPECT_EQ(f.state.settings.language, 5);
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty());
}

TEST(TnStartup, EmptyPointerFileIsReported) {
    Fixture f;
    test::writeFile(f.document.pointerFilePath(), "");
    f.document.loadAtStartup();
    EXPECT_EQ(f.state.settingsLoaded, 0);
    EXPECT_THAT(f.fake.messages.texts(),
                ElementsAre("Failed to Open configuration File!! Please check the path"));
}

TEST(TnConfigure, EveryOkReachesTheLibraryButOnlyAChangeAsks) {
    struct Case {
        bool ok;
        bool change;
        bool asked;
        bool synced;
    };
    for (const Case c : {Case{false, true, false, false}, Case{true, false, false, true},
                         Case{true, true, true, true}}) {
        Fixture f;
        f.state.settingsLoaded = 1;
        f.state.settingsSaved = 1;
        TnSession before = f.document.beginConfigure(nullptr);
        if (c.change) f.state.settings.overLengthRule = 2;
        int questions = 0;
        test::gCalls.clear();
        f.document.finishConfigure(before, c.ok, [&](std::string_view q) {
            ++questions;
            EXPECT_EQ(q, "Save change to\r" + f.document.currentSettingsPath() + " ?");
            return true;
        });
        EXPECT_EQ(questions, c.asked ? 1 : 0);
        EXPECT_EQ(!test::gCalls.empty(), c.synced);
        EXPECT_EQ(std::filesystem::exists(f.document.currentSettingsPath()), c.asked);
    }
}

// The operator asked for this save: a file that cannot be written is said, as in the VT
// program, and the record stays changed and unsaved.
TEST(TnConfigure, AFailedSaveAfterYesIsReported) {
    Fixture f;
    f.state.settingsLoaded = 1;
    f.state.settingsSaved = 1;
    f.document.setConfigFile(f.dir.path().string());  // a folder: no file can be made there
    const TnSession before = f.document.beginConfigure(nullptr);
    f.state.settings.overLengthRule = 2;
    f.document.finishConfigure(before, true, [](std::string_view) { return true; });
    EXPECT_THAT(f.fake.messages.texts(), ElementsAre("Save file fialed!"));
    EXPECT_EQ(f.state.settingsSaved, 0);
    EXPECT_EQ(f.state.settings.overLengthRule, 2);
    f.fake.messages.clear();
    f.document.save();
    EXPECT_THAT(f.fake.messages.texts(), IsEmpty()) << "Save itself stays silent";
}

TEST(TnConfigure, TheDefaultKeyMapGoesInOnlyWithoutASettingsFile) {
    for (const std::uint8_t loaded : {0, 1}) {
        Fixture f;
        f.state.settingsLoaded = loaded;
        slotFunction(f.state.settings, 46) = 44;  // Tab mapped to RESET
        const TnSession before = f.document.beginConfigure(installDefaultKeyMap);
        EXPECT_EQ(slotFunction(before, 1), 0) << "copied before the key map went in";
        EXPECT_EQ(slotFunction(f.state.settings, 1), loaded ? 0 : 1);
        EXPECT_EQ(slotFunction(f.state.settings, 20), loaded ? 0 : 20);
        EXPECT_EQ(slotFunction(f.state.settings, 46), loaded ? 44 : 0);
        EXPECT_EQ(f.state.settingsLoaded, 1);
        // Once per run: a later sheet keeps what the operator mapped.
        slotFunction(f.state.settings, 1) = 45;
        f.document.beginConfigure(installDefaultKeyMap);
        EXPECT_EQ(slotFunction(f.state.settings, 1), 45);
    }
}

}  // namespace
}  // namespace qn::tn
