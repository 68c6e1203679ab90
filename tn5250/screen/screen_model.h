#pragma once
// The one 5250 screen of the program: the character and attribute planes, the input-field
// table, the single address that is both write address and cursor, the insert cursor, the
// keyboard lock, the insert mode and the message line, with the field primitives that the data
// stream and the operator's editing share. It knows no socket, no thread and no lock: the
// program's session lock guards it.

#include <array>
#include <cstdint>
#include <span>

#include "tn5250/codepage/translation.h"

namespace qn::tn {

inline constexpr int kRows = 24;
inline constexpr int kColumns = 80;
inline constexpr int kPlaneRows = 33;
inline constexpr int kPlaneColumns = 128;
// Linear positions run row × 80 + column; the planes hold positions 0 to this − 1.
inline constexpr int kPlanePositions = kPlaneRows * kColumns;
inline constexpr int kPlaneCells = kPlaneRows * kPlaneColumns;
inline constexpr int kMaxFields = 208;
inline constexpr int kDefaultMessageRow = 23;

// The internal attribute byte of a cell.
namespace cell_attribute {
inline constexpr std::uint8_t kColourMask = 0xE0;  // 1 blue ... 7 white, in bits 7-5
inline constexpr std::uint8_t kColumnSeparators = 0x10;
inline constexpr std::uint8_t kBlink = 0x08;
inline constexpr std::uint8_t kUnderline = 0x04;
inline constexpr std::uint8_t kReverse = 0x01;
inline constexpr std::uint8_t kNonDisplay = 0x07;  // the whole value
}  // namespace cell_attribute

// The internal attribute of a 5250 attribute byte (0x20-0x3F); any other byte gives 0.
std::uint8_t internalAttribute(std::uint8_t attribute5250);

// Write To Display bytes outside double-byte mode: a text byte (0x00, 0x1C, 0x40-0xFE) gives
// its local byte (0 where the language has none), an attribute byte (0x20-0x3F) kTextAttribute
// with its internal attribute, any other byte kTextStop.
using TextTable = std::array<std::uint16_t, 256>;
inline constexpr std::uint16_t kTextAttribute = 0x100;
inline constexpr std::uint16_t kTextStop = 0x200;
// The table of a session's language, built once per code page.
const TextTable& textTableOf(std::uint8_t language);

// Field format word, read where it lies.
namespace ffw {
inline constexpr std::uint8_t kBypass = 0x20;
inline constexpr std::uint8_t kModified = 0x08;
inline constexpr std::uint8_t kAlphabeticOnly = 1;
inline constexpr std::uint8_t kNumericOnly = 3;
inline constexpr std::uint8_t kDigitsOnly = 5;
inline constexpr std::uint8_t kSignedNumeric = 7;
inline constexpr std::uint8_t kNoRestriction = 255;
inline constexpr std::uint8_t kAutoEnter = 0x80;
inline constexpr std::uint8_t kFieldExitRequired = 0x40;
inline constexpr std::uint8_t kMonocase = 0x20;
inline constexpr std::uint8_t kMandatoryEnter = 0x08;
inline constexpr std::uint8_t kRightAdjustZeroFill = 5;
inline constexpr std::uint8_t kRightAdjustBlankFill = 6;
inline constexpr std::uint8_t kMandatoryFill = 7;

constexpr bool isValid(std::uint8_t ffw1) {
    return (ffw1 & 0xC0) == 0x40;
}
constexpr bool isBypass(std::uint8_t ffw1) {
    return (ffw1 & kBypass) != 0;
}
constexpr bool isModified(std::uint8_t ffw1) {
    return (ffw1 & kModified) != 0;
}
// 1 alphabetic only, 3 numeric only, 5 digits only, 7 signed numeric, other values accept
// every character; 255 when the word is not a valid field format word.
constexpr std::uint8_t shiftEditType(std::uint8_t ffw1) {
    return isValid(ffw1) ? static_cast<std::uint8_t>(ffw1 & 0x07) : kNoRestriction;
}
constexpr bool isSignedNumeric(std::uint8_t ffw1) {
    return shiftEditType(ffw1) == kSignedNumeric;
}
constexpr std::uint8_t adjustment(std::uint8_t ffw2) {
    return ffw2 & 0x07;
}
}  // namespace ffw

// One input field. Entries are only ever appended or changed in place, so table order is
// array order and an entry's number is its index plus one.
struct FieldEntry {
    std::uint8_t number = 0;
    std::uint8_t resequence = 0;
    std::uint8_t column = 0;  // first data position, 0-based
    std::uint8_t row = 0;
    std::uint8_t ffw1 = 0;
    std::uint8_t ffw2 = 0;
    std::uint8_t fcw1 = 0;
    std::uint8_t fcw2 = 0;
    std::uint8_t attribute = 0;  // internal form
    std::int32_t length = 0;

    // An all-zero entry stands for "no field".
    bool isField() const { return number != 0 || length != 0; }
    int start() const { return row * kColumns + column; }
    bool operator==(const FieldEntry&) const = default;
};

class FieldTable {
  public:
    void clear();
    // Changes the format words and attribute of the entry at the same position (keeping its
    // length and number) or appends a new one; false when the table is full.
    bool addField(std::uint8_t column, std::uint8_t row, std::uint8_t ffw1, std::uint8_t ffw2,
                  std::uint8_t fcw1, std::uint8_t fcw2, std::uint8_t attribute, std::int32_t length,
                  std::uint8_t resequence);

    int count() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::span<const FieldEntry> entries() const { return {entries_.data(), std::size_t(count_)}; }
    std::span<FieldEntry> entries() { return {entries_.data(), std::size_t(count_)}; }

    // The walk: each moves the iteration cursor and returns true, or returns false at the end
    // and leaves it where it was.
    bool first();
    bool last();
    bool next();
    bool previous();
    // A copy of the entry at the iteration cursor (all zero when the table is empty).
    FieldEntry current() const;
    // Stores a changed copy back into the entry it was taken from (by its number).
    void writeBack(const FieldEntry& entry);
    bool currentIsLast() const { return count_ > 0 && cursor_ == count_ - 1; }
    // The table replaced by these entries (at most kMaxFields), numbered 1, 2, ... in order.
    void assign(std::span<const FieldEntry> entries);

  private:
    std::array<FieldEntry, kMaxFields> entries_{};
    int count_ = 0;
    int cursor_ = 0;
};

// The state beside the planes.
struct ScreenState {
    std::uint8_t currentAttribute = 0;
    std::uint8_t pendingLeadByte = 0;
    ReceiveState receive;  // shiftOut, the held half and dbcsPair of received text
    bool redrawPending = false;
    bool insertMode = false;
    bool messageShown = false;
    bool keyboardLocked = true;
    bool placeCursorAtEnd = false;
    std::uint8_t readMode = 0;  // 0 none, 1 input fields, 2 MDT fields, 3 MDT alternate
    std::int32_t messageRow = kDefaultMessageRow;
    std::int32_t row = 0;  // the address: write address and cursor
    std::int32_t column = 0;
    std::int32_t insertCursorRow = -1;
    std::int32_t insertCursorColumn = -1;
    std::array<std::uint8_t, kPlaneColumns> savedMessageRow{};
    std::array<std::uint8_t, kPlaneColumns> messageText{};
    FieldEntry currentField;
};

class TnScreen {
  public:
    TnScreen() { reset(); }

    // The model's part of a reset (connect, disconnect): empty planes and table, address 0,0,
    // message row 23, no insert cursor, keyboard locked.
    void reset();
    // Clear Unit.
    void clearUnit();

    // Cells by row and column of the planes; reads outside give 0, writes outside are dropped.
    std::uint8_t charAt(int row, int column) const {
        return inPlanes(row, column) ? chars_[cellIndex(row, column)] : 0;
    }
    std::uint8_t attributeAt(int row, int column) const {
        return inPlanes(row, column) ? attributes_[cellIndex(row, column)] : 0;
    }
    void setChar(int row, int column, std::uint8_t byte) {
        if (inPlanes(row, column)) chars_[cellIndex(row, column)] = byte;
    }
    void setAttribute(int row, int column, std::uint8_t attribute) {
        if (inPlanes(row, column)) attributes_[cellIndex(row, column)] = attribute;
    }
    std::span<const std::uint8_t, kPlaneColumns> charRow(int row) const;
    std::span<const std::uint8_t, kPlaneColumns> attributeRow(int row) const;
    // The whole planes, row stride 128, for the saved screen image.
    std::span<const std::uint8_t, kPlaneCells> charPlane() const { return chars_; }
    std::span<const std::uint8_t, kPlaneCells> attributePlane() const {
        return std::span<const std::uint8_t, kPlaneCells>(attributes_.data(), kPlaneCells);
    }
    std::span<std::uint8_t, kPlaneCells> charPlane() { return chars_; }
    std::span<std::uint8_t, kPlaneCells> attributePlane() {
        return std::span<std::uint8_t, kPlaneCells>(attributes_.data(), kPlaneCells);
    }
    // The 5250 attribute byte the host wrote at an attribute position of the display, which
    // the cell itself keeps as a null with attribute 0: Read Screen sends it back. A cell
    // written since then holds something else, and a stale byte under it is not read.
    // A byte that is no attribute byte (a Start Of Field may carry one) is kept as none.
    void setHostAttribute(int row, int column, std::uint8_t attribute5250) {
        if (!inDisplay(row, column)) return;
        const bool attribute = attribute5250 >= 0x20 && attribute5250 <= 0x3F;
        attributes_[kHostBytes + cellIndex(row, column)] = attribute ? attribute5250 : 0;
    }
    std::uint8_t hostAttributeAt(int row, int column) const {
        if (!inDisplay(row, column)) return 0;
        const std::size_t cell = cellIndex(row, column);
        return chars_[cell] == 0 && attributes_[cell] == 0 ? attributes_[kHostBytes + cell] : 0;
    }
    // Those bytes of the display's rows, row stride 128 (stale ones too), for the saved image.
    static constexpr std::size_t kHostByteCells = std::size_t(kRows) * kPlaneColumns;
    std::span<const std::uint8_t, kHostByteCells> hostAttributePlane() const {
        return std::span<const std::uint8_t, kHostByteCells>(attributes_.data() + kHostBytes,
                                                             kHostByteCells);
    }
    std::span<std::uint8_t, kHostByteCells> hostAttributePlane() {
        return std::span<std::uint8_t, kHostByteCells>(attributes_.data() + kHostBytes,
                                                       kHostByteCells);
    }
    // Rows top to bottom (inclusive, inside the planes) moved count rows up, or down; the rows
    // they leave keep what they held. Characters, attributes and attribute bytes move.
    void rollRows(int top, int bottom, int count, bool down);
    // The cells of a rectangle, characters, attributes and attribute bytes, row by row, into
    // out; and back from it. Rows and columns inside the screen.
    void copyRectangle(int top, int left, int depth, int width, std::uint8_t* out) const;
    void pasteRectangle(int top, int left, int depth, int width, const std::uint8_t* in);
    // Cells by linear position (row × 80 + column), as fields see them.
    std::uint8_t charAtPosition(int position) const;
    void setCharAtPosition(int position, std::uint8_t byte);
    // The cells at positions first to last set to byte (their attribute bytes gone), and count
    // cells moved from position from to position to as if copied one by one in the order that
    // reads each before it is overwritten; as the cell calls, reads outside the planes give 0
    // and writes are dropped. Row by row: editing a long field moves it a character at a time.
    void fillPositions(int first, int last, std::uint8_t byte);
    void movePositions(int from, int to, int count);
    // The characters of count positions from first into out (0 for those outside the planes).
    void copyPositions(int first, int count, std::uint8_t* out) const;
    // The last position from first to last whose character is not null, as a backward walk
    // from last would find it (positions outside the planes read as null); first - 1 when all
    // are null, last itself when it lies before first.
    int lastNonNullPosition(int first, int last) const;

    // The address as a linear position, and setting it from one.
    int position() const { return state.row * kColumns + state.column; }
    void setPosition(long position);
    // Moves the address on by count positions: column 79 is followed by column 0 of the next
    // row; past the planes it stops at their end.
    void advance(int count = 1) {
        if (count == 1 && state.row < kPlaneRows && state.column >= 0 &&
            state.column < kColumns - 1) {
            ++state.column;  // the common case: along a row
            return;
        }
        setPosition(static_cast<long>(state.row) * kColumns + state.column + count);
    }
    // Stores the byte and currentAttribute at (row, column) and moves the address on.
    void writeCell(int row, int column, std::uint8_t byte) {
        if (inPlanes(row, column)) {
            chars_[cellIndex(row, column)] = byte;
            attributes_[cellIndex(row, column)] = state.currentAttribute;
        }
        advance();
    }

    // Write To Display text outside double-byte mode, from the address on, by a table of
    // textTableOf(): a text byte into a cell with currentAttribute, an attribute byte as a null
    // cell that sets currentAttribute. Stops before the first other byte (an order, ESC, SO,
    // SI, 0xFF) and returns where it stopped; also stops, unwritten, when the address is not
    // inside the planes.
    const std::uint8_t* writeText(const std::uint8_t* bytes, const std::uint8_t* end,
                                  const TextTable& table);

    // The attribute into the cells of positions [first, first + count) inside the planes.
    void paintAttribute(long first, long count, std::uint8_t attribute);
    // The attributes of positions first to last inside the planes ANDed with keep.
    void maskAttributes(long first, long last, std::uint8_t keep);

    bool addField(std::uint8_t column, std::uint8_t row, std::uint8_t ffw1, std::uint8_t ffw2,
                  std::uint8_t fcw1, std::uint8_t fcw2, std::uint8_t attribute, std::int32_t length,
                  std::uint8_t resequence) {
        return fields.addField(column, row, ffw1, ffw2, fcw1, fcw2, attribute, length, resequence);
    }
    static bool fieldContains(const FieldEntry& entry, int row, int column);
    // The last position of the field; excludeSign leaves out a signed-numeric field's sign.
    static int fieldEnd(const FieldEntry& entry, bool excludeSign);
    void resetModifiedFlags(bool nonBypassOnly);
    void nullFields(bool setModified);
    bool anyModified() const;
    bool checkMandatory(const FieldEntry& entry) const;
    // The first entry containing the position becomes currentField (all zero when none).
    void locateField(int row, int column);
    void selectField(const FieldEntry& entry);
    void placeCursorAtRecordEnd();

    // The message line is saved before an error message is written, unless one is already shown:
    // Reset brings back the line that was there before the first message.
    void saveMessageRow();
    void clearMessageRow();
    void restoreMessageRow();

    // A stylus tap on a cell: the cursor moves there; leaving the current field needs it to
    // pass its mandatory check, else the cursor stays. True when the cursor moved.
    bool tapCell(int row, int column);

    FieldTable fields;
    ScreenState state;

  private:
    static bool inPlanes(int row, int column) {
        return row >= 0 && row < kPlaneRows && column >= 0 && column < kPlaneColumns;
    }
    static std::size_t cellIndex(int row, int column) {
        return static_cast<std::size_t>(row * kPlaneColumns + column);
    }
    static bool inDisplay(int row, int column) {
        return row >= 0 && row < kRows && column >= 0 && column < kColumns;
    }
    std::array<std::uint8_t, kPlaneCells> chars_{};
    // The attribute plane, then the host's attribute bytes of the same cells with the same
    // stride: the text writer stores a cell's byte at a fixed distance from its attribute, with
    // no row of its own to carry. Only the display's rows are read, cleared and saved; the
    // rows past them take the writer's stores unchecked and are never read.
    static constexpr std::size_t kHostBytes = kPlaneCells;
    std::array<std::uint8_t, 2 * kPlaneCells> attributes_{};
};

}  // namespace qn::tn
