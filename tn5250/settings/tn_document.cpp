#include "tn5250/settings/tn_document.h"

#include <algorithm>
#include <array>

template class qn::settings::SettingsDocument<qn::tn::TnSession>;

namespace qn::tn {

TnDocument::TnDocument(TnSessionState& state, const reader::ReaderLibrary& reader,
                       platform::MessageBoxes& messages, std::filesystem::path settingsDir)
    : SettingsDocument(kTnDocumentRules, state, reader, messages, std::move(settingsDir)) {}

void TnDocument::applyDefaults() {
    TnSession& r = session().settings;
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

bool TnDocument::openDocument(const std::string& path) {
    // One byte more than a document: a longer file shows itself by filling it.
    std::array<std::uint8_t, kTnSessionSize + 1> buffer{};
    std::optional<std::size_t> n = reader::readRecordPrefix(path, buffer);
    if (!n || *n != kTnSessionSize) return false;
    if (!std::equal(kDocumentTag.begin(), kDocumentTag.end(), buffer.begin())) {
        messages().show(kWrongFileFormat, {}, platform::MbButtons::Ok, platform::MbIcon::Stop);
        return false;
    }
    std::copy_n(buffer.begin(), kTnSessionSize, session().settings.bytes().begin());
    setCurrentSettingsPath(path);
    // A loaded record's reader values belong in the library, as after every other load.
    syncEngineSettings(reader::kWriteToLibrary);
    return true;
}

}  // namespace qn::tn
