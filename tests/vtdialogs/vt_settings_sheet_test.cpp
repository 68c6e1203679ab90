#include "vt/dialogs/vt_settings_sheet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/fake_services.h"
#include "vt/keyboard/vt_keyboard.h"

namespace qn::vt {
namespace {

using dialogs::DialogResult;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

class CancelRunner final : public dialogs::DialogRunner {
  public:
    DialogResult runModal(dialogs::Dialog&) override { return DialogResult::Cancel; }
};

struct Fixture {
    Fixture() {
        char pattern[] = "/tmp/qn-sheet-XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
    test::FakeServices fakes;
    reader::ReaderLibrary reader{fakes.services};
    std::unique_ptr<VtSession> session = std::make_unique<VtSession>();
    VtDocument document{*session, reader, fakes.messages, dir};
    CancelRunner runner;
    dialogs::DialogContext context{fakes.messages, runner, 1};
};

TEST(CDlgVTScreen, ClicksAreWrittenAtOnce) {
    Fixture f;
    f.session->settings.scrollBarsSetting.set(1);
    CDlgVTScreen page(f.session->settings);
    page.open(f.context);
    EXPECT_TRUE(page.control(CDlgVTScreen::kScrollBar).checked);
    EXPECT_FALSE(page.control(CDlgVTScreen::kTaskBar).checked);
    page.click(CDlgVTScreen::kTaskBar);
    EXPECT_EQ(f.session->settings.taskBarOnFullScreen.get(), 1);
    page.click(CDlgVTScreen::kScrollBar);
    EXPECT_EQ(f.session->settings.scrollBarsSetting.get(), 0);
    page.pressCancel();
    EXPECT_EQ(f.session->settings.taskBarOnFullScreen.get(), 1) << "Cancel does not undo it";
}

TEST(SetConfigFileDialog, ShowsThePathAndTakesTheBrowsedOne) {
    Fixture f;
    std::optional<std::string> chosen = f.document.browsedPath("/data/site.qnv");
    SetConfigFileDialog d("/cfg/QuillNet_VT_v3.qnvt", [&] { return chosen; });
    d.open(f.context);
    EXPECT_EQ(d.control(SetConfigFileDialog::kLabel).text, "Set load file path:");
    EXPECT_EQ(d.path(), "/cfg/QuillNet_VT_v3.qnvt");
    d.click(SetConfigFileDialog::kBrowse);
    EXPECT_EQ(d.path(), "/data/site.qnvt") << "the missing fourth letter is appended";
    chosen.reset();
    d.click(SetConfigFileDialog::kBrowse);
    EXPECT_EQ(d.path(), "/data/site.qnvt") << "a cancelled browse keeps the text";
    ASSERT_TRUE(d.pressOk());
}

TEST(VtSettingsSheet, PagesInOrderAndTheSaveQuestionOnlyAfterAChange) {
    Fixture f;
    f.session->settingsLoaded = 1;
    VtSettingsSheet sheet(*f.session, f.document, f.reader, f.fakes.messages, "KX2CE", 1);
    auto& pages = sheet.open(f.context);
    EXPECT_EQ(pages.caption(), "Settings");
    ASSERT_EQ(pages.pages().size(), 4u);
    EXPECT_EQ(pages.pages()[2]->caption(), "Function Key Maping");
    EXPECT_EQ(pages.pages()[3]->caption(), "Screen");
    std::vector<std::string> asked;
    auto ask = [&](std::string_view text) {
        asked.emplace_back(text);
        return false;
    };
    ASSERT_TRUE(pages.pressOk());
    sheet.finish(true, ask);
    EXPECT_THAT(asked, IsEmpty());

    sheet.open(f.context);
    sheet.screen().click(CDlgVTScreen::kTaskBar);
    sheet.finish(true, ask);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Save change to\r" + f.document.currentSettingsPath() + " ?");
}

TEST(VtSettingsSheet, WithoutSettingsFileTheSheetInstallsDefaultCodes) {
    Fixture f;
    f.session->settingsLoaded = 0;
    VtSettingsSheet sheet(*f.session, f.document, f.reader, f.fakes.messages, "KX2CE", 1);
    sheet.open(f.context);
    EXPECT_EQ(f.session->settingsLoaded, 1);
    auto code = slotCode(f.session->settings, 5);
    EXPECT_EQ(Bytes(code.begin(), code.end()), (Bytes{0x1B, 'O', 'T', 0, 0}));
    EXPECT_EQ(sheet.keyMapping().control(CDlgVTKeyMapping::nameId(5)).text, "F5");
}

}  // namespace
}  // namespace qn::vt

namespace qn::vt {
namespace {

// Without a settings file, what F5 sends depends on what came first: the sheet installs the
// default codes, the first connection only the function indexes.
TEST(DefaultKeyMapOrder, SheetFirstOrConnectionFirst) {
    for (bool sheetFirst : {true, false}) {
        Fixture f;
        f.session->settingsLoaded = 0;
        if (sheetFirst) {
            VtSettingsSheet sheet(*f.session, f.document, f.reader, f.fakes.messages, "KX2CE", 1);
            sheet.open(f.context);
        } else {
            installDefaultKeyMap(*f.session, false);  // what the first connect does
            VtSettingsSheet sheet(*f.session, f.document, f.reader, f.fakes.messages, "KX2CE", 1);
            sheet.open(f.context);
        }
        auto mapped = translateMappedKey(f.session->settings, 0x74);
        const Bytes expected = sheetFirst ? Bytes{0x1B, 'O', 'T', 0, 0} : Bytes{0, 0, 0, 0, 0};
        EXPECT_EQ(Bytes(mapped.begin(), mapped.end()), expected) << sheetFirst;
    }
}

}  // namespace
}  // namespace qn::vt
