#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::vt {

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
