#include "vt/settings/vt_document.h"

template class qn::settings::SettingsDocument<qn::vt::VtSettings>;

namespace qn::vt {

VtDocument::VtDocument(VtSession& session, const reader::ReaderLibrary& reader,
                       platform::MessageBoxes& messages, std::filesystem::path settingsDir)
    : SettingsDocument(kVtDocumentRules, session, reader, messages, std::move(settingsDir)),
      session_(session) {}

void VtDocument::setDefaultSettings() {
    VtSettings& s = session_.settings;
    // The reader's part first: its library block and engine values, then its own defaults.
    resetReaderSettings();

    session_.localEchoActive = 1;
    session_.settingsSaved = 0;

    s.fontWidth = 8;
    s.fontHeight = 16;
    s.telnetPort.set(23);
    reader::storeText(s.hostAddress, "192.168.1.100");
    reader::storeText(s.loginName, "guest");
    reader::storeText(s.loginPassword, "");
    reader::storeText(s.loginPrompt, "login:");
    reader::storeText(s.passwordPrompt, "Password:");
    reader::storeText(s.terminalType, "vt100");
    s.autoSignOn = 0;
    s.autoConnect = 0;
    s.cursorTracking = 1;
    s.fullScreenOn.set(0);
    s.scrollBarsSetting.set(1);
    s.autoFullScreen.set(0);
    s.taskBarOnFullScreen.set(0);
    s.localEcho = 1;
    s.lineBuffer = 0;
    s.macroFrame.fill(0);
}

}  // namespace qn::vt
