#pragma once
// How byte strings are shown to the operator: one display name per byte value, and the
// fixed-width length rule of code fields.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qn::dialogs {

// The 256 display names; byte values without a name are empty.
const std::array<std::string, 256>& codeNameTable();

// Each byte's name followed by one blank.
std::string formatCodeText(std::span<const std::uint8_t> bytes, std::size_t length);

// The full width when the last byte is non-zero, else the bytes before the first zero.
std::size_t fieldLength(std::span<const std::uint8_t> bytes, std::size_t width);

}  // namespace qn::dialogs
