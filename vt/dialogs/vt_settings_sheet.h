#pragma once
// The "Settings" sheet of the VT program with the pages built so far, its "Screen" page, and
// the "Set Config File" dialog.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/dialogs/dialog_model.h"
#include "common/dialogs/table_dialog.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {

// The VT record as the table dialogs see it: the settings image and its named fields.
dialogs::RecordAccess vtRecordAccess(VtSettings& settings);

// A table dialog that keeps the environment it is shown in.
struct OwnEnvironment {
    dialogs::TableEnvironment environment;
};

// "ScrollBar" and "TaskBar On Full Screen": each click is written into the record at once.
class CDlgVTScreen final : private OwnEnvironment, public dialogs::TableDialog {
  public:
    enum Id { kScrollBar = dialogs::rowControlId(0), kTaskBar = dialogs::rowControlId(1) };
    explicit CDlgVTScreen(VtSettings& settings);
};

class SetConfigFileDialog final : private OwnEnvironment, public dialogs::TableDialog {
  public:
    enum Id {
        kLabel = dialogs::rowControlId(0),
        kPath = dialogs::rowControlId(1),
        kBrowse = dialogs::rowControlId(2)
    };
    // browse: the platform's file-open dialog; the chosen path with its three-letter extension
    // completed, or nullopt when cancelled.
    SetConfigFileDialog(std::string currentPath,
                        std::function<std::optional<std::string>()> browse);
    const std::string& path() const { return control(kPath).text; }

  private:
    std::string currentPath_;
};

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
