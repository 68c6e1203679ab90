#pragma once
// Field data as the host receives it: local cells back to EBCDIC, double-byte characters inside
// SO ... SI, and the sign of a signed-numeric field in the zone of its last byte.

#include <array>
#include <cstddef>
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

// The data of the fields of one reply, field by field as appendFieldData gives it. A read may
// send every one of up to kMaxFields fields, and fields may overlap: once the cells sent pass
// a screenful, the screen is translated once and each further field is built from its
// stretch: a copy of it in single-byte text, and in double-byte text its single bytes copied
// between the pairs that the screen's table marks.
class FieldDataWriter {
  public:
    FieldDataWriter(const TnScreen& screen, std::uint8_t language, FieldDataOptions options);
    void append(const FieldEntry& field, std::vector<std::uint8_t>& out);

  private:
    void preparePlanes();
    void appendDoubleByte(std::size_t start, std::size_t n, std::vector<std::uint8_t>& out) const;

    const TnScreen& screen_;
    std::uint8_t language_;
    FieldDataOptions options_;
    std::size_t cellsSent_ = 0;
    bool planesReady_ = false;
    std::array<std::uint8_t, kPlanePositions> local_;  // the cells by position, once ready
    std::array<std::uint8_t, kPlanePositions> host_;   // each as a single byte in the host's code
    // Double-byte text only: the host's pair for a pair that starts at a position (0 for none),
    // and for each position the first at or after it where a pair starts (kPlanePositions for
    // none).
    std::array<std::uint16_t, kPlanePositions> pairs_;
    std::array<std::uint16_t, kPlanePositions + 1> nextPair_;
};

}  // namespace qn::tn
