#pragma once
// The run-length packing of the saved screen's cells: a control byte n < 0x80 is followed by
// n + 1 bytes as they are, n >= 0x80 by one byte repeated n - 0x7E times.

#include <cstdint>
#include <span>
#include <vector>

namespace qn::tn {

// Appends the cells packed: runs of three or more equal bytes repeated, the rest as it is.
void packRuns(std::span<const std::uint8_t> cells, std::vector<std::uint8_t>& out);
// Fills cells exactly from the runs; false when they give more or fewer bytes than that, or
// bytes are left over.
bool unpackRuns(std::span<const std::uint8_t> runs, std::span<std::uint8_t> cells);

}  // namespace qn::tn
