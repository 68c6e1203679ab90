// Every dialog laid out on both screens, the engine tables among them: each control inside the
// screen, and no two controls on top of each other (a combo box's list may cover what is below
// it: its closed box counts).

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/engine/engine_dialogs.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::vt {
namespace {

class CancelRunner final : public dialogs::DialogRunner {
  public:
    dialogs::DialogResult runModal(dialogs::Dialog&) override {
        return dialogs::DialogResult::Cancel;
    }
};

bool overlaps(const device::Rect& a, const device::Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

struct Named {
    const char* name;
    std::function<std::unique_ptr<dialogs::Dialog>(VtSettings&)> make;
};

// The closed box of a combo box: fitDialog gives it its list's room below.
device::Rect closed(const dialogs::Control& c, int mode) {
    device::Rect r = c.rect;
    if (c.kind == dialogs::ControlClass::ComboBox && mode == 2) r.height = (r.height - 200) * 3 / 2;
    return r;
}

void expectOnScreenAndApart(dialogs::Dialog& dialog, const std::string& name) {
    for (int mode : {1, 2}) {
        platform::RecordingMessageBoxes messages;
        CancelRunner runner;
        dialogs::DialogContext context{messages, runner, mode};
        dialog.open(context);
        const device::Rect screen = dialog.rect();
        EXPECT_EQ(screen.width, mode == 2 ? 480 : 240);
        std::vector<const dialogs::Control*> shown;
        for (const auto& c : dialog.controls()) {
            if (c.visible) shown.push_back(&c);
        }
        for (const auto* c : shown) {
            const device::Rect r = closed(*c, mode);
            EXPECT_GE(r.x, 0) << name << " " << c->id;
            EXPECT_GE(r.y, 0) << name << " " << c->id;
            EXPECT_LE(r.x + r.width, screen.width) << name << " " << c->id << " mode " << mode;
            EXPECT_LE(r.y + r.height, screen.height) << name << " " << c->id << " mode " << mode;
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                EXPECT_FALSE(overlaps(closed(*shown[i], mode), closed(*shown[j], mode)))
                    << name << ": " << shown[i]->id << " and " << shown[j]->id << " mode " << mode;
            }
        }
        dialog.pressCancel();
    }
}

class DialogLayoutTest : public ::testing::TestWithParam<Named> {};

TEST_P(DialogLayoutTest, ControlsStayOnScreenAndApart) {
    auto session = std::make_unique<VtSession>();
    auto dialog = GetParam().make(session->settings);
    expectOnScreenAndApart(*dialog, GetParam().name);
}

TEST(EngineDialogLayout, EveryTableStaysOnScreenAndApart) {
    auto session = std::make_unique<VtSession>();
    platform::RecordingMessageBoxes messages;
    // Every reader bit, so that rows shown only for one reader type are laid out too.
    auto environment = dialogs::engines::engineEnvironment(session->settings, vtSettingsFields(),
                                                           nullptr, messages);
    environment.readerType = 0xFFFFFFFF;
    for (const auto& table : dialogs::engines::engineTables()) {
        dialogs::TableDialog dialog(table, environment);
        expectOnScreenAndApart(dialog, table.className);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogLayoutTest,
    ::testing::Values(
        Named{"CharEntry",
              [](VtSettings&) {
                  return std::make_unique<dialogs::CharEntryDialog>(
                      "Key Code", 5, std::span<const std::uint8_t>{});
              }},
        Named{"SelectKey",
              [](VtSettings&) {
                  return std::make_unique<SelectKeyDialog>("F1", 1, SelectKeyDialog::Code{});
              }},
        Named{"KeyMapping",
              [](VtSettings& s) { return std::make_unique<CDlgVTKeyMapping>(s, "KX4CE", 1); }},
        Named{"KeyPanel", [](VtSettings&) { return std::make_unique<VtKeyPanel>(); }},
        Named{"Screen", [](VtSettings& s) { return std::make_unique<CDlgVTScreen>(s); }},
        Named{
            "SetConfigFile",
            [](VtSettings&) { return std::make_unique<SetConfigFileDialog>("/x.qnvt", nullptr); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qn::vt
