#pragma once
// Dialogs as data. A DialogTable gives a dialog's class name, caption and rows in dialog order;
// one TableDialog interprets any table: it makes the controls, lays them out on the 240 × 320
// screen, binds each row to what it edits when the dialog opens (so the same table serves the
// VT and the 5250 record), converts between stored values and what the controls show, and
// applies the rules of the rows.
//
// Writing a table: one row per line of the dialog, made with the row functions below.
//
//   DialogTable{"CDlg4407Code128", "Code 128", "2D",
//               {check("GS1-128", engine("Code128_%", 2)),
//                check("ISBT 128", engine("Code128_%", 3)),
//                list("Concatenation:", {"Disable", "Enable"}, engine("Code128_%", 4)),
//                number("Concatenation Redundancy :", engine("Code128_%", 5), 2, 20),
//                lengthPair(engine("Code93_%", 2), engine("Code93_%", 3), 1, 55)}};
//
// - engine(operation, n) is value n (from 1) of a reader-library operation; a '%' in the name
//   stands for the table's family ("2D", "2D_4507", "1D_SE955"), so one row list serves the
//   dialogs of several engines. field(name) is a named field of the record's field table, the
//   one the settings tool uses; a number row on it takes the field's range.
// - A list row stores the selected index unless it has a conversion (heading(), valueMap(),
//   scaled(), clamped()); a check row stores 0 or 1, or one bit with flag(mask).
// - Rules are set on the returned row: .named("x") and .enabledBy("x") (enabled while check
//   row "x" is checked), .opening(className) (a button, or the button "..." beside a check box
//   that enables it, opens that table's dialog), .withReaderBit(bit) (shown only when the
//   reader type has the bit), .storedAtOnce() (written on every change, not on OK),
//   .alsoStoring(ref) (the stored value goes to a second place too), .unassigned() (shown
//   disabled: the record has no value for it), .withoutSpin(), .wide() (never shares a line).
// - custom()/customText() bind a row to the caller's own value; a row without a reference
//   keeps whatever binding its owner gives the control.
// - Hooks, only for what no rule says: .running(name) on a button calls the TableEnvironment's
//   action of that name ("reset"); the table's onInit/onChanged/onOk hooks see the dialog.
// - Control ids follow the rows: rowControlId(row, part).

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/dialogs/dialog_model.h"
#include "common/reader/engine_operations.h"
#include "common/reader/record_fields.h"

namespace qn::dialogs {

// What a row edits.
struct ValueRef {
    enum class Kind { None, Engine, Field, Custom };
    Kind kind = Kind::None;
    std::string name;  // operation (with '%' for the family) or record field
    int value = 1;     // value number within the operation's run, from 1
    // Custom: the caller's own binding, made when the dialog opens.
    std::function<IntBinding()> makeInt;
    std::function<TextBinding()> makeText;

    bool bound() const { return kind != Kind::None; }
};

ValueRef engine(std::string_view operation, int value);
ValueRef field(std::string_view name);
ValueRef custom(std::function<IntBinding()> make);
ValueRef customText(std::function<TextBinding()> make);

// Between a stored value and the index (or state) a control shows.
struct Conversion {
    enum class Kind {
        Index,    // stored = index; a value outside the list selects nothing and is kept
        Heading,  // the first entry is a heading: stored = index - 1; the heading stores nothing
        Map,      // stored = values[index]; any other value shows otherIndex
        Scaled,   // stored = min((index + offset) * factor, maxStored); shown = value / factor -
                  // offset, floorIndex when value / factor < offset, the last entry from lastFrom
        Clamp,    // stored = index; shown = value limited to the list
        Flag,     // a check box for one bit of the value
    };
    Kind kind = Kind::Index;
    std::vector<int> values;
    int otherIndex = 0;
    int offset = 0;
    int factor = 1;
    int floorIndex = 0;
    std::optional<int> maxStored;
    std::optional<int> lastFrom;
    std::uint32_t mask = 0;

    // The index a list of `count` entries shows for a stored value (-1: none).
    int shown(long long value, int count) const;
    // The value stored for a selected index; nullopt keeps the stored value.
    std::optional<long long> stored(int index, long long previous) const;
};

Conversion heading();
Conversion valueMap(std::vector<int> values, int otherIndex);
Conversion scaled(int factor, int offset, int floorIndex = 0);
Conversion clamped();
Conversion flag(std::uint32_t mask);

enum class RowKind {
    Check,       // check box; with .opens a button beside it, enabled while it is checked
    List,        // drop-down list with an optional label
    Number,      // number edit with a spin control (or without: .spin = false)
    LengthPair,  // length-mode list and two number edits with spin controls
    Label,       // static text
    Button,      // push button: .opens or .action
    CodeText,    // read-only code text; focusing it opens the byte-code picker
    Password,    // text edit showing stars
    Text,        // text edit
    EditCombo,   // editable combo box: a text with suggestions
    Radio,       // radio button; consecutive radio rows form a group, bound on its first row,
                 // which stores the index of the checked button
};

struct Row {
    RowKind kind = RowKind::Label;
    std::string text;                // check box, button or label text; caption of an edit
    std::vector<std::string> items;  // list entries, verbatim
    ValueRef ref;                    // what it edits
    Conversion conversion;           // lists and checks
    std::optional<std::pair<long long, long long>> range;  // number edits
    bool spin = true;
    std::size_t maxChars = 0;  // text rows; 0: the field's width
    // Length pair: the second length and, where the engine stores it, the length mode.
    ValueRef second;
    ValueRef mode;
    // Rules.
    std::string name;             // for enabledWhile of other rows
    std::string enabledWhile;     // name of a check row
    std::string opens;            // class name of the dialog a button opens
    std::string action;           // name of an environment action a button runs
    std::uint32_t readerBit = 0;  // shown only when the reader type has this bit
    bool atOnce = false;
    ValueRef also;            // a second place the stored value is written to
    bool fullWidth = false;   // never shares its line
    bool inactive = false;    // shown disabled: the record has no value for it
    bool hidden = false;      // never shown (a control the dialog has but does not offer)
    std::string pickerTitle;  // a code text's picker title when it is not the caption

    Row named(std::string n) && {
        name = std::move(n);
        return std::move(*this);
    }
    Row enabledBy(std::string n) && {
        enabledWhile = std::move(n);
        return std::move(*this);
    }
    Row opening(std::string c) && {
        opens = std::move(c);
        return std::move(*this);
    }
    Row running(std::string a) && {
        action = std::move(a);
        return std::move(*this);
    }
    Row withReaderBit(std::uint32_t bit) && {
        readerBit = bit;
        return std::move(*this);
    }
    Row storedAtOnce() && {
        atOnce = true;
        return std::move(*this);
    }
    Row alsoStoring(ValueRef ref2) && {
        also = std::move(ref2);
        return std::move(*this);
    }
    Row withoutSpin() && {
        spin = false;
        return std::move(*this);
    }
    Row unassigned() && {
        inactive = true;
        return std::move(*this);
    }
    Row wide() && {
        fullWidth = true;
        return std::move(*this);
    }
    Row hiddenAlways() && {
        hidden = true;
        return std::move(*this);
    }
    Row pickerTitled(std::string title) && {
        pickerTitle = std::move(title);
        return std::move(*this);
    }
};

Row check(std::string text, ValueRef ref, Conversion conversion = {});
Row list(std::string caption, std::vector<std::string> items, ValueRef ref,
         Conversion conversion = {});
Row number(std::string caption, ValueRef ref, std::optional<long long> min = {},
           std::optional<long long> max = {});
Row lengthPair(ValueRef first, ValueRef second, long long min, long long max, ValueRef mode = {});
Row label(std::string text);
Row button(std::string text);
Row codeText(std::string caption, ValueRef ref, std::size_t maxBytes = 0);
Row password(std::string caption, ValueRef ref, std::size_t maxChars = 0);
Row text(std::string caption, ValueRef ref, std::size_t maxChars = 0);
Row editCombo(std::string caption, std::vector<std::string> items, ValueRef ref,
              std::size_t maxChars = 0);
// The first radio row of a group carries what the group edits; the others pass {}.
Row radio(std::string text, ValueRef ref = {});

class TableDialog;

struct DialogTable {
    std::string className;
    std::string caption;
    std::string family;  // replaces '%' in operation names
    std::vector<Row> rows;
    // Hooks for rules that only one dialog has.
    std::function<void(TableDialog&)> onInit;
    std::function<void(TableDialog&, int row)> onChanged;
    std::function<bool(TableDialog&)> onOk;
};

// The rows of one table followed by more rows.
std::vector<Row> operator+(std::vector<Row> rows, const std::vector<Row>& more);

// The record a dialog edits, asked for when the dialog opens.
struct RecordAccess {
    std::function<std::span<std::uint8_t>()> bytes;  // the whole session record
    bool tnRecord = false;                           // 5250 offsets instead of VT ones
    std::span<const reader::FieldInfo> fields;
};

// What the dialogs of one program share while a sheet or a tool shows them.
struct TableEnvironment {
    RecordAccess record;
    std::uint32_t readerType = 0;
    // The tables by class name, for rows that open another dialog.
    std::function<const DialogTable*(std::string_view className)> find;
    // Button actions by name; the dialog is the one whose button was pressed.
    std::map<std::string, std::function<void(TableDialog&)>, std::less<>> actions;
};

// The controls a row makes, in order, as offsets from the row's first control id.
enum RowPart : int {
    kMain = 0,     // check box, list, edit, label, button; a length pair's mode list
    kCaption = 1,  // a list's or edit's label
    kButton = 2,   // the button beside a check box
    kSpin = 3,     // a number edit's spin control
    kFirst = 4,    // a length pair's first edit
    kFirstSpin = 5,
    kSecond = 6,
    kSecondSpin = 7,
};

inline constexpr int kFirstRowId = 1000;
inline constexpr int kRowIdStep = 10;
constexpr int rowControlId(int row, RowPart part = kMain) {
    return kFirstRowId + row * kRowIdStep + part;
}

// The entries of a length pair's mode list.
inline constexpr std::string_view kDiscrete = "discrete";
inline constexpr std::string_view kMinMax = "*min/max";

class TableDialog : public Dialog {
  public:
    TableDialog(const DialogTable& table, TableEnvironment& environment);

    const DialogTable& table() const { return table_; }
    TableEnvironment& environment() { return environment_; }
    // Closes the dialog as cancelled, for actions that end it (the main dialogs' "Reset").
    void close() { pressCancel(); }
    // The first control of the row with this name.
    int rowId(std::string_view name) const;
    // The operation name of a reference, with the family put in.
    std::string operationName(const ValueRef& ref) const;

  protected:
    void onBind() override { bindRows(); }
    void onInit() override;
    void onChanged(int id) override;
    void onFocus(int id) override;
    bool onOk() override;
    void onStored() override;

  private:
    void build();
    std::optional<IntBinding> intBinding(const ValueRef& ref,
                                         std::optional<std::pair<long long, long long>>* range);
    std::optional<TextBinding> textBinding(const ValueRef& ref, std::size_t maxChars);
    std::span<std::uint8_t> fieldBytes(const reader::FieldInfo& info);
    const reader::FieldInfo* findField(std::string_view name) const;
    void bindRows();
    void applyRules();
    void lengthModeChanged(int row);
    void storeNow(int row);

    const DialogTable& table_;
    TableEnvironment& environment_;
    // Per row: the bindings its controls use besides the ones kept on the controls.
    struct RowState {
        std::optional<IntBinding> also;
        std::vector<std::uint8_t> code;  // a code text's bytes
        std::optional<TextBinding> codeField;
    };
    std::vector<RowState> state_;
};

// The design layout of a table on the 240 × 320 screen: the rectangle of every control in the
// order TableDialog makes them.
std::vector<device::Rect> layoutRows(std::span<const Row> rows);

}  // namespace qn::dialogs
