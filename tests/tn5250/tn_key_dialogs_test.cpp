// The 5250 keyboard dialogs as models: the mapping page's buttons and their enabling, a slot
// stored at once through "Select Object Key", and the key panel's 38 functions.

#include "tn5250/dialogs/tn_key_dialogs.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/message_queue.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "tests/support/scripted_runner.h"
#include "tn5250/dialogs/tn_settings_sheet.h"

namespace qn::tn {
namespace {

using dialogs::Dialog;
using dialogs::DialogResult;

using ::qn::test::ScriptedRunner;

struct Fixture {
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    dialogs::DialogContext context{messages, runner, 1};
    std::unique_ptr<TnSession> session = std::make_unique<TnSession>();
};

TEST(CDlgTNKeyMapping, ButtonsNamesAndEnablingByModelAndSystemDigit) {
    struct Case {
        const char* model;
        int digit;
        bool sendEnd;
        bool upperF;
    };
    const Case cases[] = {
        {"KX2CE", 0, false, false},
        {"KX2CE", 3, false, true},
        {"KX4CE", 0, true, false},
        {"KX4CE", 1, true, true},
    };
    for (const auto& c : cases) {
        Fixture f;
        slotFunction(*f.session, 1) = fn::kEnter;
        slotFunction(*f.session, 46) = 99;  // from a file: shown as "Undefined"
        CDlgTNKeyMapping page(*f.session, c.model, c.digit);
        page.open(f.context);
        EXPECT_EQ(page.caption(), "Key Mapping");
        std::vector<std::string> labels;
        for (const int slot : CDlgTNKeyMapping::kPageSlots) {
            const auto& button = page.control(CDlgTNKeyMapping::buttonId(slot));
            if (button.visible) labels.push_back(button.text);
            EXPECT_EQ(page.control(CDlgTNKeyMapping::arrowId(slot)).text, "=>");
            const bool expected = slot == 50 || slot == 51   ? c.sendEnd
                                  : slot >= 13 && slot <= 20 ? c.upperF
                                                             : true;
            EXPECT_EQ(button.enabled, expected) << c.model << " " << c.digit << " slot " << slot;
        }
        const std::vector<std::string> visible{"F1",   "F2",   "F3",   "F4",  "F5",  "F6",   "F7",
                                               "F8",   "F9",   "F10",  "F11", "F12", "F13",  "F14",
                                               "F15",  "F16",  "F17",  "F18", "F19", "F20",  "Fn+L",
                                               "Fn+R", "Fn+U", "Fn+D", "BS",  "Tab", "SEND", "END"};
        EXPECT_EQ(labels, visible);
        EXPECT_EQ(page.control(CDlgTNKeyMapping::buttonId(45)).text, "Del");
        EXPECT_FALSE(page.control(CDlgTNKeyMapping::nameId(45)).visible);
        EXPECT_EQ(page.control(CDlgTNKeyMapping::nameId(1)).text, "ENTER");
        EXPECT_EQ(page.control(CDlgTNKeyMapping::nameId(2)).text, "Undefined");
        EXPECT_EQ(page.control(CDlgTNKeyMapping::nameId(46)).text, "Undefined");
    }
}

TEST(CDlgTNKeyMapping, ASlotIsStoredAtOnceAndCancelLeavesIt) {
    Fixture f;
    CDlgTNKeyMapping page(*f.session, "KX4CE", 1);
    page.open(f.context);
    // "Fn+U" (slot 43) through "Select Object Key" with its own label, then "RESET".
    f.runner.scripts.push_back([](Dialog& d) {
        EXPECT_EQ(d.caption(), "Select Object Key");
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kLabel).text, "Fn+UP");
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kArrow).text, "=>");
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kFunction).items.size(), 47u);
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kFunction).selected, 0);
        d.select(SelectObjectKeyDialog::kFunction, fn::kReset);
        EXPECT_TRUE(d.pressOk());
        return DialogResult::Ok;
    });
    page.click(CDlgTNKeyMapping::buttonId(43));
    EXPECT_EQ(slotFunction(*f.session, 43), fn::kReset);
    EXPECT_EQ(page.control(CDlgTNKeyMapping::nameId(43)).text, "RESET");
    // Cancelled: unchanged.
    f.runner.scripts.push_back([](Dialog& d) {
        d.select(SelectObjectKeyDialog::kFunction, 5);
        d.pressCancel();
        return DialogResult::Cancel;
    });
    page.click(CDlgTNKeyMapping::buttonId(43));
    EXPECT_EQ(slotFunction(*f.session, 43), fn::kReset);
    EXPECT_EQ(f.runner.opened.size(), 2u);
}

TEST(SelectObjectKeyDialog, PreselectsTheIndexAndReturnsTheChoice) {
    struct Case {
        int stored;
        int selected;  // the list's preselection
        int choose;    // -1: OK without choosing
        int result;
    };
    const Case cases[] = {{0, 0, -1, 0}, {46, 46, -1, 46}, {47, -1, -1, 47}, {12, 12, 45, 45}};
    for (const auto& c : cases) {
        Fixture f;
        SelectObjectKeyDialog d("F1", c.stored);
        d.open(f.context);
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kFunction).selected, c.selected);
        EXPECT_EQ(d.control(SelectObjectKeyDialog::kFunction).items[45], "ENTER");
        if (c.choose >= 0) d.select(SelectObjectKeyDialog::kFunction, c.choose);
        ASSERT_TRUE(d.pressOk());
        EXPECT_EQ(d.functionIndex(), c.result) << c.stored;
    }
}

TEST(TnKeyPanel, ThirtyEightButtonsGiveTheirFunctions) {
    const std::pair<int, const char*> expected[] = {
        {1, "F1"},     {24, "F24"},    {25, "ATTN"},   {26, "FBegin"}, {27, "Delete"}, {28, "FEnd"},
        {29, "Erase"}, {30, "Field+"}, {31, "Field-"}, {32, "FExit"},  {33, "Last"},   {34, "Next"},
        {35, "PgDn"},  {36, "PgUp"},   {37, "Pre"},    {38, "Rec"}};
    for (const auto& [function, label] : expected) {
        Fixture f;
        TnKeyPanel panel;
        panel.open(f.context);
        EXPECT_EQ(panel.caption(), "TN5250 Key");
        EXPECT_EQ(panel.controls().size(), 38u);
        EXPECT_EQ(panel.control(1016 + function - 1).text, label);
        panel.click(TnKeyPanel::buttonId(function));
        EXPECT_EQ(panel.result(), DialogResult::Ok);
        EXPECT_EQ(panel.function(), function);
    }
    Fixture f;
    TnKeyPanel cancelled;
    cancelled.open(f.context);
    cancelled.pressCancel();
    EXPECT_EQ(cancelled.function(), 0);
}

TEST(TnSettingsSheet, DefaultKeyMapOnceWithoutAFileAndTheSaveQuestion) {
    for (std::uint8_t loaded : {0, 1}) {
        Fixture f;
        auto state = std::make_unique<TnSessionState>();
        state->settingsLoaded = loaded;
        slotFunction(state->settings, 46) = fn::kEnter;
        platform::FakeLibraryLoader loader;
        platform::MemoryRegistry registry{""};
        platform::BlockingMessageQueue queue;
        platform::FakeClock clock;
        platform::RecordingSoundPlayer sound;
        platform::Services services{registry, loader, f.messages, queue, clock, sound, "/root"};
        reader::ReaderLibrary reader(services);
        TnDocument document(*state, reader, f.messages, "/nonexistent-qn-dir");
        TnSettingsSheet sheet(*state, document, "KX2CE", 0);
        dialogs::PropertySheet& pages = sheet.open(f.context);
        ASSERT_EQ(pages.pages().size(), 2u);
        EXPECT_EQ(pages.pages()[0]->caption(), "Key Mapping");
        EXPECT_EQ(pages.pages()[1]->caption(), "Screen");
        EXPECT_EQ(state->settingsLoaded, 1);
        // Without a file the map is the default one: F1 PF1, Tab cleared.
        EXPECT_EQ(slotFunction(state->settings, 1), loaded ? 0 : fn::kPf1);
        EXPECT_EQ(slotFunction(state->settings, 46), loaded ? fn::kEnter : 0);
        sheet.screen().click(dialogs::ScreenPage::kTaskBar);
        EXPECT_EQ(state->settings.taskBarOnFullScreen.get(), 1) << "written at once";
        ASSERT_TRUE(pages.pressOk());
        std::vector<std::string> asked;
        sheet.finish(true, [&](std::string_view text) {
            asked.emplace_back(text);
            return false;
        });
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].rfind("Save change to\r", 0), 0u);
        EXPECT_EQ(state->settingsSaved, 0);
    }
}

}  // namespace
}  // namespace qn::tn
