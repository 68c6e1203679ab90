#pragma once
// libvterm as the reference VT100 the emulator is compared with: an 80 × 24 screen fed 8-bit
// bytes, read back as row text in the same form as the emulator's.

#include <vterm.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "vt/emulator/vt_screen.h"

namespace qn::vt::test {

class VtermPeer {
  public:
    VtermPeer() : vt_(vterm_new(kScreenRows, kScreenColumns)) {
        vterm_set_utf8(vt_, 0);
        screen_ = vterm_obtain_screen(vt_);
        vterm_screen_reset(screen_, 1);
    }
    ~VtermPeer() { vterm_free(vt_); }
    VtermPeer(const VtermPeer&) = delete;
    VtermPeer& operator=(const VtermPeer&) = delete;

    void feed(std::string_view bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }

    // Everything it has answered so far.
    const std::string& output() {
        char buffer[256];
        while (const std::size_t n = vterm_output_read(vt_, buffer, sizeof buffer))
            output_.append(buffer, n);
        return output_;
    }

    // Empty cells and blanks alike as spaces, trailing ones left off.
    std::string row(int row) const {
        std::string text;
        for (int col = 0; col < kScreenColumns; ++col) {
            VTermScreenCell cell{};
            vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell);
            const std::uint32_t c = cell.chars[0];
            text.push_back(c == 0 ? ' ' : c < 0x100 ? static_cast<char>(c) : lineDrawing(c));
        }
        return text.erase(text.find_last_not_of(' ') + 1);
    }

    std::pair<int, int> cursor() const {
        VTermPos pos{};
        vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
        return {pos.row, pos.col};
    }

  private:
    // libvterm draws DEC line drawing in Unicode; the emulator in the handheld font's code page.
    static char lineDrawing(std::uint32_t c) {
        static constexpr std::pair<std::uint32_t, unsigned char> kGlyphs[] = {
            {0x2518, 0xD9}, {0x2510, 0xBF}, {0x250C, 0xDA}, {0x2514, 0xC0}, {0x253C, 0xC5},
            {0x251C, 0xC3}, {0x2524, 0xB4}, {0x2534, 0xC1}, {0x252C, 0xC2}, {0x2502, 0xB3},
            {0x23BA, '-'},  {0x23BB, '-'},  {0x2500, '-'},  {0x23BC, '_'},  {0x23BD, '_'},
        };
        for (const auto& [unicode, glyph] : kGlyphs)
            if (unicode == c) return static_cast<char>(glyph);
        return '?';
    }

    VTerm* vt_;
    VTermScreen* screen_;
    std::string output_;
};

// The emulator's row in the same form.
inline std::string emulatorRow(const VtScreen& screen, int row) {
    std::string text;
    for (std::uint8_t c : screen.rowChars(row))
        text.push_back(c == 0 ? ' ' : static_cast<char>(c));
    return text.erase(text.find_last_not_of(' ') + 1);
}

// The emulator's cursor as a peer reports it: past the last column is on it.
inline std::pair<int, int> emulatorCursor(const VtScreen& screen) {
    return {screen.cursorRow, std::min(screen.cursorCol, kScreenColumns - 1)};
}

// The first row on which the two differ, as a message; empty when the screens agree.
inline std::string screenDifference(const VtScreen& ours, const VtermPeer& peer) {
    for (int row = 0; row < kScreenRows; ++row) {
        const std::string a = emulatorRow(ours, row);
        const std::string b = peer.row(row);
        if (a != b) {
            return "row " + std::to_string(row) + "\n  ours:     [" + a + "]\n  libvterm: [" + b +
                   "]";
        }
    }
    if (emulatorCursor(ours) != peer.cursor()) {
        const auto [row, col] = peer.cursor();
        return "cursor: ours " + std::to_string(ours.cursorRow) + "," +
               std::to_string(ours.cursorCol) + ", libvterm " + std::to_string(row) + "," +
               std::to_string(col);
    }
    return {};
}

}  // namespace qn::vt::test
