#pragma once
// Where a HID POS scanner puts a decode in its input reports, read from its HID report
// descriptor. Scanners differ in report IDs and sizes, in where the AIM identifier and the
// continuation flag sit and in whether a byte count comes first; the descriptor says which.
//
// The descriptor comes from the device and is not trusted: items are read within the buffer
// only, every count and size is bounded, and a descriptor that breaks a rule or declares no
// usable scanned-data report gives no layout (the reader then keeps the common fixed one).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qn::sim {

// Bounds on what a descriptor may declare (the kernel's own: HID_MAX_BUFFER_SIZE and
// HID_MAX_USAGES; a field wider than 256 bits is refused as the kernel does).
inline constexpr std::size_t kMaxHidReportBytes = 16384;
inline constexpr std::uint32_t kMaxHidReportCount = 12288;
inline constexpr std::uint32_t kMaxHidReportSize = 256;

// Bits [bit, bit + bits) of a report, counted from bit 0 of its first byte (the report ID byte
// when the device numbers its reports). bits == 0: the report has no such field.
struct HidField {
    std::size_t bit = 0;
    std::size_t bits = 0;
    bool present() const { return bits > 0; }
    bool operator==(const HidField&) const = default;
};

struct HidInputReport {
    std::uint8_t id = 0;    // 0 when the device does not number its reports
    std::size_t bytes = 0;  // the whole report, ID byte included
    // Scanned data: the decoded bytes (8-bit fields, data.bits / 8 of them), and where present
    // the byte count, the three AIM identifier characters and the continuation flag.
    HidField data;
    HidField length;
    std::array<HidField, 3> symbology;
    HidField continued;
    bool carriesData() const { return data.present(); }
    bool operator==(const HidInputReport&) const = default;
};

struct HidPosLayout {
    bool numbered = false;               // every report starts with its ID byte
    std::vector<HidInputReport> inputs;  // every input report, in the order first declared

    // The input report a received report is, by its first byte; nullptr when unknown.
    const HidInputReport* inputFor(std::uint8_t firstByte) const;
    bool operator==(const HidPosLayout&) const = default;
};

// The layout a report descriptor declares, or nullopt when it is malformed (truncated item,
// Pop without Push, stacks or counts past their bounds, a report past kMaxHidReportBytes)
// or declares no input report with decoded data in byte-sized fields.
std::optional<HidPosLayout> parseHidPosLayout(std::span<const std::uint8_t> descriptor);

// One line for the scanner listing: "report 2 of 64 bytes: byte count, identifier, 56 data
// bytes, continuation flag".
std::string describeHidPosLayout(const HidPosLayout& layout);

}  // namespace qn::sim
