#include "vt/dialogs/vt_settings_sheet.h"

#include "common/dialogs/engine/engine_dialogs.h"
#include "common/dialogs/reader_page_rules.h"

namespace qn::vt {

namespace {

using namespace dialogs;

const DialogTable& telnetTable() {
    static const DialogTable table{
        "CDlgVTTelnet",
        "Telnet",
        "",
        {text("Host:", field("hostAddress")), number("Port:", {}).withoutSpin(),
         text("LoginName:", field("loginName"), 20), text("Prompt:", field("loginPrompt")),
         password("Password:", field("loginPassword"), 20),
         text("Prompt:", field("passwordPrompt")),
         codeText("Macro Frame:", field("macroFrame"), reader::kMacroFrameSize)
             .pickerTitled("Macro Frame"),
         list("FontSize:", fontSizeItems(), {}),
         editCombo("Terminal:", {"vt100", "vt102", "vt220", "ansi"}, field("terminalType"), 29),
         check("LineBuffer", field("lineBuffer")), check("Local Echo", field("localEcho")),
         check("CursorTracking", field("cursorTracking")),
         check("Auto Connect", field("autoConnect")).named("autoConnect"),
         check("Auto FullScreen", field("autoFullScreen")).enabledBy("autoConnect"),
         check("Auto Sign On", field("autoSignOn")),
         // Only session 0 exists: the selector is never offered.
         list("Select:", {}, {}).hiddenAlways()}};
    return table;
}

// The first "Advanced Barcode Settings" dialog: checks and edits of the scanned data.
const DialogTable& advancedTable() {
    static const DialogTable table{
        "CDlgVTAdvanced", "Advanced Barcode Settings", "",
        scanInputRows(1) + std::vector<Row>{label("Data")} + prefixSuffixRows() +
            std::vector<Row>{
                check("Auto Enter", field("autoEnter")),
                codeText("Char replace", field("replaceFrom1"), 8).storedAtOnce(),
                codeText("->", field("replaceTo1"), 8).pickerTitled("Char replace").storedAtOnce(),
                codeText("Char replace", field("replaceFrom2"), 8).storedAtOnce(),
                codeText("->", field("replaceTo2"), 8).pickerTitled("Char replace").storedAtOnce(),
                button("more").opening("CDlgVTAdvancedMore")}};
    return table;
}

// The second dialog: the scanner trigger, feedback sounds and the host's feedback commands.
const DialogTable& advancedMoreTable() {
    enum Row {
        kScanBeeper = 5,
        kScanVibrator = 6,
        kByCommand = 7,
        kGoodCommand = 9,
        kGoodBeeper,
        kGoodVibrator,
        kErrorCommand = 13,
        kErrorBeeper,
        kErrorVibrator,
    };
    const auto& sounds = soundListItems(reader::Program::Vt);
    const auto& vibration = vibrationListItems();
    // With feedback by command the host's commands give the feedback: the scanner's own
    // sound and vibration are not used, and the other way round.
    static const auto feedbackRule = [](TableDialog& d) {
        const bool byCommand = d.control(rowControlId(kByCommand)).checked;
        for (int row : {kScanBeeper, kScanVibrator}) {
            d.control(rowControlId(row)).enabled = !byCommand;
            d.control(rowControlId(row, kCaption)).enabled = !byCommand;
        }
        for (int row : {kGoodCommand, kGoodBeeper, kGoodVibrator, kErrorCommand, kErrorBeeper,
                        kErrorVibrator}) {
            d.control(rowControlId(row)).enabled = byCommand;
            d.control(rowControlId(row, kCaption)).enabled = byCommand;
        }
    };
    static const DialogTable table{
        "CDlgVTAdvancedMore",
        "Advanced Barcode Settings",
        "",
        {label("Scanner"), radio("Always Enable", field("triggerByEscCmd")),
         radio("Ctrl by ESC cmd"),
         codeText("Enable:", field("enableCommand"), 45)
             .pickerTitled("Enable Command")
             .storedAtOnce(),
         codeText("Disable:", field("disableCommand"), 45)
             .pickerTitled("Disable Command")
             .storedAtOnce(),
         list("Beeper:", sounds, field("scanBeeper")),
         list("Vibrator:", vibration, field("scanVibrator"), clamped()),
         check("Feedback Control by cmd", field("feedbackByCmd")).wide(), label("Good FeedBack"),
         codeText("Command", field("goodFeedbackCommand"), 45)
             .pickerTitled("Good FeedBack Command")
             .storedAtOnce(),
         list("Beeper", sounds, field("goodBeeper")),
         list("Vibrator", vibration, field("goodVibrator"), clamped()), label("Error Feedback"),
         codeText("Command", field("errorFeedbackCommand"), 45)
             .pickerTitled("Error Feedback Command")
             .storedAtOnce(),
         list("Beeper", sounds, field("errorBeeper")),
         list("Vibrator", vibration, field("errorVibrator"), clamped()),
         // The spare command's edit is never offered; the library's bytes stay as they are.
         codeText("", {}, 45).hiddenAlways()},
        feedbackRule,
        [](TableDialog& d, int) { feedbackRule(d); }};
    return table;
}

}  // namespace

RecordAccess vtRecordAccess(VtSettings& settings) {
    return {[&settings] { return std::span<std::uint8_t>(settings.bytes()); }, false,
            vtSettingsFields()};
}

const DialogTable* vtScannerTable(std::string_view className) {
    for (const DialogTable* table : {&advancedTable(), &advancedMoreTable(), &rfidTable()}) {
        if (table->className == className) return table;
    }
    return nullptr;
}

CDlgVTTelnet::CDlgVTTelnet(VtSettings& settings, TableEnvironment& environment, bool connected)
    : TableDialog(telnetTable(), environment), settings_(settings), connected_(connected) {}

void CDlgVTTelnet::onBind() {
    TableDialog::onBind();
    // Any integer is taken; its low 16 bits are the port.
    control(kPort).number = bindPort(settings_.telnetPort);
    // A size that is not in the list shows none and is left as it is.
    control(kFontSize).number = bindFontSize(settings_.fontWidth, settings_.fontHeight, -1);
}

void CDlgVTTelnet::onInit() {
    TableDialog::onInit();
    // The selector lists each session's host; only this one has a record.
    Control& select = control(kSessionSelect);
    const std::string host(reader::fixedText(settings_.hostAddress));
    select.items = {host.empty() ? "Undefine" : host, "Undefine"};
    select.selected = 0;
    applyPageRules();
}

void CDlgVTTelnet::onChanged(int id) {
    TableDialog::onChanged(id);
    applyPageRules();
}

void CDlgVTTelnet::applyPageRules() {
    // Auto FullScreen only follows an Auto Connect.
    if (!control(kAutoConnect).checked) control(kAutoFullScreen).checked = false;
    control(kTerminal).enabled = !connected_;
    control(dialogs::rowControlId(8, kCaption)).enabled = !connected_;
}

VtSettingsSheet::VtSettingsSheet(VtSession& session, VtDocument& document,
                                 reader::ReaderLibrary& reader, platform::MessageBoxes& messages,
                                 std::string model, int systemInfoDigit, bool connected)
    : session_(session),
      document_(document),
      reader_(reader),
      model_(std::move(model)),
      systemInfoDigit_(systemInfoDigit),
      connected_(connected),
      environment_(
          dialogs::withScannerTables(dialogs::engines::engineEnvironment(
                                         session.settings, vtSettingsFields(), &reader, messages),
                                     vtScannerTable)) {}

dialogs::PropertySheet& VtSettingsSheet::open(dialogs::DialogContext& context) {
    environment_.readerType = reader_.readerType();
    sheet_ = std::make_unique<dialogs::PropertySheet>("Settings");
    telnet_ = std::make_unique<CDlgVTTelnet>(session_.settings, environment_, connected_);
    barcodeReader_ =
        std::make_unique<dialogs::BarcodeReaderPage>(reader::Program::Vt, reader_, environment_);
    keyMapping_ = std::make_unique<CDlgVTKeyMapping>(session_.settings, model_, systemInfoDigit_);
    screen_ = std::make_unique<CDlgVTScreen>(session_.settings);
    before_ = std::make_unique<VtSettings>(
        document_.beginConfigure([this](VtSettings&) { installDefaultKeyMap(session_, true); }));
    sheet_->addPage(*telnet_);
    sheet_->addPage(*barcodeReader_);
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
