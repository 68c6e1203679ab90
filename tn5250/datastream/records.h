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

// Header (length, record type 12 A0, reserved 00 00, variable header length 4, flags, operation
// code) followed by the body. The body is cut where the length would overflow.
std::vector<std::uint8_t> gdsRecord(std::span<const std::uint8_t> body, std::uint8_t flags = 0,
                                    std::uint8_t opcode = kOpcodePutGet);

// The record as it goes on the wire, in one send: each 0xFF doubled, then IAC EOR.
std::vector<std::uint8_t> frameRecord(std::span<const std::uint8_t> record);

}  // namespace qn::tn
