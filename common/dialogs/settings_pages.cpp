#include "common/dialogs/settings_pages.h"

#include <array>

#include "common/dialogs/engine/engine_dialogs.h"

namespace qn::dialogs {

TableEnvironment withScannerTables(TableEnvironment engines, TableFinder scannerTables) {
    engines.find = [engineTables = std::move(engines.find),
                    scannerTables](std::string_view className) -> const DialogTable* {
        if (const DialogTable* table = scannerTables(className)) return table;
        return engineTables ? engineTables(className) : nullptr;
    };
    return engines;
}

namespace {

const DialogTable& barcodeReaderTable(reader::Program program) {
    auto make = [](std::string className, std::string rfidButton, std::string advanced) {
        return DialogTable{
            std::move(className),
            "Barcode Reader",
            "",
            {check("Barcode Reader", field("barcodeReaderOn")).wide(),
             check("RFID Reader", field("rfidReaderOn")).wide(), button("1D Settings").wide(),
             button("1D (Extra) Long Range Laser").wide(), button("2D Settings").wide(),
             button(std::move(rfidButton)).opening(std::string(kRfidClass)).wide(),
             button("Advanced Barcode Settings").opening(std::move(advanced)).wide()}};
    };
    static const DialogTable vt = make("CDlgVTBarcodeReader", "RFID", "CDlgVTAdvanced");
    static const DialogTable tn = make("CDlgTNBarcodeReader", "RFID Settings", "CDlgTNAdvanced");
    return program == reader::Program::Vt ? vt : tn;
}

}  // namespace

BarcodeReaderPage::BarcodeReaderPage(reader::Program program, reader::ReaderLibrary& reader,
                                     TableEnvironment& environment)
    : TableDialog(barcodeReaderTable(program), environment), reader_(reader) {}

void BarcodeReaderPage::onInit() {
    TableDialog::onInit();
    refresh();
}

void BarcodeReaderPage::refresh() {
    reader_.readMasks();
    const ReaderPageState s = readerPageState(reader_.readerType(), reader_.activeDevices());
    control(kBarcode).enabled = s.barcodeEnabled;
    control(kBarcode).checked = s.barcodeChecked;
    control(kRfid).enabled = s.rfidEnabled;
    control(kRfid).checked = s.rfidChecked;
    control(kOneD).enabled = s.oneDSettings;
    control(kLongRange).enabled = s.longRangeLaser;
    control(kTwoD).enabled = s.twoDSettings;
    control(kRfidSettings).enabled = s.rfidSettings;
    control(kAdvanced).enabled = s.advancedSettings;
}

void BarcodeReaderPage::openEngineDialog(bool twoD) {
    TableEnvironment& env = environment();
    env.readerType = reader_.readerType();
    const std::string_view mainClass = engines::mainDialogFor(env.readerType, twoD);
    const DialogTable* table = env.find ? env.find(mainClass) : nullptr;
    if (table == nullptr) return;
    TableDialog nested(*table, env);
    nested.open(context());
    runNested(nested);
}

void BarcodeReaderPage::onChanged(int id) {
    TableDialog::onChanged(id);
    auto flipFlag = [this](int check) {
        const auto& flag = control(check).number;
        if (flag) flag->set(flag->get() != 0 ? 0 : 1);
    };
    if (id == kBarcode) {
        reader_.setActiveDevices(toggleBarcodeDevices(reader_.activeDevices()));
        flipFlag(kBarcode);
    } else if (id == kRfid) {
        reader_.setActiveDevices(toggleRfidDevice(reader_.activeDevices()));
        flipFlag(kRfid);
    } else if (id == kOneD) {
        openEngineDialog(false);
    } else if (id == kTwoD) {
        openEngineDialog(true);
    }
    // The base applied its rules; the masks decide here.
    refresh();
}

void BarcodeReaderPage::onStored() {
    TableDialog::onStored();
    // The active-device byte is byte 1 of the library's default block.
    for (const reader::FieldInfo& info : environment().record.fields) {
        if (info.name != "libraryDefaults") continue;
        environment().record.bytes()[info.offset + 1] =
            static_cast<std::uint8_t>(reader_.activeDevices() & 0xFF);
    }
}

std::vector<Row> scanInputRows(long long lowestStartAndLength) {
    return {label("Input"),
            check("Check Leading Code", field("checkLeadingCode")).named("leading").wide(),
            codeText("", field("leadingCode"), 9)
                .pickerTitled("Leading Code")
                .storedAtOnce()
                .enabledBy("leading"),
            check("Check Code Length", field("checkCodeLength")).named("length").wide(),
            number("", field("codeLength")).enabledBy("length"),
            check("Read Partial Code", field("readPartialCode")).named("partial").wide(),
            number("Start Position:", field("startPosition"), lowestStartAndLength, 20)
                .enabledBy("partial"),
            number("Maximum Length:", field("maximumLength"), lowestStartAndLength, 20)
                .enabledBy("partial")};
}

std::vector<Row> prefixSuffixRows() {
    return {check("Prefix Code", field("prefixOn")).named("prefix").wide(),
            codeText("", field("prefixCode"), 9)
                .pickerTitled("Prefix Code")
                .storedAtOnce()
                .enabledBy("prefix"),
            check("Suffix Code", field("suffixOn")).named("suffix").wide(),
            codeText("", field("suffixCode"), 9)
                .pickerTitled("Suffix Code")
                .storedAtOnce()
                .enabledBy("suffix")};
}

const DialogTable& rfidTable() {
    enum Row { kUid, kUserData, kStart, kLength, kByte, kDelimiter };
    // User data needs the UID: setting it sets the UID, clearing the UID clears it. Start,
    // length and delimiter belong to the user data.
    static const auto coupling = [](TableDialog& d, int row) {
        Control& uid = d.control(rowControlId(kUid));
        Control& userData = d.control(rowControlId(kUserData));
        if (row == kUserData && userData.checked) uid.checked = true;
        if (row == kUid && !uid.checked) userData.checked = false;
        for (int r : {kStart, kLength, kDelimiter})
            d.control(rowControlId(r, kCaption)).enabled = userData.checked;
        for (int r : {kStart, kLength, kByte, kDelimiter})
            d.control(rowControlId(r)).enabled = userData.checked;
    };
    static const DialogTable table{
        std::string(kRfidClass),
        "RFID",
        "",
        {check("Display RFID UID", field("showRfidUid")).wide(),
         check("Display RFID user data", field("showRfidUserData")).wide(),
         number("Start position:", field("rfidStartPosition")).withoutSpin(),
         number("Maximum length:", field("rfidMaximumLength")).withoutSpin(), label("byte."),
         codeText("Field delimiter:", field("rfidFieldDelimiter"), 1)
             .pickerTitled("Field delimiter")
             .storedAtOnce(),
         label("Decode RFID Time Out:").hiddenAlways(),
         number("", field("rfidDecodeTimeout")).withoutSpin().hiddenAlways(),
         label("sec.").hiddenAlways(), list("", rfidHiddenListItems(), {}).hiddenAlways()},
        [](TableDialog& d) { coupling(d, -1); },
        coupling};
    return table;
}

const DialogTable& screenPageTable(reader::Program program) {
    auto make = [](std::string className) {
        return DialogTable{
            std::move(className),
            "Screen",
            "",
            {check("ScrollBar", field("scrollBarsSetting")).storedAtOnce(),
             check("TaskBar On Full Screen", field("taskBarOnFullScreen")).storedAtOnce()}};
    };
    static const DialogTable vt = make("CDlgVTScreen");
    static const DialogTable tn = make("CDlgTNScreen");
    return program == reader::Program::Vt ? vt : tn;
}

ScreenPage::ScreenPage(reader::Program program, RecordAccess record)
    : OwnEnvironment{{.record = std::move(record)}},
      TableDialog(screenPageTable(program), OwnEnvironment::environment) {}

namespace {

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

namespace {

struct FontCell {
    std::uint8_t width, height;
};
constexpr std::array<FontCell, 5> kFontCells{{{5, 10}, {6, 12}, {8, 10}, {8, 16}, {10, 20}}};

}  // namespace

const std::vector<std::string>& fontSizeItems() {
    static const std::vector<std::string> items{"5x10", "6x12", "8x10", "8x16", "10x20"};
    return items;
}

IntBinding bindFontSize(std::uint8_t& width, std::uint8_t& height, int fallback) {
    return {[&width, &height, fallback]() -> long long {
                for (std::size_t i = 0; i < kFontCells.size(); ++i) {
                    if (kFontCells[i].width == width && kFontCells[i].height == height) {
                        return static_cast<long long>(i);
                    }
                }
                return fallback;
            },
            [&width, &height](long long index) {
                if (index < 0 || index >= static_cast<long long>(kFontCells.size())) return;
                width = kFontCells[static_cast<std::size_t>(index)].width;
                height = kFontCells[static_cast<std::size_t>(index)].height;
            },
            std::nullopt};
}

}  // namespace qn::dialogs
