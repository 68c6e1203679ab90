#pragma once
// The "Settings" sheet of the 5250 program: "Host", "Others", "Barcode Reader" with its
// "Advanced Barcode Settings" and "RFID" dialogs, "Key Mapping" and "Screen".
//
// The program's Configure command runs it as the VT program does:
//   TnSettingsSheet sheet(state, document, reader, messages, keyMappingPage);
//   bool ok = <show sheet.open(context) modally>;
//   sheet.finish(ok, askSave);

#include <functional>
#include <memory>
#include <string_view>

#include "common/dialogs/settings_pages.h"
#include "common/dialogs/table_dialog.h"
#include "tn5250/settings/tn_document.h"

namespace qn::tn {

// The 5250 record as the table dialogs see it.
dialogs::RecordAccess tnRecordAccess(TnSession& record);

// "Host": host, port, sign-on, auto connect and the device name. Writes only on OK.
class CDlgTNHost final : public dialogs::TableDialog {
  public:
    enum Id : int {
        kHost = dialogs::rowControlId(0),
        kPort = dialogs::rowControlId(1),
        kLoginName = dialogs::rowControlId(2),
        kPassword = dialogs::rowControlId(3),
        kAutoSignOn = dialogs::rowControlId(4),
        kAutoConnect = dialogs::rowControlId(5),
        kAutoFullScreen = dialogs::rowControlId(6),
        kSystemDeviceName = dialogs::rowControlId(8),
        kOwnDeviceName = dialogs::rowControlId(9),
        kDeviceName = dialogs::rowControlId(10),
    };
    explicit CDlgTNHost(dialogs::TableEnvironment& environment);

  protected:
    void onInit() override;
    void onChanged(int id) override;

  private:
    void applyPageRules();
};

// "Others": language, the over-length rule, cursor tracking and the font size.
class CDlgTNOther final : public dialogs::TableDialog {
  public:
    enum Id : int {
        kLanguage = dialogs::rowControlId(0),
        kReject = dialogs::rowControlId(2),
        kTruncate = dialogs::rowControlId(3),
        kSplit = dialogs::rowControlId(4),
        kCursorTracking = dialogs::rowControlId(5),
        kFontSize = dialogs::rowControlId(6),
    };
    CDlgTNOther(TnSession& record, dialogs::TableEnvironment& environment);

  protected:
    void onBind() override;

  private:
    TnSession& record_;
};

// The Screen page on the 5250 record.
class CDlgTNScreen final : public dialogs::ScreenPage {
  public:
    explicit CDlgTNScreen(TnSession& session)
        : ScreenPage(reader::Program::Tn, tnRecordAccess(session)) {}
};

// The tables of the 5250 program's scanner dialogs by class name ("CDlgTNAdvanced",
// "CDlgTNAdvancedMore", "CDlgRfid"); nullptr for another name.
const dialogs::DialogTable* tnScannerTable(std::string_view className);

// The page the key mapping tab shows, made when the sheet opens.
using TnKeyMappingPage = std::function<std::unique_ptr<dialogs::Dialog>(TnSessionState& state)>;

class TnSettingsSheet {
  public:
    // messages: where the engine dialogs' "Reset" reports a library without defaults.
    TnSettingsSheet(TnSessionState& state, TnDocument& document, reader::ReaderLibrary& reader,
                    platform::MessageBoxes& messages, TnKeyMappingPage keyMapping = {});

    // Builds the pages in their order, keeps the record as it was, installs the default key
    // map for a session without settings file, then opens the pages.
    dialogs::PropertySheet& open(dialogs::DialogContext& context);
    // After the sheet ended: on OK with a changed record, the save question (a failed save
    // says so); every OK gives the reader values to the library.
    void finish(bool sheetOk, const reader::Question& askSave);

    CDlgTNHost& host() { return *host_; }
    CDlgTNOther& others() { return *others_; }
    dialogs::BarcodeReaderPage& barcodeReader() { return *barcodeReader_; }
    dialogs::Dialog* keyMapping() { return keyMapping_.get(); }
    CDlgTNScreen& screen() { return *screen_; }
    dialogs::TableEnvironment& environment() { return environment_; }

  private:
    TnSessionState& state_;
    TnDocument& document_;
    reader::ReaderLibrary& reader_;
    TnKeyMappingPage makeKeyMapping_;
    dialogs::TableEnvironment environment_;
    std::unique_ptr<CDlgTNHost> host_;
    std::unique_ptr<CDlgTNOther> others_;
    std::unique_ptr<dialogs::BarcodeReaderPage> barcodeReader_;
    std::unique_ptr<dialogs::Dialog> keyMapping_;
    std::unique_ptr<CDlgTNScreen> screen_;
    std::unique_ptr<dialogs::PropertySheet> sheet_;
    std::unique_ptr<TnSession> before_;
};

}  // namespace qn::tn
