#include "ui/tn_application.h"

#include "common/dialogs/shell_dialogs.h"
#include "tn5250/dialogs/tn_settings_sheet.h"
#include "ui/file_dialogs.h"

namespace qn::ui {

namespace cmd = tn::command;

TnApplication::TnApplication(platform::Services& services, QtMessageQueue& queue,
                             QtMessageBoxes* messages, ShellOptions options)
    : ShellApplication(services, queue, messages, std::move(options)) {}

TnApplication::~TnApplication() {
    finish();
}

const ShellLayout& TnApplication::layout() const {
    static const ShellLayout layout = standardLayout(tn::kTnProgramName, tn::kTnShortName,
                                                     QStringLiteral("TNKey"), tn::kTnFileFilter);
    return layout;
}

bool TnApplication::commandEnabled(unsigned id) const {
    return program_ ? program_->commandEnabled(id) : true;
}

TnApplication::ScreenFields TnApplication::screenFields() const {
    return {program_->sessionLock(), program_->session().fullScreenOn,
            program_->session().taskBarOnFullScreen};
}

std::unique_ptr<CellView> TnApplication::createProgram() {
    auto view = std::make_unique<CQuillNetTNView>();
    CQuillNetTNView* viewPtr = view.get();
    program_ = std::make_unique<tn::TnProgram>(
        services_, options().settingsDir,
        tn::TnProgram::Views{*viewPtr, [viewPtr] { viewPtr->postKeyUpdate(true); }});
    view_ = viewPtr;
    return view;
}

std::unique_ptr<ShellWindow> TnApplication::createFrame(CellView*) {
    auto frame = std::make_unique<CQuillNetTNFrom>(*this, view_);
    view_->attach(program_.get());
    return frame;
}

void TnApplication::refreshView() {
    view_->rebuildFont();
    view_->applyScrollBarsSetting();
}

void TnApplication::handleMessage(platform::MessageId id, std::uintptr_t wParam) {
    if (program_ && id == program_->decodeMessage()) program_->handleDecode(wParam);
}

void TnApplication::releaseProgram() {
    if (view_ != nullptr) view_->attach(nullptr);
    if (program_) {
        program_->freeLibraries();
        program_.reset();
    }
}

void TnApplication::runCommand(unsigned id) {
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
            view_->update();
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
            break;
        case cmd::kSetConfigFile:
            setConfigFile();
            break;
        case cmd::kTnKey:
            openKeyPanel();
            break;
        default:
            break;
    }
}

void TnApplication::openSettingsSheet() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    tn::TnSettingsSheet sheet(program_->state(), program_->document(),
                              program_->device().modelName(), program_->device().systemInfoDigit());
    const bool ok = runSheet(sheet.open(context));
    sheet.finish(ok, reader::askWithMessageBox(services_.messages));
    refreshView();
    view_->viewport()->update();
}

void TnApplication::setConfigFile() {
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

void TnApplication::openKeyPanel() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    tn::TnKeyPanel panel;
    panel.open(context);
    runner.runModal(panel);
    if (const int function = panel.function(); function > 0)
        view_->postKeyUpdate(program_->runPanelFunction(function));
}

QStringList TnApplication::aboutLines() const {
    const std::string version = program_ ? program_->aboutReaderVersion() : std::string();
    return {latin1(tn::kTnVersionText),
            latin1(tn::kReaderVersionLabel) + QLatin1Char(' ') + latin1(version)};
}

}  // namespace qn::ui
