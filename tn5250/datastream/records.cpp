#include "tn5250/datastream/records.h"

#include <algorithm>
#include <cstring>

#include "common/telnet/telnet.h"

namespace qn::tn {

namespace {

// Appends the bytes with each IAC doubled: stretches without one copied at once, and runs of
// them (a field of nulls goes out as one) written doubled at once, into room reserved by the
// caller (nothing is written twice, as zero-filled room would be).
void appendEscaped(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& wire) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(
            std::memchr(p, telnet::kIac, static_cast<std::size_t>(end - p)));
        const std::uint8_t* const stop = iac == nullptr ? end : iac;
        wire.insert(wire.end(), p, stop);
        const std::uint8_t* runEnd = stop;
        for (std::uint64_t word = 0; end - runEnd >= 8; runEnd += 8) {
            std::memcpy(&word, runEnd, 8);
            if (word != ~std::uint64_t{0}) break;
        }
        while (runEnd < end && *runEnd == telnet::kIac)
            ++runEnd;
        wire.insert(wire.end(), 2 * static_cast<std::size_t>(runEnd - stop), telnet::kIac);
        p = runEnd;
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
    wire.reserve(2 * size + 2);  // every byte doubled at most, and IAC EOR
    appendEscaped(header, wire);
    appendEscaped(body.first(size - kGdsHeaderSize), wire);
    wire.push_back(telnet::kIac);
    wire.push_back(telnet::kEor);
}

}  // namespace qn::tn
