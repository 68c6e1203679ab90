#pragma once
// The 5250 settings document: the shared document flows on the 5250 record, with the 5250
// program's names, its defaults and its rules (a save replaces the file; only Save As reports a
// failure), and the framework's document open, which accepts only a tagged document.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/settings/settings_document.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

inline constexpr std::string_view kTnProgramName = "QuillNetTN";
inline constexpr std::string_view kTnExtension = "qntn";
inline constexpr std::string_view kTnFileFilter = "Qntn Files (*.qntn)|*.qntn";
// The first five bytes of a document that the framework open accepts.
inline constexpr std::string_view kDocumentTag = "eI100";

inline constexpr std::string_view kWrongFileFormat = "Wrong file format, load failed!";
inline constexpr std::string_view kCreateFileFailed = "Create file fialed!";

inline constexpr settings::DocumentRules kTnDocumentRules{
    .programName = kTnProgramName,
    .extension = kTnExtension,
    // A longer file left behind would no longer pass the framework open.
    .saveMode = reader::WriteMode::Replace,
    .openFailed = {},
    .saveFailed = {},
    // The operator asked for this save: a failure is said, not dropped.
    .configureSaveFailed = settings::kSaveFileFailed,
    .saveAsFailed = kCreateFileFailed,
    .saveAsKeepsPathOnFailure = false,
    .syncUnchangedConfigure = true,
};

using settings::FileChooser;
using settings::Question;
using settings::StartupRequests;

using KeyMapInstaller = settings::SettingsDocument<TnSession>::KeyMapInstaller;

}  // namespace qn::tn

extern template class qn::settings::SettingsDocument<qn::tn::TnSession>;

namespace qn::tn {

class TnDocument final : public settings::SettingsDocument<TnSession> {
  public:
    TnDocument(TnSessionState& state, const reader::ReaderLibrary& reader,
               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

    // The defaults of the record, the reader's among them.
    void applyDefaults();
    // The framework's open: only a file of exactly 3144 bytes that carries the tag.
    bool openDocument(const std::string& path);

  private:
    // A failed Open keeps the record as it is.
    void restoreDefaults() override {}
};

}  // namespace qn::tn
