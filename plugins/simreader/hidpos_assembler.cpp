#include "plugins/simreader/hidpos_assembler.h"

#include <algorithm>
#include <cstring>

namespace qn::sim {

namespace {

constexpr std::size_t kLengthByte = 1;
constexpr std::size_t kSymbologyStart = 2;
constexpr std::size_t kSymbologyBytes = 3;
constexpr std::size_t kDataStart = 5;
// Report ID, length, three identifier bytes in front; two reserved bytes and the flags behind.
constexpr std::size_t kOverhead = 8;
constexpr std::uint8_t kContinues = 0x01;

// The identifier up to its first zero; one that is not printable text is not kept.
std::string symbologyOf(std::span<const std::uint8_t> report) {
    std::string id;
    for (std::size_t i = 0; i < kSymbologyBytes; ++i) {
        const std::uint8_t byte = report[kSymbologyStart + i];
        if (byte == 0) break;
        if (byte < 0x21 || byte > 0x7E) return {};
        id.push_back(static_cast<char>(byte));
    }
    return id;
}

}  // namespace

void HidPosAssembler::feedReport(std::span<const std::uint8_t> report, ScanClock::time_point now,
                                 std::vector<ScannerDecode>& out) {
    if (report.size() <= kOverhead || report[0] != kHidPosScannedDataReport) return;
    if (!continuing_) symbology_ = symbologyOf(report);
    const std::size_t capacity = report.size() - kOverhead;
    const std::size_t length = report[kLengthByte];
    if (length > capacity) {
        // A length the report cannot hold: the decode cannot be trusted.
        framer_.markBroken();
    } else {
        for (std::uint8_t byte : report.subspan(kDataStart, length))
            framer_.push(byte, now);
    }
    continuing_ = (report.back() & kContinues) != 0;
    if (!continuing_) {
        framer_.finish(out, std::move(symbology_));
        symbology_.clear();
    }
}

void HidPosAssembler::feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                                std::vector<ScannerDecode>& out) {
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), partial_.size() - partialSize_);
        std::memcpy(partial_.data() + partialSize_, bytes.data(), take);
        partialSize_ += take;
        bytes = bytes.subspan(take);
        if (partialSize_ < partial_.size()) break;
        partialSize_ = 0;
        feedReport(partial_, now, out);
    }
}

void HidPosAssembler::reset() {
    framer_.discard();
    symbology_.clear();
    continuing_ = false;
    partialSize_ = 0;
}

}  // namespace qn::sim
