#include "ui/vt_application.h"

#include "ui/connect_waiter.h"

#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::ui {

const ShellLayout& VtApplication::layout() const {
    static const ShellLayout layout = standardLayout(vt::kVtProgramName, vt::kVtShortName,
                                                     QStringLiteral("VTKey"), vt::kVtFileFilter);
    return layout;
}

VtApplication::ScreenFields VtApplication::screenFields() const {
    vt::VtSettings& settings = program_->session().settings;
    return {program_->sessionLock(), settings.fullScreenOn, settings.taskBarOnFullScreen};
}

std::unique_ptr<vt::VtProgram> VtApplication::makeProgram(CQuillNet_VTView& view) {
    static QtConnectWaiter waiter;
    waiter.setOwner(&view);
    vt::VtProgram::Views views{view, view, view, [&view] { view.viewport()->update(); }, &waiter};
    return std::make_unique<vt::VtProgram>(services_, options().settingsDir, views);
}

void VtApplication::openSettingsSheet() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtSettingsSheet sheet(program_->session(), program_->document(), program_->reader(),
                              services_.messages, program_->device().modelName(),
                              program_->device().systemInfoDigit(), program_->connected());
    const bool ok = runSheet(sheet.open(context));
    sheet.finish(ok, reader::askWithMessageBox(services_.messages));
}

void VtApplication::openKeyPanel() {
    // Only while connected; otherwise the command does nothing.
    if (!program_->connected()) return;
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtKeyPanel panel;
    panel.open(context);
    // Every key of the panel ends it: the strip has only the close button.
    DialogWindow(panel, frame(), DialogWindow::Strip::CloseOnly).run();
    // The panel's keys go through the key map like real keys.
    if (const int key = panel.virtualKey(); key != 0) program_->keyboard().keyDown(key);
}

}  // namespace qn::ui
