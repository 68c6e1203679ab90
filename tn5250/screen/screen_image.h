#pragma once
// The saved screen: what Save Screen hands the host and Restore Screen brings back. The host
// keeps it without looking inside, so its layout is ours; it comes back as host data and is
// checked whole before anything of it is used.
//
// Layout (big-endian words):
//   0-1   D8 D5, 2 the version (2), 3-4 the image's length from byte 0
//   5     flags: 0x01 keyboard locked, 0x02 insert mode, 0x04 message shown, 0x08 place the
//         cursor at the record end
//   6     read mode, 7 message row, 8 current attribute
//   9-16  cursor row, cursor column, insert-cursor row, insert-cursor column (signed words)
//   17    current field (its number, 0 for none), 18 field count
//   19    per field 10 bytes: resequence, column, row, ffw1, ffw2, fcw1, fcw2, attribute,
//         length (word)
//   then  the count of attribute bytes the host wrote at the display's attribute positions
//         (word), and per byte its row, its column and itself (0x20-0x3F), in screen order
//   then  the character plane, the attribute plane (33 rows of 128 cells each), the saved
//         message row and the message text (128 bytes each), each packed in runs: a control
//         byte n < 0x80 is followed by n + 1 bytes as they are, n >= 0x80 by one byte repeated
//         n - 0x7E times; a run does not pass from one part into the next when packed, but
//         the four are read as one stream
//
// Version 1 had no attribute bytes: such an image is refused (its length reads as 0), as it
// would bring the screen back without what Read Screen sends of it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tn5250/screen/screen_model.h"

namespace qn::tn {

inline constexpr std::size_t kScreenImageHeader = 19;
inline constexpr std::size_t kScreenImageFieldSize = 10;
inline constexpr std::size_t kScreenImageMarkSize = 3;
inline constexpr std::size_t kScreenImageCells = 2 * kPlaneCells + 2 * kPlaneColumns;
// Packing costs at most a control byte per 128 cells of each of the four parts.
inline constexpr std::size_t kMaxScreenImage =
    kScreenImageHeader + kScreenImageFieldSize * kMaxFields + 2 +
    kScreenImageMarkSize * kRows * kColumns + kScreenImageCells + kScreenImageCells / 128 + 4;
static_assert(kMaxScreenImage <= 0xFFFF - 64, "the image must fit one record");

// Appends the image of the screen.
void appendScreenImage(const TnScreen& screen, std::vector<std::uint8_t>& out);

// The image's length as its first 5 bytes give it; 0 when they do not begin an image of ours
// or the length is impossible.
std::size_t screenImageLength(std::span<const std::uint8_t> head);

// Rebuilds the planes, the field table, the cursor, the keyboard and the message line from an
// image; false, the screen untouched, when any part of it is out of bounds.
bool restoreScreenImage(TnScreen& screen, std::span<const std::uint8_t> image);

// The saved rectangle: what Save Partial Screen hands the host and Restore Partial Screen
// brings back, the same way. Layout:
//   0-1   D8 D5, 2 the kind (0x81), 3-4 the image's length from byte 0
//   5     the flag byte of the save, 6-9 top row, left column, depth, width (0-based)
//   10-13 cursor row, cursor column (signed words)
//   14    field count, then per field 10 bytes as in the screen image: the fields that start
//         inside the rectangle
//   then  the characters, attributes and attribute bytes (0 or 0x20-0x3F) of the rectangle,
//         row by row
struct PartialArea {
    std::uint8_t flags = 0;
    int top = 0;
    int left = 0;
    int depth = 0;  // inside the display: top + depth <= 24, left + width <= 80
    int width = 0;
};
inline constexpr std::size_t kPartialImageHeader = 15;
inline constexpr std::size_t kMaxPartialImage =
    kPartialImageHeader + kScreenImageFieldSize * kMaxFields + 3 * std::size_t(kRows) * kColumns;
static_assert(kMaxPartialImage <= kMaxScreenImage, "restores share one bound");

void appendPartialImage(const TnScreen& screen, const PartialArea& area,
                        std::vector<std::uint8_t>& out);
std::size_t partialImageLength(std::span<const std::uint8_t> head);
// The rectangle's cells and the fields that start inside it come back (fields written there
// since are dropped), and the cursor returns; false, the screen untouched, when any part of
// the image is out of bounds.
bool restorePartialImage(TnScreen& screen, std::span<const std::uint8_t> image);

}  // namespace qn::tn
