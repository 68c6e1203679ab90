#pragma once
// Outbound 5250 records: the general data stream header and the telnet framing.

#include <cstdint>
#include <span>
#include <vector>

namespace qn::tn {

inline constexpr std::size_t kGdsHeaderSize = 10;
// The largest record the two length bytes can describe.
inline constexpr std::size_t kMaxRecordSize = 0xFFFF;
inline constexpr std::uint8_t kOpcodePutGet = 0x03;

// The record as it goes on the wire, in one send, into wire (replacing what it held): the
// header (length, record type 12 A0, reserved 00 00, variable header length 4, flags, operation
// code) and the body, each 0xFF doubled, then IAC EOR. The body is cut where the length would
// overflow.
void frameRecord(std::span<const std::uint8_t> body, std::uint8_t flags, std::uint8_t opcode,
                 std::vector<std::uint8_t>& wire);

}  // namespace qn::tn
