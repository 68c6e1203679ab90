#include "tn5250/datastream/records.h"

#include <algorithm>
#include <iterator>

#include "common/telnet/telnet.h"

namespace qn::tn {

std::vector<std::uint8_t> gdsRecord(std::span<const std::uint8_t> body, std::uint8_t flags,
                                    std::uint8_t opcode) {
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
    std::vector<std::uint8_t> record(size);
    std::copy(std::begin(header), std::end(header), record.begin());
    std::copy_n(body.begin(), size - kGdsHeaderSize, record.begin() + kGdsHeaderSize);
    return record;
}

std::vector<std::uint8_t> frameRecord(std::span<const std::uint8_t> record) {
    std::vector<std::uint8_t> wire;
    wire.reserve(record.size() + record.size() / 16 + 2);
    for (std::uint8_t b : record) {
        wire.push_back(b);
        if (b == telnet::kIac) wire.push_back(telnet::kIac);
    }
    wire.push_back(telnet::kIac);
    wire.push_back(telnet::kEor);
    return wire;
}

}  // namespace qn::tn
