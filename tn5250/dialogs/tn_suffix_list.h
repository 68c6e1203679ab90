#pragma once
// The "Last Field Suffix" and "Other Field Suffix" lists: the key names, then one entry per
// character code 0-126. Each entry stands for the code that scan entry applies after the data
// (0 nothing, 1-126 a key function, 127 + c the character c), so the list position and the
// stored byte are converted, never equated.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qn::tn {

// Key-name entries: "Undefined" (nothing) and the functions 1-45 under their names.
inline constexpr int kSuffixKeyEntries = 46;
inline constexpr int kSuffixCharacterEntries = 127;
inline constexpr int kSuffixEntryCount = kSuffixKeyEntries + kSuffixCharacterEntries;
// The stored code of the character c.
inline constexpr int kSuffixCharacterBase = 127;

// The entries in list order: key names, then control characters by name ("NUL" ... "SP") and
// the printable characters themselves.
const std::vector<std::string>& suffixListItems();

// The stored code of the entry at position (0 .. kSuffixEntryCount - 1).
std::uint8_t suffixCodeAt(int position);

// The entry showing a stored code; nullopt for a code no entry stands for (a function without
// a name, 46-126, or the characters 127 and 128).
std::optional<int> suffixPositionOf(std::uint8_t code);

}  // namespace qn::tn
