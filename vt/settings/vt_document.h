#pragma once
// The VT settings document: defaults, where the document lives, loading and saving it, and the
// File menu flows around it. The UI supplies the dialogs' results; every message goes through
// the platform's message boxes.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/reader/reader_library.h"
#include "common/reader/settings_files.h"
#include "platform/message_box.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

inline constexpr std::string_view kVtProgramName = "QuillNet_VT";
inline constexpr std::string_view kVtExtension = "qnvt";
inline constexpr std::string_view kVtFileFilter = "Qnvt Files (*.qnvt)|*.qnvt";

inline constexpr std::string_view kFileOpenFailed = "Failed to Open File!!";
inline constexpr std::string_view kSaveFileFailed = "Save file fialed!";

using reader::FileChooser;
using reader::Question;
using reader::StartupRequests;

// Installs the default key map into the image (the keyboard's own defaults).
using KeyMapInstaller = std::function<void(VtSettings&)>;

class VtDocument {
  public:
    VtDocument(VtSession& session, const reader::ReaderLibrary& reader,
               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

    const std::string& defaultSettingsPath() const { return defaultSettingsPath_; }
    const std::string& pointerFilePath() const { return pointerFilePath_; }
    const std::string& currentSettingsPath() const { return currentSettingsPath_; }

    // The defaults of the image, the reader's among them, and of the run-time values.
    void setDefaultSettings();
    // True when the file could be opened; its first bytes (up to 3120) replace the image's.
    bool loadSettings(const std::string& path);
    // True when the whole image was written; a longer existing file keeps its tail.
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

    // Configure: the image as it was before the sheet opened.
    VtSettings beginConfigure(const KeyMapInstaller& installDefaultKeyMap);
    // After the sheet: a changed image asks whether to save, then goes to the reader library.
    void finishConfigure(const VtSettings& before, bool sheetOk, const Question& askSave);

    // The reader settings of the image against the library.
    void syncEngineSettings(char mode);
    void resetReaderSettings();
    // The library the record's reader settings go to, and the message boxes it reports with.
    const reader::ReaderLibrary& reader() const { return reader_; }
    platform::MessageBoxes& messages() const { return messages_; }

  private:
    VtSession& session_;
    const reader::ReaderLibrary& reader_;
    platform::MessageBoxes& messages_;
    std::filesystem::path settingsDir_;
    std::string defaultSettingsPath_;
    std::string pointerFilePath_;
    std::string currentSettingsPath_;
};

}  // namespace qn::vt
