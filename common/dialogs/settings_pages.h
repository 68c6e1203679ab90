#pragma once
// The settings-sheet pieces both programs share: the "Barcode Reader" page with its refresh
// from the reader library, the "RFID" dialog, the "Screen" page, "Set Config File", and the
// font size list.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/dialogs/reader_page_rules.h"
#include "common/dialogs/table_dialog.h"
#include "common/reader/reader_library.h"

namespace qn::dialogs {

// A table dialog that keeps the environment it is shown in.
struct OwnEnvironment {
    TableEnvironment environment;
};

// A sheet's environment: the engine dialogs' one, finding the program's scanner dialogs too.
using TableFinder = const DialogTable* (*)(std::string_view className);
TableEnvironment withScannerTables(TableEnvironment engines, TableFinder scannerTables);

// Class names of the dialogs the "Barcode Reader" page opens besides the engine families.
inline constexpr std::string_view kRfidClass = "CDlgRfid";

// The "Barcode Reader" page. The check boxes follow the library's masks; a toggle switches the
// devices at once; the engine buttons open the family of the reader type; OK stores the
// active-device byte and both reader flags.
class BarcodeReaderPage final : public TableDialog {
  public:
    enum Id : int {
        kBarcode = rowControlId(0),
        kRfid = rowControlId(1),
        kOneD = rowControlId(2),
        kLongRange = rowControlId(3),
        kTwoD = rowControlId(4),
        kRfidSettings = rowControlId(5),
        kAdvanced = rowControlId(6),
    };
    BarcodeReaderPage(reader::Program program, reader::ReaderLibrary& reader,
                      TableEnvironment& environment);

  protected:
    void onInit() override;
    void onChanged(int id) override;
    void onStored() override;

  private:
    void refresh();
    void openEngineDialog(bool twoD);

    reader::ReaderLibrary& reader_;
};

// Rows both programs' "Advanced Barcode Settings" dialogs share: the "Input" group (leading
// code, code length, partial code; the 5250 dialog takes a start or length below 2 as 1, so it
// lets 0 through its range), and the prefix and suffix with their texts.
std::vector<Row> scanInputRows(long long lowestStartAndLength);
std::vector<Row> prefixSuffixRows();

// The "RFID" dialog of both programs.
const DialogTable& rfidTable();

// "ScrollBar" and "TaskBar On Full Screen", each click written at once.
const DialogTable& screenPageTable(reader::Program program);

// The "Screen" page on one program's record.
class ScreenPage : private OwnEnvironment, public TableDialog {
  public:
    enum Id { kScrollBar = rowControlId(0), kTaskBar = rowControlId(1) };
    ScreenPage(reader::Program program, RecordAccess record);
};

// "Set Config File": the path edit, "..." and OK/Cancel.
class SetConfigFileDialog final : private OwnEnvironment, public TableDialog {
  public:
    enum Id { kLabel = rowControlId(0), kPath = rowControlId(1), kBrowse = rowControlId(2) };
    // browse: the platform's file-open dialog; the chosen path with its three-letter extension
    // completed, or nullopt when cancelled.
    SetConfigFileDialog(std::string currentPath,
                        std::function<std::optional<std::string>()> browse);
    const std::string& path() const { return control(kPath).text; }

  private:
    std::string currentPath_;
};

// The font size list: "5x10" ... "10x20" with the cells they stand for.
const std::vector<std::string>& fontSizeItems();
// Selects the item of the stored cell, or `fallback` when none matches (-1: nothing); storing
// an item writes its width and height, storing no selection writes nothing.
IntBinding bindFontSize(std::uint8_t& width, std::uint8_t& height, int fallback);

}  // namespace qn::dialogs
