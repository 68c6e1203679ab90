#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::vt {

namespace {

using namespace dialogs;

const DialogTable& screenTable() {
    static const DialogTable table{
        "CDlgVTScreen",
        "Screen",
        "",
        {check("ScrollBar", field("scrollBarsSetting")).storedAtOnce(),
         check("TaskBar On Full Screen", field("taskBarOnFullScreen")).storedAtOnce()}};
    return table;
}

const DialogTable& setConfigFileTable() {
    // The path is the dialog's own; the caller reads it after OK.
    static const DialogTable table{
        "",
        "Set Config File",
        "",
        {label("Set load file path:"), text("", {}), button("...").running("browse")}};
    return table;
}

}  // namespace

RecordAccess vtRecordAccess(VtSettings& settings) {
    return {[&settings] { return std::span<std::uint8_t>(settings.bytes()); }, false,
            vtSettingsFields()};
}

CDlgVTScreen::CDlgVTScreen(VtSettings& settings)
    : OwnEnvironment{{.record = vtRecordAccess(settings)}},
      TableDialog(screenTable(), OwnEnvironment::environment) {}

SetConfigFileDialog::SetConfigFileDialog(std::string currentPath,
                                         std::function<std::optional<std::string>()> browse)
    : OwnEnvironment{},
      TableDialog(setConfigFileTable(), OwnEnvironment::environment),
      currentPath_(std::move(currentPath)) {
    // The path edit starts from the current path each time the dialog opens.
    control(kPath).textField =
        TextBinding{[this] { return currentPath_; }, [](std::string_view) {}, 0};
    OwnEnvironment::environment.actions.emplace("browse",
                                                [browse = std::move(browse)](TableDialog& dialog) {
                                                    if (!browse) return;
                                                    if (auto chosen = browse())
                                                        dialog.control(kPath).text = *chosen;
                                                });
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
