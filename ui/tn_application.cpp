#include "ui/tn_application.h"

#include "ui/connect_waiter.h"

#include "tn5250/dialogs/tn_key_dialogs.h"
#include "tn5250/dialogs/tn_settings_sheet.h"

namespace qn::ui {

const ShellLayout& TnApplication::layout() const {
    static const ShellLayout layout = standardLayout(tn::kTnProgramName, tn::kTnShortName,
                                                     QStringLiteral("TNKey"), tn::kTnFileFilter);
    return layout;
}

TnApplication::ScreenFields TnApplication::screenFields() const {
    tn::TnSession& session = program_->session();
    return {program_->sessionLock(), session.fullScreenOn, session.taskBarOnFullScreen};
}

std::unique_ptr<tn::TnProgram> TnApplication::makeProgram(CQuillNetTNView& view) {
    static QtConnectWaiter waiter;
    waiter.setOwner(&view);
    return std::make_unique<tn::TnProgram>(
        services_, options().settingsDir,
        tn::TnProgram::Views{view, [&view] { view.postKeyUpdate(true); }, &waiter});
}

void TnApplication::openSettingsSheet() {
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    const std::string model = program_->device().modelName();
    const int systemInfoDigit = program_->device().systemInfoDigit();
    tn::TnSettingsSheet sheet(program_->state(), program_->document(), program_->reader(),
                              services_.messages, [&](tn::TnSessionState& state) {
                                  return std::make_unique<tn::CDlgTNKeyMapping>(
                                      state.settings, model, systemInfoDigit);
                              });
    const bool ok = runSheet(sheet.open(context));
    sheet.finish(ok, reader::askWithMessageBox(services_.messages));
}

void TnApplication::openKeyPanel() {
    // Offered with or without a connection; the program decides what the function does.
    QtDialogRunner runner(frame());
    dialogs::DialogContext context = dialogContext(runner);
    tn::TnKeyPanel panel;
    panel.open(context);
    // Every key of the panel ends it: the strip has only the close button.
    DialogWindow(panel, frame(), DialogWindow::Strip::CloseOnly).run();
    if (const int function = panel.function(); function > 0)
        view_->postKeyUpdate(program_->runPanelFunction(function));
}

}  // namespace qn::ui
