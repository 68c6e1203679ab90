#include "tools/quillnet-dialogs/dialogs_tool.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "common/dialogs/engine/engine_dialogs.h"
#include "common/reader/reader_library.h"
#include "platform/clock.h"
#include "platform/library.h"
#include "platform/message_queue.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/sound.h"
#include "tn5250/settings/tn_settings.h"
#include "vt/settings/vt_settings.h"

namespace qn::tools {

namespace {

using dialogs::Control;
using dialogs::ControlClass;

constexpr const char* kUsage =
    "usage: quillnet-dialogs list\n"
    "       quillnet-dialogs show vt|5250 CLASS [--settings FILE] [--reader-type MASK]\n"
    "                        [--screen 1|2] [--click ID] [--select ID=N] [--text ID=TEXT]\n"
    "                        [--ok] [--out FILE]\n";

std::optional<long long> number(std::string_view text) {
    long long value = 0;
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The lines a dialog shows: one per control, in dialog order.
void describe(const dialogs::Dialog& dialog, std::ostream& out) {
    out << "caption \"" << dialog.caption() << "\" " << dialog.rect().width << "x"
        << dialog.rect().height << "\n";
    for (const Control& c : dialog.controls()) {
        out << c.id << " " << dialogs::className(c.kind);
        if (!c.text.empty() || c.kind == ControlClass::Edit) out << " \"" << c.text << "\"";
        if (c.kind == ControlClass::CheckBox) out << (c.checked ? " checked" : " unchecked");
        if (c.kind == ControlClass::ComboBox) {
            out << " selected " << c.selected;
            if (c.selected >= 0 && c.selected < static_cast<int>(c.items.size()))
                out << " \"" << c.items[static_cast<std::size_t>(c.selected)] << "\"";
        }
        if (!c.enabled) out << " disabled";
        if (!c.visible) out << " hidden";
        out << " at " << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height
            << "\n";
    }
}

class SilentSound final : public platform::SoundPlayer {
  public:
    void stop() override {}
    void playAsync(const std::filesystem::path&) override {}
};

// The device root's reader library, for "Reset"; left unloaded when the root has none, and
// "Reset" then falls back as the program does on a library without defaults.
struct Reader {
    Reader(const std::filesystem::path& root, platform::MessageBoxes& messages)
        : registry(root / "registry.ini"), services{registry, loader, messages, queue,
                                                    clock,    sound,  root} {
        std::error_code ec;
        if (!root.empty() && std::filesystem::exists(root / reader::kReaderLibraryFile, ec) &&
            library.load())
            library.initialise();
    }
    ~Reader() {
        library.halt();
        if (auto released = library.releaseLibrary()) released->release();
    }
    platform::IniRegistry registry;
    platform::DlLibraryLoader loader;
    platform::BlockingMessageQueue queue;
    platform::SystemClock clock;
    SilentSound sound;
    platform::Services services;
    reader::ReaderLibrary library{services};
};

class NoNestedDialogs final : public dialogs::DialogRunner {
  public:
    dialogs::DialogResult runModal(dialogs::Dialog&) override {
        return dialogs::DialogResult::Cancel;
    }
};

// The operator's action "ID=VALUE".
bool split(const std::string& arg, int& id, std::string& value) {
    const auto at = arg.find('=');
    if (at == std::string::npos) return false;
    auto parsed = number(std::string_view(arg).substr(0, at));
    if (!parsed) return false;
    id = static_cast<int>(*parsed);
    value = arg.substr(at + 1);
    return true;
}

template <class Record>
int show(Record& record, std::span<const reader::FieldInfo> fields,
         const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const std::filesystem::path& deviceRoot) {
    const dialogs::DialogTable* table = dialogs::engines::findEngineTable(args[2]);
    if (table == nullptr) {
        err << "no dialog " << args[2] << "\n";
        return 2;
    }
    platform::RecordingMessageBoxes messages;
    Reader reader(deviceRoot, messages);
    // Only what "Reset" reports is the tool's to pass on.
    messages.clear();
    NoNestedDialogs runner;
    dialogs::DialogContext context{messages, runner, 1};
    dialogs::TableEnvironment environment =
        dialogs::engines::engineEnvironment(record, fields, &reader.library, messages);
    std::string outFile;
    bool ok = false;
    // Options that shape the opening come first; actions run on the open dialog in order.
    for (std::size_t i = 3; i + 1 < args.size(); ++i) {
        if (args[i] == "--reader-type") {
            environment.readerType = static_cast<std::uint32_t>(number(args[i + 1]).value_or(0));
        } else if (args[i] == "--screen") {
            context.screenMode = args[i + 1] == "2" ? 2 : 1;
        }
    }
    dialogs::TableDialog dialog(*table, environment);
    dialog.open(context);
    try {
        for (std::size_t i = 3; i < args.size(); ++i) {
            const std::string& option = args[i];
            const bool hasValue = i + 1 < args.size();
            int id = 0;
            std::string value;
            if (option == "--ok") {
                ok = true;
            } else if (!hasValue) {
                err << kUsage;
                return 2;
            } else if (option == "--settings" || option == "--reader-type" ||
                       option == "--screen") {
                ++i;
            } else if (option == "--out") {
                outFile = args[++i];
            } else if (option == "--click") {
                dialog.click(static_cast<int>(number(args[++i]).value_or(0)));
            } else if (option == "--select" && split(args[i + 1], id, value)) {
                ++i;
                dialog.select(id, static_cast<int>(number(value).value_or(-1)));
            } else if (option == "--text" && split(args[i + 1], id, value)) {
                ++i;
                dialog.setText(id, value);
            } else {
                err << kUsage;
                return 2;
            }
        }
    } catch (const std::out_of_range&) {
        err << "no such control\n";
        return 2;
    }
    if (ok && !dialog.pressOk()) {
        describe(dialog, out);
        for (const auto& text : messages.texts())
            err << text << "\n";
        return 1;
    }
    describe(dialog, out);
    for (const auto& text : messages.texts())
        err << text << "\n";
    if (!outFile.empty()) {
        std::ofstream file(outFile, std::ios::binary | std::ios::trunc);
        const auto bytes = record.bytes();
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            err << "cannot write " << outFile << "\n";
            return 1;
        }
    }
    return 0;
}

// The settings document's bytes into the record: as many as it has, at most the record's.
bool load(std::span<std::uint8_t> record, const std::vector<std::string>& args, std::ostream& err) {
    for (std::size_t i = 3; i + 1 < args.size(); ++i) {
        if (args[i] != "--settings") continue;
        std::ifstream file(args[i + 1], std::ios::binary);
        if (!file) {
            err << "cannot read " << args[i + 1] << "\n";
            return false;
        }
        std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
        std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    }
    return true;
}

}  // namespace

int runDialogsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::filesystem::path& deviceRoot) {
    if (args.size() == 1 && args[0] == "list") {
        for (const auto& table : dialogs::engines::engineTables())
            out << table.className << " \"" << table.caption << "\"\n";
        return 0;
    }
    if (args.size() < 3 || args[0] != "show" || (args[1] != "vt" && args[1] != "5250")) {
        err << kUsage;
        return 2;
    }
    if (args[1] == "vt") {
        auto record = std::make_unique<vt::VtSettings>();
        if (!load(record->bytes(), args, err)) return 1;
        return show(*record, vt::vtSettingsFields(), args, out, err, deviceRoot);
    }
    auto record = std::make_unique<tn::TnSession>();
    if (!load(record->bytes(), args, err)) return 1;
    return show(*record, tn::tnSessionFields(), args, out, err, deviceRoot);
}

}  // namespace qn::tools
