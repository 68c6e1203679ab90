#pragma once
// Scanner input written the way a scanner sends it, for tests, the fuzzers' seeds and the
// latency benchmark: key scripts that become input_event records, HID POS reports and the
// report descriptors of HID POS scanners.

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/simreader/hidpos_assembler.h"

namespace qn::test {

// "+LEFTSHIFT A -LEFTSHIFT KP0 ENTER": a bare key name (KEY_ left off) is a press and a release,
// +NAME a press, -NAME a release, *NAME an autorepeat, DROP the kernel's SYN_DROPPED. Every key
// event is followed by a SYN_REPORT, as the kernel sends them.
inline std::vector<input_event> keyScript(std::string_view script) {
    std::vector<input_event> events;
    auto add = [&](unsigned short type, unsigned short code, int value) {
        input_event event{};
        event.type = type;
        event.code = code;
        event.value = value;
        events.push_back(event);
    };
    std::istringstream words{std::string(script)};
    std::string word;
    while (words >> word) {
        if (word == "DROP") {
            add(EV_SYN, SYN_DROPPED, 0);
            continue;
        }
        int value = -1;  // press and release
        if (word[0] == '+' || word[0] == '-' || word[0] == '*') {
            value = word[0] == '+' ? 1 : word[0] == '-' ? 0 : 2;
            word.erase(0, 1);
        }
        const int code = libevdev_event_code_from_name(EV_KEY, ("KEY_" + word).c_str());
        if (code < 0) throw std::invalid_argument("no key " + word);
        for (int v : value < 0 ? std::vector<int>{1, 0} : std::vector<int>{value}) {
            add(EV_KEY, static_cast<unsigned short>(code), v);
            add(EV_SYN, SYN_REPORT, 0);
        }
    }
    return events;
}

inline std::string eventBytes(const std::vector<input_event>& events) {
    std::string bytes(events.size() * sizeof(input_event), '\0');
    if (!events.empty()) std::memcpy(bytes.data(), events.data(), bytes.size());
    return bytes;
}

// A scanned-data report of a HID POS scanner: data up to 56 bytes, the AIM identifier, the
// continuation flag; length overrides the length byte.
inline std::string hidReport(std::string_view data, std::string_view symbology = {},
                             bool continues = false, int length = -1,
                             std::uint8_t reportId = sim::kHidPosScannedDataReport) {
    std::string report(sim::kHidPosReportSize, '\0');
    report[0] = static_cast<char>(reportId);
    report[1] = static_cast<char>(length >= 0 ? length : static_cast<int>(data.size()));
    symbology.copy(report.data() + 2, std::min<std::size_t>(symbology.size(), 3));
    data.copy(report.data() + 5, std::min<std::size_t>(data.size(), report.size() - 8));
    report.back() = continues ? 1 : 0;
    return report;
}

// Report descriptor items (HID short items): the value in the fewest bytes that hold it, or in
// exactly size bytes (0, 1, 2 or 4).
namespace hid {

inline std::string item(std::uint8_t prefix, std::uint32_t value, int size = -1) {
    if (size < 0) size = value == 0 ? 0 : value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
    std::string bytes(1, static_cast<char>(prefix | (size == 4 ? 3 : size)));
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}
inline std::string usagePage(std::uint32_t page) {
    return item(0x04, page);
}
inline std::string usage(std::uint32_t id, int size = -1) {
    return item(0x08, id, size);
}
inline std::string usageMinimum(std::uint32_t id, int size = -1) {
    return item(0x18, id, size);
}
inline std::string usageMaximum(std::uint32_t id, int size = -1) {
    return item(0x28, id, size);
}
inline std::string logicalMaximum(std::uint32_t value) {
    return item(0x24, value);
}
inline std::string reportSize(std::uint32_t bits) {
    return item(0x74, bits);
}
inline std::string reportId(std::uint32_t id) {
    return item(0x84, id);
}
inline std::string reportCount(std::uint32_t count) {
    return item(0x94, count);
}
inline std::string push() {
    return item(0xA4, 0);
}
inline std::string pop() {
    return item(0xB4, 0);
}
inline std::string input(std::uint32_t flags) {
    return item(0x80, flags);
}
inline std::string output(std::uint32_t flags) {
    return item(0x90, flags);
}
inline std::string collection(std::uint32_t kind) {
    return item(0xA0, kind, 1);
}
inline std::string endCollection() {
    return item(0xC0, 0);
}

constexpr std::uint32_t kData = 0x02, kConstant = 0x01, kBufferedBytes = 0x0102;

// The usual scanned-data report, as the common layout has it: report 2 of 64 bytes (byte
// count, identifier, 56 data bytes, two vendor bytes, continuation in bit 0 of the last), a
// 64-byte status report 4, an output report and a long item.
inline std::string commonDescriptor() {
    return usagePage(0x8C) + usage(0x02) + collection(1) +                    //
           usage(0x12) + collection(2) + reportId(2) + logicalMaximum(255) +  //
           reportSize(8) + reportCount(1) + usagePage(0x01) + usage(0x3B) + input(kData) +
           reportCount(3) + usagePage(0x8C) + usage(0xFB) + usage(0xFC) + usage(0xFD) +
           input(kData) + reportCount(56) + usage(0xFE) + input(kBufferedBytes) +
           usagePage(0xFF66) + reportCount(2) + usage(0x04) + usage(0x00) + input(kData) +
           usagePage(0x8C) + logicalMaximum(1) + reportSize(1) + reportCount(8) + usage(0xFF) +
           input(kData) + endCollection() +  //
           usage(0x11) + collection(2) + reportId(4) + reportSize(8) + reportCount(63) +
           usagePage(0xFF66) + usage(0x01) + input(kData) + endCollection() +  //
           std::string("\xFE\x02\x10\xAA\xBB", 5) +                            // a long item
           usagePage(0x8C) + usage(0x14) + collection(2) + reportId(5) + reportCount(1) +
           usage(0x60) + output(kData) + endCollection() + endCollection();
}

// Report 7 of 33 bytes, 16-bit usage items: 28 data bytes (no byte count: zeros pad them),
// the identifier after them (a usage range), a continuation byte; a 2-byte status report 3.
inline std::string trailingIdentifierDescriptor() {
    return usagePage(0x8C) + usage(0x02) + collection(1) + reportSize(8) + reportCount(1) +
           reportId(3) + usage(0x0060, 2) + input(kData) +  //
           reportId(7) + reportCount(28) + usage(0x00FE, 2) + input(kBufferedBytes) +
           reportCount(3) + usageMinimum(0x00FB, 2) + usageMaximum(0x00FD, 2) + input(kData) +
           reportCount(1) + usage(0x00FF, 2) + input(kData) + endCollection();
}

// Unnumbered reports of 23 bytes, 32-bit usage items on another current page: a 16-bit byte
// count, a flags byte with the continuation in bit 3, 20 data bytes sized before a Push and
// used after its Pop.
inline std::string unnumberedDescriptor() {
    return usagePage(0x01) + usage(0x008C0002, 4) + collection(1) + reportSize(8) +
           reportCount(20) + push() +  //
           reportSize(16) + reportCount(1) + usage(0x0001003B, 4) + input(kData) + reportSize(1) +
           reportCount(3) + input(kConstant) +  //
           reportCount(1) + usage(0x008C00FF, 4) + input(kData) + reportCount(4) +
           input(kConstant) + pop() +  //
           usage(0x008C00FE, 4) + input(kData) + endCollection();
}

}  // namespace hid

// A report of size bytes with the given bytes at the given offsets, zeros elsewhere.
inline std::string reportOf(std::size_t size,
                            std::initializer_list<std::pair<std::size_t, std::string_view>> parts) {
    std::string report(size, '\0');
    for (const auto& [at, bytes] : parts)
        bytes.copy(report.data() + at, std::min(bytes.size(), size - std::min(at, size)));
    return report;
}

}  // namespace qn::test
