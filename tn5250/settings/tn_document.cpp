#include "tn5250/settings/tn_document.h"

#include <algorithm>
#include <array>

#include "common/reader/settings_store.h"

namespace qn::tn {

TnDocument::TnDocument(TnSessionState& state, const reader::ReaderLibrary& reader,
                       platform::MessageBoxes& messages, std::filesystem::path settingsDir)
    : state_(state), reader_(reader), messages_(messages), settingsDir_(std::move(settingsDir)) {
    reader::DocumentPaths paths = reader::documentPaths(settingsDir_, kTnProgramName, kTnExtension);
    defaultSettingsPath_ = std::move(paths.defaultSettingsPath);
    pointerFilePath_ = std::move(paths.pointerFilePath);
    currentSettingsPath_ = defaultSettingsPath_;
}

void TnDocument::applyDefaults() {
    TnSession& r = state_.record;
    resetReaderSettings();

    // The tag stays unset: only documents that carry it pass the framework open.
    r.lastFieldSuffix = 0;
    r.otherFieldSuffix = 0;
    r.triggerByHostCmd = 0;
    reader::storeText(r.deviceName, "");
    reader::storeText(r.hostAddress, "192.168.1.100");
    r.telnetPort.set(23);
    reader::storeText(r.loginName, "guest");
    reader::storeText(r.loginPassword, "");
    r.language = 0;
    r.cursorTracking = 1;
    r.autoSignOn = 0;
    r.overLengthRule = 0;
    r.fontHeight = 16;
    r.fontWidth = 8;
    r.useDeviceName = 1;
    r.autoConnect = 0;
    r.fullScreenOn.set(0);
    r.taskBarOnFullScreen.set(0);
    r.autoFullScreen.set(0);
}

bool TnDocument::loadSettings(const std::string& path) {
    if (!reader::readRecordPrefix(path, state_.record.bytes())) return false;
    syncEngineSettings(reader::kWriteToLibrary);
    return true;
}

bool TnDocument::openDocument(const std::string& path) {
    // One byte more than a document: a longer file shows itself by filling it.
    std::array<std::uint8_t, kTnSessionSize + 1> buffer{};
    std::optional<std::size_t> n = reader::readRecordPrefix(path, buffer);
    if (!n || *n != kTnSessionSize) return false;
    if (!std::equal(kDocumentTag.begin(), kDocumentTag.end(), buffer.begin())) {
        messages_.show(kWrongFileFormat, {}, platform::MbButtons::Ok, platform::MbIcon::Stop);
        return false;
    }
    std::copy_n(buffer.begin(), kTnSessionSize, state_.record.bytes().begin());
    currentSettingsPath_ = path;
    // A loaded record's reader values belong in the library, as after every other load.
    syncEngineSettings(reader::kWriteToLibrary);
    return true;
}

bool TnDocument::saveSettings(const std::string& path) {
    reader::prepareSettingsDir(settingsDir_, path);
    // A longer file left behind would no longer pass the framework open.
    if (!reader::writeRecord(path, state_.record.bytes(), reader::WriteMode::Replace)) {
        return false;
    }
    state_.settingsSaved = 1;
    return true;
}

StartupRequests TnDocument::loadAtStartup() {
    currentSettingsPath_ = defaultSettingsPath_;
    if (std::optional<std::string> configured = reader::readPointerFile(pointerFilePath_)) {
        currentSettingsPath_ = *configured;
        state_.settingsLoaded = loadSettings(currentSettingsPath_) ? 1 : 0;
        if (state_.settingsLoaded == 0) messages_.show(reader::kConfigurationOpenFailed);
    } else {
        state_.settingsLoaded = loadSettings(defaultSettingsPath_) ? 1 : 0;
    }
    const TnSession& r = state_.record;
    StartupRequests requests;
    requests.connect = r.autoConnect != 0;
    requests.fullScreen = requests.connect && r.autoFullScreen.get() != 0;
    return requests;
}

void TnDocument::open(bool connected, const FileChooser& chooseFile) {
    if (connected) {
        messages_.show(reader::kShutOffConnectionFirst);
        return;
    }
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    currentSettingsPath_ = reader::completeExtension(*chosen, kTnExtension);
    loadSettings(currentSettingsPath_);
}

void TnDocument::save() {
    saveSettings(currentSettingsPath_);
}

void TnDocument::saveAs(const FileChooser& chooseFile) {
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    currentSettingsPath_ = reader::completeExtension(*chosen, kTnExtension);
    if (!saveSettings(currentSettingsPath_)) messages_.show(kCreateFileFailed);
}

void TnDocument::setConfigFile(std::string_view enteredPath) {
    currentSettingsPath_ = enteredPath.empty() ? defaultSettingsPath_ : std::string(enteredPath);
    loadSettings(currentSettingsPath_);
    reader::prepareSettingsDir(settingsDir_, pointerFilePath_);
    reader::writePointerFile(pointerFilePath_, currentSettingsPath_);
}

std::string TnDocument::browsedPath(std::string chosen) const {
    return reader::completeExtension(std::move(chosen), kTnExtension);
}

TnSession TnDocument::beginConfigure(const KeyMapInstaller& installDefaultKeyMap) {
    TnSession before = state_.record;
    if (state_.settingsLoaded == 0) {
        if (installDefaultKeyMap) installDefaultKeyMap(state_.record);
        state_.settingsLoaded = 1;
    }
    return before;
}

void TnDocument::finishConfigure(const TnSession& before, bool sheetOk, const Question& askSave) {
    if (!sheetOk) return;
    if (!std::ranges::equal(before.bytes(), state_.record.bytes())) {
        state_.settingsSaved = 0;
        // A save that fails here is dropped silently; the record still counts as changed.
        if (askSave && askSave(reader::saveChangeQuestion(currentSettingsPath_))) {
            saveSettings(currentSettingsPath_);
        }
    }
    syncEngineSettings(reader::kWriteToLibrary);
}

void TnDocument::syncEngineSettings(char mode) {
    reader::syncEngineSettings(reader_, readerSettings(state_.record), mode);
}

void TnDocument::resetReaderSettings() {
    reader::resetReaderSettings(reader_, messages_, readerSettings(state_.record));
}

}  // namespace qn::tn
