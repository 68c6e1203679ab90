#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::vt {

CDlgVTScreen::CDlgVTScreen(VtSettings& settings)
    : Dialog("Screen", {0, 0, 240, 320}), settings_(settings) {
    addCheck(kScrollBar, "ScrollBar", {16, 20, 200, 16}).number =
        dialogs::bindInt(settings.scrollBarsSetting);
    addCheck(kTaskBar, "TaskBar On Full Screen", {16, 44, 220, 16}).number =
        dialogs::bindInt(settings.taskBarOnFullScreen);
}

void CDlgVTScreen::onChanged(int id) {
    const dialogs::Control& box = control(id);
    if (id == kScrollBar) settings_.scrollBarsSetting.set(box.checked ? 1 : 0);
    if (id == kTaskBar) settings_.taskBarOnFullScreen.set(box.checked ? 1 : 0);
}

SetConfigFileDialog::SetConfigFileDialog(std::string currentPath,
                                         std::function<std::optional<std::string>()> browse)
    : Dialog("Set Config File", {0, 0, 240, 320}),
      currentPath_(std::move(currentPath)),
      browse_(std::move(browse)) {
    addStatic(kLabel, "Set load file path:", {8, 12, 160, 14});
    addEdit(kPath, {8, 30, 196, 16});
    addButton(kBrowse, "...", {208, 30, 24, 16});
}

void SetConfigFileDialog::onInit() {
    control(kPath).text = currentPath_;
}

void SetConfigFileDialog::onChanged(int id) {
    if (id != kBrowse || !browse_) return;
    if (auto chosen = browse_()) control(kPath).text = *chosen;
}

VtSettingsSheet::VtSettingsSheet(VtSession& session, VtDocument& document, std::string model,
                                 int systemInfoDigit)
    : session_(session),
      document_(document),
      model_(std::move(model)),
      systemInfoDigit_(systemInfoDigit) {}

dialogs::PropertySheet& VtSettingsSheet::open(dialogs::DialogContext& context) {
    sheet_ = std::make_unique<dialogs::PropertySheet>("Settings");
    keyMapping_ = std::make_unique<CDlgVTKeyMapping>(session_.settings, model_, systemInfoDigit_);
    screen_ = std::make_unique<CDlgVTScreen>(session_.settings);
    before_ = std::make_unique<VtSettings>(
        document_.beginConfigure([this](VtSettings&) { installDefaultKeyMap(session_, true); }));
    // Telnet and Barcode Reader come first once they exist.
    sheet_->addPage(*keyMapping_);
    sheet_->addPage(*screen_);
    sheet_->open(context);
    return *sheet_;
}

void VtSettingsSheet::finish(bool sheetOk, const reader::Question& askSave) {
    if (!before_) return;
    document_.finishConfigure(*before_, sheetOk, askSave);
    before_.reset();
}

}  // namespace qn::vt
