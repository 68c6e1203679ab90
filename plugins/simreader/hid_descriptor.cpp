#include "plugins/simreader/hid_descriptor.h"

#include <algorithm>
#include <utility>

namespace qn::sim {

namespace {

constexpr std::uint32_t kBarcodePage = 0x8C;
constexpr std::uint32_t kSymbologyId1 = (kBarcodePage << 16) | 0xFB;  // ... 2 and 3 follow
constexpr std::uint32_t kDecodedData = (kBarcodePage << 16) | 0xFE;
constexpr std::uint32_t kDataContinued = (kBarcodePage << 16) | 0xFF;
constexpr std::uint32_t kByteCount = (0x01 << 16) | 0x3B;  // Generic Desktop

constexpr std::size_t kMaxGlobalStack = 8;
constexpr std::size_t kMaxCollectionDepth = 64;
constexpr std::size_t kMaxCountField = 32;  // a byte count or flag wider than this is not one

enum class ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

namespace main_tag {
constexpr std::uint8_t kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB,
                       kEndCollection = 0xC;
}
namespace global_tag {
constexpr std::uint8_t kUsagePage = 0x0, kReportSize = 0x7, kReportId = 0x8, kReportCount = 0x9,
                       kPush = 0xA, kPop = 0xB;
}
namespace local_tag {
constexpr std::uint8_t kUsage = 0x0, kUsageMinimum = 0x1, kUsageMaximum = 0x2;
}

constexpr std::uint32_t kInputConstant = 0x01;
constexpr std::uint32_t kInputVariable = 0x02;

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

struct InputReport {
    HidInputReport layout;
    std::size_t bits = 0;  // declared so far, ID byte included
};

class Parser {
  public:
    std::optional<HidPosLayout> run(std::span<const std::uint8_t> descriptor) {
        std::size_t at = 0;
        while (at < descriptor.size()) {
            const std::uint8_t prefix = descriptor[at];
            if (prefix == 0xFE) {
                // A long item: nothing here is one; its length is checked, its data skipped.
                if (descriptor.size() - at < 3) return std::nullopt;
                const std::size_t length = descriptor[at + 1];
                if (descriptor.size() - at - 3 < length) return std::nullopt;
                at += 3 + length;
                continue;
            }
            const std::size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
            if (descriptor.size() - at - 1 < size) return std::nullopt;
            std::uint32_t value = 0;
            for (std::size_t i = size; i > 0; --i)
                value = (value << 8) | descriptor[at + i];
            const auto type = static_cast<ItemType>((prefix >> 2) & 0x03);
            const std::uint8_t tag = prefix >> 4;
            bool ok = true;
            switch (type) {
                case ItemType::Main:
                    ok = mainItem(tag, value);
                    ranges_.clear();
                    pendingMinimum_.reset();
                    break;
                case ItemType::Global:
                    ok = globalItem(tag, value, size);
                    break;
                case ItemType::Local:
                    localItem(tag, value, size);
                    break;
                case ItemType::Reserved:
                    break;
            }
            if (!ok) return std::nullopt;
            at += 1 + size;
        }
        if (depth_ != 0) return std::nullopt;
        HidPosLayout layout;
        layout.numbered = numbered_;
        bool anyData = false;
        for (auto& report : reports_) {
            report.layout.bytes = (report.bits + 7) / 8;
            anyData = anyData || report.layout.carriesData();
            layout.inputs.push_back(report.layout);
        }
        if (!anyData) return std::nullopt;
        return layout;
    }

  private:
    bool mainItem(std::uint8_t tag, std::uint32_t flags) {
        switch (tag) {
            case main_tag::kCollection:
                return ++depth_ <= kMaxCollectionDepth;
            case main_tag::kEndCollection:
                if (depth_ == 0) return false;
                --depth_;
                return true;
            case main_tag::kInput:
            case main_tag::kOutput:
            case main_tag::kFeature:
                // Reports are numbered all or none: a report declared before the first ID
                // would be one without, and Pop must not bring back "no ID" once there are.
                if (globals_.reportId == 0) {
                    if (numbered_) return false;
                    declaredUnnumbered_ = true;
                }
                return tag == main_tag::kInput ? input(flags) : true;
            default:
                return true;
        }
    }

    bool input(std::uint32_t flags) {
        InputReport& report = reportFor(globals_.reportId);
        const std::size_t size = globals_.reportSize;
        const std::size_t count = globals_.reportCount;
        const std::size_t start = report.bits;
        // Bounded by kMaxHidReportSize * kMaxHidReportCount: no overflow.
        report.bits += size * count;
        if (report.bits > kMaxHidReportBytes * 8) return false;
        if ((flags & kInputConstant) != 0 || size == 0 || count == 0 || ranges_.empty()) {
            return true;
        }
        // An array item names the values its fields may hold, not the fields; the one use of an
        // array here is a buffer of a single usage ("Decoded Data" declared as an array).
        const bool single = ranges_.size() == 1 && ranges_[0].first == ranges_[0].second;
        if ((flags & kInputVariable) == 0 && !single) return true;
        // Field i carries usage i; fields past the last usage carry the last one.
        std::vector<std::uint32_t>& usages = usages_;
        usages.clear();
        for (const auto& [first, last] : ranges_) {
            for (std::uint64_t usage = first; usage <= last && usages.size() < count; ++usage)
                usages.push_back(static_cast<std::uint32_t>(usage));
            if (usages.size() >= count) break;
        }
        auto usageOf = [&](std::size_t field) {
            return usages[std::min(field, usages.size() - 1)];
        };
        const std::size_t named = usages.size();
        auto fieldAt = [&](std::size_t field, std::size_t bits) {
            return HidField{start + field * size, bits};
        };
        HidInputReport& out = report.layout;
        for (std::size_t field = 0; field < named; ++field) {
            const std::uint32_t usage = usages[field];
            if (usage >= kSymbologyId1 && usage < kSymbologyId1 + 3 && size == 8) {
                HidField& id = out.symbology[usage - kSymbologyId1];
                if (!id.present()) id = fieldAt(field, 8);
            } else if (usage == kDataContinued && size <= kMaxCountField) {
                if (!out.continued.present()) out.continued = fieldAt(field, size);
            } else if (usage == kByteCount && size <= kMaxCountField) {
                if (!out.length.present()) out.length = fieldAt(field, size);
            } else if (usage == kDecodedData && size == 8 && !out.data.present()) {
                // The run of fields that carry it: to the end of the item when it is the last.
                std::size_t end = field + 1;
                while (end < count && usageOf(end) == kDecodedData)
                    ++end;
                out.data = HidField{start + field * 8, (end - field) * 8};
            }
        }
        return true;
    }

    InputReport& reportFor(std::uint8_t id) {
        for (auto& report : reports_) {
            if (report.layout.id == id) return report;
        }
        InputReport& report = reports_.emplace_back();
        report.layout.id = id;
        report.bits = id == 0 ? 0 : 8;
        return report;
    }

    bool globalItem(std::uint8_t tag, std::uint32_t value, std::size_t size) {
        switch (tag) {
            case global_tag::kUsagePage:
                globals_.usagePage = value & 0xFFFF;
                return true;
            case global_tag::kReportSize:
                globals_.reportSize = value;
                return value <= kMaxHidReportSize;
            case global_tag::kReportCount:
                globals_.reportCount = value;
                return value <= kMaxHidReportCount;
            case global_tag::kReportId:
                if (size == 0 || value == 0 || value > 0xFF || declaredUnnumbered_) return false;
                globals_.reportId = static_cast<std::uint8_t>(value);
                numbered_ = true;
                return true;
            case global_tag::kPush:
                if (stack_.size() >= kMaxGlobalStack) return false;
                stack_.push_back(globals_);
                return true;
            case global_tag::kPop:
                if (stack_.empty()) return false;
                globals_ = stack_.back();
                stack_.pop_back();
                return true;
            default:
                return true;  // logical and physical ranges, units: not needed here
        }
    }

    void localItem(std::uint8_t tag, std::uint32_t value, std::size_t size) {
        // A four-byte usage names its own page; a shorter one is on the current page.
        const std::uint32_t usage = size == 4 ? value : (globals_.usagePage << 16) | value;
        switch (tag) {
            case local_tag::kUsage:
                addUsages(usage, usage);
                break;
            case local_tag::kUsageMinimum:
                pendingMinimum_ = usage;
                break;
            case local_tag::kUsageMaximum:
                // A range within one page, minimum first; anything else names nothing.
                if (pendingMinimum_ && (*pendingMinimum_ >> 16) == (usage >> 16) &&
                    *pendingMinimum_ <= usage) {
                    addUsages(*pendingMinimum_, usage);
                }
                pendingMinimum_.reset();
                break;
            default:
                break;
        }
    }

    // No item has more fields than kMaxHidReportCount, so no more usages are kept; a range is
    // expanded only as far as its item's fields go.
    void addUsages(std::uint32_t first, std::uint32_t last) {
        if (ranges_.size() < kMaxHidReportCount) ranges_.emplace_back(first, last);
    }

    Globals globals_;
    std::vector<Globals> stack_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_;  // the usages, in order
    std::vector<std::uint32_t> usages_;                            // expanded for one item
    std::optional<std::uint32_t> pendingMinimum_;
    std::vector<InputReport> reports_;
    std::size_t depth_ = 0;
    bool numbered_ = false;
    bool declaredUnnumbered_ = false;
};

}  // namespace

const HidInputReport* HidPosLayout::inputFor(std::uint8_t firstByte) const {
    for (const auto& report : inputs) {
        if (!numbered || report.id == firstByte) return &report;
    }
    return nullptr;
}

std::optional<HidPosLayout> parseHidPosLayout(std::span<const std::uint8_t> descriptor) {
    return Parser().run(descriptor);
}

std::string describeHidPosLayout(const HidPosLayout& layout) {
    std::string text;
    for (const auto& report : layout.inputs) {
        if (!report.carriesData()) continue;
        if (!text.empty()) text += "; ";
        text += (layout.numbered ? "report " + std::to_string(report.id) : std::string("report")) +
                " of " + std::to_string(report.bytes) + " bytes: ";
        if (report.length.present()) text += "byte count, ";
        const auto ids = std::count_if(report.symbology.begin(), report.symbology.end(),
                                       [](const HidField& field) { return field.present(); });
        if (ids > 0) text += "identifier, ";
        text += std::to_string(report.data.bits / 8) + " data bytes";
        if (report.continued.present()) text += ", continuation flag";
    }
    return text;
}

}  // namespace qn::sim
