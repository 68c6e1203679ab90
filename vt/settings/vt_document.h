#pragma once
// The VT settings document: the shared document flows on the VT image, with the VT program's
// names, its defaults and its rules (a save keeps the tail of a longer file; failed opens and
// saves are reported).

#include <filesystem>
#include <string_view>

#include "common/settings/settings_document.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

inline constexpr std::string_view kVtProgramName = "QuillNet_VT";
inline constexpr std::string_view kVtExtension = "qnvt";
inline constexpr std::string_view kVtFileFilter = "Qnvt Files (*.qnvt)|*.qnvt";

inline constexpr std::string_view kFileOpenFailed = "Failed to Open File!!";
inline constexpr std::string_view kSaveFileFailed = settings::kSaveFileFailed;

inline constexpr settings::DocumentRules kVtDocumentRules{
    .programName = kVtProgramName,
    .extension = kVtExtension,
    .saveMode = reader::WriteMode::KeepTail,
    .openFailed = kFileOpenFailed,
    .saveFailed = kSaveFileFailed,
    .configureSaveFailed = kSaveFileFailed,
    .saveAsFailed = kSaveFileFailed,
    .saveAsKeepsPathOnFailure = true,
    .syncUnchangedConfigure = false,
};

using settings::FileChooser;
using settings::Question;
using settings::StartupRequests;

using KeyMapInstaller = settings::SettingsDocument<VtSettings>::KeyMapInstaller;

}  // namespace qn::vt

extern template class qn::settings::SettingsDocument<qn::vt::VtSettings>;

namespace qn::vt {

class VtDocument final : public settings::SettingsDocument<VtSettings> {
  public:
    VtDocument(VtSession& session, const reader::ReaderLibrary& reader,
               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

    // The defaults of the image, the reader's among them, and of the run-time values.
    void setDefaultSettings();

  private:
    void restoreDefaults() override { setDefaultSettings(); }

    VtSession& session_;
};

}  // namespace qn::vt
