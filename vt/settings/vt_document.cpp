#include "vt/settings/vt_document.h"

#include <algorithm>

#include "common/reader/settings_files.h"
#include "common/reader/settings_store.h"

namespace qn::vt {

VtDocument::VtDocument(VtSession& session, const reader::ReaderLibrary& reader,
                       platform::MessageBoxes& messages, std::filesystem::path settingsDir)
    : session_(session),
      reader_(reader),
      messages_(messages),
      settingsDir_(std::move(settingsDir)) {
    reader::DocumentPaths paths = reader::documentPaths(settingsDir_, kVtProgramName, kVtExtension);
    defaultSettingsPath_ = std::move(paths.defaultSettingsPath);
    pointerFilePath_ = std::move(paths.pointerFilePath);
    currentSettingsPath_ = defaultSettingsPath_;
}

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

bool VtDocument::loadSettings(const std::string& path) {
    if (!reader::readRecordPrefix(path, session_.settings.bytes())) return false;
    syncEngineSettings(reader::kWriteToLibrary);
    return true;
}

bool VtDocument::saveSettings(const std::string& path) {
    reader::prepareSettingsDir(settingsDir_, path);
    // Only a complete write counts as saved.
    if (!reader::writeRecord(path, session_.settings.bytes(), reader::WriteMode::KeepTail)) {
        return false;
    }
    session_.settingsSaved = 1;
    return true;
}

StartupRequests VtDocument::loadAtStartup() {
    currentSettingsPath_ = defaultSettingsPath_;
    if (std::optional<std::string> configured = reader::readPointerFile(pointerFilePath_)) {
        currentSettingsPath_ = *configured;
        session_.settingsLoaded = loadSettings(currentSettingsPath_) ? 1 : 0;
        if (session_.settingsLoaded == 0) messages_.show(reader::kConfigurationOpenFailed);
    } else {
        session_.settingsLoaded = loadSettings(defaultSettingsPath_) ? 1 : 0;
    }
    const VtSettings& s = session_.settings;
    StartupRequests requests;
    requests.connect = s.autoConnect != 0;
    requests.fullScreen = requests.connect && s.autoFullScreen.get() != 0;
    return requests;
}

void VtDocument::open(bool connected, const FileChooser& chooseFile) {
    if (connected) {
        messages_.show(reader::kShutOffConnectionFirst);
        return;
    }
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    currentSettingsPath_ = reader::completeExtension(*chosen, kVtExtension);
    if (!loadSettings(currentSettingsPath_)) {
        messages_.show(kFileOpenFailed);
        setDefaultSettings();
    }
}

void VtDocument::save() {
    if (!saveSettings(currentSettingsPath_)) messages_.show(kSaveFileFailed);
}

void VtDocument::saveAs(const FileChooser& chooseFile) {
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    std::string path = reader::completeExtension(*chosen, kVtExtension);
    if (saveSettings(path)) {
        currentSettingsPath_ = std::move(path);
    } else {
        messages_.show(kSaveFileFailed);
    }
}

void VtDocument::setConfigFile(std::string_view enteredPath) {
    currentSettingsPath_ = enteredPath.empty() ? defaultSettingsPath_ : std::string(enteredPath);
    loadSettings(currentSettingsPath_);
    reader::prepareSettingsDir(settingsDir_, pointerFilePath_);
    reader::writePointerFile(pointerFilePath_, currentSettingsPath_);
}

std::string VtDocument::browsedPath(std::string chosen) const {
    return reader::completeExtension(std::move(chosen), kVtExtension);
}

VtSettings VtDocument::beginConfigure(const KeyMapInstaller& installDefaultKeyMap) {
    VtSettings before = session_.settings;
    if (session_.settingsLoaded == 0) {
        if (installDefaultKeyMap) installDefaultKeyMap(session_.settings);
        session_.settingsLoaded = 1;
    }
    return before;
}

void VtDocument::finishConfigure(const VtSettings& before, bool sheetOk, const Question& askSave) {
    if (!sheetOk) return;
    if (std::ranges::equal(before.bytes(), session_.settings.bytes())) return;
    session_.settingsSaved = 0;
    if (askSave && askSave(reader::saveChangeQuestion(currentSettingsPath_)) &&
        !saveSettings(currentSettingsPath_)) {
        messages_.show(kSaveFileFailed);
    }
    syncEngineSettings(reader::kWriteToLibrary);
}

void VtDocument::syncEngineSettings(char mode) {
    reader::syncEngineSettings(reader_, readerSettings(session_.settings), mode);
}

void VtDocument::resetReaderSettings() {
    reader::resetReaderSettings(reader_, messages_, readerSettings(session_.settings));
}

}  // namespace qn::vt
