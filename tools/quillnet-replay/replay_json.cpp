#include "tools/quillnet-replay/replay_json.h"

#include <cstdio>

#include "platform/ini.h"

namespace qn::tools {

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        const int value = platform::hexDigit(c);
        if (value < 0) return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

// A JSON string of single-byte text: each byte is its Latin-1 code point.
void appendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out += '"';
}

void appendStringArray(std::string& out, const std::vector<std::string>& items, bool linePerItem) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ",";
        out += linePerItem ? "\n    " : (i ? " " : "");
        appendJsonString(out, items[i]);
    }
    out += linePerItem && !items.empty() ? "\n  ]" : "]";
}

}  // namespace qn::tools
