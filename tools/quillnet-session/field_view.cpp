#include "tools/quillnet-session/field_view.h"

#include <algorithm>

#include "tn5250/datastream/data_stream.h"
#include "tn5250/datastream/records.h"

namespace qn::tools {

namespace {

constexpr std::uint8_t kIac = 0xFF;
constexpr std::uint8_t kSba = 0x11;
constexpr std::size_t kCursorAndAid = 3;

const char* shiftName(std::uint8_t ffw1) {
    switch (tn::ffw::shiftEditType(ffw1)) {
        case 0:
            return "alphanumeric";
        case tn::ffw::kAlphabeticOnly:
            return "alphabeticOnly";
        case tn::ffw::kNumericOnly:
            return "numericOnly";
        case tn::ffw::kDigitsOnly:
            return "digitsOnly";
        case tn::ffw::kSignedNumeric:
            return "signedNumeric";
        case 4:
            return "katakana";
        case 6:
            return "io";
        default:
            return "none";
    }
}

// The data positions of one field in a record body, masked.
void maskRange(std::vector<std::uint8_t>& body, std::size_t from, std::size_t to) {
    to = std::min(to, body.size());
    for (std::size_t i = from; i < to; ++i)
        body[i] = kMaskedByte;
}

void maskRecordBody(std::vector<std::uint8_t>& record, std::span<const tn::FieldEntry> fields) {
    // Only 5250 records; the telnet layer's own answers pass as they are.
    if (record.size() <= tn::kGdsHeaderSize + kCursorAndAid || record[2] != 0x12 ||
        record[3] != 0xA0)
        return;
    const bool anyHidden = std::ranges::any_of(fields, isNonDisplay);
    if (!anyHidden) return;
    if (record[9] == tn::kOpcodeSaveScreen) {
        maskRange(record, tn::kGdsHeaderSize, record.size());
        return;
    }
    std::size_t at = tn::kGdsHeaderSize + kCursorAndAid;
    if (record[at] == kSba) {
        // Modified fields, each after its address; data runs to the next address.
        while (at + 3 <= record.size() && record[at] == kSba) {
            const int row = record[at + 1] - 1;
            const int column = record[at + 2] - 1;
            std::size_t end = at + 3;
            while (end < record.size() && record[end] != kSba)
                ++end;
            const bool hidden = std::ranges::any_of(fields, [&](const tn::FieldEntry& f) {
                return f.row == row && f.column == column && isNonDisplay(f);
            });
            if (hidden) maskRange(record, at + 3, end);
            at = end;
        }
        return;
    }
    // All fields without addresses, each at its length, in table order.
    for (const tn::FieldEntry& field : fields) {
        const std::size_t length = static_cast<std::size_t>(std::max(field.length, 0));
        if (isNonDisplay(field)) maskRange(record, at, at + length);
        at += length;
        if (at >= record.size()) break;
    }
}

}  // namespace

bool isNonDisplay(const tn::FieldEntry& field) {
    return field.attribute == tn::cell_attribute::kNonDisplay;
}

std::string fieldText(const tn::TnScreen& screen, const tn::FieldEntry& field) {
    std::string text;
    for (int i = 0; i < field.length; ++i) {
        const std::uint8_t c = screen.charAtPosition(field.start() + i);
        text += c == 0 ? ' ' : static_cast<char>(c);
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

nlohmann::ordered_json describeFields(const tn::TnScreen& screen) {
    auto out = nlohmann::ordered_json::array();
    for (const tn::FieldEntry& f : screen.fields.entries()) {
        const std::uint8_t adjust = tn::ffw::adjustment(f.ffw2);
        nlohmann::ordered_json field{
            {"number", f.number},
            {"row", f.row},
            {"col", f.column},
            {"length", f.length},
        };
        if (isNonDisplay(f)) {
            field["text"] = nullptr;
        } else {
            field["text"] = fieldText(screen, f);
        }
        field["shift"] = shiftName(f.ffw1);
        field["flags"] = {
            {"bypass", tn::ffw::isBypass(f.ffw1)},
            {"numericOnly", tn::ffw::shiftEditType(f.ffw1) == tn::ffw::kNumericOnly},
            {"signedNumeric", tn::ffw::isSignedNumeric(f.ffw1)},
            {"mandatoryEnter", (f.ffw2 & tn::ffw::kMandatoryEnter) != 0},
            {"mandatoryFill", adjust == tn::ffw::kMandatoryFill},
            {"rightAdjust",
             adjust == tn::ffw::kRightAdjustZeroFill || adjust == tn::ffw::kRightAdjustBlankFill},
            {"autoEnter", (f.ffw2 & tn::ffw::kAutoEnter) != 0},
            {"nonDisplay", isNonDisplay(f)},
            {"modified", tn::ffw::isModified(f.ffw1)},
            {"fieldExitRequired", (f.ffw2 & tn::ffw::kFieldExitRequired) != 0},
            {"monocase", (f.ffw2 & tn::ffw::kMonocase) != 0},
        };
        out.push_back(std::move(field));
    }
    return out;
}

std::array<bool, tn::kColumns> hiddenCells(const tn::TnScreen& screen, int row) {
    std::array<bool, tn::kColumns> hidden{};
    const auto attributes = screen.attributeRow(row).first<tn::kColumns>();
    for (std::size_t column = 0; column < hidden.size(); ++column)
        hidden[column] = attributes[column] == tn::cell_attribute::kNonDisplay;
    for (const tn::FieldEntry& f : screen.fields.entries()) {
        if (!isNonDisplay(f)) continue;
        for (int i = 0; i < f.length; ++i) {
            const int position = f.start() + i;
            if (position / tn::kColumns == row)
                hidden[static_cast<std::size_t>(position % tn::kColumns)] = true;
        }
    }
    return hidden;
}

std::string visibleRow(const tn::TnScreen& screen, int row) {
    const auto hidden = hiddenCells(screen, row);
    const auto chars = screen.charRow(row).first<tn::kColumns>();
    std::string line;
    for (std::size_t column = 0; column < hidden.size(); ++column) {
        const std::uint8_t c = chars[column];
        line += c == 0 || hidden[column] ? ' ' : static_cast<char>(c);
    }
    return line;
}

std::vector<std::uint8_t> maskSend(std::span<const std::uint8_t> bytes,
                                   std::span<const tn::FieldEntry> fields) {
    // Undo the telnet framing record by record, mask, frame again.
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    std::vector<std::uint8_t> record;
    auto flush = [&] {
        maskRecordBody(record, fields);
        for (std::uint8_t b : record) {
            out.push_back(b);
            if (b == kIac) out.push_back(kIac);
        }
        record.clear();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != kIac) {
            record.push_back(bytes[i]);
        } else if (i + 1 < bytes.size() && bytes[i + 1] == kIac) {
            record.push_back(kIac);
            ++i;
        } else {
            // A telnet command (IAC EOR ends a record): copied as it is.
            flush();
            out.push_back(kIac);
            if (i + 1 < bytes.size()) out.push_back(bytes[++i]);
        }
    }
    flush();
    return out;
}

}  // namespace qn::tools
