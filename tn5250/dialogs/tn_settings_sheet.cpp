#include "tn5250/dialogs/tn_settings_sheet.h"

namespace qn::tn {

TnSettingsSheet::TnSettingsSheet(TnSessionState& state, TnDocument& document, std::string model,
                                 int systemInfoDigit)
    : state_(state),
      document_(document),
      model_(std::move(model)),
      systemInfoDigit_(systemInfoDigit) {}

dialogs::PropertySheet& TnSettingsSheet::open(dialogs::DialogContext& context) {
    before_ = std::make_unique<TnSession>(document_.beginConfigure(installDefaultKeyMap));
    sheet_ = std::make_unique<dialogs::PropertySheet>("Settings");
    keyMapping_ = std::make_unique<CDlgTNKeyMapping>(state_.settings, model_, systemInfoDigit_);
    screen_ = std::make_unique<CDlgTNScreen>(state_.settings);
    // Host, Others and Barcode Reader come first once they exist.
    sheet_->addPage(*keyMapping_);
    sheet_->addPage(*screen_);
    sheet_->open(context);
    return *sheet_;
}

void TnSettingsSheet::finish(bool sheetOk, const reader::Question& askSave) {
    if (!before_) return;
    document_.finishConfigure(*before_, sheetOk, askSave);
    before_.reset();
}

}  // namespace qn::tn
