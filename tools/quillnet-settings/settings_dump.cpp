#include "tools/quillnet-settings/settings_dump.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <set>

#include "common/reader/engine_operations.h"
#include "platform/ini.h"
#include "tools/quillnet-settings/settings_tool.h"

namespace qn::tools {

namespace {

using Json = nlohmann::ordered_json;
using reader::FieldInfo;
using reader::FieldKind;

constexpr char kHexDigits[] = "0123456789abcdef";

std::string hexOf(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        text += kHexDigits[b >> 4];
        text += kHexDigits[b & 0x0F];
    }
    return text;
}

// Texts are single bytes, not UTF-8: each byte becomes the character of the same number, which
// the ASCII-only dump writes as \u00XX when it is past 0x7E.
std::string utf8OfBytes(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (b >> 6));
            text += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return text;
}

// The other way: characters past U+00FF have no byte.
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

Json jsonOf(const fleet::Value& value, const fleet::RecordName& name) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
    if (const auto* run = std::get_if<std::vector<std::int64_t>>(&value)) return *run;
    const std::string& bytes = std::get<std::string>(value);
    if (name.field->kind == FieldKind::Bytes) {
        return hexOf({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    }
    return utf8OfBytes(bytes);
}

struct Span {
    std::size_t begin;
    std::size_t end;
};

// Whatever neither a named field nor the engine values cover.
const std::vector<Span>& reservedSpans(const DocumentKind& kind) {
    auto make = [](const DocumentKind& k) {
        std::vector<bool> covered(k.size, false);
        std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(k.engineBegin),
                    sizeof(reader::EngineSettings), true);
        for (const FieldInfo& field : k.fields)
            std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(field.offset), field.size,
                        true);
        std::vector<Span> spans;
        for (auto from = std::find(covered.begin(), covered.end(), false); from != covered.end();) {
            const auto to = std::find(from, covered.end(), true);
            spans.push_back({static_cast<std::size_t>(from - covered.begin()),
                             static_cast<std::size_t>(to - covered.begin())});
            from = std::find(to, covered.end(), false);
        }
        return spans;
    };
    static const std::vector<Span> vt = make(*documentKind("vt"));
    static const std::vector<Span> tn = make(*documentKind("5250"));
    return kind.program == reader::Program::Vt ? vt : tn;
}

Json engineObject(const DocumentKind& kind, std::span<const std::uint8_t> data,
                  std::span<const std::uint8_t> record) {
    std::vector<const reader::EngineOperation*> operations;
    for (const auto& op : reader::kEngineOperations)
        operations.push_back(&op);
    std::ranges::sort(operations, [&](const auto* a, const auto* b) {
        return reader::engineRunOffset(*a, kind.program) <
               reader::engineRunOffset(*b, kind.program);
    });
    Json engine = Json::object();
    for (const auto* op : operations) {
        const std::size_t end = kind.engineBegin + reader::engineRunOffset(*op, kind.program) +
                                4 * static_cast<std::size_t>(op->values);
        if (end > data.size()) continue;
        engine[std::string(op->name)] = jsonOf(fleet::readValue(kind, {nullptr, op}, record), {});
    }
    return engine;
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
    // A whole record to read values from; a short file shows only the fields it holds.
    std::vector<std::uint8_t> record(kind.size, 0);
    std::ranges::copy(data, record.begin());

    Json json;
    json["program"] = kind.name;
    json["fileBytes"] = file->fileBytes;
    json["documentBytes"] = kind.size;
    bool engineShown = false;
    Json textTails = Json::array();
    for (const FieldInfo& field : kind.fields) {
        if (!engineShown && field.offset > kind.engineBegin) {
            json["engine"] = engineObject(kind, data, record);
            engineShown = true;
        }
        if (field.offset + field.size > data.size()) continue;
        const fleet::RecordName name{&field, nullptr};
        json[std::string(field.name)] = jsonOf(fleet::readValue(kind, name, record), name);
        if (field.kind == FieldKind::Text) {
            auto bytes = data.subspan(field.offset, field.size);
            const std::size_t length = reader::fixedLength(bytes);
            auto tail = withoutTrailingZeros(bytes.subspan(length));
            if (!tail.empty()) {
                textTails.push_back({{"field", field.name},
                                     {"offset", field.offset + length},
                                     {"hex", hexOf(tail)}});
            }
        }
    }
    if (!engineShown) json["engine"] = engineObject(kind, data, record);

    Json reserved = Json::array();
    for (const Span& at : reservedSpans(kind)) {
        // A short file cuts the spans at its end.
        if (at.begin >= data.size()) break;
        auto span = data.subspan(at.begin, std::min(at.end, data.size()) - at.begin);
        if (std::ranges::all_of(span, [](std::uint8_t b) { return b == 0; })) continue;
        reserved.push_back({{"offset", at.begin}, {"size", span.size()}, {"hex", hexOf(span)}});
    }
    json["reserved"] = std::move(reserved);
    if (!textTails.empty()) json["textTails"] = std::move(textTails);
    if (file->fileBytes > kind.size) {
        json["trailing"] = {{"offset", kind.size},
                            {"bytes", file->fileBytes - kind.size},
                            {"hex", hexOf(all.subspan(data.size()))}};
    }
    out << json.dump(2, ' ', true) << "\n";
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
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = platform::hexDigit(text[i]), low = platform::hexDigit(text[i + 1]);
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
    // A name given twice in one object would leave the value applied to chance of order: refused.
    std::vector<std::set<std::string>> names;
    std::string twice;
    const Json::parser_callback_t watch = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) names.emplace_back();
        if (event == Json::parse_event_t::object_end && !names.empty()) names.pop_back();
        if (event == Json::parse_event_t::key && !names.empty() && twice.empty() &&
            !names.back().insert(parsed.get<std::string>()).second) {
            twice = parsed.get<std::string>();
        }
        return true;
    };
    try {
        json = Json::parse(text, watch);
    } catch (const Json::exception& e) {
        // A syntax error, or a number too large for any field (out_of_range while parsing).
        std::string what = e.what();
        // "[json.exception.parse_error.101] parse error at ...": the part after the tag.
        if (const std::size_t tag = what.find("] "); tag != std::string::npos)
            what.erase(0, tag + 2);
        return "not JSON: " + what;
    }
    if (!twice.empty()) return twice + ": given twice in one object";
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
