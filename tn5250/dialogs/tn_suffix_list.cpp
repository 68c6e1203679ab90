#include "tn5250/dialogs/tn_suffix_list.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {

namespace {

constexpr std::array<std::string_view, 33> kControlNames{
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",  "SP",
};

std::vector<std::string> buildItems() {
    std::vector<std::string> items;
    items.reserve(kSuffixEntryCount);
    for (int code = 0; code < kSuffixKeyEntries; ++code)
        items.emplace_back(kTnFunctionNames[static_cast<std::size_t>(code)]);
    for (int c = 0; c < kSuffixCharacterEntries; ++c) {
        if (c < static_cast<int>(kControlNames.size())) {
            items.emplace_back(kControlNames[static_cast<std::size_t>(c)]);
        } else {
            items.emplace_back(1, static_cast<char>(c));
        }
    }
    return items;
}

}  // namespace

const std::vector<std::string>& suffixListItems() {
    static const std::vector<std::string> items = buildItems();
    return items;
}

std::uint8_t suffixCodeAt(int position) {
    if (position < kSuffixKeyEntries) return static_cast<std::uint8_t>(position < 0 ? 0 : position);
    const int c = std::min(position, kSuffixEntryCount - 1) - kSuffixKeyEntries;
    return static_cast<std::uint8_t>(kSuffixCharacterBase + c);
}

std::optional<int> suffixPositionOf(std::uint8_t code) {
    if (code < kSuffixKeyEntries) return code;
    if (code < kSuffixCharacterBase) return std::nullopt;
    const int c = code - kSuffixCharacterBase;
    if (c >= kSuffixCharacterEntries) return std::nullopt;
    return kSuffixKeyEntries + c;
}

}  // namespace qn::tn
