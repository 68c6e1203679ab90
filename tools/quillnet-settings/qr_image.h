#pragma once
// QR codes of configuration barcodes as pictures: PNG for the screen, SVG for printing.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qn::tools {

// Writes the text as one QR code (byte mode, error correction M, a four-module quiet zone):
// SVG when the file name ends in ".svg", else PNG. Returns the error, or nothing.
std::optional<std::string> writeQrCode(std::string_view text, const std::filesystem::path& file);

}  // namespace qn::tools
