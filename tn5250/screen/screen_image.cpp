#include "tn5250/screen/screen_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qn::tn {

namespace {

constexpr std::uint8_t kMagic1 = 0xD8;  // "QN" in EBCDIC
constexpr std::uint8_t kMagic2 = 0xD5;
constexpr std::uint8_t kVersion = 1;

constexpr std::uint8_t kLocked = 0x01;
constexpr std::uint8_t kInsertMode = 0x02;
constexpr std::uint8_t kMessageShown = 0x04;
constexpr std::uint8_t kPlaceCursor = 0x08;

constexpr std::size_t kMaxLiteral = 128;
constexpr std::size_t kMaxRepeat = 129;

void putWord(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

int signedWord(const std::uint8_t* at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] << 8 | at[1]));
}

// Runs of three or more equal bytes are repeated, everything else goes as it is; so nothing
// grows by more than a control byte per 128. One pass, each byte compared once with the one
// before it: a literal ends where the third of three equal bytes shows.
void pack(std::span<const std::uint8_t> cells, std::vector<std::uint8_t>& out) {
    const std::uint8_t* const c = cells.data();
    const std::size_t n = cells.size();
    std::size_t i = 0;
    while (i < n) {
        // Blank and null stretches are long: the run is measured eight bytes at a time.
        const std::size_t limit = std::min(n - i, kMaxRepeat);
        const std::uint64_t pattern = c[i] * 0x0101010101010101ull;
        std::size_t run = 1;
        for (std::uint64_t word = 0; run + 8 <= limit; run += 8) {
            std::memcpy(&word, c + i + run, 8);
            if (word != pattern) break;
        }
        while (run < limit && c[i + run] == c[i])
            ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(0x7E + run));
            out.push_back(c[i]);
            i += run;
            continue;
        }
        // The bytes at i have no run of three, so a run found here starts past i.
        std::size_t literal = std::min(n - i, kMaxLiteral);
        std::size_t equal = 1;
        for (std::size_t q = i + 1; q < n && q < i + literal + 2; ++q) {
            equal = c[q] == c[q - 1] ? equal + 1 : 1;
            if (equal == 3) {
                literal = std::min(literal, q - 2 - i);
                break;
            }
        }
        out.push_back(static_cast<std::uint8_t>(literal - 1));
        out.insert(out.end(), c + i, c + i + literal);
        i += literal;
    }
}

// Fills cells exactly from the runs; false when they give more or fewer bytes than that, or
// bytes are left over.
bool unpack(std::span<const std::uint8_t> runs, std::span<std::uint8_t> cells) {
    std::size_t in = 0;
    std::size_t out = 0;
    while (in < runs.size()) {
        const std::uint8_t control = runs[in++];
        if (control < 0x80) {
            const std::size_t count = control + 1u;
            if (in + count > runs.size() || out + count > cells.size()) return false;
            std::copy_n(runs.begin() + long(in), count, cells.begin() + long(out));
            in += count;
            out += count;
        } else {
            const std::size_t count = control - 0x7Eu;
            if (in >= runs.size() || out + count > cells.size()) return false;
            std::fill_n(cells.begin() + long(out), count, runs[in++]);
            out += count;
        }
    }
    return out == cells.size();
}

// An address as the data stream can leave it: a position from before the first row (an order
// addressing row or column 0) to the rest position past the planes, column 0 to 79.
bool validAddress(int row, int column) {
    const long position = long(row) * kColumns + column;
    return column >= 0 && column < kColumns && position >= -(kColumns + 1) &&
           position <= kPlanePositions;
}

}  // namespace

void appendScreenImage(const TnScreen& screen, std::vector<std::uint8_t>& out) {
    const ScreenState& s = screen.state;
    const std::size_t begin = out.size();
    out.insert(out.end(), {kMagic1, kMagic2, kVersion, 0x00, 0x00});
    out.push_back(static_cast<std::uint8_t>(
        (s.keyboardLocked ? kLocked : 0) | (s.insertMode ? kInsertMode : 0) |
        (s.messageShown ? kMessageShown : 0) | (s.placeCursorAtEnd ? kPlaceCursor : 0)));
    out.push_back(s.readMode);
    out.push_back(static_cast<std::uint8_t>(s.messageRow));
    out.push_back(s.currentAttribute);
    putWord(out, s.row);
    putWord(out, s.column);
    putWord(out, s.insertCursorRow);
    putWord(out, s.insertCursorColumn);
    // The current field by its entry; a copy that matches no entry is no field.
    std::uint8_t current = 0;
    for (const FieldEntry& f : screen.fields.entries()) {
        if (s.currentField.isField() && f.start() == s.currentField.start()) {
            current = f.number;
            break;
        }
    }
    out.push_back(current);
    out.push_back(static_cast<std::uint8_t>(screen.fields.count()));
    for (const FieldEntry& f : screen.fields.entries()) {
        out.insert(out.end(),
                   {f.resequence, f.column, f.row, f.ffw1, f.ffw2, f.fcw1, f.fcw2, f.attribute});
        putWord(out, std::clamp(f.length, 0, 0xFFFF));
    }
    pack(screen.charPlane(), out);
    pack(screen.attributePlane(), out);
    pack(s.savedMessageRow, out);
    pack(s.messageText, out);
    const std::size_t length = out.size() - begin;
    out[begin + 3] = static_cast<std::uint8_t>(length >> 8);
    out[begin + 4] = static_cast<std::uint8_t>(length);
}

std::size_t screenImageLength(std::span<const std::uint8_t> head) {
    if (head.size() < 5 || head[0] != kMagic1 || head[1] != kMagic2 || head[2] != kVersion)
        return 0;
    const std::size_t length = std::size_t(head[3]) << 8 | head[4];
    return length >= kScreenImageHeader && length <= kMaxScreenImage ? length : 0;
}

bool restoreScreenImage(TnScreen& screen, std::span<const std::uint8_t> image) {
    const std::size_t length = screenImageLength(image);
    if (length == 0 || length != image.size()) return false;
    const std::uint8_t* h = image.data();
    const std::uint8_t flags = h[5];
    const std::uint8_t readMode = h[6];
    const int messageRow = h[7];
    const int row = signedWord(h + 9);
    const int column = signedWord(h + 11);
    const int insertRow = signedWord(h + 13);
    const int insertColumn = signedWord(h + 15);
    const std::size_t current = h[17];
    const std::size_t count = h[18];
    if ((flags & ~(kLocked | kInsertMode | kMessageShown | kPlaceCursor)) != 0 || readMode > 3 ||
        messageRow >= kRows || !validAddress(row, column) ||
        !((insertRow == -1 && insertColumn == -1) || validAddress(insertRow, insertColumn)) ||
        count > std::size_t(kMaxFields) || current > count) {
        return false;
    }
    const std::size_t cellsAt = kScreenImageHeader + kScreenImageFieldSize * count;
    if (cellsAt > image.size()) return false;

    std::array<FieldEntry, kMaxFields> fields{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* f = h + kScreenImageHeader + kScreenImageFieldSize * i;
        FieldEntry& e = fields[i];
        e.number = static_cast<std::uint8_t>(i + 1);
        e.resequence = f[0];
        e.column = f[1];
        e.row = f[2];
        e.ffw1 = f[3];
        e.ffw2 = f[4];
        e.fcw1 = f[5];
        e.fcw2 = f[6];
        e.attribute = f[7];
        e.length = f[8] << 8 | f[9];
        // As Start Of Field enters them: an input field with a format word, starting inside
        // the planes, one entry a position.
        if (e.column >= kColumns || e.row >= kPlaneRows || (e.ffw1 & 0xC0) == 0 ||
            ffw::isBypass(e.ffw1)) {
            return false;
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (fields[k].row == e.row && fields[k].column == e.column) return false;
        }
    }

    std::array<std::uint8_t, kScreenImageCells> cells;
    if (!unpack(image.subspan(cellsAt), cells)) return false;

    const auto at = cells.begin();
    std::copy_n(at, kPlaneCells, screen.charPlane().begin());
    std::copy_n(at + kPlaneCells, kPlaneCells, screen.attributePlane().begin());
    ScreenState& s = screen.state;
    std::copy_n(at + 2 * kPlaneCells, kPlaneColumns, s.savedMessageRow.begin());
    std::copy_n(at + 2 * kPlaneCells + kPlaneColumns, kPlaneColumns, s.messageText.begin());
    screen.fields.assign(std::span(fields).first(count));
    s.keyboardLocked = (flags & kLocked) != 0;
    s.insertMode = (flags & kInsertMode) != 0;
    s.messageShown = (flags & kMessageShown) != 0;
    s.placeCursorAtEnd = (flags & kPlaceCursor) != 0;
    s.readMode = readMode;
    s.messageRow = messageRow;
    s.currentAttribute = h[8];
    s.row = row;
    s.column = column;
    s.insertCursorRow = insertRow;
    s.insertCursorColumn = insertColumn;
    s.currentField = current == 0 ? FieldEntry{} : fields[current - 1];
    s.pendingLeadByte = 0;
    s.receive = {};
    s.redrawPending = true;
    return true;
}

}  // namespace qn::tn
