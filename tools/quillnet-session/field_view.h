#pragma once
// The 5250 input fields as a host team reads them: position, length, text and the format words'
// meaning by name. A non-display field's content never leaves this layer: its cells are blanked
// in screen rows and its bytes masked in what the station sent.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tn5250/screen/screen_model.h"

namespace qn::tools {

// The fields of the screen with their flags and text; a non-display field's text is null.
nlohmann::ordered_json describeFields(const tn::TnScreen& screen);

bool isNonDisplay(const tn::FieldEntry& field);

// A field's cells as text, nulls as blanks, trailing blanks dropped.
std::string fieldText(const tn::TnScreen& screen, const tn::FieldEntry& field);

// The cells of a row that show nothing: non-display cells and non-display fields.
std::array<bool, tn::kColumns> hiddenCells(const tn::TnScreen& screen, int row);

// Row text as the session tool prints it: nulls as blanks, non-display cells blanked.
std::string visibleRow(const tn::TnScreen& screen, int row);

// The masked byte of a non-display field's data on the wire (EBCDIC '*').
inline constexpr std::uint8_t kMaskedByte = 0x5C;

// One send of the station with the data of non-display fields (table `fields`, as when it was
// sent) replaced by kMaskedByte, telnet framing kept. A saved screen image is masked whole when
// any field is non-display.
std::vector<std::uint8_t> maskSend(std::span<const std::uint8_t> bytes,
                                   std::span<const tn::FieldEntry> fields);

}  // namespace qn::tools
