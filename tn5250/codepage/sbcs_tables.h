#pragma once
// The four single-byte tables of the 5250 terminal, indexed by the EBCDIC byte.

#include <array>
#include <cstdint>

namespace qn::tn {

using SbcsTable = std::array<std::uint8_t, 256>;

extern const SbcsTable kSbcsUs;  // languages 0 to 3 (and any unknown language)
extern const SbcsTable kSbcsKa;  // language 4
extern const SbcsTable kSbcsGr;  // language 5
extern const SbcsTable kSbcsFr;  // language 6

}  // namespace qn::tn
