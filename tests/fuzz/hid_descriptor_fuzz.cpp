// HID POS report descriptors and the reports laid out by them: whatever the descriptor, the
// parser stays within it and any layout it gives lies within its reports; decodes assembled
// by that layout stay within their bound and carry at most a three-character printable
// identifier. Input: the descriptor's length (two bytes, little-endian), the descriptor, then
// reports each after a size byte, as hidraw hands over one report a read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "plugins/simreader/hid_descriptor.h"
#include "plugins/simreader/hidpos_assembler.h"

namespace {

void checkLayout(const qn::sim::HidPosLayout& layout) {
    using namespace qn::sim;
    if (layout.inputs.empty() || (!layout.numbered && layout.inputs.size() != 1)) std::abort();
    bool anyData = false;
    for (const auto& report : layout.inputs) {
        if (report.bytes == 0 || report.bytes > kMaxHidReportBytes) std::abort();
        if (layout.numbered != (report.id != 0)) std::abort();
        if (std::count_if(layout.inputs.begin(), layout.inputs.end(),
                          [&](const auto& other) { return other.id == report.id; }) != 1) {
            std::abort();
        }
        auto within = [&](const HidField& field) {
            return field.bit + field.bits <= report.bytes * 8;
        };
        if (!within(report.data) || !within(report.length) || !within(report.continued)) {
            std::abort();
        }
        for (const auto& id : report.symbology) {
            if (!within(id) || (id.present() && id.bits != 8)) std::abort();
        }
        if (report.data.bits % 8 != 0) std::abort();
        anyData = anyData || report.carriesData();
    }
    if (!anyData || describeHidPosLayout(layout).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn::sim;
    if (size < 2) return 0;
    const std::size_t length = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
    const auto layout = parseHidPosLayout(std::span(data + 2, length));
    if (layout) checkLayout(*layout);
    constexpr std::size_t kBound = 200;
    HidPosAssembler reports(kBound, layout), stream(kBound, layout);
    std::vector<ScannerDecode> out;
    const auto now = ScanClock::now();
    const std::span<const std::uint8_t> rest(data + 2 + length, size - 2 - length);
    std::size_t at = 0;
    while (at < rest.size()) {
        const std::size_t count = std::min<std::size_t>(rest[at], rest.size() - at - 1);
        reports.feedReport(rest.subspan(at + 1, count), now, out);
        at += 1 + count;
    }
    // The same bytes as a FIFO of reports of the declared sizes.
    stream.feedBytes(rest, now, out);
    for (const auto& decode : out) {
        if (decode.data.empty() || decode.data.size() > kBound) std::abort();
        if (decode.kind != ScannerKind::HidPos || decode.symbology.size() > 3) std::abort();
        for (char c : decode.symbology) {
            if (c < 0x21 || c > 0x7E) std::abort();
        }
    }
    return 0;
}
