// Fleet settings from outside: a JSON file applied to a document, and configuration codes read
// one after the other as scans bring them.
//
// Input: byte 0 picks the program (bit 0), JSON or codes (bit 1) and whether a site key is
// configured (bit 2); the rest is the JSON text, or codes one a line.
//
// JSON: an applied text that is accepted, applied again, changes nothing more. Codes: whatever
// comes, a set that completes was checked against the record and applies without an error, and
// a code the reader did not take as one never completes a set.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "common/fleet/config_code.h"
#include "tools/quillnet-settings/settings_dump.h"

namespace {

using namespace qn;

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const fleet::RecordLayout layouts[2] = {*tools::documentKind("vt"),
                                                   *tools::documentKind("5250")};
    const fleet::RecordLayout& layout = layouts[data[0] & 1];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    static std::vector<std::uint8_t> record, again;
    record.assign(layout.size, 0);

    if ((data[0] & 2) == 0) {
        std::optional<std::vector<std::uint8_t>> trailing;
        if (!tools::applyJson(layout, text, record, trailing)) {
            again = record;
            require(!tools::applyJson(layout, text, again, trailing));
            require(again == record);
        }
        return 0;
    }

    static const std::vector<std::uint8_t> key(32, 0x5A);
    const std::span<const std::uint8_t> siteKey =
        (data[0] & 4) != 0 ? std::span<const std::uint8_t>(key) : std::span<const std::uint8_t>();
    fleet::ConfigCodeReader reader(layout);
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view code = text.substr(at, end - at);
        at = end + 1;
        const auto outcome = reader.add(code, siteKey);
        if (outcome.result == fleet::ConfigCodeReader::Result::Complete) {
            require(code.starts_with(fleet::kConfigPrefix));
            require(!fleet::applyAssignments(layout, outcome.values, record));
        } else {
            require(outcome.values.empty() && !outcome.message.empty());
        }
    }
    return 0;
}
