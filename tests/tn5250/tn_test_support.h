#pragma once
// A 5250 terminal without a socket: session, screen, interpreter and a host that records what
// would be sent; and builders for host records.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tn5250/datastream/data_stream.h"

namespace qn::tn::test {

using Bytes = std::vector<std::uint8_t>;

class RecordingTnHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    void alarm() override { ++alarms; }

    Bytes sent() const {
        Bytes all;
        for (const auto& send : sends)
            all.insert(all.end(), send.begin(), send.end());
        return all;
    }

    std::vector<Bytes> sends;
    int alarms = 0;
};

// The bytes of a host record: GDS header with the record's length, then the body.
inline Bytes record(const Bytes& body) {
    const std::size_t size = 10 + body.size();
    Bytes bytes{std::uint8_t(size >> 8),
                std::uint8_t(size),
                0x12,
                0xA0,
                0x00,
                0x00,
                0x04,
                0x00,
                0x00,
                0x00};
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes repeated(std::size_t count, std::uint8_t byte) {
    return Bytes(count, byte);
}

// An outbound record as the host receives it: header with length, body, 0xFF doubled, IAC EOR.
inline Bytes reply(const Bytes& body) {
    Bytes header = record(body);
    header[9] = 0x03;  // Put/Get
    Bytes wire;
    for (std::uint8_t b : header) {
        wire.push_back(b);
        if (b == 0xFF) wire.push_back(0xFF);
    }
    wire.push_back(0xFF);
    wire.push_back(0xEF);
    return wire;
}

// What follows the header of a record the terminal sent, as the host reads it: 0xFF undoubled,
// without IAC EOR.
inline Bytes replyBody(const Bytes& wire) {
    Bytes body;
    for (std::size_t i = 10; i + 2 < wire.size(); ++i) {
        body.push_back(wire[i]);
        if (wire[i] == 0xFF) ++i;
    }
    return body;
}

struct Terminal {
    explicit Terminal(std::uint8_t language = 0) {
        session->language = language;
        stream.resetScreen();
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    void feed(const Bytes& bytes) { stream.receive(bytes); }
    // The local bytes of row, columns [from, from + count), nulls as '.'.
    std::string text(int row, int from, int count) const {
        std::string out;
        for (int c = from; c < from + count; ++c) {
            const std::uint8_t ch = screen->charAt(row, c);
            out += ch == 0 ? '.' : static_cast<char>(ch);
        }
        return out;
    }

    std::unique_ptr<TnSession> session = std::make_unique<TnSession>();
    std::unique_ptr<TnScreen> screen = std::make_unique<TnScreen>();
    RecordingTnHost host;
    TnDataStream stream{*screen, *session, host};
};

// Common pieces of Write To Display records.
inline Bytes wtd(std::uint8_t cc1 = 0x00, std::uint8_t cc2 = 0x08) {
    return {0x04, 0x11, cc1, cc2};
}
inline Bytes sba(std::uint8_t row, std::uint8_t column) {
    return {0x11, row, column};
}
// Start Of Field with a format word, no control word.
inline Bytes sf(std::uint8_t ffw1, std::uint8_t ffw2, std::uint8_t attribute,
                std::uint16_t length) {
    return {0x1D, ffw1, ffw2, attribute, std::uint8_t(length >> 8), std::uint8_t(length)};
}

}  // namespace qn::tn::test
