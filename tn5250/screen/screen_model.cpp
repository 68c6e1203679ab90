#include "tn5250/screen/screen_model.h"

#include <algorithm>
#include <cstring>

namespace qn::tn {

namespace {

// 5250 attribute bytes 0x20 to 0x3F in their internal form.
constexpr std::array<std::uint8_t, 32> kInternalAttributes{
    0x40, 0x41, 0xE0, 0xE1, 0x44, 0x45, 0xE4, 0x07,  // 0x20
    0x80, 0x81, 0x88, 0x89, 0x84, 0x85, 0x8C, 0x07,  // 0x28
    0x70, 0x71, 0xD0, 0xD1, 0x64, 0x65, 0xC4, 0x07,  // 0x30
    0xA0, 0xA1, 0x20, 0x21, 0xA4, 0xA5, 0x24, 0x07,  // 0x38
};

// Whether each of the eight bytes is 0x40 to 0xFE: bit 7 or 6 set, and not 0xFF.
constexpr bool allPlainText(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kBit6 = kOnes * 0x40;
    constexpr std::uint64_t kBit7 = kOnes * 0x80;
    const std::uint64_t high = (word | (word >> 1)) & kBit6;
    const std::uint64_t inverted = ~word;
    const bool anyFF = ((inverted - kOnes) & ~inverted & kBit7) != 0;
    return high == kBit6 && !anyFF;
}

// Division that rounds down, so positions before the screen still split into a row and a
// column 0..79.
constexpr long floorDiv(long value, long divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

// The positions of a field that lie inside the planes.
struct PositionRange {
    int first;
    int last;  // inclusive; first > last when empty
};

PositionRange cellsOf(const FieldEntry& entry, int last) {
    return {std::max(entry.start(), 0), std::min(last, kPlanePositions - 1)};
}

}  // namespace

std::uint8_t internalAttribute(std::uint8_t attribute5250) {
    if (attribute5250 < 0x20 || attribute5250 > 0x3F) return 0;
    return kInternalAttributes[attribute5250 - 0x20];
}

// --- FieldTable

void FieldTable::clear() {
    // Entries past the count are zero already: only used ones need clearing.
    std::fill_n(entries_.begin(), count_, FieldEntry{});
    count_ = 0;
    cursor_ = 0;
}

bool FieldTable::addField(std::uint8_t column, std::uint8_t row, std::uint8_t ffw1,
                          std::uint8_t ffw2, std::uint8_t fcw1, std::uint8_t fcw2,
                          std::uint8_t attribute, std::int32_t length, std::uint8_t resequence) {
    for (FieldEntry& entry : entries()) {
        if (entry.column == column && entry.row == row) {
            entry.ffw1 = ffw1;
            entry.ffw2 = ffw2;
            entry.fcw1 = fcw1;
            entry.fcw2 = fcw2;
            entry.attribute = attribute;
            return true;
        }
    }
    if (count_ == kMaxFields) return false;
    FieldEntry& entry = entries_[static_cast<std::size_t>(count_)];
    entry = FieldEntry{};
    entry.number = static_cast<std::uint8_t>(count_ == 0 ? 1 : entries_[count_ - 1].number + 1);
    entry.resequence = resequence;
    entry.column = column;
    entry.row = row;
    entry.ffw1 = ffw1;
    entry.ffw2 = ffw2;
    entry.fcw1 = fcw1;
    entry.fcw2 = fcw2;
    entry.attribute = attribute;
    entry.length = length;
    ++count_;
    return true;
}

void FieldTable::assign(std::span<const FieldEntry> entries) {
    clear();
    for (const FieldEntry& entry :
         entries.first(std::min<std::size_t>(entries.size(), kMaxFields))) {
        entries_[static_cast<std::size_t>(count_)] = entry;
        entries_[static_cast<std::size_t>(count_)].number = static_cast<std::uint8_t>(count_ + 1);
        ++count_;
    }
}

bool FieldTable::first() {
    if (count_ == 0) return false;
    cursor_ = 0;
    return true;
}

bool FieldTable::last() {
    if (count_ == 0) return false;
    cursor_ = count_ - 1;
    return true;
}

bool FieldTable::next() {
    if (cursor_ + 1 >= count_) return false;
    ++cursor_;
    return true;
}

bool FieldTable::previous() {
    if (cursor_ <= 0 || count_ == 0) return false;
    --cursor_;
    return true;
}

FieldEntry FieldTable::current() const {
    if (count_ == 0) return {};
    return entries_[static_cast<std::size_t>(cursor_)];
}

void FieldTable::writeBack(const FieldEntry& entry) {
    if (entry.number >= 1 && entry.number <= count_) entries_[entry.number - 1] = entry;
}

// --- TnScreen

void TnScreen::reset() {
    chars_.fill(0);
    attributes_.fill(0);
    fields.clear();
    state = ScreenState{};
}

void TnScreen::clearUnit() {
    state.insertMode = false;
    state.messageShown = false;
    state.keyboardLocked = true;
    state.redrawPending = true;
    chars_.fill(0);
    // The attribute plane and the display's attribute bytes in one fill.
    std::fill_n(attributes_.begin(), kHostBytes + kHostByteCells, std::uint8_t{0});
    fields.clear();
    state.currentField = {};
    state.currentAttribute = 0;
    state.insertCursorRow = -1;
    state.insertCursorColumn = -1;
}

void TnScreen::rollRows(int top, int bottom, int count, bool down) {
    top = std::max(top, 0);
    bottom = std::min(bottom, kPlaneRows - 1);
    if (count <= 0 || bottom - top + 1 <= count) return;
    const int first = down ? top : top + count;
    const int to = down ? top + count : top;
    const int rows = bottom - top + 1 - count;
    const auto n = static_cast<std::size_t>(rows) * kPlaneColumns;
    for (std::uint8_t* plane : {chars_.data(), attributes_.data(), attributes_.data() + kHostBytes})
        std::memmove(plane + cellIndex(to, 0), plane + cellIndex(first, 0), n);
    // Rows from past the display bring no attribute bytes into it: theirs are never cleared.
    for (int row = to; row < std::min(to + rows, kRows); ++row) {
        if (row - to + first >= kRows)
            std::memset(attributes_.data() + kHostBytes + cellIndex(row, 0), 0, kPlaneColumns);
    }
}

void TnScreen::copyRectangle(int top, int left, int depth, int width, std::uint8_t* out) const {
    const auto n = static_cast<std::size_t>(width);
    for (const std::uint8_t* plane :
         {chars_.data(), attributes_.data(), attributes_.data() + kHostBytes}) {
        for (int row = top; row < top + depth; ++row, out += n)
            std::memcpy(out, plane + cellIndex(row, left), n);
    }
}

void TnScreen::pasteRectangle(int top, int left, int depth, int width, const std::uint8_t* in) {
    const auto n = static_cast<std::size_t>(width);
    for (std::uint8_t* plane :
         {chars_.data(), attributes_.data(), attributes_.data() + kHostBytes}) {
        for (int row = top; row < top + depth; ++row, in += n)
            std::memcpy(plane + cellIndex(row, left), in, n);
    }
}

std::span<const std::uint8_t, kPlaneColumns> TnScreen::charRow(int row) const {
    row = std::clamp(row, 0, kPlaneRows - 1);
    return std::span<const std::uint8_t, kPlaneColumns>(chars_.data() + row * kPlaneColumns,
                                                        kPlaneColumns);
}

std::span<const std::uint8_t, kPlaneColumns> TnScreen::attributeRow(int row) const {
    row = std::clamp(row, 0, kPlaneRows - 1);
    return std::span<const std::uint8_t, kPlaneColumns>(attributes_.data() + row * kPlaneColumns,
                                                        kPlaneColumns);
}

std::uint8_t TnScreen::charAtPosition(int position) const {
    if (position < 0 || position >= kPlanePositions) return 0;
    return charAt(position / kColumns, position % kColumns);
}

void TnScreen::setCharAtPosition(int position, std::uint8_t byte) {
    if (position < 0 || position >= kPlanePositions) return;
    setChar(position / kColumns, position % kColumns, byte);
}

void TnScreen::fillPositions(int first, int last, std::uint8_t byte) {
    first = std::max(first, 0);
    last = std::min(last, kPlanePositions - 1);
    while (first <= last) {
        const int row = first / kColumns;
        const int column = first % kColumns;
        const int count = std::min(last - first + 1, kColumns - column);
        std::memset(&chars_[cellIndex(row, column)], byte, static_cast<std::size_t>(count));
        // Filled, a cell is no attribute position: the byte under it must not come back when
        // an erase leaves it null.
        std::memset(&attributes_[kHostBytes + cellIndex(row, column)], 0,
                    static_cast<std::size_t>(count));
        first += count;
    }
}

void TnScreen::copyPositions(int first, int count, std::uint8_t* out) const {
    for (int p = first, left = count; left > 0;) {
        if (p < 0 || p >= kPlanePositions) {
            const int n = p < 0 ? std::min(left, -p) : left;
            std::memset(out, 0, static_cast<std::size_t>(n));
            out += n;
            p += n;
            left -= n;
            continue;
        }
        const int column = p % kColumns;
        const int n = std::min(left, kColumns - column);
        std::memcpy(out, &chars_[cellIndex(p / kColumns, column)], static_cast<std::size_t>(n));
        out += n;
        p += n;
        left -= n;
    }
}

int TnScreen::lastNonNullPosition(int first, int last) const {
    if (last < first) return last;
    const int low = std::max(first, 0);
    for (int p = std::min(last, kPlanePositions - 1); p >= low;) {
        const int row = p / kColumns;
        const std::uint8_t* const cells = chars_.data() + row * kPlaneColumns;
        const int firstColumn = std::max(low - row * kColumns, 0);
        for (int column = p - row * kColumns; column >= firstColumn; --column) {
            if (cells[column] != 0) return row * kColumns + column;
        }
        p = row * kColumns + firstColumn - 1;
    }
    return first - 1;
}

void TnScreen::movePositions(int from, int to, int count) {
    // The cells land as they were before the move: what lies outside the planes reads as null
    // and what would land outside is dropped, so only the part landing inside is read.
    const int first = std::max(to, 0);
    const int last = std::min(to + std::max(count, 0), kPlanePositions);
    if (first >= last) return;
    std::array<std::uint8_t, kPlanePositions> line;
    copyPositions(from + (first - to), last - first, line.data());
    for (int p = first; p < last;) {
        const int column = p % kColumns;
        const int n = std::min(last - p, kColumns - column);
        std::memcpy(&chars_[cellIndex(p / kColumns, column)],
                    &line[static_cast<std::size_t>(p - first)], static_cast<std::size_t>(n));
        p += n;
    }
}

void TnScreen::setPosition(long position) {
    // Past the end of the planes nothing can be written; the address rests there.
    position = std::min<long>(position, kPlanePositions);
    state.row = static_cast<std::int32_t>(floorDiv(position, kColumns));
    state.column = static_cast<std::int32_t>(position - floorDiv(position, kColumns) * kColumns);
}

const std::uint8_t* TnScreen::writeText(const std::uint8_t* bytes, const std::uint8_t* end,
                                        const TextTable& table) {
    int row = state.row;
    int column = state.column;
    if (row < 0 || row >= kPlaneRows || column < 0 || column >= kColumns) return bytes;
    std::uint8_t attribute = state.currentAttribute;
    std::uint64_t attributeWord = 0x0101010101010101u * attribute;
    std::uint8_t* chars = chars_.data() + row * kPlaneColumns;
    std::uint8_t* attributes = attributes_.data() + row * kPlaneColumns;
    const std::uint8_t* p = bytes;
    // A row at a time; eight text bytes a step while no attribute or other byte is among them.
    while (p < end) {
        const long room = std::min<long>(end - p, kColumns - column);
        std::uint8_t* const out = chars + column;
        std::uint8_t* const outAttributes = attributes + column;
        long i = 0;
        // Eight bytes a step while all are 0x40-0xFE, the bulk of any screen's text.
        for (; i + 8 <= room; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (!allPlainText(word)) break;
            // From a copy (the cells written cannot be the bytes read), spelt out so that
            // each byte is a load and a store.
            std::uint8_t in[8];
            std::memcpy(in, &word, 8);
            std::uint8_t* const cells = out + i;
            cells[0] = static_cast<std::uint8_t>(table[in[0]]);
            cells[1] = static_cast<std::uint8_t>(table[in[1]]);
            cells[2] = static_cast<std::uint8_t>(table[in[2]]);
            cells[3] = static_cast<std::uint8_t>(table[in[3]]);
            cells[4] = static_cast<std::uint8_t>(table[in[4]]);
            cells[5] = static_cast<std::uint8_t>(table[in[5]]);
            cells[6] = static_cast<std::uint8_t>(table[in[6]]);
            cells[7] = static_cast<std::uint8_t>(table[in[7]]);
            std::memcpy(outAttributes + i, &attributeWord, 8);
        }
        for (; i < room; ++i) {
            const std::uint16_t v = table[p[i]];
            if (v > 0xFF) break;
            out[i] = static_cast<std::uint8_t>(v);
            outAttributes[i] = attribute;
        }
        p += i;
        column += static_cast<int>(i);
        if (i < room) {
            const std::uint16_t v = table[*p];
            if ((v & kTextAttribute) == 0) break;
            out[i] = 0;
            outAttributes[i] = 0;
            outAttributes[kHostBytes + std::size_t(i)] = *p;
            attribute = static_cast<std::uint8_t>(v);
            attributeWord = 0x0101010101010101u * attribute;
            ++p;
            ++column;
        }
        if (column == kColumns) {
            column = 0;
            if (++row == kPlaneRows) break;  // the address rests past the planes
            chars += kPlaneColumns;
            attributes += kPlaneColumns;
        }
    }
    state.row = row;
    state.column = column;
    state.currentAttribute = attribute;
    return p;
}

namespace {

TextTable textTable(const SbcsTable& toLocal) {
    TextTable table{};
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::size_t>(b);
        if (b == 0x00 || b == 0x1C || (b >= 0x40 && b <= 0xFE)) {
            table[byte] = toLocal[byte] == 0xFF ? 0 : toLocal[byte];
        } else if (b >= 0x20 && b <= 0x3F) {
            table[byte] = static_cast<std::uint16_t>(kTextAttribute | internalAttribute(byte));
        } else {
            table[byte] = kTextStop;
        }
    }
    return table;
}

}  // namespace

const TextTable& textTableOf(std::uint8_t language) {
    // Languages 0 to 6, and 7 for every value past them (they all read as US).
    static const auto tables = [] {
        std::array<TextTable, 8> built{};
        for (std::uint8_t l = 0; l < built.size(); ++l)
            built[l] = textTable(sbcsTable(l));
        return built;
    }();
    return tables[std::min<std::uint8_t>(language, 7)];
}

void TnScreen::paintAttribute(long first, long count, std::uint8_t attribute) {
    long p = std::max<long>(first, 0);
    const long last = std::min<long>(first + count, kPlanePositions);
    while (p < last) {
        const long row = p / kColumns;
        const long column = p % kColumns;
        const long run = std::min<long>(last - p, kColumns - column);
        std::memset(attributes_.data() + row * kPlaneColumns + column, attribute,
                    static_cast<std::size_t>(run));
        p += run;
    }
}

void TnScreen::maskAttributes(long first, long last, std::uint8_t keep) {
    if (keep == 0xFF) return;
    first = std::max<long>(first, 0);
    last = std::min<long>(last, kPlanePositions - 1);
    while (first <= last) {
        const long column = first % kColumns;
        const long run = std::min<long>(last - first + 1, kColumns - column);
        std::uint8_t* const cells = attributes_.data() + first / kColumns * kPlaneColumns + column;
        for (long i = 0; i < run; ++i)
            cells[i] &= keep;
        first += run;
    }
}

bool TnScreen::fieldContains(const FieldEntry& entry, int row, int column) {
    const long position = static_cast<long>(row) * kColumns + column;
    return position >= entry.start() && position < static_cast<long>(entry.start()) + entry.length;
}

int TnScreen::fieldEnd(const FieldEntry& entry, bool excludeSign) {
    long end = static_cast<long>(entry.start()) + entry.length - 1;
    if (excludeSign && ffw::isSignedNumeric(entry.ffw1)) --end;
    return static_cast<int>(end);
}

void TnScreen::resetModifiedFlags(bool nonBypassOnly) {
    for (FieldEntry& entry : fields.entries()) {
        if (entry.ffw1 == 0) continue;
        if (nonBypassOnly && ffw::isBypass(entry.ffw1)) continue;
        entry.ffw1 &= static_cast<std::uint8_t>(~ffw::kModified);
    }
}

void TnScreen::nullFields(bool setModified) {
    for (FieldEntry& entry : fields.entries()) {
        if (entry.ffw1 == 0 || ffw::isBypass(entry.ffw1)) continue;
        if (setModified) entry.ffw1 |= ffw::kModified;
        const PositionRange cells = cellsOf(entry, fieldEnd(entry, false));
        fillPositions(cells.first, cells.last, 0);
    }
}

bool TnScreen::anyModified() const {
    return std::any_of(fields.entries().begin(), fields.entries().end(),
                       [](const FieldEntry& e) { return ffw::isModified(e.ffw1); });
}

bool TnScreen::checkMandatory(const FieldEntry& entry) const {
    const PositionRange cells = cellsOf(entry, fieldEnd(entry, false));
    if (ffw::adjustment(entry.ffw2) == ffw::kMandatoryFill && cells.first <= cells.last) {
        // All null or all filled, the first cell deciding which.
        const bool firstNull = charAtPosition(cells.first) == 0;
        for (int p = cells.first; p <= cells.last; ++p) {
            if ((charAtPosition(p) == 0) != firstNull) return false;
        }
    }
    if ((entry.ffw2 & ffw::kMandatoryEnter) != 0) {
        for (int p = cells.first; p <= cells.last; ++p) {
            if (charAtPosition(p) != 0) return true;
        }
        return false;
    }
    return true;
}

void TnScreen::locateField(int row, int column) {
    state.currentField = {};
    for (const FieldEntry& entry : fields.entries()) {
        if (fieldContains(entry, row, column)) {
            state.currentField = entry;
            return;
        }
    }
}

void TnScreen::selectField(const FieldEntry& entry) {
    state.pendingLeadByte = 0;
    state.receive.shiftOut = false;
    state.receive.leadHeld = false;
    if (entry.isField()) state.currentAttribute = entry.attribute;
}

void TnScreen::placeCursorAtRecordEnd() {
    state.currentField = {};
    state.row = 0;
    state.column = 0;
    if (state.insertCursorRow >= 0 && state.insertCursorColumn >= 0) {
        state.row = state.insertCursorRow;
        state.column = state.insertCursorColumn;
        locateField(state.row, state.column);
    } else {
        for (const FieldEntry& entry : fields.entries()) {
            if (entry.ffw1 != 0 && !ffw::isBypass(entry.ffw1)) {
                state.currentField = entry;
                state.row = entry.row;
                state.column = entry.column;
                break;
            }
        }
    }
    selectField(state.currentField);
}

void TnScreen::saveMessageRow() {
    if (state.messageShown) return;
    const auto line = charRow(state.messageRow);
    std::copy(line.begin(), line.end(), state.savedMessageRow.begin());
}

void TnScreen::clearMessageRow() {
    const int row = std::clamp(state.messageRow, 0, kPlaneRows - 1);
    std::fill_n(chars_.begin() + row * kPlaneColumns, kPlaneColumns, std::uint8_t{0});
}

void TnScreen::restoreMessageRow() {
    const int row = std::clamp(state.messageRow, 0, kPlaneRows - 1);
    std::copy(state.savedMessageRow.begin(), state.savedMessageRow.end(),
              chars_.begin() + row * kPlaneColumns);
}

bool TnScreen::tapCell(int row, int column) {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return false;
    if (!state.currentField.isField() || !fieldContains(state.currentField, row, column)) {
        if (!checkMandatory(state.currentField)) return false;
        locateField(row, column);
        selectField(state.currentField);
    }
    state.row = row;
    state.column = column;
    return true;
}

}  // namespace qn::tn
