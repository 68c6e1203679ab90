#include "tools/quillnet-settings/settings_dump.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <iterator>

#include "common/reader/engine_operations.h"
#include "tools/quillnet-settings/settings_tool.h"

namespace qn::tools {

namespace {

using reader::FieldInfo;
using reader::FieldKind;

// The whole dump is one text, built piece by piece and written at once: a document of a few
// thousand bytes makes no string per field, span or value. Pieces of many small parts (escaped
// texts, hex, runs of numbers) are written in place into room made for their longest form and
// cut to what was written: appending part by part cost more than the characters.
// (Written out where used: the fuzz build does not inline even a two-line helper.)
constexpr char kHexDigits[] = "0123456789abcdef";

// Four bytes' eight hex digits, first byte first, in the order a little-endian store lays them
// out: each nibble gets a byte of its own, then '0' is added, and 39 more where it is past 9.
std::uint64_t hexDigitsOf(std::uint32_t bytes) {
    auto spread = [](std::uint64_t x) {
        x = (x | x << 16) & 0x0000FFFF0000FFFFull;
        return (x | x << 8) & 0x00FF00FF00FF00FFull;
    };
    const std::uint64_t high = spread((bytes >> 4) & 0x0F0F0F0Fu);
    const std::uint64_t low = spread(bytes & 0x0F0F0F0Fu);
    const std::uint64_t nibbles = high | low << 8;
    const std::uint64_t past9 = ((nibbles + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    return nibbles + 0x3030303030303030ull + 39 * past9;
}

void appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    const std::size_t at = out.size();
    out.resize(at + 2 * bytes.size());
    char* to = out.data() + at;
    const std::uint8_t* from = bytes.data();
    const std::uint8_t* const end = from + bytes.size();
    // Long spans (the trailing bytes, reserved spans) four bytes to a word, the rest by byte.
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - from >= 4; from += 4, to += 8) {
            std::uint32_t word;
            std::memcpy(&word, from, 4);
            const std::uint64_t digits = hexDigitsOf(word);
            std::memcpy(to, &digits, 8);
        }
    }
    for (; from != end; ++from) {
        *to++ = kHexDigits[*from >> 4];
        *to++ = kHexDigits[*from & 0x0F];
    }
}

// Texts are single bytes, not UTF-8: every byte outside printable ASCII is escaped by value.
void appendJsonString(std::string& out, std::string_view text) {
    // Names and most texts have nothing to escape: the part up to the first byte that needs it
    // goes in one append.
    std::size_t plain = 0;
    for (; plain < text.size(); ++plain) {
        const auto b = static_cast<std::uint8_t>(text[plain]);
        if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\') break;
    }
    out += '"';
    out.append(text.data(), plain);
    text.remove_prefix(plain);
    if (text.empty()) {
        out += '"';
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + 1 + 6 * text.size());  // each byte at most \u00XX, and the quote
    char* to = out.data() + at;
    for (const char c : text) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b == '"' || b == '\\') {
            *to++ = '\\';
            *to++ = c;
        } else if (b >= 0x20 && b < 0x7F) {
            *to++ = c;
        } else {
            to = std::copy_n("\\u00", 4, to);
            *to++ = kHexDigits[b >> 4];
            *to++ = kHexDigits[b & 0x0F];
        }
    }
    *to++ = '"';
    out.resize(static_cast<std::size_t>(to - out.data()));
}

std::int32_t readInt32(std::span<const std::uint8_t> bytes) {
    reader::LeInt32 v;
    std::copy_n(bytes.begin(), 4, v.raw.begin());
    return v.get();
}

template <class Integer>
void appendNumber(std::string& out, Integer value) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    out.append(digits, end);
}

std::int64_t readNumber(std::span<const std::uint8_t> bytes, FieldKind kind) {
    switch (kind) {
        case FieldKind::U8:
            return bytes[0];
        case FieldKind::U16:
            return bytes[0] | (bytes[1] << 8);
        case FieldKind::I32:
            return readInt32(bytes);
        default:
            return 0;
    }
}

// Byte strings up to their last non-zero byte: nothing after a terminator is hidden.
std::span<const std::uint8_t> withoutTrailingZeros(std::span<const std::uint8_t> bytes) {
    std::size_t n = bytes.size();
    while (n > 0 && bytes[n - 1] == 0)
        --n;
    return bytes.first(n);
}

void appendFieldValue(std::string& out, const FieldInfo& field,
                      std::span<const std::uint8_t> bytes) {
    switch (field.kind) {
        case FieldKind::Text:
            appendJsonString(out, reader::fixedText(bytes));
            return;
        case FieldKind::Bytes:
            out += '"';
            appendHex(out, withoutTrailingZeros(bytes));
            out += '"';
            return;
        default:
            appendNumber(out, readNumber(bytes, field.kind));
            return;
    }
}

// A member's key as it follows the member before it: `,\n  "key": `.
std::string memberKey(std::string_view key) {
    std::string text = ",\n  ";
    appendJsonString(text, key);
    text += ": ";
    return text;
}

// What every document of a kind shares, made once: the members' keys as they stand in the text,
// the engine operations in the order their runs lie in the record (each with its key and the
// opening of its list), and the reserved spans, which no named field or engine value covers.
struct DumpLayout {
    struct Span {
        std::size_t begin;
        std::size_t end;
    };
    std::vector<std::string> fieldKeys;
    std::vector<const reader::EngineOperation*> operations;
    std::vector<std::string> operationKeys;  // `,\n    "Name": [`
    std::vector<Span> reserved;
    std::size_t textTailsRoom = 0;  // every text field's tail at its longest
};

DumpLayout makeLayout(const DocumentKind& kind) {
    DumpLayout layout;
    for (const FieldInfo& field : kind.fields)
        layout.fieldKeys.push_back(memberKey(field.name));
    for (const auto& op : reader::kEngineOperations)
        layout.operations.push_back(&op);
    std::sort(layout.operations.begin(), layout.operations.end(),
              [&](const auto* a, const auto* b) {
                  return reader::engineRunOffset(*a, kind.program) <
                         reader::engineRunOffset(*b, kind.program);
              });
    for (const auto* op : layout.operations) {
        std::string key = ",\n    ";
        appendJsonString(key, op->name);
        key += ": [";
        layout.operationKeys.push_back(std::move(key));
    }
    std::vector<bool> covered(kind.size, false);
    std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(kind.engineBegin),
                sizeof(reader::EngineSettings), true);
    for (const FieldInfo& field : kind.fields) {
        std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(field.offset), field.size, true);
        if (field.kind == FieldKind::Text) {
            layout.textTailsRoom += 64 + field.name.size() + 2 * field.size;
        }
    }
    for (auto from = std::find(covered.begin(), covered.end(), false); from != covered.end();) {
        const auto to = std::find(from, covered.end(), true);
        layout.reserved.push_back({static_cast<std::size_t>(from - covered.begin()),
                                   static_cast<std::size_t>(to - covered.begin())});
        from = std::find(to, covered.end(), false);
    }
    return layout;
}

const DumpLayout& layoutOf(const DocumentKind& kind) {
    static const DumpLayout vt = makeLayout(*documentKind("vt"));
    static const DumpLayout tn = makeLayout(*documentKind("5250"));
    return kind.program == reader::Program::Vt ? vt : tn;
}

// The top-level object of a dump: each member's value is appended to the text it returns.
class JsonDocument {
  public:
    explicit JsonDocument(std::size_t expected) {
        text_.reserve(expected);
        text_ = "{";
    }
    // The key as memberKey makes it; the first member goes without the comma.
    std::string& member(std::string_view preparedKey) {
        text_.append(first_ ? preparedKey.substr(1) : preparedKey);
        first_ = false;
        return text_;
    }
    std::string& finish() {
        text_ += "\n}\n";
        return text_;
    }

  private:
    std::string text_;
    bool first_ = true;
};

void appendEngineObject(std::string& text, const DocumentKind& kind, const DumpLayout& layout,
                        std::span<const std::uint8_t> data) {
    bool first = true;
    text += '{';
    for (std::size_t n = 0; n < layout.operations.size(); ++n) {
        const reader::EngineOperation& op = *layout.operations[n];
        const auto values = static_cast<std::size_t>(op.values);
        const std::size_t offset = kind.engineBegin + reader::engineRunOffset(op, kind.program);
        if (offset + 4 * values > data.size()) continue;
        text.append(std::string_view(layout.operationKeys[n]).substr(first ? 1 : 0));
        first = false;
        // Each value at its longest (11 characters) after its separator, and "]".
        const std::size_t at = text.size();
        text.resize(at + 1 + 13 * values);
        char* to = text.data() + at;
        char* const end = text.data() + text.size();
        for (std::size_t i = 0; i < values; ++i) {
            if (i != 0) to = std::copy_n(", ", 2, to);
            to = std::to_chars(to, end, readInt32(data.subspan(offset + 4 * i, 4))).ptr;
        }
        *to++ = ']';
        text.resize(static_cast<std::size_t>(to - text.data()));
    }
    text += first ? "}" : "\n  }";
}

}  // namespace

int dumpDocument(const DocumentKind& kind, const std::string& path, std::ostream& out,
                 std::ostream& err) {
    std::optional<ReadFile> file = readDocumentFile(path, kind.size + kTrailingShown);
    if (!file) {
        err << "quillnet-settings: cannot read " << path << "\n";
        return kExitBadInput;
    }
    const std::span<const std::uint8_t> all(file->bytes);
    const std::span<const std::uint8_t> data = all.first(std::min(all.size(), kind.size));
    if (file->fileBytes != kind.size) {
        err << "quillnet-settings: " << path << " has " << file->fileBytes << " bytes, a "
            << kind.name << " document has " << kind.size << "\n";
    }

    // Room for every member with its value as long as bytes shown as hex make it.
    JsonDocument json(8 * 1024 + 4 * all.size());
    const DumpLayout& layout = layoutOf(kind);
    appendJsonString(json.member(",\n  \"program\": "), kind.name);
    appendNumber(json.member(",\n  \"fileBytes\": "), file->fileBytes);
    appendNumber(json.member(",\n  \"documentBytes\": "), kind.size);

    bool engineShown = false;
    std::string textTails;
    constexpr std::string_view kEngineKey = ",\n  \"engine\": ";
    for (std::size_t n = 0; n < kind.fields.size(); ++n) {
        const FieldInfo& field = kind.fields[n];
        if (!engineShown && field.offset > kind.engineBegin) {
            appendEngineObject(json.member(kEngineKey), kind, layout, data);
            engineShown = true;
        }
        if (field.offset + field.size > data.size()) continue;
        auto bytes = data.subspan(field.offset, field.size);
        appendFieldValue(json.member(layout.fieldKeys[n]), field, bytes);
        if (field.kind == FieldKind::Text) {
            std::size_t length = reader::fixedLength(bytes);
            auto tail = withoutTrailingZeros(bytes.subspan(length));
            if (!tail.empty()) {
                if (textTails.empty()) textTails.reserve(layout.textTailsRoom);
                textTails += textTails.empty() ? "\n    " : ",\n    ";
                textTails += "{\"field\": ";
                appendJsonString(textTails, field.name);
                textTails += ", \"offset\": ";
                appendNumber(textTails, field.offset + length);
                textTails += ", \"hex\": \"";
                appendHex(textTails, tail);
                textTails += "\"}";
            }
        }
    }
    if (!engineShown) appendEngineObject(json.member(kEngineKey), kind, layout, data);

    // Reserved spans: whatever no named field covers, shown when it is not all zero.
    std::string& reserved = json.member(",\n  \"reserved\": ");
    reserved += '[';
    bool anyReserved = false;
    for (const DumpLayout::Span& at : layout.reserved) {
        // A short file cuts the spans at its end.
        if (at.begin >= data.size()) break;
        const std::size_t begin = at.begin;
        const std::size_t end = std::min(at.end, data.size());
        auto span = data.subspan(begin, end - begin);
        if (std::all_of(span.begin(), span.end(), [](std::uint8_t b) { return b == 0; })) continue;
        reserved += anyReserved ? ",\n    {\"offset\": " : "\n    {\"offset\": ";
        anyReserved = true;
        appendNumber(reserved, begin);
        reserved += ", \"size\": ";
        appendNumber(reserved, span.size());
        reserved += ", \"hex\": \"";
        appendHex(reserved, span);
        reserved += "\"}";
    }
    reserved += anyReserved ? "\n  ]" : "]";

    if (!textTails.empty()) {
        std::string& list = json.member(",\n  \"textTails\": ");
        list += '[';
        list += textTails;
        list += "\n  ]";
    }
    if (file->fileBytes > kind.size) {
        std::string& trailing = json.member(",\n  \"trailing\": ");
        trailing += "{\"offset\": ";
        appendNumber(trailing, kind.size);
        trailing += ", \"bytes\": ";
        appendNumber(trailing, file->fileBytes - kind.size);
        trailing += ", \"hex\": \"";
        appendHex(trailing, all.subspan(data.size()));
        trailing += "\"}";
    }
    const std::string& text = json.finish();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return kExitOk;
}

}  // namespace qn::tools
