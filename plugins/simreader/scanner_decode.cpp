#include "plugins/simreader/scanner_decode.h"

#include <algorithm>

namespace qn::sim {

const char* scannerKindName(ScannerKind kind) {
    switch (kind) {
        case ScannerKind::Serial:
            return "serial";
        case ScannerKind::Keyboard:
            return "keyboard";
        case ScannerKind::HidPos:
            return "hidpos";
        case ScannerKind::Socket:
            break;
    }
    return "socket";
}

DecodeFramer::DecodeFramer(ScannerKind kind, std::size_t maxBytes, std::chrono::milliseconds gap)
    : kind_(kind), maxBytes_(maxBytes), gap_(gap) {
    data_.reserve(64);
}

void DecodeFramer::push(std::uint8_t byte, ScanClock::time_point now) {
    last_ = now;
    if (overflow_ || broken_) return;
    if (data_.size() >= maxBytes_) {
        overflow_ = true;
        data_.clear();
        return;
    }
    data_.push_back(static_cast<char>(byte));
}

void DecodeFramer::finish(std::vector<ScannerDecode>& out, std::string symbology) {
    if (!data_.empty() && !overflow_ && !broken_) {
        out.push_back({kind_, std::move(data_), std::move(symbology)});
    }
    discard();
}

void DecodeFramer::discard() {
    data_.clear();
    overflow_ = broken_ = false;
}

void DecodeFramer::expire(ScanClock::time_point now, std::vector<ScannerDecode>& out) {
    if (gap_.count() > 0 && pending() && now - last_ >= gap_) finish(out);
}

std::optional<std::chrono::milliseconds> DecodeFramer::untilExpiry(
    ScanClock::time_point now) const {
    if (gap_.count() <= 0 || !pending()) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(last_ + gap_ - now);
    return std::max(left, std::chrono::milliseconds(0));
}

void SerialAssembler::feed(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                           std::vector<ScannerDecode>& out) {
    framer_.expire(now, out);
    for (std::uint8_t byte : bytes) {
        if (byte == '\r' || byte == '\n') {
            framer_.finish(out);
        } else {
            framer_.push(byte, now);
        }
    }
}

}  // namespace qn::sim
