#pragma once
// The "Settings" sheet of the 5250 program with the pages built so far and its "Screen" page.

#include <memory>
#include <string>

#include "common/dialogs/dialog_model.h"
#include "common/dialogs/shell_dialogs.h"
#include "tn5250/dialogs/tn_key_dialogs.h"
#include "tn5250/settings/tn_document.h"

namespace qn::tn {

// The Screen page on the 5250 record.
class CDlgTNScreen final : public dialogs::ScreenPage {
  public:
    explicit CDlgTNScreen(TnSession& session)
        : ScreenPage(session.scrollBarsSetting, session.taskBarOnFullScreen) {}
};

class TnSettingsSheet {
  public:
    TnSettingsSheet(TnSessionState& state, TnDocument& document, std::string model,
                    int systemInfoDigit);

    // Keeps the record as it was, installs the default key map for a session without a
    // settings file, then builds and opens the pages in their order.
    dialogs::PropertySheet& open(dialogs::DialogContext& context);
    // After the sheet ended: on OK with a changed record, the save question; on OK the engine
    // values go to the reader library.
    void finish(bool sheetOk, const reader::Question& askSave);

    CDlgTNKeyMapping& keyMapping() { return *keyMapping_; }
    CDlgTNScreen& screen() { return *screen_; }

  private:
    TnSessionState& state_;
    TnDocument& document_;
    std::string model_;
    int systemInfoDigit_;
    std::unique_ptr<CDlgTNKeyMapping> keyMapping_;
    std::unique_ptr<CDlgTNScreen> screen_;
    std::unique_ptr<dialogs::PropertySheet> sheet_;
    std::unique_ptr<TnSession> before_;
};

}  // namespace qn::tn
