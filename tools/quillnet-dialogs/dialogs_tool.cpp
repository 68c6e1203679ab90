#include "tools/quillnet-dialogs/dialogs_tool.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "common/cli/cli.h"
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

constexpr int kExitUsage = 2;

// The command line of "show": the options that shape the opening, then the operator's actions
// in the order given.
struct ShowCommand {
    std::string program, className;
    std::optional<std::string> settings;
    std::string readerType, screen, outFile;
    bool ok = false;
    enum class Action { Click, Select, Text };
    std::vector<std::pair<Action, std::string>> actions;
};

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
int show(Record& record, std::span<const reader::FieldInfo> fields, const ShowCommand& command,
         std::ostream& out, std::ostream& err, const std::filesystem::path& deviceRoot) {
    const dialogs::DialogTable* table = dialogs::engines::findEngineTable(command.className);
    if (table == nullptr) {
        err << "no dialog " << command.className << "\n";
        return kExitUsage;
    }
    platform::RecordingMessageBoxes messages;
    Reader reader(deviceRoot, messages);
    // Only what "Reset" reports is the tool's to pass on.
    messages.clear();
    NoNestedDialogs runner;
    dialogs::DialogContext context{messages, runner, 1};
    dialogs::TableEnvironment environment =
        dialogs::engines::engineEnvironment(record, fields, &reader.library, messages);
    if (!command.readerType.empty())
        environment.readerType = static_cast<std::uint32_t>(number(command.readerType).value_or(0));
    if (!command.screen.empty()) context.screenMode = command.screen == "2" ? 2 : 1;
    const std::string& outFile = command.outFile;
    const bool ok = command.ok;
    dialogs::TableDialog dialog(*table, environment);
    dialog.open(context);
    try {
        for (const auto& [action, argument] : command.actions) {
            int id = 0;
            std::string value;
            if (action == ShowCommand::Action::Click) {
                dialog.click(static_cast<int>(number(argument).value_or(0)));
            } else if (split(argument, id, value) && action == ShowCommand::Action::Select) {
                dialog.select(id, static_cast<int>(number(value).value_or(-1)));
            } else if (split(argument, id, value)) {
                dialog.setText(id, value);
            }
        }
    } catch (const std::out_of_range&) {
        err << "no such control\n";
        return kExitUsage;
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
bool load(std::span<std::uint8_t> record, const std::optional<std::string>& path,
          std::ostream& err) {
    if (!path) return true;
    std::ifstream file(*path, std::ios::binary);
    if (!file) {
        err << "cannot read " << *path << "\n";
        return false;
    }
    std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    return true;
}

}  // namespace

int runDialogsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::filesystem::path& deviceRoot) {
    CLI::App app(
        "The engine and symbology dialogs without a display: lists them, or opens one "
        "on a settings document, applies the actions given in order and shows every "
        "control.");
    cli::prepare(app, "quillnet-dialogs");
    app.require_subcommand(1);
    // An option given twice counts with its last value; the actions are all taken, in order.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::App* list = app.add_subcommand("list", "List the dialogs with their captions");
    CLI::App* showApp = app.add_subcommand("show", "Open a dialog and show its controls");
    ShowCommand command;
    showApp->add_option("PROGRAM", command.program, "Whose settings document: vt or 5250")
        ->required()
        ->check(CLI::IsMember({"vt", "5250"}));
    showApp->add_option("CLASS", command.className, "The dialog's class name (see list)")
        ->required();
    showApp->add_option("--settings", command.settings, "Open on this settings document")
        ->type_name("FILE");
    showApp->add_option("--reader-type", command.readerType, "The reader type the dialog sees")
        ->type_name("MASK");
    showApp->add_option("--screen", command.screen, "The screen mode")->type_name("1|2");
    auto action = [&](const char* name, ShowCommand::Action kind, const char* typeName,
                      const char* description) {
        CLI::Option* option = showApp
                                  ->add_option_function<std::string>(
                                      name,
                                      [&command, kind](const std::string& value) {
                                          command.actions.emplace_back(kind, value);
                                      },
                                      description)
                                  ->type_name(typeName)
                                  ->trigger_on_parse()
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        if (kind != ShowCommand::Action::Click) {
            option->check(CLI::Validator(
                [](std::string& value) -> std::string {
                    int id = 0;
                    std::string rest;
                    return split(value, id, rest) ? "" : "needs ID=VALUE";
                },
                ""));
        }
    };
    action("--click", ShowCommand::Action::Click, "ID", "Click a button or check box");
    action("--select", ShowCommand::Action::Select, "ID=N", "Select item N of a combo box");
    action("--text", ShowCommand::Action::Text, "ID=TEXT", "Type TEXT into an edit box");
    showApp->add_flag("--ok", command.ok, "Confirm the dialog");
    showApp->add_option("--out", command.outFile, "Write the record to FILE")->type_name("FILE");
    if (std::optional<int> status = cli::parse(app, args, out, err, kExitUsage)) return *status;

    if (list->parsed()) {
        for (const auto& table : dialogs::engines::engineTables())
            out << table.className << " \"" << table.caption << "\"\n";
        return 0;
    }
    if (command.program == "vt") {
        auto record = std::make_unique<vt::VtSettings>();
        if (!load(record->bytes(), command.settings, err)) return 1;
        return show(*record, vt::vtSettingsFields(), command, out, err, deviceRoot);
    }
    auto record = std::make_unique<tn::TnSession>();
    if (!load(record->bytes(), command.settings, err)) return 1;
    return show(*record, tn::tnSessionFields(), command, out, err, deviceRoot);
}

}  // namespace qn::tools
