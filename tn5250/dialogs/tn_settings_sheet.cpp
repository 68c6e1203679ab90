#include "tn5250/dialogs/tn_settings_sheet.h"

#include <charconv>

#include "common/dialogs/engine/engine_dialogs.h"
#include "common/dialogs/reader_page_rules.h"
#include "tn5250/dialogs/tn_suffix_list.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {

namespace {

using namespace dialogs;

const DialogTable& hostTable() {
    static const DialogTable table{
        "CDlgTNHost",
        "Host",
        "",
        {text("Host IP or Name:", field("hostAddress"), 24),
         number("Telnet Port:", field("telnetPort")).withoutSpin(),
         text("Login Name:", field("loginName"), 20),
         password("Login Password:", field("loginPassword"), 20),
         check("Auto Sign On", field("autoSignOn")),
         check("Auto Connect", field("autoConnect")).named("autoConnect"),
         check("Auto Full Screen", field("autoFullScreen")).enabledBy("autoConnect"),
         label("Device Name"), radio(" System Device Name", field("useDeviceName")), radio(""),
         text("", field("deviceName"), 10)}};
    return table;
}

const DialogTable& otherTable() {
    static const DialogTable table{
        "CDlgTNOther",
        "Others",
        "",
        {list("Language",
              {"Single Byte Character", "Tranditional Chinese", "Simplified Chinese", "Korean",
               "Japanese", "Greek", "French"},
              field("language")),
         label("Field Length if Exceed"), radio("Reject", field("overLengthRule")),
         radio("Truncate"), radio("Split To Next Field"),
         check("Cursor Tracking", field("cursorTracking")),
         list("Font Size", fontSizeItems(), {})}};
    return table;
}

std::vector<int> suffixCodes() {
    std::vector<int> codes;
    for (int p = 0; p < kSuffixEntryCount; ++p)
        codes.push_back(suffixCodeAt(p));
    return codes;
}

// The first "Advanced Barcode Settings" dialog: checks of the data, the trigger and the
// suffixes after the data.
const DialogTable& advancedTable() {
    enum PartialRow { kStart = 6, kLength = 7 };
    static const DialogTable table{
        "CDlgTNAdvanced", "Advanced Barcode Settings", "",
        scanInputRows(0) +
            std::vector<Row>{
                label("Scanner"), radio("Always enable after login", field("triggerByHostCmd")),
                radio("Controled by 5250 command").hiddenAlways(),
                // Each entry stores the code scan entry applies; a code without an entry is kept.
                list("Last Field Suffix", suffixListItems(), field("lastFieldSuffix"),
                     valueMap(suffixCodes(), -1)),
                list("Other Field Suffix", suffixListItems(), field("otherFieldSuffix"),
                     valueMap(suffixCodes(), -1)),
                button("More").opening("CDlgTNAdvancedMore")},
        nullptr, nullptr,
        // A start or length below 2 is stored as 1.
        [](TableDialog& d) {
            for (int row : {kStart, kLength}) {
                Control& edit = d.control(rowControlId(row));
                long long value = 0;
                const char* end = edit.text.data() + edit.text.size();
                if (std::from_chars(edit.text.data(), end, value).ec == std::errc() && value < 2) {
                    edit.text.assign(1, '1');
                }
            }
            return true;
        }};
    return table;
}

// The second dialog: prefix and suffix, and the good and error alarms.
const DialogTable& advancedMoreTable() {
    const auto& sounds = soundListItems(reader::Program::Tn);
    const auto& vibration = vibrationListItems();
    static const DialogTable table{
        "CDlgTNAdvancedMore", "Advanced Barcode Settings", "",
        std::vector<Row>{label("Data")} + prefixSuffixRows() +
            std::vector<Row>{
                label("Alarm"), list("Beeper Sequence", sounds, field("goodBeeper")),
                list("Vibration duration", vibration, field("goodVibrator"), clamped()),
                list("Beeper Sequence", sounds, field("errorBeeper")),
                list("Vibration duration", vibration, field("errorVibrator"), clamped())}};
    return table;
}

}  // namespace

RecordAccess tnRecordAccess(TnSession& record) {
    return {[&record] { return std::span<std::uint8_t>(record.bytes()); }, true, tnSessionFields()};
}

const DialogTable* tnScannerTable(std::string_view className) {
    for (const DialogTable* table : {&advancedTable(), &advancedMoreTable(), &rfidTable()}) {
        if (table->className == className) return table;
    }
    return nullptr;
}

CDlgTNHost::CDlgTNHost(TableEnvironment& environment) : TableDialog(hostTable(), environment) {}

void CDlgTNHost::onInit() {
    TableDialog::onInit();
    applyPageRules();
}

void CDlgTNHost::onChanged(int id) {
    TableDialog::onChanged(id);
    applyPageRules();
}

void CDlgTNHost::applyPageRules() {
    if (!control(kAutoConnect).checked) control(kAutoFullScreen).checked = false;
    // The name is kept while the system's is used, and still stored on OK.
    control(kDeviceName).enabled = control(kOwnDeviceName).checked;
}

CDlgTNOther::CDlgTNOther(TnSession& record, TableEnvironment& environment)
    : TableDialog(otherTable(), environment), record_(record) {}

void CDlgTNOther::onBind() {
    TableDialog::onBind();
    // A cell that is not in the list shows, and stores, the first size.
    control(kFontSize).number = bindFontSize(record_.fontWidth, record_.fontHeight, 0);
}

TnSettingsSheet::TnSettingsSheet(TnSessionState& state, TnDocument& document,
                                 reader::ReaderLibrary& reader, platform::MessageBoxes& messages,
                                 TnKeyMappingPage keyMapping)
    : state_(state),
      document_(document),
      reader_(reader),
      makeKeyMapping_(std::move(keyMapping)),
      environment_(dialogs::withScannerTables(
          dialogs::engines::engineEnvironment(state.settings, tnSessionFields(), &reader, messages),
          tnScannerTable)) {}

dialogs::PropertySheet& TnSettingsSheet::open(dialogs::DialogContext& context) {
    environment_.readerType = reader_.readerType();
    sheet_ = std::make_unique<dialogs::PropertySheet>("Settings");
    host_ = std::make_unique<CDlgTNHost>(environment_);
    others_ = std::make_unique<CDlgTNOther>(state_.settings, environment_);
    barcodeReader_ =
        std::make_unique<dialogs::BarcodeReaderPage>(reader::Program::Tn, reader_, environment_);
    screen_ = std::make_unique<CDlgTNScreen>(state_.settings);
    before_ = std::make_unique<TnSession>(document_.beginConfigure(installDefaultKeyMap));
    keyMapping_ = makeKeyMapping_ ? makeKeyMapping_(state_) : nullptr;
    sheet_->addPage(*host_);
    sheet_->addPage(*others_);
    sheet_->addPage(*barcodeReader_);
    if (keyMapping_) sheet_->addPage(*keyMapping_);
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
