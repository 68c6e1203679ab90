#pragma once
// The "Settings" sheet of the VT program with the pages built so far, its "Screen" page, and
// the "Set Config File" dialog.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/dialogs/dialog_model.h"
#include "common/dialogs/shell_dialogs.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {

// The Screen page on the VT record.
class CDlgVTScreen final : public dialogs::ScreenPage {
  public:
    explicit CDlgVTScreen(VtSettings& settings)
        : ScreenPage(settings.scrollBarsSetting, settings.taskBarOnFullScreen) {}
};

using dialogs::SetConfigFileDialog;

class VtSettingsSheet {
  public:
    VtSettingsSheet(VtSession& session, VtDocument& document, std::string model,
                    int systemInfoDigit);

    // Builds the pages in their order, keeps the image as it was, installs the default key map
    // with codes for a session without settings file, then opens the pages.
    dialogs::PropertySheet& open(dialogs::DialogContext& context);
    // After the sheet ended: on OK with a changed image, the save question; then the engine
    // values go to the reader library.
    void finish(bool sheetOk, const reader::Question& askSave);

    CDlgVTKeyMapping& keyMapping() { return *keyMapping_; }
    CDlgVTScreen& screen() { return *screen_; }

  private:
    VtSession& session_;
    VtDocument& document_;
    std::string model_;
    int systemInfoDigit_;
    std::unique_ptr<CDlgVTKeyMapping> keyMapping_;
    std::unique_ptr<CDlgVTScreen> screen_;
    std::unique_ptr<dialogs::PropertySheet> sheet_;
    std::unique_ptr<VtSettings> before_;
};

}  // namespace qn::vt
