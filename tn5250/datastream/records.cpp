#include "tn5250/datastream/records.h"

#include <algorithm>
#include <cstring>

#include "common/telnet/telnet.h"

namespace qn::tn {

namespace {

// Appends the bytes with each IAC doubled, a stretch without one at a time.
void appendEscaped(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& wire) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(
            std::memchr(p, telnet::kIac, static_cast<std::size_t>(end - p)));
        const std::uint8_t* const stop = iac == nullptr ? end : iac + 1;
        wire.insert(wire.end(), p, stop);
        if (iac != nullptr) wire.push_back(telnet::kIac);
        p = stop;
    }
}

}  // namespace

void frameRecord(std::span<const std::uint8_t> body, std::uint8_t flags, std::uint8_t opcode,
                 std::vector<std::uint8_t>& wire) {
    const std::size_t size = std::min(kGdsHeaderSize + body.size(), kMaxRecordSize);
    const std::uint8_t header[kGdsHeaderSize] = {static_cast<std::uint8_t>(size >> 8),
                                                 static_cast<std::uint8_t>(size),
                                                 0x12,
                                                 0xA0,
                                                 0x00,
                                                 0x00,
                                                 0x04,
                                                 flags,
                                                 0x00,
                                                 opcode};
    wire.clear();
    wire.reserve(size + size / 16 + 4);
    appendEscaped(header, wire);
    appendEscaped(body.first(size - kGdsHeaderSize), wire);
    wire.push_back(telnet::kIac);
    wire.push_back(telnet::kEor);
}

}  // namespace qn::tn
