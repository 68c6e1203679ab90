#pragma once
// Field data as the host receives it: local cells back to EBCDIC, double-byte characters inside
// SO ... SI, and the sign of a signed-numeric field in the zone of its last byte.

#include <cstdint>
#include <vector>

#include "tn5250/screen/screen_model.h"

namespace qn::tn {

struct FieldDataOptions {
    bool dropTrailing = false;   // stop at the last cell that is neither null nor blank
    bool nullsAsBlanks = false;  // a null cell goes out as a blank (0x40), else as 0xFF
    bool applySign = false;      // '-' in the sign position puts 0xD in the last byte's zone
};

// Appends the data of one field, from its first position to its end; a signed-numeric field's
// sign position is never sent.
void appendFieldData(const TnScreen& screen, std::uint8_t language, const FieldEntry& field,
                     FieldDataOptions options, std::vector<std::uint8_t>& out);

}  // namespace qn::tn
