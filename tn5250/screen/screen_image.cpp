#include "tn5250/screen/screen_image.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tn5250/screen/run_length.h"

namespace qn::tn {

namespace {

constexpr std::uint8_t kMagic1 = 0xD8;  // "QN" in EBCDIC
constexpr std::uint8_t kMagic2 = 0xD5;
constexpr std::uint8_t kVersion = 2;  // 1 lacked the attribute bytes
constexpr std::uint8_t kPartialKind = 0x81;

constexpr std::uint8_t kLocked = 0x01;
constexpr std::uint8_t kInsertMode = 0x02;
constexpr std::uint8_t kMessageShown = 0x04;
constexpr std::uint8_t kPlaceCursor = 0x08;

void putWord(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

int signedWord(const std::uint8_t* at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] << 8 | at[1]));
}

// An address as the data stream can leave it: a position from before the first row (an order
// addressing row or column 0) to the rest position past the planes, column 0 to 79.
bool validAddress(int row, int column) {
    const long position = long(row) * kColumns + column;
    return column >= 0 && column < kColumns && position >= -(kColumns + 1) &&
           position <= kPlanePositions;
}

// Eight bytes each none or a 5250 attribute byte (0x20-0x3F).
bool attributeBytesWord(std::uint64_t word) {
    if (word == 0) return true;  // most of a screen
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t high = word & (kOnes * 0xE0);
    if ((high & ~(kOnes * 0x20)) != 0) return false;  // bits 7-6 clear in every byte
    // A byte with bit 5 clear must be 0.
    const std::uint64_t attribute = (high >> 5) & kOnes;
    return (word & (kOnes * 0x1F) & ~(attribute * 0x1F)) == 0;
}

// The attribute bytes as the model keeps them: none, or a 5250 attribute byte, at the
// display's columns only. Eight at a time: a screen's worth comes with every restore.
bool validAttributeBytes(const std::uint8_t* bytes, std::size_t rows, std::size_t width,
                         std::size_t stride, std::size_t shownColumns) {
    const std::size_t shown = std::min(width, shownColumns);
    for (std::size_t row = 0; row < rows; ++row, bytes += stride) {
        std::size_t column = 0;
        for (std::uint64_t word = 0; column + 8 <= shown; column += 8) {
            std::memcpy(&word, bytes + column, 8);
            if (!attributeBytesWord(word)) return false;
        }
        for (; column < shown; ++column) {
            if (!attributeBytesWord(bytes[column])) return false;
        }
        for (std::uint64_t word = 0; column + 8 <= width; column += 8) {
            std::memcpy(&word, bytes + column, 8);
            if (word != 0) return false;
        }
        for (; column < width; ++column) {
            if (bytes[column] != 0) return false;
        }
    }
    return true;
}

void putField(std::vector<std::uint8_t>& out, const FieldEntry& f) {
    out.insert(out.end(),
               {f.resequence, f.column, f.row, f.ffw1, f.ffw2, f.fcw1, f.fcw2, f.attribute});
    putWord(out, std::clamp(f.length, 0, 0xFFFF));
}

// A field entry as Start Of Field enters one: an input field with a format word, starting
// inside the planes; false when it is not.
bool readField(const std::uint8_t* f, std::size_t index, FieldEntry& e) {
    e = {};
    e.number = static_cast<std::uint8_t>(index + 1);
    e.resequence = f[0];
    e.column = f[1];
    e.row = f[2];
    e.ffw1 = f[3];
    e.ffw2 = f[4];
    e.fcw1 = f[5];
    e.fcw2 = f[6];
    e.attribute = f[7];
    e.length = f[8] << 8 | f[9];
    return e.column < kColumns && e.row < kPlaneRows && (e.ffw1 & 0xC0) != 0 &&
           !ffw::isBypass(e.ffw1);
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
    for (const FieldEntry& f : screen.fields.entries())
        putField(out, f);
    // The attribute bytes, a few a row: each by its place, in screen order.
    const std::size_t countAt = out.size();
    out.insert(out.end(), {0x00, 0x00});
    const std::uint8_t* line = screen.hostAttributePlane().data();
    for (int row = 0; row < kRows; ++row, line += kPlaneColumns) {
        static_assert(kColumns % 8 == 0);
        for (int column = 0; column < kColumns; column += 8) {
            std::uint64_t word;
            std::memcpy(&word, line + column, 8);
            if (word == 0) continue;
            for (int c = column; c < column + 8; ++c) {
                if (line[c] != 0)
                    out.insert(out.end(), {std::uint8_t(row), std::uint8_t(c), line[c]});
            }
        }
    }
    const std::size_t marks = (out.size() - countAt - 2) / kScreenImageMarkSize;
    out[countAt] = static_cast<std::uint8_t>(marks >> 8);
    out[countAt + 1] = static_cast<std::uint8_t>(marks);
    packRuns(screen.charPlane(), out);
    packRuns(screen.attributePlane(), out);
    packRuns(s.savedMessageRow, out);
    packRuns(s.messageText, out);
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
    const std::size_t marksAt = kScreenImageHeader + kScreenImageFieldSize * count;
    if (marksAt + 2 > image.size()) return false;
    const std::size_t marks = std::size_t(h[marksAt]) << 8 | h[marksAt + 1];
    const std::size_t cellsAt = marksAt + 2 + kScreenImageMarkSize * marks;
    if (marks > std::size_t(kRows) * kColumns || cellsAt > image.size()) return false;
    // Attribute bytes inside the display, one a position, in screen order.
    for (long i = 0, previous = -1; i < long(marks); ++i) {
        const std::uint8_t* m = h + marksAt + 2 + kScreenImageMarkSize * std::size_t(i);
        const long position = long(m[0]) * kColumns + m[1];
        if (m[0] >= kRows || m[1] >= kColumns || m[2] < 0x20 || m[2] > 0x3F ||
            position <= previous) {
            return false;
        }
        previous = position;
    }

    std::array<FieldEntry, kMaxFields> fields{};
    for (std::size_t i = 0; i < count; ++i) {
        FieldEntry& e = fields[i];
        // One entry a position.
        if (!readField(h + kScreenImageHeader + kScreenImageFieldSize * i, i, e)) return false;
        for (std::size_t k = 0; k < i; ++k) {
            if (fields[k].row == e.row && fields[k].column == e.column) return false;
        }
    }

    std::array<std::uint8_t, kScreenImageCells> cells;
    if (!unpackRuns(image.subspan(cellsAt), cells)) return false;

    const auto at = cells.begin();
    std::copy_n(at, kPlaneCells, screen.charPlane().begin());
    std::copy_n(at + kPlaneCells, kPlaneCells, screen.attributePlane().begin());
    ScreenState& s = screen.state;
    std::copy_n(at + 2 * kPlaneCells, kPlaneColumns, s.savedMessageRow.begin());
    std::copy_n(at + 2 * kPlaneCells + kPlaneColumns, kPlaneColumns, s.messageText.begin());
    const auto hostBytes = screen.hostAttributePlane();
    std::fill(hostBytes.begin(), hostBytes.end(), std::uint8_t{0});
    for (const std::uint8_t* m = h + marksAt + 2; m < h + cellsAt; m += kScreenImageMarkSize)
        hostBytes[std::size_t(m[0]) * kPlaneColumns + m[1]] = m[2];
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

void appendPartialImage(const TnScreen& screen, const PartialArea& area,
                        std::vector<std::uint8_t>& out) {
    const std::size_t begin = out.size();
    out.insert(out.end(),
               {kMagic1, kMagic2, kPartialKind, 0x00, 0x00, area.flags,
                static_cast<std::uint8_t>(area.top), static_cast<std::uint8_t>(area.left),
                static_cast<std::uint8_t>(area.depth), static_cast<std::uint8_t>(area.width)});
    putWord(out, screen.state.row);
    putWord(out, screen.state.column);
    // The fields by position, as the restore enters them.
    std::array<FieldEntry, kMaxFields> inside{};
    std::size_t count = 0;
    for (const FieldEntry& f : screen.fields.entries()) {
        if (f.row >= area.top && f.row < area.top + area.depth && f.column >= area.left &&
            f.column < area.left + area.width) {
            inside[count++] = f;
        }
    }
    std::sort(inside.begin(), inside.begin() + long(count),
              [](const FieldEntry& a, const FieldEntry& b) { return a.start() < b.start(); });
    out.push_back(static_cast<std::uint8_t>(count));
    for (const FieldEntry& f : std::span(inside).first(count))
        putField(out, f);
    const std::size_t cells = out.size();
    out.resize(cells + 3 * std::size_t(area.depth) * std::size_t(area.width));
    screen.copyRectangle(area.top, area.left, area.depth, area.width, out.data() + cells);
    const std::size_t length = out.size() - begin;
    out[begin + 3] = static_cast<std::uint8_t>(length >> 8);
    out[begin + 4] = static_cast<std::uint8_t>(length);
}

std::size_t partialImageLength(std::span<const std::uint8_t> head) {
    if (head.size() < 5 || head[0] != kMagic1 || head[1] != kMagic2 || head[2] != kPartialKind)
        return 0;
    const std::size_t length = std::size_t(head[3]) << 8 | head[4];
    return length >= kPartialImageHeader && length <= kMaxPartialImage ? length : 0;
}

bool restorePartialImage(TnScreen& screen, std::span<const std::uint8_t> image) {
    const std::size_t length = partialImageLength(image);
    if (length == 0 || length != image.size()) return false;
    const std::uint8_t* h = image.data();
    const int top = h[6];
    const int left = h[7];
    const int depth = h[8];
    const int width = h[9];
    const int row = signedWord(h + 10);
    const int column = signedWord(h + 12);
    const std::size_t count = h[14];
    if (top + depth > kRows || left + width > kColumns || !validAddress(row, column) ||
        count > std::size_t(kMaxFields) ||
        length != kPartialImageHeader + kScreenImageFieldSize * count +
                      3 * std::size_t(depth) * std::size_t(width)) {
        return false;
    }
    const std::uint8_t* const cells = h + length - 3 * std::size_t(depth) * width;
    const std::size_t planeCells = std::size_t(depth) * width;
    if (!validAttributeBytes(cells + 2 * planeCells, std::size_t(depth), std::size_t(width),
                             std::size_t(width), std::size_t(width))) {
        return false;
    }
    auto inside = [&](const FieldEntry& f) {
        return f.row >= top && f.row < top + depth && f.column >= left && f.column < left + width;
    };
    std::array<FieldEntry, kMaxFields> saved{};
    for (std::size_t i = 0; i < count; ++i) {
        FieldEntry& e = saved[i];
        if (!readField(h + kPartialImageHeader + kScreenImageFieldSize * i, i, e) || !inside(e))
            return false;
        for (std::size_t k = 0; k < i; ++k) {
            if (saved[k].start() == e.start()) return false;
        }
    }
    std::sort(saved.begin(), saved.begin() + long(count),
              [](const FieldEntry& a, const FieldEntry& b) { return a.start() < b.start(); });

    // The fields outside the rectangle in their order, the saved ones merged in by position.
    std::array<FieldEntry, 2 * kMaxFields> merged{};
    std::size_t n = 0;
    std::size_t next = 0;
    for (const FieldEntry& f : screen.fields.entries()) {
        if (inside(f)) continue;
        while (next < count && saved[next].start() < f.start())
            merged[n++] = saved[next++];
        merged[n++] = f;
    }
    while (next < count)
        merged[n++] = saved[next++];
    screen.fields.assign(std::span(merged).first(std::min<std::size_t>(n, kMaxFields)));

    screen.pasteRectangle(top, left, depth, width, cells);
    ScreenState& s = screen.state;
    s.row = row;
    s.column = column;
    screen.locateField(row, column);
    s.redrawPending = true;
    return true;
}

}  // namespace qn::tn
