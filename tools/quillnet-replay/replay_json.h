#pragma once
// What both replays share: hex in and out, and JSON strings of single-byte text.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qn::tools {

std::string hex(std::span<const std::uint8_t> bytes);
// Pairs of hex digits; blanks, tabs and CR between them are skipped. nullopt on anything else.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);
// A JSON string of single-byte text: each byte is its Latin-1 code point.
void appendJsonString(std::string& out, std::string_view bytes);
// One item a line when the items are rows.
void appendStringArray(std::string& out, const std::vector<std::string>& items,
                       bool linePerItem = false);

}  // namespace qn::tools
