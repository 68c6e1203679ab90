#pragma once
// The application object of a program on the shared shell: the steps and commands both
// programs carry out alike on their program object (connect, disconnect, the File menu, Set
// Config File, About, the decode message, the quit and the exit). Each program derives and adds
// its names, its view's creation, its settings sheet and its key panel.

#include <memory>
#include <optional>
#include <string>

#include "common/dialogs/shell_dialogs.h"
#include "ui/shell_application.h"

namespace qn::ui {

template <class Program, class View, class Frame>
class ProgramApplication : public ShellApplication {
  public:
    using ShellApplication::ShellApplication;

    Frame* frame() { return static_cast<Frame*>(shellWindow()); }
    Program* program() { return program_.get(); }

    bool commandEnabled(unsigned id) const override {
        return program_ ? program_->commandEnabled(id) : true;
    }

    void runCommand(unsigned id) override {
        namespace cmd = shell::command;
        if (!program_) return;
        switch (id) {
            case cmd::kConnect:
                program_->transport().connectSession();
                break;
            case cmd::kDisconnect:
                program_->transport().disconnectCommand();
                break;
            case cmd::kOpen:
                program_->document().open(program_->connected(), chooseOpen());
                refreshView();
                view_->viewport()->update();
                break;
            case cmd::kSave:
                program_->document().save();
                break;
            case cmd::kSaveAs:
                program_->document().saveAs(chooseSave());
                break;
            case cmd::kAbout:
                showAbout();
                break;
            case cmd::kConfigure:
                openSettingsSheet();
                refreshView();
                view_->viewport()->update();
                break;
            case cmd::kSetConfigFile:
                setConfigFile();
                break;
            case cmd::kKeyPanel:
                openKeyPanel();
                break;
            default:
                break;
        }
    }

    QStringList aboutLines() const override {
        const std::string version = program_ ? program_->aboutReaderVersion() : std::string();
        return {latin1(versionText()),
                latin1(shell::kReaderVersionLabel) + QLatin1Char(' ') + latin1(version)};
    }

  protected:
    // The About box's first line.
    virtual std::string_view versionText() const = 0;
    // The program object on the view it reports to.
    virtual std::unique_ptr<Program> makeProgram(View& view) = 0;
    // The settings sheet, run modally; the view is refreshed afterwards.
    virtual void openSettingsSheet() = 0;
    virtual void openKeyPanel() = 0;

    std::unique_ptr<CellView> createProgram() override {
        auto view = std::make_unique<View>();
        program_ = makeProgram(*view);
        view_ = view.get();
        return view;
    }
    bool startDevice() override { return program_->startDevice(); }
    std::unique_ptr<ShellWindow> createFrame(CellView*) override {
        auto frame = std::make_unique<Frame>(*this, view_);
        view_->attach(program_.get());
        return frame;
    }
    void setScreenMode(int mode) override { program_->device().setScreenMode(mode); }
    void refreshView() override {
        view_->rebuildFont();
        view_->applyScrollBarsSetting();
    }
    reader::StartupRequests loadAtStartup() override { return program_->loadAtStartup(); }
    void connectSession() override { program_->transport().connectSession(); }
    void handleMessage(platform::MessageId id, std::uintptr_t wParam) override {
        if (program_ && id == program_->decodeMessage()) program_->handleDecode(wParam);
    }
    bool confirmQuit() override { return program_ && program_->confirmQuit(); }
    void releaseProgram() override {
        if (view_ != nullptr) view_->attach(nullptr);
        if (program_) {
            program_->freeLibraries();
            program_.reset();
        }
    }

    void setConfigFile() {
        QtDialogRunner runner(frame());
        dialogs::DialogContext context = dialogContext(runner);
        dialogs::SetConfigFileDialog dialog(
            program_->document().currentSettingsPath(),
            [this, choose = chooseOpen()]() -> std::optional<std::string> {
                auto chosen = choose();
                if (!chosen) return std::nullopt;
                return program_->document().browsedPath(*chosen);
            });
        dialog.open(context);
        if (runner.runModal(dialog) != dialogs::DialogResult::Ok) return;
        program_->document().setConfigFile(dialog.path());
        refreshView();
        view_->viewport()->update();
    }

    // The view until the frame adopts it; then the frame's.
    View* view_ = nullptr;
    std::unique_ptr<Program> program_;
};

}  // namespace qn::ui
