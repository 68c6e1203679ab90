#include "vt/dialogs/vt_key_dialogs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "tests/support/scripted_runner.h"

namespace qn::vt {
namespace {

using dialogs::Dialog;
using dialogs::DialogResult;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

using ::qn::test::ScriptedRunner;

struct Fixture {
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    dialogs::DialogContext context{messages, runner, 1};
};

Bytes codeOf(const SelectKeyDialog::Code& code) {
    return {code.begin(), code.end()};
}

TEST(SelectKeyDialog, EmptyCodeTakesTheFunctionDefault) {
    Fixture f;
    SelectKeyDialog d("F5", 5, {});
    d.open(f.context);
    EXPECT_EQ(d.control(SelectKeyDialog::kLabel).text, "F5");
    EXPECT_EQ(d.control(SelectKeyDialog::kFunction).selected, 5);
    EXPECT_EQ(d.control(SelectKeyDialog::kCode).text, "ESC O T ");
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(codeOf(d.code()), (Bytes{0x1B, 'O', 'T', 0, 0}));
}

TEST(SelectKeyDialog, OutOfRangeIndexBecomesUndefined) {
    Fixture f;
    SelectKeyDialog d("BS", 77, {'x', 0, 0, 0, 0});
    d.open(f.context);
    EXPECT_EQ(d.functionIndex(), 0);
    EXPECT_EQ(d.control(SelectKeyDialog::kCode).text, "x ");
}

TEST(SelectKeyDialog, ChoosingAFunctionReplacesTheCode) {
    Fixture f;
    SelectKeyDialog d("Tab", 0, {'a', 'b', 'c', 'd', 'e'});
    d.open(f.context);
    EXPECT_EQ(d.control(SelectKeyDialog::kCode).text, "a b c d e ");
    d.select(SelectKeyDialog::kFunction, 25);
    EXPECT_EQ(d.control(SelectKeyDialog::kCode).text, "ESC [ 2 ~ ");
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(d.functionIndex(), 25);
    EXPECT_EQ(codeOf(d.code()), (Bytes{0x1B, '[', '2', '~', 0}));
}

TEST(SelectKeyDialog, PickingACodeByHandKeepsTheFunction) {
    Fixture f;
    f.runner.scripts.push_back([](Dialog& picker) {
        picker.click(dialogs::CharEntryDialog::kClear);
        picker.clickCell(dialogs::CharEntryDialog::kGrid, 1, 5);  // 'A'
        picker.clickCell(dialogs::CharEntryDialog::kGrid, 3, 1);  // 0x03
        picker.pressOk();
        return DialogResult::Ok;
    });
    SelectKeyDialog d("F1", 1, {});
    d.open(f.context);
    d.focus(SelectKeyDialog::kCode);
    EXPECT_THAT(f.runner.opened, ElementsAre("The Grid Control"));
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(d.functionIndex(), 1);
    EXPECT_EQ(codeOf(d.code()), (Bytes{'A', 0x03, 0, 0, 0}));
}

struct EnablingCase {
    const char* model;
    int digit;
    bool sendEnd;
    bool f13to20;
};

class KeyMappingEnablingTest : public ::testing::TestWithParam<EnablingCase> {};

TEST_P(KeyMappingEnablingTest, SendEndAndHighFunctionKeys) {
    Fixture f;
    auto session = std::make_unique<VtSession>();
    CDlgVTKeyMapping page(session->settings, GetParam().model, GetParam().digit);
    page.open(f.context);
    EXPECT_EQ(page.control(CDlgVTKeyMapping::buttonId(27)).enabled, GetParam().sendEnd);
    EXPECT_EQ(page.control(CDlgVTKeyMapping::buttonId(28)).enabled, GetParam().sendEnd);
    for (int slot = 13; slot <= 20; ++slot) {
        EXPECT_EQ(page.control(CDlgVTKeyMapping::buttonId(slot)).enabled, GetParam().f13to20);
    }
    EXPECT_TRUE(page.control(CDlgVTKeyMapping::buttonId(12)).enabled);
    EXPECT_TRUE(page.control(CDlgVTKeyMapping::buttonId(21)).enabled);
}

INSTANTIATE_TEST_SUITE_P(Models, KeyMappingEnablingTest,
                         ::testing::Values(EnablingCase{"KX4CE", 1, true, true},
                                           EnablingCase{"KX4CE", 0, true, false},
                                           EnablingCase{"KX2CE", 3, false, true},
                                           EnablingCase{"KX2CE", 0, false, false}));

TEST(CDlgVTKeyMapping, ShowsFunctionNamesAndStoresAtOnce) {
    Fixture f;
    auto session = std::make_unique<VtSession>();
    slotFunction(session->settings, 25) = 25;  // BS shows "Insert"
    slotFunction(session->settings, 26) = 200;
    CDlgVTKeyMapping page(session->settings, "KX2CE", 1);
    page.open(f.context);
    EXPECT_EQ(page.control(CDlgVTKeyMapping::nameId(25)).text, "Insert");
    EXPECT_EQ(page.control(CDlgVTKeyMapping::nameId(26)).text, "Undefined");
    EXPECT_EQ(page.control(CDlgVTKeyMapping::nameId(1)).text, "Undefined");
    EXPECT_EQ(page.control(CDlgVTKeyMapping::buttonId(21)).text, "Fn+L");

    f.runner.scripts.push_back([](Dialog& select) {
        EXPECT_EQ(select.control(SelectKeyDialog::kLabel).text, "Fn+Left");
        select.select(SelectKeyDialog::kFunction, 21);
        select.pressOk();
        return DialogResult::Ok;
    });
    page.click(CDlgVTKeyMapping::buttonId(21));
    EXPECT_EQ(page.control(CDlgVTKeyMapping::nameId(21)).text, "PgUp");
    EXPECT_EQ(slotFunction(session->settings, 21), 21);
    auto code = slotCode(session->settings, 21);
    EXPECT_EQ(Bytes(code.begin(), code.end()), (Bytes{0x1B, '[', 'V', 0, 0}));
    EXPECT_EQ(session->settings.keyCodeTable[5 * 21], 0x1B) << "slot 21 at R+1010";

    // A cancelled "Select A Key" changes nothing.
    f.runner.scripts.push_back([](Dialog& select) {
        select.select(SelectKeyDialog::kFunction, 3);
        select.pressCancel();
        return DialogResult::Cancel;
    });
    page.click(CDlgVTKeyMapping::buttonId(21));
    EXPECT_EQ(slotFunction(session->settings, 21), 21);
    // A disabled button opens nothing.
    page.click(CDlgVTKeyMapping::buttonId(27));
    EXPECT_EQ(f.runner.opened.size(), 2u);
}

TEST(VtKeyPanel, ButtonsReturnVirtualKeys) {
    const std::vector<std::pair<int, int>> cases{{0, 0x70},  {19, 0x83}, {20, 0x21}, {21, 0x22},
                                                 {22, 0x2D}, {23, 0x24}, {24, 0x23}, {25, 0x09},
                                                 {26, 0x2E}, {27, 0x08}};
    for (auto [index, virtualKey] : cases) {
        Fixture f;
        VtKeyPanel panel;
        panel.open(f.context);
        panel.click(VtKeyPanel::buttonId(index));
        EXPECT_FALSE(panel.isOpen());
        EXPECT_EQ(panel.virtualKey(), virtualKey) << index;
    }
    Fixture f;
    VtKeyPanel panel;
    panel.open(f.context);
    panel.pressCancel();
    EXPECT_EQ(panel.virtualKey(), 0);
}

TEST(DefaultKeyMap, WithAndWithoutCodes) {
    for (bool withCodes : {false, true}) {
        auto session = std::make_unique<VtSession>();
        session->settings.keyFunctionTable.fill(0x55);
        installDefaultKeyMap(*session, withCodes);
        EXPECT_EQ(session->settingsLoaded, 1);
        EXPECT_EQ(slotFunction(session->settings, 5), 5);
        EXPECT_EQ(slotFunction(session->settings, 21), 0);
        EXPECT_EQ(session->settings.keyFunctionTable[0], 0);
        auto code = slotCode(session->settings, 5);
        const Bytes expected = withCodes ? Bytes{0x1B, 'O', 'T', 0, 0} : Bytes{0, 0, 0, 0, 0};
        EXPECT_EQ(Bytes(code.begin(), code.end()), expected);
    }
}

}  // namespace
}  // namespace qn::vt
