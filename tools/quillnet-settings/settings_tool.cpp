#include "tools/quillnet-settings/settings_tool.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string_view>

#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_files.h"
#include "common/reader/settings_store.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/library.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/sound.h"
#include "tn5250/settings/tn_document.h"
#include "vt/settings/vt_document.h"

namespace qn::tools {

namespace {

using reader::FieldInfo;
using reader::FieldKind;

constexpr std::string_view kUsage =
    "usage: quillnet-settings vt|5250 dump FILE | new OUT | set FILE name=value ...";
// Bytes of a file beyond the document that dump shows as hex; the rest is only counted.
constexpr std::size_t kTrailingShown = 4096;

struct DocumentKind {
    std::string_view name;
    std::size_t size;
    std::span<const FieldInfo> fields;
    reader::Program program;
    std::size_t engineBegin;
};

std::optional<DocumentKind> documentKind(std::string_view name) {
    if (name == "vt") {
        return DocumentKind{"vt", vt::kVtSettingsSize, vt::vtSettingsFields(), reader::Program::Vt,
                            static_cast<std::size_t>(reader::kVtEngineBegin)};
    }
    if (name == "5250") {
        return DocumentKind{"5250", tn::kTnSessionSize, tn::tnSessionFields(), reader::Program::Tn,
                            static_cast<std::size_t>(reader::kTnEngineBegin)};
    }
    return std::nullopt;
}

// ---- JSON output

// The whole dump is one text, built piece by piece and written at once: a document of a few
// thousand bytes makes no string per field, span or value.
void appendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    char* to = out.data() + at;
    for (const std::uint8_t b : bytes) {
        *to++ = kDigits[b >> 4];
        *to++ = kDigits[b & 0x0F];
    }
}

// Texts are single bytes, not UTF-8: every byte outside printable ASCII is escaped by value.
void appendJsonString(std::string& out, std::string_view text) {
    auto plain = [](char c) {
        const auto b = static_cast<std::uint8_t>(c);
        return b >= 0x20 && b < 0x7F && b != '"' && b != '\\';
    };
    out += '"';
    // Stretches of plain characters at once; names and most texts are one stretch.
    for (auto p = text.begin(); p != text.end();) {
        const auto stop = std::find_if_not(p, text.end(), plain);
        out.append(p, stop);
        if (stop == text.end()) break;
        const auto b = static_cast<std::uint8_t>(*stop);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += *stop;
        } else {
            out += "\\u00";
            appendHex(out, std::span<const std::uint8_t>(&b, 1));
        }
        p = stop + 1;
    }
    out += '"';
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
        case FieldKind::I32: {
            reader::LeInt32 v;
            std::copy_n(bytes.begin(), 4, v.raw.begin());
            return v.get();
        }
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

struct ReadFile {
    std::vector<std::uint8_t> bytes;  // at most the document and kTrailingShown more
    std::uintmax_t fileBytes = 0;
};

std::optional<ReadFile> readDocumentFile(const std::string& path, std::size_t limit) {
    ReadFile file;
    file.bytes.resize(limit);
    std::optional<reader::FilePrefix> prefix = reader::readFilePrefix(path, file.bytes);
    if (!prefix) return std::nullopt;
    file.bytes.resize(prefix->count);
    file.fileBytes = std::max<std::uintmax_t>(prefix->fileBytes, prefix->count);
    return file;
}

// The top-level object of a dump: each member's value is appended to the text it returns.
class JsonDocument {
  public:
    explicit JsonDocument(std::size_t expected) {
        text_.reserve(expected);
        text_ = "{\n";
    }
    std::string& member(std::string_view key) {
        if (!first_) text_ += ",\n";
        first_ = false;
        text_ += "  ";
        appendJsonString(text_, key);
        text_ += ": ";
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

// The operations in the order their runs lie in the program's record, sorted once.
const std::vector<const reader::EngineOperation*>& operationsInRecordOrder(
    reader::Program program) {
    auto sorted = [](reader::Program p) {
        std::vector<const reader::EngineOperation*> ops;
        for (const auto& op : reader::kEngineOperations)
            ops.push_back(&op);
        std::sort(ops.begin(), ops.end(), [&](const auto* a, const auto* b) {
            return reader::engineRunOffset(*a, p) < reader::engineRunOffset(*b, p);
        });
        return ops;
    };
    static const std::vector<const reader::EngineOperation*> vt = sorted(reader::Program::Vt);
    static const std::vector<const reader::EngineOperation*> tn = sorted(reader::Program::Tn);
    return program == reader::Program::Vt ? vt : tn;
}

void appendEngineObject(std::string& text, const DocumentKind& kind,
                        std::span<const std::uint8_t> data) {
    bool first = true;
    text += '{';
    for (const auto* op : operationsInRecordOrder(kind.program)) {
        const auto values = static_cast<std::size_t>(op->values);
        const std::size_t offset = kind.engineBegin + reader::engineRunOffset(*op, kind.program);
        if (offset + 4 * values > data.size()) continue;
        text += first ? "\n    " : ",\n    ";
        first = false;
        appendJsonString(text, op->name);
        text += ": [";
        for (std::size_t i = 0; i < values; ++i) {
            if (i != 0) text += ", ";
            appendNumber(text, readNumber(data.subspan(offset + 4 * i, 4), FieldKind::I32));
        }
        text += ']';
    }
    text += first ? "}" : "\n  }";
}

// Whether a named field (or the engine settings) covers each byte of the document (1) or not
// (0): the same for every document of a kind, so made once.
const std::vector<std::uint8_t>& coveredBytes(const DocumentKind& kind) {
    auto mark = [](const DocumentKind& k) {
        std::vector<std::uint8_t> covered(k.size, 0);
        std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(k.engineBegin),
                    sizeof(reader::EngineSettings), 1);
        for (const FieldInfo& field : k.fields) {
            std::fill_n(covered.begin() + static_cast<std::ptrdiff_t>(field.offset), field.size, 1);
        }
        return covered;
    };
    static const std::vector<std::uint8_t> vt = mark(*documentKind("vt"));
    static const std::vector<std::uint8_t> tn = mark(*documentKind("5250"));
    return kind.program == reader::Program::Vt ? vt : tn;
}

int dump(const DocumentKind& kind, const std::string& path, std::ostream& out, std::ostream& err) {
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
    appendJsonString(json.member("program"), kind.name);
    appendNumber(json.member("fileBytes"), file->fileBytes);
    appendNumber(json.member("documentBytes"), kind.size);

    bool engineShown = false;
    std::string textTails;
    for (const FieldInfo& field : kind.fields) {
        if (!engineShown && field.offset > kind.engineBegin) {
            appendEngineObject(json.member("engine"), kind, data);
            engineShown = true;
        }
        if (field.offset + field.size > data.size()) continue;
        auto bytes = data.subspan(field.offset, field.size);
        appendFieldValue(json.member(field.name), field, bytes);
        if (field.kind == FieldKind::Text) {
            std::size_t length = reader::fixedLength(bytes);
            auto tail = withoutTrailingZeros(bytes.subspan(length));
            if (!tail.empty()) {
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
    if (!engineShown) appendEngineObject(json.member("engine"), kind, data);

    // Reserved spans: whatever no named field covers, shown when it is not all zero.
    std::string& reserved = json.member("reserved");
    reserved += '[';
    bool anyReserved = false;
    const std::vector<std::uint8_t>& covered = coveredBytes(kind);
    const auto coveredEnd = covered.begin() + static_cast<std::ptrdiff_t>(data.size());
    for (auto from = std::find(covered.begin(), coveredEnd, 0); from != coveredEnd;) {
        const auto to = std::find(from, coveredEnd, 1);
        const auto begin = static_cast<std::size_t>(from - covered.begin());
        const auto end = static_cast<std::size_t>(to - covered.begin());
        from = std::find(to, coveredEnd, 0);
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
        std::string& list = json.member("textTails");
        list += '[';
        list += textTails;
        list += "\n  ]";
    }
    if (file->fileBytes > kind.size) {
        std::string& trailing = json.member("trailing");
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

// ---- new

// Message boxes of a command-line tool: each text becomes a line on stderr.
class StderrMessageBoxes final : public platform::MessageBoxes {
  public:
    explicit StderrMessageBoxes(std::ostream& err) : err_(err) {}
    platform::MbResult show(std::string_view text, std::string_view, platform::MbButtons buttons,
                            platform::MbIcon) override {
        err_ << "quillnet-settings: " << text << "\n";
        return buttons == platform::MbButtons::YesNo || buttons == platform::MbButtons::YesNoCancel
                   ? platform::MbResult::No
                   : platform::MbResult::Ok;
    }

  private:
    std::ostream& err_;
};

class SilentSound final : public platform::SoundPlayer {
  public:
    void stop() override {}
    void playAsync(const std::filesystem::path&) override {}
};

int create(const DocumentKind& kind, const std::string& path, std::ostream& err,
           const std::filesystem::path& deviceRoot) {
    // Notes are kept back until the document is written: a failure gets one line of its own.
    std::ostringstream notes;
    StderrMessageBoxes messages(notes);
    platform::IniRegistry registry(deviceRoot / "registry.ini");
    platform::DlLibraryLoader loader;
    platform::BlockingMessageQueue queue;
    platform::SystemClock clock;
    SilentSound sound;
    platform::Services services{registry, loader, messages, queue, clock, sound, deviceRoot};
    reader::ReaderLibrary library(services);

    std::error_code ec;
    if (std::filesystem::exists(deviceRoot / reader::kReaderLibraryFile, ec) && library.load()) {
        library.initialise();
    } else {
        notes << "quillnet-settings: no reader library in " << deviceRoot.string()
              << "; the library's fields stay zero\n";
    }

    std::vector<std::uint8_t> record;
    const std::filesystem::path settingsDir = std::filesystem::path(path).parent_path();
    if (kind.program == reader::Program::Vt) {
        vt::VtSession session;
        vt::VtDocument document(session, library, messages, settingsDir);
        document.setDefaultSettings();
        record.assign(session.settings.bytes().begin(), session.settings.bytes().end());
    } else {
        tn::TnSessionState state;
        tn::TnDocument document(state, library, messages, settingsDir);
        document.applyDefaults();
        record.assign(state.settings.bytes().begin(), state.settings.bytes().end());
    }
    library.halt();
    if (auto released = library.releaseLibrary()) released->release();

    if (!reader::writeRecord(path, record, reader::WriteMode::Replace)) {
        err << "quillnet-settings: cannot write " << path << "\n";
        return kExitBadInput;
    }
    err << notes.str();
    return kExitOk;
}

// ---- set

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

// A number within [min, max], or the error that names the field and the range.
std::optional<std::string> parseNumber(std::string_view name, std::string_view text,
                                       std::int64_t min, std::int64_t max, std::int64_t& value) {
    std::optional<long long> parsed = platform::parseInteger(text);
    if (!parsed || *parsed < min || *parsed > max) {
        return std::string(name) + ": '" + std::string(text) + "' is not a number in " +
               std::to_string(min) + ".." + std::to_string(max);
    }
    value = *parsed;
    return std::nullopt;
}

std::optional<std::string> setField(const FieldInfo& field, std::string_view text,
                                    std::span<std::uint8_t> record) {
    auto bytes = record.subspan(field.offset, field.size);
    switch (field.kind) {
        case FieldKind::Text:
            reader::storeText(bytes, text);
            return std::nullopt;
        case FieldKind::Bytes: {
            std::optional<std::vector<std::uint8_t>> parsed = parseHex(text);
            if (!parsed) {
                return std::string(field.name) + ": '" + std::string(text) +
                       "' is not hex bytes (two hex digits per byte)";
            }
            if (parsed->size() > field.size) {
                return std::string(field.name) + ": " + std::to_string(parsed->size()) +
                       " bytes given, the field holds " + std::to_string(field.size);
            }
            reader::storeBytes(bytes, *parsed);
            return std::nullopt;
        }
        default: {
            std::int64_t value = 0;
            if (auto error = parseNumber(field.name, text, field.min, field.max, value)) {
                return error;
            }
            for (std::size_t i = 0; i < field.size; ++i) {
                bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
            }
            return std::nullopt;
        }
    }
}

// Engine values by operation: "Name=v1,v2,..." (the whole run) or "Name[i]=v" (0-based).
std::optional<std::string> setEngine(const DocumentKind& kind, const reader::EngineOperation& op,
                                     std::optional<std::size_t> index, std::string_view text,
                                     std::span<std::uint8_t> record) {
    const auto count = static_cast<std::size_t>(op.values);
    std::size_t offset = kind.engineBegin + reader::engineRunOffset(op, kind.program);
    std::vector<std::string_view> parts;
    if (index) {
        if (*index >= count) {
            return std::string(op.name) + ": index " + std::to_string(*index) +
                   " is out of range 0.." + std::to_string(count - 1);
        }
        offset += 4 * *index;
        parts.push_back(text);
    } else {
        for (std::size_t start = 0;;) {
            std::size_t comma = text.find(',', start);
            parts.push_back(text.substr(start, comma - start));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (parts.size() != count) {
            return std::string(op.name) + ": " + std::to_string(parts.size()) +
                   " values given, the operation has " + std::to_string(count);
        }
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::int64_t value = 0;
        if (auto error = parseNumber(op.name, parts[i], INT32_MIN, INT32_MAX, value)) return error;
        reader::LeInt32 encoded;
        encoded.set(static_cast<std::int32_t>(value));
        std::copy_n(encoded.raw.begin(), 4,
                    record.begin() + static_cast<std::ptrdiff_t>(offset + 4 * i));
    }
    return std::nullopt;
}

std::optional<std::string> applyAssignment(const DocumentKind& kind, std::string_view assignment,
                                           std::span<std::uint8_t> record) {
    std::size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return "'" + std::string(assignment) + "' is not name=value";
    }
    std::string_view name = assignment.substr(0, equals);
    std::string_view value = assignment.substr(equals + 1);
    for (const FieldInfo& field : kind.fields) {
        if (field.name == name) return setField(field, value, record);
    }
    std::optional<std::size_t> index;
    std::string_view opName = name;
    if (std::size_t bracket = name.find('['); bracket != std::string_view::npos) {
        std::optional<long long> parsed;
        if (name.back() == ']') {
            parsed = platform::parseInteger(name.substr(bracket + 1, name.size() - bracket - 2));
        }
        if (!parsed || *parsed < 0) return "'" + std::string(name) + "' has no valid index";
        index = static_cast<std::size_t>(*parsed);
        opName = name.substr(0, bracket);
    }
    if (const reader::EngineOperation* op = reader::findEngineOperation(opName)) {
        return setEngine(kind, *op, index, value, record);
    }
    return "unknown field '" + std::string(name) + "' in a " + std::string(kind.name) + " document";
}

int set(const DocumentKind& kind, const std::string& path, std::span<const std::string> assignments,
        std::ostream& err) {
    if (assignments.empty()) {
        err << "quillnet-settings: set needs at least one name=value\n";
        return kExitBadInput;
    }
    std::optional<ReadFile> file = readDocumentFile(path, kind.size);
    if (!file) {
        err << "quillnet-settings: cannot read " << path << "\n";
        return kExitBadInput;
    }
    if (file->bytes.size() < kind.size) {
        err << "quillnet-settings: " << path << " has " << file->fileBytes
            << " bytes, too few for a " << kind.name << " document of " << kind.size << "\n";
        return kExitBadInput;
    }
    // Every assignment is checked before anything is written.
    for (const std::string& assignment : assignments) {
        if (auto error = applyAssignment(kind, assignment, file->bytes)) {
            err << "quillnet-settings: " << *error << "\n";
            return kExitBadInput;
        }
    }
    if (!reader::writeRecord(path, file->bytes, reader::WriteMode::KeepTail)) {
        err << "quillnet-settings: cannot write " << path << "\n";
        return kExitBadInput;
    }
    return kExitOk;
}

}  // namespace

int runSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::filesystem::path& deviceRoot) {
    if (args.size() < 3) {
        err << kUsage << "\n";
        return kExitBadInput;
    }
    std::optional<DocumentKind> kind = documentKind(args[0]);
    if (!kind) {
        err << "quillnet-settings: unknown program '" << args[0] << "' (vt or 5250)\n";
        return kExitBadInput;
    }
    const std::string& command = args[1];
    const std::string& path = args[2];
    if (command == "dump" && args.size() == 3) return dump(*kind, path, out, err);
    if (command == "new" && args.size() == 3) return create(*kind, path, err, deviceRoot);
    if (command == "set") {
        return set(*kind, path, std::span<const std::string>(args).subspan(3), err);
    }
    err << kUsage << "\n";
    return kExitBadInput;
}

}  // namespace qn::tools
