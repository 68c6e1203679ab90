#pragma once
// The "Settings" sheet of the VT program: the "Telnet" page, the "Barcode Reader" page with its
// "Advanced Barcode Settings" and "RFID" dialogs, "Function Key Maping" and "Screen"; and the
// "Set Config File" dialog.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/dialogs/dialog_model.h"
#include "common/dialogs/settings_pages.h"
#include "common/dialogs/table_dialog.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {

// The VT record as the table dialogs see it: the settings image and its named fields.
dialogs::RecordAccess vtRecordAccess(VtSettings& settings);

using dialogs::OwnEnvironment;
using dialogs::SetConfigFileDialog;

// "Telnet": host, port, sign-on, macro frame, font, terminal and the session options. Writes
// the record only on OK.
class CDlgVTTelnet final : public dialogs::TableDialog {
  public:
    enum Id : int {
        kHost = dialogs::rowControlId(0),
        kPort = dialogs::rowControlId(1),
        kLoginName = dialogs::rowControlId(2),
        kLoginPrompt = dialogs::rowControlId(3),
        kPassword = dialogs::rowControlId(4),
        kPasswordPrompt = dialogs::rowControlId(5),
        kMacroFrame = dialogs::rowControlId(6),
        kFontSize = dialogs::rowControlId(7),
        kTerminal = dialogs::rowControlId(8),
        kLineBuffer = dialogs::rowControlId(9),
        kLocalEcho = dialogs::rowControlId(10),
        kCursorTracking = dialogs::rowControlId(11),
        kAutoConnect = dialogs::rowControlId(12),
        kAutoFullScreen = dialogs::rowControlId(13),
        kAutoSignOn = dialogs::rowControlId(14),
        kSessionSelect = dialogs::rowControlId(15),
    };
    // connected: the "Terminal:" combo is offered only without a connection.
    CDlgVTTelnet(VtSettings& settings, dialogs::TableEnvironment& environment, bool connected);

  protected:
    void onBind() override;
    void onInit() override;
    void onChanged(int id) override;

  private:
    void applyPageRules();

    VtSettings& settings_;
    bool connected_;
};

class CDlgVTScreen final : public dialogs::ScreenPage {
  public:
    explicit CDlgVTScreen(VtSettings& settings)
        : ScreenPage(reader::Program::Vt, vtRecordAccess(settings)) {}
};

// The tables of the VT program's scanner dialogs by class name ("CDlgVTAdvanced",
// "CDlgVTAdvancedMore", "CDlgRfid"); nullptr for another name.
const dialogs::DialogTable* vtScannerTable(std::string_view className);

class VtSettingsSheet {
  public:
    // reader: the library the "Barcode Reader" page switches; messages: where the engine
    // dialogs' "Reset" reports a library without defaults; connected: whether a connection is
    // open while the sheet is shown.
    VtSettingsSheet(VtSession& session, VtDocument& document, reader::ReaderLibrary& reader,
                    platform::MessageBoxes& messages, std::string model, int systemInfoDigit,
                    bool connected = false);

    // Builds the pages in their order, keeps the image as it was, installs the default key map
    // with codes for a session without settings file, then opens the pages.
    dialogs::PropertySheet& open(dialogs::DialogContext& context);
    // After the sheet ended: on OK with a changed image, the save question; then the engine
    // values go to the reader library.
    void finish(bool sheetOk, const reader::Question& askSave);

    CDlgVTTelnet& telnet() { return *telnet_; }
    dialogs::BarcodeReaderPage& barcodeReader() { return *barcodeReader_; }
    CDlgVTKeyMapping& keyMapping() { return *keyMapping_; }
    CDlgVTScreen& screen() { return *screen_; }
    // The dialogs bound to this session's record: the scanner dialogs and the engine and
    // symbology dialogs that the "Barcode Reader" page opens.
    dialogs::TableEnvironment& environment() { return environment_; }

  private:
    VtSession& session_;
    VtDocument& document_;
    reader::ReaderLibrary& reader_;
    std::string model_;
    int systemInfoDigit_;
    bool connected_;
    dialogs::TableEnvironment environment_;
    std::unique_ptr<CDlgVTTelnet> telnet_;
    std::unique_ptr<dialogs::BarcodeReaderPage> barcodeReader_;
    std::unique_ptr<CDlgVTKeyMapping> keyMapping_;
    std::unique_ptr<CDlgVTScreen> screen_;
    std::unique_ptr<dialogs::PropertySheet> sheet_;
    std::unique_ptr<VtSettings> before_;
};

}  // namespace qn::vt
