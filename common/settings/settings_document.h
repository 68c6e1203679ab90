#pragma once
// The settings document of both programs: the session record saved and loaded byte for byte,
// where the document lives, the pointer file that names it, the File menu flows and the save
// question after Configure. A program gives its names and the few rules in which the two
// differ; the UI supplies the dialogs' results and every message goes through the platform's
// message boxes.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/reader/reader_library.h"
#include "common/reader/settings_files.h"
#include "common/reader/settings_store.h"
#include "common/settings/session_state.h"
#include "platform/message_box.h"

namespace qn::settings {

using reader::FileChooser;
using reader::Question;
using reader::StartupRequests;

inline constexpr std::string_view kSaveFileFailed = "Save file fialed!";

// What one program's document is called and how its flows answer failures.
struct DocumentRules {
    std::string_view programName;
    std::string_view extension;
    // How a save meets a longer existing file.
    reader::WriteMode saveMode;
    // Shown when Open cannot read the chosen file, which then also restores the defaults; empty:
    // a failed Open is neither reported nor undone.
    std::string_view openFailed;
    // Shown when Save cannot write the file; empty: silent.
    std::string_view saveFailed;
    // Shown when the save the operator asked for after Configure cannot write the file.
    std::string_view configureSaveFailed;
    // Shown when Save As cannot write the file.
    std::string_view saveAsFailed;
    // Save As makes the chosen path current only once the record was written to it.
    bool saveAsKeepsPathOnFailure;
    // Configure ending with OK gives the engine values to the library even when nothing changed.
    bool syncUnchangedConfigure;
};

// Record: a fixed-layout settings record with bytes(), autoConnect and autoFullScreen, whose
// reader settings readerSettings(Record&) names.
template <class Record>
class SettingsDocument {
  public:
    // Installs the default key map into the record (the keyboard's own defaults).
    using KeyMapInstaller = std::function<void(Record&)>;

    SettingsDocument(const DocumentRules& rules, SessionState<Record>& session,
                     const reader::ReaderLibrary& reader, platform::MessageBoxes& messages,
                     std::filesystem::path settingsDir);
    virtual ~SettingsDocument() = default;
    SettingsDocument(const SettingsDocument&) = delete;
    SettingsDocument& operator=(const SettingsDocument&) = delete;

    const std::string& defaultSettingsPath() const { return defaultSettingsPath_; }
    const std::string& pointerFilePath() const { return pointerFilePath_; }
    const std::string& currentSettingsPath() const { return currentSettingsPath_; }

    // True when the file could be opened; its first bytes (up to the record's size) replace the
    // record's, and the engine values go to the reader library.
    bool loadSettings(const std::string& path);
    // True when the whole record was written.
    bool saveSettings(const std::string& path);

    // The document named by the pointer file, else the default document.
    StartupRequests loadAtStartup();

    // File menu.
    void open(bool connected, const FileChooser& chooseFile);
    void save();
    void saveAs(const FileChooser& chooseFile);
    // OK of "Set Config File" with the entered path.
    void setConfigFile(std::string_view enteredPath);
    // The path that the "..." button of "Set Config File" puts into the edit box.
    std::string browsedPath(std::string chosen) const;

    // Configure: the record as it was before the sheet opened.
    Record beginConfigure(const KeyMapInstaller& installDefaultKeyMap);
    // After the sheet: a changed record asks whether to save, then goes to the reader library.
    void finishConfigure(const Record& before, bool sheetOk, const Question& askSave);

    // The reader settings of the record against the library.
    void syncEngineSettings(char mode);
    void resetReaderSettings();
    // The library the record's reader settings go to, and the boxes its messages use: the
    // engine dialogs of the settings sheet need both.
    const reader::ReaderLibrary& reader() const { return reader_; }
    platform::MessageBoxes& messages() const { return messages_; }

  protected:
    // The program's defaults, after an Open that could not read its file.
    virtual void restoreDefaults() = 0;
    void setCurrentSettingsPath(std::string path) { currentSettingsPath_ = std::move(path); }
    SessionState<Record>& session() { return session_; }

  private:
    void report(std::string_view text) {
        if (!text.empty()) messages_.show(text);
    }

    const DocumentRules& rules_;
    SessionState<Record>& session_;
    const reader::ReaderLibrary& reader_;
    platform::MessageBoxes& messages_;
    std::filesystem::path settingsDir_;
    std::string defaultSettingsPath_;
    std::string pointerFilePath_;
    std::string currentSettingsPath_;
};

template <class Record>
SettingsDocument<Record>::SettingsDocument(const DocumentRules& rules,
                                           SessionState<Record>& session,
                                           const reader::ReaderLibrary& reader,
                                           platform::MessageBoxes& messages,
                                           std::filesystem::path settingsDir)
    : rules_(rules),
      session_(session),
      reader_(reader),
      messages_(messages),
      settingsDir_(std::move(settingsDir)) {
    reader::DocumentPaths paths =
        reader::documentPaths(settingsDir_, rules_.programName, rules_.extension);
    defaultSettingsPath_ = std::move(paths.defaultSettingsPath);
    pointerFilePath_ = std::move(paths.pointerFilePath);
    currentSettingsPath_ = defaultSettingsPath_;
}

template <class Record>
bool SettingsDocument<Record>::loadSettings(const std::string& path) {
    if (!reader::readRecordPrefix(path, session_.settings.bytes())) return false;
    syncEngineSettings(reader::kWriteToLibrary);
    return true;
}

template <class Record>
bool SettingsDocument<Record>::saveSettings(const std::string& path) {
    reader::prepareSettingsDir(settingsDir_, path);
    // Only a complete write counts as saved.
    if (!reader::writeRecord(path, session_.settings.bytes(), rules_.saveMode)) return false;
    session_.settingsSaved = 1;
    return true;
}

template <class Record>
StartupRequests SettingsDocument<Record>::loadAtStartup() {
    currentSettingsPath_ = defaultSettingsPath_;
    if (std::optional<std::string> configured = reader::readPointerFile(pointerFilePath_)) {
        currentSettingsPath_ = *configured;
        session_.settingsLoaded = loadSettings(currentSettingsPath_) ? 1 : 0;
        if (session_.settingsLoaded == 0) messages_.show(reader::kConfigurationOpenFailed);
    } else {
        session_.settingsLoaded = loadSettings(defaultSettingsPath_) ? 1 : 0;
    }
    const Record& r = session_.settings;
    StartupRequests requests;
    requests.connect = r.autoConnect != 0;
    requests.fullScreen = requests.connect && r.autoFullScreen.get() != 0;
    return requests;
}

template <class Record>
void SettingsDocument<Record>::open(bool connected, const FileChooser& chooseFile) {
    if (connected) {
        messages_.show(reader::kShutOffConnectionFirst);
        return;
    }
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    currentSettingsPath_ = reader::completeExtension(*chosen, rules_.extension);
    if (!loadSettings(currentSettingsPath_) && !rules_.openFailed.empty()) {
        messages_.show(rules_.openFailed);
        restoreDefaults();
    }
}

template <class Record>
void SettingsDocument<Record>::save() {
    if (!saveSettings(currentSettingsPath_)) report(rules_.saveFailed);
}

template <class Record>
void SettingsDocument<Record>::saveAs(const FileChooser& chooseFile) {
    std::optional<std::string> chosen = chooseFile ? chooseFile() : std::nullopt;
    if (!chosen) return;
    std::string path = reader::completeExtension(*chosen, rules_.extension);
    if (!rules_.saveAsKeepsPathOnFailure) currentSettingsPath_ = path;
    if (saveSettings(path)) {
        currentSettingsPath_ = std::move(path);
    } else {
        report(rules_.saveAsFailed);
    }
}

template <class Record>
void SettingsDocument<Record>::setConfigFile(std::string_view enteredPath) {
    currentSettingsPath_ = enteredPath.empty() ? defaultSettingsPath_ : std::string(enteredPath);
    loadSettings(currentSettingsPath_);
    reader::prepareSettingsDir(settingsDir_, pointerFilePath_);
    reader::writePointerFile(pointerFilePath_, currentSettingsPath_);
}

template <class Record>
std::string SettingsDocument<Record>::browsedPath(std::string chosen) const {
    return reader::completeExtension(std::move(chosen), rules_.extension);
}

template <class Record>
Record SettingsDocument<Record>::beginConfigure(const KeyMapInstaller& installDefaultKeyMap) {
    Record before = session_.settings;
    if (session_.settingsLoaded == 0) {
        if (installDefaultKeyMap) installDefaultKeyMap(session_.settings);
        session_.settingsLoaded = 1;
    }
    return before;
}

template <class Record>
void SettingsDocument<Record>::finishConfigure(const Record& before, bool sheetOk,
                                               const Question& askSave) {
    if (!sheetOk) return;
    if (std::ranges::equal(before.bytes(), session_.settings.bytes())) {
        if (rules_.syncUnchangedConfigure) syncEngineSettings(reader::kWriteToLibrary);
        return;
    }
    session_.settingsSaved = 0;
    // A failed save leaves the record changed and unsaved.
    if (askSave && askSave(reader::saveChangeQuestion(currentSettingsPath_)) &&
        !saveSettings(currentSettingsPath_)) {
        report(rules_.configureSaveFailed);
    }
    syncEngineSettings(reader::kWriteToLibrary);
}

template <class Record>
void SettingsDocument<Record>::syncEngineSettings(char mode) {
    reader::syncEngineSettings(reader_, readerSettings(session_.settings), mode);
}

template <class Record>
void SettingsDocument<Record>::resetReaderSettings() {
    reader::resetReaderSettings(reader_, messages_, readerSettings(session_.settings));
}

}  // namespace qn::settings
