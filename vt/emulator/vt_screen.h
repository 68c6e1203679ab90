#pragma once
// The screen the VT emulator writes and the view paints: characters, reverse video, tab stops,
// the cursor and the modes that the view and the keyboard read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qn::vt {

inline constexpr int kScreenColumns = 80;
// Rows the emulator moves in; the host is told 80 × 24.
inline constexpr int kScreenRows = 24;
// Row 24 exists in the character buffer and is painted, but nothing moves into it.
inline constexpr int kBufferRows = 25;
inline constexpr std::size_t kScreenCharsSize = std::size_t{kBufferRows} * kScreenColumns;
inline constexpr std::size_t kCellPlaneSize = std::size_t{kScreenRows} * kScreenColumns;

struct VtScreen {
    // One byte per cell, row-major; 0 is an empty cell, painted as a space.
    std::array<std::uint8_t, kScreenCharsSize> screenChars{};
    // Reverse video of rows 0..23, one flag byte (0 or 1) per cell rather than packed bits: a
    // printed run is one fill and a row move is one memmove.
    std::array<std::uint8_t, kCellPlaneSize> reverseBits{};
    // One tab-stop flag byte per cell of rows 0..23: every row has its own stops.
    std::array<std::uint8_t, kCellPlaneSize> tabStops{};

    // 0-based. The row stays in 0..23; the column in 0..80, where 80 means the last column
    // was just written and the next character wraps or overwrites it.
    std::int32_t cursorCol = 0;
    std::int32_t cursorRow = 0;
    std::int32_t savedCol = 0;
    std::int32_t savedRow = 0;
    std::int32_t reverseOn = 0;
    // 1: LF keeps the column and Enter sends CR alone; 0: LF also returns the carriage.
    std::int32_t newLineModeOff = 1;
    // 1: arrow keys send ESC [ x; 0: ESC O x.
    std::int32_t cursorKeysNormal = 1;

    std::int32_t lineDrawing = 0;
    std::int32_t savedLineDrawing = 0;
    std::int32_t savedReverse = 0;
    std::int32_t savedOriginMode = 0;
    std::int32_t savedAutoWrap = 0;
    // 1 once ESC 7 or CSI s has saved since the connect; under vt100 a restore without a save
    // goes home with the defaults.
    std::int32_t cursorSaved = 0;
    // Scroll region, 1-based and inclusive; always 1 <= regionTop < regionBottom <= 24.
    std::int32_t regionTop = 1;
    std::int32_t regionBottom = kScreenRows;
    // 1: whole-screen scrolling and absolute rows; 0: the region scrolls, and under the classic
    // rules rows count from it.
    std::int32_t noRegion = 1;
    // Vt100 only (CSI ? 6 h): rows count from the region's top and stay inside it.
    std::int32_t originMode = 0;
    std::int32_t autoWrap = 0;
    // 0: insert mode.
    std::int32_t replaceMode = 1;
    // Set by ESC = / ESC >; nothing reads it.
    std::int32_t keypadNumeric = 1;

    // The 80 characters of a row, 0..24.
    std::span<const std::uint8_t, kScreenColumns> rowChars(int row) const {
        return std::span<const std::uint8_t, kScreenColumns>(
            screenChars.data() + static_cast<std::size_t>(row) * kScreenColumns, kScreenColumns);
    }
    // Reverse video of a cell of rows 0..23.
    bool isReverse(int row, int col) const {
        return reverseBits[static_cast<std::size_t>(row) * kScreenColumns +
                           static_cast<std::size_t>(col)] != 0;
    }
    bool isTabStop(int row, int col) const {
        return tabStops[static_cast<std::size_t>(row) * kScreenColumns +
                        static_cast<std::size_t>(col)] != 0;
    }
};

}  // namespace qn::vt
