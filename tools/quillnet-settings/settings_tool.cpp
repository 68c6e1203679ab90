#include "tools/quillnet-settings/settings_tool.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string_view>

#include "common/cli/cli.h"
#include "common/fleet/config_code.h"
#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_files.h"
#include "common/reader/settings_store.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/library.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/sound.h"
#include "tn5250/settings/tn_document.h"
#include "tools/quillnet-settings/qr_image.h"
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
            // A cut text would be a different host, user or command than the one asked for.
            if (text.size() > field.size) {
                return std::string(field.name) + ": " + std::to_string(text.size()) +
                       " bytes given, the field holds " + std::to_string(field.size);
            }
            reader::storeText(bytes, text);
            return std::nullopt;
        case FieldKind::Bytes: {
            std::optional<std::vector<std::uint8_t>> parsed = bytesOfHex(text);
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

// ---- apply

// Writes the whole file beside the document and renames it over: a failure leaves the document
// as it was.
bool replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path temp = target;
    temp += ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::permissions(temp, fs::status(target, ec).permissions(), ec);
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

// The longest document file apply rewrites: the record and what a file may carry behind it.
constexpr std::size_t kMaxDocumentFile = 16 << 20;

int apply(const DocumentKind& kind, const std::string& path, const std::string& jsonPath,
          std::ostream& err) {
    std::optional<ReadFile> json = readDocumentFile(jsonPath, kMaxJsonBytes);
    if (!json) {
        err << "quillnet-settings: cannot read " << jsonPath << "\n";
        return kExitBadInput;
    }
    if (json->fileBytes > kMaxJsonBytes) {
        err << "quillnet-settings: " << jsonPath << ": " << json->fileBytes
            << " bytes, more than the " << kMaxJsonBytes << " a settings JSON may have\n";
        return kExitBadInput;
    }
    std::optional<ReadFile> file = readDocumentFile(path, kMaxDocumentFile);
    if (!file || file->fileBytes > kMaxDocumentFile) {
        err << "quillnet-settings: cannot read " << path << "\n";
        return kExitBadInput;
    }
    if (file->bytes.size() < kind.size) {
        err << "quillnet-settings: " << path << " has " << file->fileBytes
            << " bytes, too few for a " << kind.name << " document of " << kind.size << "\n";
        return kExitBadInput;
    }
    std::optional<std::vector<std::uint8_t>> trailing;
    const std::string_view text(reinterpret_cast<const char*>(json->bytes.data()),
                                json->bytes.size());
    if (auto error = applyJson(kind, text, std::span(file->bytes).first(kind.size), trailing)) {
        err << "quillnet-settings: " << jsonPath << ": " << *error << "\n";
        return kExitBadInput;
    }
    if (trailing) {
        file->bytes.resize(kind.size);
        file->bytes.insert(file->bytes.end(), trailing->begin(), trailing->end());
    }
    if (!replaceFile(path, file->bytes)) {
        err << "quillnet-settings: cannot write " << path << "\n";
        return kExitBadInput;
    }
    return kExitOk;
}

// ---- barcode

struct BarcodeOptions {
    std::vector<std::string> fields;
    std::string out;
    bool sign = false;
    std::string keyFile;
};

int barcode(const DocumentKind& kind, const std::string& path, const BarcodeOptions& options,
            std::ostream& out, std::ostream& err) {
    std::optional<ReadFile> file = readDocumentFile(path, kind.size);
    if (!file || file->bytes.size() < kind.size) {
        err << "quillnet-settings: cannot read a " << kind.name << " document from " << path
            << "\n";
        return kExitBadInput;
    }
    std::vector<std::size_t> names;
    for (const std::string& field : options.fields) {
        std::optional<std::size_t> index = fleet::indexOf(kind, field);
        if (!index) {
            err << "quillnet-settings: unknown field '" << field << "' in a " << kind.name
                << " document\n";
            return kExitBadInput;
        }
        if (std::ranges::find(names, *index) == names.end()) names.push_back(*index);
    }
    if (names.empty()) {
        // Everything but what only the operator should know.
        for (std::size_t i = 0; i < fleet::nameCount(kind); ++i) {
            if (!fleet::isSecret(fleet::nameAt(kind, i))) names.push_back(i);
        }
    }
    fleet::SiteKey key;
    if (!options.keyFile.empty()) {
        key = fleet::readKeyFile(options.keyFile);
    } else if (options.sign) {
        key = fleet::readKeyFile(platform::settingsDir() / fleet::kSiteKeyFile);
    }
    if (!key.error.empty()) {
        err << "quillnet-settings: " << key.error << "\n";
        return kExitBadInput;
    }
    fleet::EncodedCodes codes = fleet::encodeConfigCodes(kind, file->bytes, names, key.bytes);
    if (!codes.error.empty()) {
        err << "quillnet-settings: " << codes.error << "\n";
        return kExitBadInput;
    }
    const std::filesystem::path target(options.out);
    for (std::size_t k = 0; k < codes.codes.size(); ++k) {
        std::filesystem::path picture = target;
        if (codes.codes.size() > 1) {
            picture.replace_filename(target.stem().string() + "-" + std::to_string(k + 1) +
                                     target.extension().string());
        }
        if (auto error = writeQrCode(codes.codes[k], picture)) {
            err << "quillnet-settings: " << picture.string() << ": " << *error << "\n";
            return kExitBadInput;
        }
        out << picture.string() << "\n";
    }
    return kExitOk;
}

}  // namespace

// The parser and the places it writes to: each run starts them all afresh.
struct SettingsTool::CommandLine {
    CLI::App app{"Shows, creates and changes the settings documents of both programs."};
    std::string program, command, path, jsonPath;
    std::vector<std::string> assignments;
    BarcodeOptions barcodeOptions;

    CommandLine() {
        cli::prepare(app, "quillnet-settings");
        app.require_subcommand(1);
        for (const char* name : {"vt", "5250"}) {
            CLI::App* kind =
                app.add_subcommand(name, std::string("A ") + name + " settings document");
            kind->require_subcommand(1);
            kind->callback([this, name] { program = name; });
            auto add = [&](const char* commandName, const char* description) {
                CLI::App* sub = kind->add_subcommand(commandName, description);
                sub->callback([this, commandName] { command = commandName; });
                sub->add_option("DOC", path, "The settings document")->required();
                return sub;
            };
            add("dump", "Print the document as JSON");
            add("new", "Write a document with the program's defaults");
            add("set", "Change fields: name=value, Name=v1,v2,... or Name[i]=v")
                ->add_option("assignments", assignments, "name=value ...")
                ->required();
            add("apply", "Set every field a JSON file names, in the names and forms dump prints")
                ->add_option("JSON", jsonPath, "The JSON file")
                ->required();
            CLI::App* codes =
                add("barcode", "Write QR codes that configure a device when it scans them");
            codes->add_option("FIELD", barcodeOptions.fields,
                              "The fields to carry (all but the password when none are named)");
            codes
                ->add_option("--out", barcodeOptions.out,
                             "The picture: NAME.png or NAME.svg (NAME-k.EXT for part k of several)")
                ->required();
            codes->add_flag("--sign", barcodeOptions.sign,
                            "Sign with the site key of the settings folder");
            codes->add_option("--key", barcodeOptions.keyFile, "Sign with this key file");
        }
    }

    // An option that is not given leaves its place as the last run left it.
    void clear() {
        app.clear();
        program.clear();
        command.clear();
        path.clear();
        jsonPath.clear();
        assignments.clear();
        barcodeOptions = {};
    }
};

SettingsTool::SettingsTool(std::filesystem::path deviceRoot)
    : commandLine_(std::make_unique<CommandLine>()), deviceRoot_(std::move(deviceRoot)) {}

SettingsTool::~SettingsTool() = default;

int SettingsTool::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandLine& line = *commandLine_;
    line.clear();
    if (std::optional<int> status = cli::parse(line.app, args, out, err)) return *status;

    const DocumentKind kind = *documentKind(line.program);
    if (line.command == "dump") return dumpDocument(kind, line.path, out, err);
    if (line.command == "new") return create(kind, line.path, err, deviceRoot_);
    if (line.command == "set") return set(kind, line.path, line.assignments, err);
    if (line.command == "apply") return apply(kind, line.path, line.jsonPath, err);
    return barcode(kind, line.path, line.barcodeOptions, out, err);
}

int runSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::filesystem::path& deviceRoot) {
    return SettingsTool(deviceRoot).run(args, out, err);
}

}  // namespace qn::tools
