#pragma once
// The 5250 settings document: defaults, where the document lives, loading and saving it, the
// framework's document open, and the File menu flows around them. The UI supplies the dialogs'
// results; every message goes through the platform's message boxes.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "common/reader/reader_library.h"
#include "common/reader/settings_files.h"
#include "platform/message_box.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

inline constexpr std::string_view kTnProgramName = "QuillNetTN";
inline constexpr std::string_view kTnExtension = "qntn";
inline constexpr std::string_view kTnFileFilter = "Qntn Files (*.qntn)|*.qntn";
// The first five bytes of a document that the framework open accepts.
inline constexpr std::string_view kDocumentTag = "eI100";

inline constexpr std::string_view kWrongFileFormat = "Wrong file format, load failed!";
inline constexpr std::string_view kCreateFileFailed = "Create file fialed!";

using reader::FileChooser;
using reader::Question;
using reader::StartupRequests;

// Installs the default key map into the record (the keyboard's own defaults).
using KeyMapInstaller = std::function<void(TnSession&)>;

class TnDocument {
  public:
    TnDocument(TnSessionState& state, const reader::ReaderLibrary& reader,
               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

    const std::string& defaultSettingsPath() const { return defaultSettingsPath_; }
    const std::string& pointerFilePath() const { return pointerFilePath_; }
    const std::string& currentSettingsPath() const { return currentSettingsPath_; }

    // The defaults of the record, the reader's among them.
    void applyDefaults();
    // True when the file could be opened; its first bytes (up to 3144) replace the record's.
    bool loadSettings(const std::string& path);
    // The framework's open: only a file of exactly 3144 bytes that carries the tag.
    bool openDocument(const std::string& path);
    // True when the whole record was written; the file then holds exactly the record.
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

    // Configure (editSettings): the record as it was before the sheet opened.
    TnSession beginConfigure(const KeyMapInstaller& installDefaultKeyMap);
    // After the sheet: a changed record asks whether to save; every OK gives the reader values
    // to the library.
    void finishConfigure(const TnSession& before, bool sheetOk, const Question& askSave);

    // The reader settings of the record against the library.
    void syncEngineSettings(char mode);
    void resetReaderSettings();

  private:
    TnSessionState& state_;
    const reader::ReaderLibrary& reader_;
    platform::MessageBoxes& messages_;
    std::filesystem::path settingsDir_;
    std::string defaultSettingsPath_;
    std::string pointerFilePath_;
    std::string currentSettingsPath_;
};

}  // namespace qn::tn
