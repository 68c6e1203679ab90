#include "tools/quillnet-settings/settings_dump.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <nlohmann/json.hpp>

#include "common/reader/engine_operations.h"
#include "tools/quillnet-settings/settings_tool.h"

namespace qn::tools {

namespace {

using Json = nlohmann::ordered_json;
using reader::FieldInfo;
using reader::FieldKind;

constexpr char kHexDigits[] = "0123456789abcdef";

// Texts are single bytes, not UTF-8, each the character of the same number: characters past
// U+00FF have no byte.
std::optional<std::string> bytesOfUtf8(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (b < 0x80) {
            bytes += text[i];
        } else if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()) {
            bytes += static_cast<char>(((b & 0x03) << 6) |
                                       (static_cast<std::uint8_t>(text[++i]) & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// Byte strings up to their last non-zero byte: nothing after a terminator is hidden.
std::span<const std::uint8_t> withoutTrailingZeros(std::span<const std::uint8_t> bytes) {
    std::size_t n = bytes.size();
    while (n > 0 && bytes[n - 1] == 0)
        --n;
    return bytes.first(n);
}

struct Span {
    std::size_t begin;
    std::size_t end;
};

// Whatever neither a named field nor the engine values cover.
std::vector<Span> findReservedSpans(const DocumentKind& kind) {
    std::vector<bool> covered(kind.size, false);
    std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(kind.engineBegin),
                sizeof(reader::EngineSettings), true);
    for (const FieldInfo& field : kind.fields)
        std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(field.offset), field.size, true);
    std::vector<Span> spans;
    for (auto from = std::find(covered.begin(), covered.end(), false); from != covered.end();) {
        const auto to = std::find(from, covered.end(), true);
        spans.push_back({static_cast<std::size_t>(from - covered.begin()),
                         static_cast<std::size_t>(to - covered.begin())});
        from = std::find(to, covered.end(), false);
    }
    return spans;
}

// The dump is written as one text in the layout of a JSON library's indented, ASCII-only
// output (two spaces a level, one value a line), without building a tree of values first: a
// fleet's worth of documents is dumped one tool run each, and the tree cost more than the file.

// Texts are single bytes, not UTF-8: each byte is the character of the same number, escaped
// by value past 0x7E and below 0x20.
void appendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            out += c;
            continue;
        }
        out += '\\';
        switch (b) {
            case '"':
            case '\\':
                out += c;
                break;
            case '\b':
                out += 'b';
                break;
            case '\t':
                out += 't';
                break;
            case '\n':
                out += 'n';
                break;
            case '\f':
                out += 'f';
                break;
            case '\r':
                out += 'r';
                break;
            default:
                out += "u00";
                out += kHexDigits[b >> 4];
                out += kHexDigits[b & 0x0F];
        }
    }
    out += '"';
}

void appendHexString(std::string& out, std::span<const std::uint8_t> bytes) {
    out += '"';
    for (const std::uint8_t b : bytes) {
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0x0F];
    }
    out += '"';
}

template <class Integer>
void appendNumber(std::string& out, Integer value) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    out.append(digits, end);
}

// What every document of a kind shares, made once: each member's opening as it follows the
// member before it (",\n  \"name\": "), the engine operations in the order their runs lie in
// the record, and the reserved spans.
struct DumpLayout {
    std::vector<std::string> fieldKeys;
    std::vector<const reader::EngineOperation*> operations;
    std::vector<std::string> operationKeys;  // ",\n    \"Name\": ["
    std::vector<Span> reserved;
};

std::string memberKey(std::string_view indent, std::string_view key, std::string_view after) {
    std::string text = ",\n";
    text += indent;
    appendJsonString(text, key);
    text += ": ";
    text += after;
    return text;
}

DumpLayout makeLayout(const DocumentKind& kind) {
    DumpLayout layout;
    for (const FieldInfo& field : kind.fields)
        layout.fieldKeys.push_back(memberKey("  ", field.name, ""));
    for (const auto& op : reader::kEngineOperations)
        layout.operations.push_back(&op);
    std::ranges::stable_sort(layout.operations, [&](const auto* a, const auto* b) {
        return reader::engineRunOffset(*a, kind.program) <
               reader::engineRunOffset(*b, kind.program);
    });
    for (const auto* op : layout.operations)
        layout.operationKeys.push_back(memberKey("    ", op->name, "["));
    layout.reserved = findReservedSpans(kind);
    return layout;
}

const DumpLayout& layoutOf(const DocumentKind& kind) {
    static const DumpLayout vt = makeLayout(*documentKind("vt"));
    static const DumpLayout tn = makeLayout(*documentKind("5250"));
    return kind.program == reader::Program::Vt ? vt : tn;
}

const std::vector<Span>& reservedSpans(const DocumentKind& kind) {
    return layoutOf(kind).reserved;
}

// The key as memberKey makes it; the first member of an object goes without the comma.
void appendKey(std::string& out, std::string_view key, bool& first) {
    out.append(first ? key.substr(1) : key);
    first = false;
}

void appendEngineObject(std::string& out, const DocumentKind& kind,
                        std::span<const std::uint8_t> data) {
    const DumpLayout& layout = layoutOf(kind);
    bool first = true;
    out += '{';
    for (std::size_t n = 0; n < layout.operations.size(); ++n) {
        const reader::EngineOperation& op = *layout.operations[n];
        const auto values = static_cast<std::size_t>(op.values);
        const std::size_t offset = kind.engineBegin + reader::engineRunOffset(op, kind.program);
        if (offset + 4 * values > data.size()) continue;
        appendKey(out, layout.operationKeys[n], first);
        for (std::size_t i = 0; i < values; ++i) {
            out += i == 0 ? "\n      " : ",\n      ";
            reader::LeInt32 v;
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset + 4 * i), 4,
                        v.raw.begin());
            appendNumber(out, v.get());
        }
        out += values == 0 ? "]" : "\n    ]";
    }
    out += first ? "}" : "\n  }";
}

void appendFieldValue(std::string& out, const FieldInfo& field,
                      std::span<const std::uint8_t> bytes) {
    switch (field.kind) {
        case FieldKind::Text:
            appendJsonString(out, reader::fixedText(bytes));
            return;
        case FieldKind::Bytes:
            appendHexString(out, withoutTrailingZeros(bytes));
            return;
        case FieldKind::U8:
            appendNumber(out, int{bytes[0]});
            return;
        case FieldKind::U16:
            appendNumber(out, bytes[0] | (bytes[1] << 8));
            return;
        case FieldKind::I32: {
            reader::LeInt32 v;
            std::copy_n(bytes.begin(), 4, v.raw.begin());
            appendNumber(out, v.get());
            return;
        }
    }
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
    const DumpLayout& layout = layoutOf(kind);

    std::string text;
    // Room for a dump of a plain record (about two and a half characters a byte, the engine
    // values a line each) and for the trailing bytes' hex: texts full of escapes grow it once.
    text.reserve(1024 + 3 * data.size() + 2 * (all.size() - data.size()));
    text += "{\n  \"program\": ";
    appendJsonString(text, kind.name);
    text += ",\n  \"fileBytes\": ";
    appendNumber(text, file->fileBytes);
    text += ",\n  \"documentBytes\": ";
    appendNumber(text, kind.size);

    bool engineShown = false;
    std::string textTails;
    for (std::size_t n = 0; n < kind.fields.size(); ++n) {
        const FieldInfo& field = kind.fields[n];
        if (!engineShown && field.offset > kind.engineBegin) {
            text += ",\n  \"engine\": ";
            appendEngineObject(text, kind, data);
            engineShown = true;
        }
        // A short file shows only the fields it holds.
        if (field.offset + field.size > data.size()) continue;
        const auto bytes = data.subspan(field.offset, field.size);
        text += layout.fieldKeys[n];
        appendFieldValue(text, field, bytes);
        if (field.kind == FieldKind::Text) {
            const std::size_t length = reader::fixedLength(bytes);
            const auto tail = withoutTrailingZeros(bytes.subspan(length));
            if (!tail.empty()) {
                textTails += textTails.empty() ? "\n    {\n      \"field\": "
                                               : ",\n    {\n      \"field\": ";
                appendJsonString(textTails, field.name);
                textTails += ",\n      \"offset\": ";
                appendNumber(textTails, field.offset + length);
                textTails += ",\n      \"hex\": ";
                appendHexString(textTails, tail);
                textTails += "\n    }";
            }
        }
    }
    if (!engineShown) {
        text += ",\n  \"engine\": ";
        appendEngineObject(text, kind, data);
    }

    text += ",\n  \"reserved\": [";
    bool anyReserved = false;
    for (const Span& at : layout.reserved) {
        // A short file cuts the spans at its end.
        if (at.begin >= data.size()) break;
        const auto span = data.subspan(at.begin, std::min(at.end, data.size()) - at.begin);
        if (std::ranges::all_of(span, [](std::uint8_t b) { return b == 0; })) continue;
        text += anyReserved ? ",\n    {\n      \"offset\": " : "\n    {\n      \"offset\": ";
        anyReserved = true;
        appendNumber(text, at.begin);
        text += ",\n      \"size\": ";
        appendNumber(text, span.size());
        text += ",\n      \"hex\": ";
        appendHexString(text, span);
        text += "\n    }";
    }
    text += anyReserved ? "\n  ]" : "]";
    if (!textTails.empty()) {
        text += ",\n  \"textTails\": [";
        text += textTails;
        text += "\n  ]";
    }
    if (file->fileBytes > kind.size) {
        text += ",\n  \"trailing\": {\n    \"offset\": ";
        appendNumber(text, kind.size);
        text += ",\n    \"bytes\": ";
        appendNumber(text, file->fileBytes - kind.size);
        text += ",\n    \"hex\": ";
        appendHexString(text, all.subspan(data.size()));
        text += "\n  }";
    }
    text += "\n}\n";
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return kExitOk;
}

namespace {

// The deepest nesting of objects and lists in a JSON text, strings skipped; stops counting
// once past the limit. Most characters are none of the six that matter: one look-up in a table
// passes them by, rather than a comparison with each.
bool nestedDeeperThan(std::string_view text, int limit) {
    enum : std::uint8_t { kPlain, kQuote, kEscape, kOpen, kClose };
    static constexpr auto kClasses = [] {
        std::array<std::uint8_t, 256> classes{};
        classes['"'] = kQuote;
        classes['\\'] = kEscape;
        classes['{'] = classes['['] = kOpen;
        classes['}'] = classes[']'] = kClose;
        return classes;
    }();
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t kind = kClasses[static_cast<std::uint8_t>(text[i])];
        if (kind == kPlain) continue;
        if (inString) {
            if (kind == kEscape) {
                ++i;
            } else if (kind == kQuote) {
                inString = false;
            }
        } else if (kind == kQuote) {
            inString = true;
        } else if (kind == kOpen) {
            if (++depth > limit) return true;
        } else if (kind == kClose) {
            --depth;
        }
    }
    return false;
}

std::optional<std::int64_t> integerOf(const Json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    return std::nullopt;
}

// A member's JSON value in the form the name takes, or the rule it breaks.
std::variant<fleet::Value, std::string> valueOf(const fleet::RecordName& name, const Json& json) {
    // The error's text is made only for an error: most members break no rule.
    auto broken = [&name](std::string_view rule) { return std::string(name.name()).append(rule); };
    if (name.operation != nullptr) {
        if (!json.is_array()) return broken(": a list of numbers is wanted");
        std::vector<std::int64_t> run;
        for (const Json& item : json) {
            auto number = integerOf(item);
            if (!number) return broken(": every value must be a whole number");
            run.push_back(*number);
        }
        return fleet::Value{std::move(run)};
    }
    switch (name.field->kind) {
        case FieldKind::Text: {
            if (!json.is_string()) return broken(": a text in quotes is wanted");
            auto bytes = bytesOfUtf8(json.get_ref<const std::string&>());
            if (!bytes) return broken(": the text has a character past U+00FF");
            return fleet::Value{std::move(*bytes)};
        }
        case FieldKind::Bytes: {
            if (!json.is_string()) return broken(": hex bytes in quotes are wanted");
            auto bytes = bytesOfHex(json.get_ref<const std::string&>());
            if (!bytes) return broken(": not hex bytes (two hex digits per byte)");
            return fleet::Value{std::string(bytes->begin(), bytes->end())};
        }
        default: {
            auto number = integerOf(json);
            if (!number) return broken(": a whole number is wanted");
            return fleet::Value{*number};
        }
    }
}

std::optional<std::size_t> sizeOf(const Json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) return std::nullopt;
    auto number = integerOf(object[key]);
    if (!number || *number < 0) return std::nullopt;
    return static_cast<std::size_t>(*number);
}

std::optional<std::vector<std::uint8_t>> hexMember(const Json& object) {
    if (!object.is_object() || !object.contains("hex") || !object["hex"].is_string()) {
        return std::nullopt;
    }
    return bytesOfHex(object["hex"].get_ref<const std::string&>());
}

std::optional<std::string> applyReserved(const DocumentKind& kind, const Json& list,
                                         std::span<std::uint8_t> record) {
    if (!list.is_array()) return std::string("reserved: a list is wanted");
    for (const Json& item : list) {
        auto offset = sizeOf(item, "offset");
        auto size = sizeOf(item, "size");
        auto bytes = hexMember(item);
        if (!offset || !size || !bytes || bytes->size() != *size) {
            return std::string("reserved: each span needs offset, size and as many hex bytes");
        }
        const auto& spans = reservedSpans(kind);
        const bool inside = std::ranges::any_of(spans, [&](const Span& s) {
            return *offset >= s.begin && *offset <= s.end && *size <= s.end - *offset;
        });
        if (!inside) {
            return "reserved: " + std::to_string(*offset) + "+" + std::to_string(*size) +
                   " is not inside a reserved span";
        }
        std::ranges::copy(*bytes, record.begin() + static_cast<std::ptrdiff_t>(*offset));
    }
    return std::nullopt;
}

std::optional<std::string> applyTextTails(const DocumentKind& kind, const Json& list,
                                          std::span<std::uint8_t> record) {
    if (!list.is_array()) return std::string("textTails: a list is wanted");
    for (const Json& item : list) {
        const FieldInfo* field = nullptr;
        if (item.is_object() && item.contains("field") && item["field"].is_string()) {
            const std::string& name = item["field"].get_ref<const std::string&>();
            for (const FieldInfo& f : kind.fields) {
                if (f.kind == FieldKind::Text && f.name == name) field = &f;
            }
        }
        auto offset = sizeOf(item, "offset");
        auto bytes = hexMember(item);
        if (field == nullptr || !offset || !bytes) {
            return std::string("textTails: each tail needs a text field, offset and hex bytes");
        }
        // A tail lies behind the text's terminator and inside the field.
        const std::size_t end = field->offset + field->size;
        const std::size_t textEnd =
            field->offset + reader::fixedLength(record.subspan(field->offset, field->size));
        if (*offset < textEnd || *offset > end || bytes->size() > end - *offset ||
            (!bytes->empty() && *offset == textEnd && bytes->front() != 0)) {
            return "textTails: the tail of " + std::string(field->name) +
                   " must lie behind its text and inside the field";
        }
        std::ranges::copy(*bytes, record.begin() + static_cast<std::ptrdiff_t>(*offset));
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> bytesOfHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::optional<std::string> applyJson(const DocumentKind& kind, std::string_view text,
                                     std::span<std::uint8_t> record,
                                     std::optional<std::vector<std::uint8_t>>& trailing) {
    if (text.size() > kMaxJsonBytes) {
        return "the JSON has " + std::to_string(text.size()) + " bytes, more than the " +
               std::to_string(kMaxJsonBytes) + " a settings JSON may have";
    }
    if (nestedDeeperThan(text, kMaxJsonDepth)) {
        return "the JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    }
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::exception& e) {
        // A syntax error, or a number too large for any field (out_of_range while parsing).
        std::string what = e.what();
        // "[json.exception.parse_error.101] parse error at ...": the part after the tag.
        if (const std::size_t tag = what.find("] "); tag != std::string::npos)
            what.erase(0, tag + 2);
        return "not JSON: " + what;
    }
    if (!json.is_object()) return std::string("the JSON must be an object of names and values");

    const Json* tails = nullptr;
    for (const auto& [key, value] : json.items()) {
        if (key == "program") {
            if (value != kind.name) {
                return "program: the JSON is for " + value.dump() + ", the document is a " +
                       std::string(kind.name) + " document";
            }
        } else if (key == "fileBytes") {
            if (!integerOf(value)) return std::string("fileBytes: a whole number is wanted");
        } else if (key == "documentBytes") {
            if (integerOf(value) != static_cast<std::int64_t>(kind.size)) {
                return "documentBytes: a " + std::string(kind.name) + " document has " +
                       std::to_string(kind.size);
            }
        } else if (key == "engine") {
            if (!value.is_object()) return std::string("engine: an object of operations is wanted");
            for (const auto& [opName, run] : value.items()) {
                const reader::EngineOperation* op = reader::findEngineOperation(opName);
                if (op == nullptr) return "engine: unknown operation '" + opName + "'";
                const fleet::RecordName name{nullptr, op};
                auto parsed = valueOf(name, run);
                if (auto* error = std::get_if<std::string>(&parsed)) return *error;
                if (auto error =
                        fleet::storeValue(kind, name, std::get<fleet::Value>(parsed), record)) {
                    return error;
                }
            }
        } else if (key == "reserved") {
            if (auto error = applyReserved(kind, value, record)) return error;
        } else if (key == "textTails") {
            tails = &value;
        } else if (key == "trailing") {
            auto bytes = hexMember(value);
            auto offset = sizeOf(value, "offset");
            auto count = sizeOf(value, "bytes");
            if (!bytes || offset != kind.size || count != bytes->size()) {
                return std::string(
                    "trailing: only a dump that shows every byte after the document can give "
                    "them");
            }
            trailing = std::move(*bytes);
        } else {
            const FieldInfo* field = nullptr;
            for (const FieldInfo& f : kind.fields) {
                if (f.name == key) field = &f;
            }
            if (field == nullptr) {
                return "unknown field '" + key + "' in a " + std::string(kind.name) + " document";
            }
            const fleet::RecordName name{field, nullptr};
            auto parsed = valueOf(name, value);
            if (auto* error = std::get_if<std::string>(&parsed)) return *error;
            if (auto error =
                    fleet::storeValue(kind, name, std::get<fleet::Value>(parsed), record)) {
                return error;
            }
        }
    }
    // Tails after the texts they lie behind.
    if (tails != nullptr) return applyTextTails(kind, *tails, record);
    return std::nullopt;
}

}  // namespace qn::tools
