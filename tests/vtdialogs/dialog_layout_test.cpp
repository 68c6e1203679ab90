// Every dialog laid out on both screens: each control inside the screen, and no two controls
// on top of each other on the small screen (a combo box's list may cover what is below it).

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "common/dialogs/char_entry_dialog.h"
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

class DialogLayoutTest : public ::testing::TestWithParam<Named> {};

TEST_P(DialogLayoutTest, ControlsStayOnScreenAndApart) {
    for (int mode : {1, 2}) {
        auto session = std::make_unique<VtSession>();
        auto dialog = GetParam().make(session->settings);
        platform::RecordingMessageBoxes messages;
        CancelRunner runner;
        dialogs::DialogContext context{messages, runner, mode};
        dialog->open(context);
        const device::Rect screen = dialog->rect();
        const auto& controls = dialog->controls();
        for (const auto& c : controls) {
            if (!c.visible) continue;
            const int height = c.kind == dialogs::ControlClass::ComboBox && mode == 2
                                   ? c.rect.height - 200 + c.rect.height / 10
                                   : c.rect.height;
            EXPECT_GE(c.rect.x, 0) << c.id;
            EXPECT_GE(c.rect.y, 0) << c.id;
            EXPECT_LE(c.rect.x + c.rect.width, screen.width) << c.id << " mode " << mode;
            EXPECT_LE(c.rect.y + height, screen.height) << c.id << " mode " << mode;
        }
        if (mode != 1) continue;
        for (std::size_t i = 0; i < controls.size(); ++i) {
            for (std::size_t j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(overlaps(controls[i].rect, controls[j].rect))
                    << controls[i].id << " and " << controls[j].id;
            }
        }
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
