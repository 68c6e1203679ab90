#include "ui/vt_application.h"

#include "ui/file_dialogs.h"
#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::ui {

namespace cmd = vt::command;

VtApplication::VtApplication(platform::Services& services, QtMessageQueue& queue,
                             QtMessageBoxes* messages, ShellOptions options)
    : ShellApplication(services, queue, messages, std::move(options)) {}

VtApplication::~VtApplication() {
    finish();
}

const ShellLayout& VtApplication::layout() const {
    static const ShellLayout layout = standardLayout(vt::kVtProgramName, vt::kVtShortName,
                                                     QStringLiteral("VTKey"), vt::kVtFileFilter);
    return layout;
}

bool VtApplication::commandEnabled(unsigned id) const {
    return program_ ? program_->commandEnabled(id) : true;
}

VtApplication::ScreenFields VtApplication::screenFields() const {
    return {program_->sessionLock(), program_->session().settings.fullScreenOn,
            program_->session().settings.taskBarOnFullScreen};
}

std::unique_ptr<CellView> VtApplication::createProgram() {
    auto view = std::make_unique<CQuillNet_VTView>();
    CQuillNet_VTView* viewPtr = view.get();
    vt::VtProgram::Views views{*viewPtr, *viewPtr, *viewPtr,
                               [viewPtr] { viewPtr->viewport()->update(); }};
    program_ = std::make_unique<vt::VtProgram>(services_, options().settingsDir, views);
    view_ = viewPtr;
    return view;
}

std::unique_ptr<ShellWindow> VtApplication::createFrame(CellView*) {
    auto frame = std::make_unique<CQuillNet_VTFrom>(*this, view_);
    view_->attach(program_.get());
    return frame;
}

void VtApplication::refreshView() {
    view_->rebuildFont();
    view_->applyScrollBarsSetting();
}

void VtApplication::handleMessage(platform::MessageId id, std::uintptr_t wParam) {
    if (program_ && id == program_->decodeMessage()) program_->handleDecode(wParam);
}

void VtApplication::releaseProgram() {
    if (view_ != nullptr) view_->attach(nullptr);
    if (program_) {
        program_->freeLibraries();
        program_.reset();
    }
}

void VtApplication::runCommand(unsigned id) {
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
            view_->rebuildFont();
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
        case cmd::kVtKey:
            openKeyPanel();
            break;
        default:
            break;
    }
}

void VtApplication::openSettingsSheet() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtSettingsSheet sheet(program_->session(), program_->document(),
                              program_->device().modelName(), program_->device().systemInfoDigit());
    const bool ok = runSheet(sheet.open(context));
    sheet.finish(ok, reader::askWithMessageBox(services_.messages));
    refreshView();
    view_->update();
}

void VtApplication::setConfigFile() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    vt::SetConfigFileDialog dialog(program_->document().currentSettingsPath(),
                                   [this, choose = chooseOpen()]() -> std::optional<std::string> {
                                       auto chosen = choose();
                                       if (!chosen) return std::nullopt;
                                       return program_->document().browsedPath(*chosen);
                                   });
    dialog.open(context);
    if (runner.runModal(dialog) != dialogs::DialogResult::Ok) return;
    program_->document().setConfigFile(dialog.path());
    refreshView();
}

void VtApplication::openKeyPanel() {
    // Only while connected; otherwise the command does nothing.
    if (!program_->connected()) return;
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtKeyPanel panel;
    panel.open(context);
    runner.runModal(panel);
    // The panel's keys go through the key map like real keys.
    if (const int key = panel.virtualKey(); key != 0) program_->keyboard().keyDown(key);
}

QStringList VtApplication::aboutLines() const {
    const std::string version = program_ ? program_->aboutReaderVersion() : std::string();
    return {latin1(vt::kVtVersionText),
            latin1(vt::kReaderVersionLabel) + QLatin1Char(' ') + latin1(version)};
}

}  // namespace qn::ui
