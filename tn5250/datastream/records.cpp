#include "tn5250/datastream/records.h"

#include <algorithm>
#include <cstring>

#include "common/telnet/telnet.h"

namespace qn::tn {

namespace {

// Appends the bytes with each IAC doubled: stretches without one copied at once, and runs of
// them (a field of nulls goes out as one) written doubled at once.
void appendEscaped(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& wire) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    const std::size_t at = wire.size();
    wire.resize(at + 2 * bytes.size());
    std::uint8_t* to = wire.data() + at;
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(
            std::memchr(p, telnet::kIac, static_cast<std::size_t>(end - p)));
        const std::uint8_t* const stop = iac == nullptr ? end : iac;
        to = std::copy(p, stop, to);
        const std::uint8_t* const runEnd =
            std::find_if(stop, end, [](std::uint8_t b) { return b != telnet::kIac; });
        to = std::fill_n(to, 2 * (runEnd - stop), telnet::kIac);
        p = runEnd;
    }
    wire.resize(static_cast<std::size_t>(to - wire.data()));
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
