#include "common/dialogs/code_names.h"

#include <algorithm>

namespace qn::dialogs {

const std::array<std::string, 256>& codeNameTable() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> names;
        static constexpr const char* kControls[] = {
            "",   "Ins",   "Del",  "Home",  "End",  "Up",  "Down", "Left", "BS",  "HT",
            "LF", "Right", "PgUp", "Enter", "PgDn", "F1",  "F2",   "F3",   "F4",  "F5",
            "F6", "F7",    "F8",   "F9",    "F10",  "F11", "F12",  "ESC",  "Exec"};
        for (std::size_t i = 0; i < std::size(kControls); ++i)
            names[i] = kControls[i];
        names[0x20] = "SP";
        for (int c = 0x21; c <= 0x7E; ++c)
            names[static_cast<std::size_t>(c)] = std::string(1, static_cast<char>(c));
        names[0x7F] = "DEL";
        for (int c = 0x80; c <= 0xFF; ++c)
            names[static_cast<std::size_t>(c)] = std::to_string(c);
        return names;
    }();
    return table;
}

std::string formatCodeText(std::span<const std::uint8_t> bytes, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < std::min(length, bytes.size()); ++i) {
        text += codeNameTable()[bytes[i]];
        text += ' ';
    }
    return text;
}

std::size_t fieldLength(std::span<const std::uint8_t> bytes, std::size_t width) {
    width = std::min(width, bytes.size());
    if (width == 0) return 0;
    if (bytes[width - 1] != 0) return width;
    return static_cast<std::size_t>(
        std::find(bytes.begin(), bytes.begin() + static_cast<long>(width), 0) - bytes.begin());
}

}  // namespace qn::dialogs
