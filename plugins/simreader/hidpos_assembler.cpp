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
std::string commonSymbologyOf(std::span<const std::uint8_t> report) {
    std::string id;
    for (std::size_t i = 0; i < kSymbologyBytes; ++i) {
        const std::uint8_t byte = report[kSymbologyStart + i];
        if (byte == 0) break;
        if (byte < 0x21 || byte > 0x7E) return {};
        id.push_back(static_cast<char>(byte));
    }
    return id;
}

// A field of up to 32 bits as an unsigned little-endian number. Bits past the end of a short
// report read as zero, as the kernel pads a short report.
std::uint32_t valueOf(std::span<const std::uint8_t> report, HidField field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.bits && i < 32; ++i) {
        const std::size_t bit = field.bit + i;
        if (bit / 8 >= report.size()) break;
        value |= static_cast<std::uint32_t>((report[bit / 8] >> (bit % 8)) & 1U) << i;
    }
    return value;
}

std::uint8_t byteAt(std::span<const std::uint8_t> report, std::size_t bit) {
    if (bit % 8 == 0) return report[bit / 8];
    return static_cast<std::uint8_t>(valueOf(report, {bit, 8}));
}

// The identifier characters up to the first zero or missing one; any that is not printable
// text means none is kept.
std::string symbologyOf(std::span<const std::uint8_t> report, const HidInputReport& layout) {
    std::string id;
    for (const HidField& field : layout.symbology) {
        if (!field.present()) break;
        const auto byte = static_cast<std::uint8_t>(valueOf(report, field));
        if (byte == 0) break;
        if (byte < 0x21 || byte > 0x7E) return {};
        id.push_back(static_cast<char>(byte));
    }
    return id;
}

}  // namespace

void HidPosAssembler::setLayout(std::optional<HidPosLayout> layout) {
    layout_ = std::move(layout);
    std::size_t largest = kHidPosReportSize;
    if (layout_) {
        largest = 1;
        for (const auto& report : layout_->inputs)
            largest = std::max(largest, report.bytes);
    }
    partial_.assign(largest, 0);
    reset();
}

void HidPosAssembler::feedReport(std::span<const std::uint8_t> report, ScanClock::time_point now,
                                 std::vector<ScannerDecode>& out) {
    if (!layout_) {
        feedCommon(report, now, out);
        return;
    }
    if (report.empty()) return;
    const HidInputReport* layout = layout_->inputFor(report[0]);
    if (layout != nullptr && layout->carriesData()) feedLaidOut(*layout, report, now, out);
}

void HidPosAssembler::feedLaidOut(const HidInputReport& layout,
                                  std::span<const std::uint8_t> report, ScanClock::time_point now,
                                  std::vector<ScannerDecode>& out) {
    if (!continuing_) symbology_ = symbologyOf(report, layout);
    // The data bytes this report really holds: a short report holds fewer than declared.
    const std::size_t reportBits = report.size() * 8;
    std::size_t available = 0;
    if (layout.data.bit < reportBits) {
        available = std::min(layout.data.bits, reportBits - layout.data.bit) / 8;
    }
    std::size_t length = available;
    if (layout.length.present()) {
        length = valueOf(report, layout.length);
        if (length > available) {
            // A count the report cannot hold: the decode cannot be trusted.
            framer_.markBroken();
            length = 0;
        }
    } else {
        while (length > 0 && byteAt(report, layout.data.bit + (length - 1) * 8) == 0)
            --length;
    }
    for (std::size_t i = 0; i < length; ++i)
        framer_.push(byteAt(report, layout.data.bit + i * 8), now);
    endOrContinue(layout.continued.present() && valueOf(report, layout.continued) != 0, out);
}

void HidPosAssembler::endOrContinue(bool continues, std::vector<ScannerDecode>& out) {
    continuing_ = continues;
    if (!continuing_) {
        framer_.finish(out, std::move(symbology_));
        symbology_.clear();
    }
}

void HidPosAssembler::feedCommon(std::span<const std::uint8_t> report, ScanClock::time_point now,
                                 std::vector<ScannerDecode>& out) {
    if (report.size() <= kOverhead || report[0] != kHidPosScannedDataReport) return;
    if (!continuing_) symbology_ = commonSymbologyOf(report);
    const std::size_t capacity = report.size() - kOverhead;
    const std::size_t length = report[kLengthByte];
    if (length > capacity) {
        // A length the report cannot hold: the decode cannot be trusted.
        framer_.markBroken();
    } else {
        for (std::uint8_t byte : report.subspan(kDataStart, length))
            framer_.push(byte, now);
    }
    endOrContinue((report.back() & kContinues) != 0, out);
}

void HidPosAssembler::feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                                std::vector<ScannerDecode>& out) {
    while (!bytes.empty()) {
        if (partialSize_ == 0) {
            partialWanted_ = kHidPosReportSize;
            if (layout_) {
                const HidInputReport* report = layout_->inputFor(bytes[0]);
                partialWanted_ = report != nullptr ? report->bytes : 0;
            }
            if (partialWanted_ == 0) {
                bytes = bytes.subspan(1);
                continue;
            }
        }
        const std::size_t take = std::min(bytes.size(), partialWanted_ - partialSize_);
        std::memcpy(partial_.data() + partialSize_, bytes.data(), take);
        partialSize_ += take;
        bytes = bytes.subspan(take);
        if (partialSize_ < partialWanted_) break;
        partialSize_ = 0;
        feedReport(std::span(partial_.data(), partialWanted_), now, out);
    }
}

void HidPosAssembler::reset() {
    framer_.discard();
    symbology_.clear();
    continuing_ = false;
    partialSize_ = 0;
}

}  // namespace qn::sim
