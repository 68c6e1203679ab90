#include "vt/scan/vt_config_scan.h"

#include <algorithm>

namespace qn::vt {

fleet::RecordLayout vtRecordLayout() {
    return {"vt", kVtSettingsSize, vtSettingsFields(), reader::Program::Vt,
            static_cast<std::size_t>(reader::kVtEngineBegin)};
}

fleet::ConfigScan vtConfigScan(VtSession& session, std::mutex& sessionLock, VtDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir,
                               bool saveDocument) {
    auto current = [&session, &sessionLock] {
        std::lock_guard lock(sessionLock);
        return std::vector<std::uint8_t>(session.settings.bytes().begin(),
                                         session.settings.bytes().end());
    };
    auto commit = [&session, &sessionLock, &document,
                   saveDocument](std::span<const std::uint8_t> record) {
        VtSettings before;
        {
            std::lock_guard lock(sessionLock);
            before = session.settings;
            std::ranges::copy(record, session.settings.bytes().begin());
        }
        // As OK on the settings sheet: saved when the document has a name, then the engine
        // values go to the reader library.
        document.finishConfigure(before, true, [&document, saveDocument](std::string_view) {
            return saveDocument && !document.currentSettingsPath().empty();
        });
    };
    return {vtRecordLayout(), messages, std::move(settingsDir), current, commit};
}

}  // namespace qn::vt
