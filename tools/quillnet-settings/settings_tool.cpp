#include "tools/quillnet-settings/settings_tool.h"

#include <algorithm>
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
#include "tools/quillnet-settings/settings_dump.h"
#include "vt/settings/vt_document.h"

namespace qn::tools {

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

std::optional<ReadFile> readDocumentFile(const std::string& path, std::size_t limit) {
    ReadFile file;
    file.bytes.resize(limit);
    std::optional<reader::FilePrefix> prefix = reader::readFilePrefix(path, file.bytes);
    if (!prefix) return std::nullopt;
    file.bytes.resize(prefix->count);
    file.fileBytes = std::max<std::uintmax_t>(prefix->fileBytes, prefix->count);
    return file;
}

namespace {

using reader::FieldInfo;
using reader::FieldKind;

constexpr std::string_view kUsage =
    "usage: quillnet-settings vt|5250 dump FILE | new OUT | set FILE name=value ...";

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
    if (command == "dump" && args.size() == 3) return dumpDocument(*kind, path, out, err);
    if (command == "new" && args.size() == 3) return create(*kind, path, err, deviceRoot);
    if (command == "set") {
        return set(*kind, path, std::span<const std::string>(args).subspan(3), err);
    }
    err << kUsage << "\n";
    return kExitBadInput;
}

}  // namespace qn::tools
