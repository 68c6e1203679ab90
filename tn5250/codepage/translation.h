#pragma once
// EBCDIC to the handheld's local code and back, by the session's language (0 to 6): single
// bytes through the language's table, double-byte characters between SO and SI through the
// language's double-byte table.

#include <array>
#include <cstdint>

#include "tn5250/codepage/dbcs_tables.h"
#include "tn5250/codepage/sbcs_tables.h"

namespace qn::tn {

inline constexpr std::uint8_t kShiftOut = 0x0E;
inline constexpr std::uint8_t kShiftIn = 0x0F;
inline constexpr std::uint8_t kNoEbcdicCode = 0xFF;

// Two bytes of one double-byte character, first byte first.
using BytePair = std::array<std::uint8_t, 2>;

// US for languages 0 to 3 and for any value the settings should not hold.
const SbcsTable& sbcsTable(std::uint8_t language);
bool isDbcsLanguage(std::uint8_t language);

// The local byte of an EBCDIC byte; a table entry of 0xFF gives 0.
std::uint8_t sbcsToLocal(std::uint8_t language, std::uint8_t byte);
// The lowest EBCDIC code from 0x40 to 0xFE whose table entry is the byte, else 0xFF.
std::uint8_t localToSbcs(std::uint8_t language, std::uint8_t byte);
// The same for every byte at once: the table localToSbcs reads.
const SbcsTable& localToSbcsTable(std::uint8_t language);

// Whether lead and trail form a double-byte character of the language's local code page.
// No language's double-byte characters start below this byte: a cell below it is single.
inline constexpr std::uint8_t kLowestLocalDbcsLead = 0x81;
bool isLocalDbcsPair(std::uint8_t language, std::uint8_t lead, std::uint8_t trail);
// Host pair to local pair by binary search; false (pair unchanged) when the table has none.
bool hostToLocalPair(std::uint8_t language, BytePair& pair);
// Local pair to host pair: the answer of a first-match scan of the table, from a map by local
// pair built on the language's first use. False (pair unchanged) when no entry has the pair.
bool localToHostPair(std::uint8_t language, BytePair& pair);
// The map localToHostPair reads, by lead << 8 | trail: the host pair the same way, 0 where
// there is none. Some tables give host pairs for two bytes that are not a character of the
// language, so a hit still needs isLocalDbcsPair. Null for a single-byte language.
const std::uint16_t* localToHostPairs(std::uint8_t language);

// Decoding state of received text: inside SO ... SI, and the first half of a pair.
struct ReceiveState {
    bool shiftOut = false;
    bool leadHeld = false;
    std::uint8_t heldLead = 0;
    BytePair dbcsPair{};  // the last translated double-byte character
};

struct Received {
    enum Kind : std::uint8_t {
        Attribute,  // byte: the 5250 attribute byte
        Single,     // byte: the local byte (0 where the table has none)
        Double,     // pair: the two local bytes ('X' 'X' when the host pair is unknown)
        Pending,    // the first half of a double-byte character is held
    };
    Kind kind = Pending;
    std::uint8_t byte = 0;
    BytePair pair{};
};

// One received byte of display data (Write To Display data and error messages).
Received receiveByte(std::uint8_t language, ReceiveState& state, std::uint8_t byte);

}  // namespace qn::tn
