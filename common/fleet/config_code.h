#pragma once
// Configuration barcodes: some named values of a session record in a compact text that fits one
// decode of either program, split over several codes when it does not fit one.
//
//   ~QNC1;<program>;<set>;<k>/<n>;<chunk>[;s<signature>];<checksum>
//
// The chunks of parts 1..n, joined, are the body: items "<index>=<value>" separated by '&', the
// index numbering the record's names (record_values.h). Numbers are decimal, runs
// comma-separated, byte strings hex, texts with '%', '&', ';', ',', '=' and every byte outside
// printable ASCII as %XX. <set> is the CRC-32 of "<program>;<body>" (8 hex digits): parts of
// another set, or a set put together from the wrong parts, do not match it. <checksum> is the
// CRC-32 of everything before it; <signature>, present when the code was signed, is the first
// 16 bytes of HMAC-SHA256 under the site key over everything before ";s" (32 hex digits). Host
// data never begins with "~QNC"; a decode that does is taken as a configuration code and never
// sent, whether it passes its checks or not.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fleet/record_values.h"

namespace qn::fleet {

inline constexpr std::string_view kConfigPrefix = "~QNC";
inline constexpr int kConfigVersion = 1;
// The longest code written: both programs' decode buffers (260 and 300 bytes with their
// terminator) take it whole.
inline constexpr std::size_t kMaxCodeText = 250;
inline constexpr int kMaxParts = 99;
// The site key: a file of the settings folder; its bytes (a final line break aside) are the key.
inline constexpr std::string_view kSiteKeyFile = "site.key";
inline constexpr std::size_t kMinKeyBytes = 16;
inline constexpr std::size_t kMaxKeyBytes = 1024;

inline constexpr std::string_view kApplyQuestion = "Apply the configuration from this barcode?";

bool isConfigCode(std::span<const std::uint8_t> decode);

std::uint32_t crc32(std::string_view text);

// The site key of a settings folder: nothing when there is no key file; an error text when the
// file is there but cannot serve as a key.
struct SiteKey {
    std::vector<std::uint8_t> bytes;  // empty: no key configured
    std::string error;
};
SiteKey loadSiteKey(const std::filesystem::path& settingsDir);
SiteKey readKeyFile(const std::filesystem::path& file);

// The codes for the named values of a record (indices into the record's names), in order; signed
// when a key is given. An error text when the values need more than kMaxParts codes.
struct EncodedCodes {
    std::vector<std::string> codes;
    std::string error;
};
EncodedCodes encodeConfigCodes(const RecordLayout& layout, std::span<const std::uint8_t> record,
                               std::span<const std::size_t> names,
                               std::span<const std::uint8_t> key);

// One value of a complete set.
struct Assignment {
    std::size_t index;
    Value value;
};

// Gathers the parts of a set, scan after scan. A part that fails a check changes nothing; a part
// of another set discards the parts gathered so far.
class ConfigCodeReader {
  public:
    enum class Result { Rejected, Waiting, Complete };
    struct Outcome {
        Result result = Result::Rejected;
        std::string message;             // why it was rejected, or which parts are still wanted
        std::vector<Assignment> values;  // Complete only
    };

    explicit ConfigCodeReader(RecordLayout layout) : layout_(layout) {}

    // key: the site key, empty when none is configured (signatures then go unchecked).
    Outcome add(std::string_view code, std::span<const std::uint8_t> key);
    void clear() { chunks_.clear(); }

  private:
    std::string missingParts() const;

    RecordLayout layout_;
    std::uint32_t set_ = 0;
    int count_ = 0;
    std::map<int, std::string> chunks_;
};

// The body's values, checked against the layout (names, kinds, ranges) on a copy of the record;
// the error names the field and the rule.
struct ParsedBody {
    std::vector<Assignment> values;
    std::string error;
};
ParsedBody parseConfigBody(const RecordLayout& layout, std::string_view body);

// The record with the values stored, or the first value's error.
std::optional<std::string> applyAssignments(const RecordLayout& layout,
                                            std::span<const Assignment> values,
                                            std::span<std::uint8_t> record);

}  // namespace qn::fleet
