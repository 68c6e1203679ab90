#pragma once
// Scanner input written the way a scanner sends it, for tests, the fuzzers' seeds and the
// latency benchmark: key scripts that become input_event records, and HID POS reports.

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cstring>
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

}  // namespace qn::test
