#include "tn5250/scan/tn_config_scan.h"

#include <algorithm>

namespace qn::tn {

fleet::RecordLayout tnRecordLayout() {
    return {"5250", kTnSessionSize, tnSessionFields(), reader::Program::Tn,
            static_cast<std::size_t>(reader::kTnEngineBegin)};
}

fleet::ConfigScan tnConfigScan(TnSessionState& state, std::mutex& sessionLock, TnDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir,
                               bool saveDocument) {
    auto current = [&state, &sessionLock] {
        std::lock_guard lock(sessionLock);
        return std::vector<std::uint8_t>(state.settings.bytes().begin(),
                                         state.settings.bytes().end());
    };
    auto commit = [&state, &sessionLock, &document,
                   saveDocument](std::span<const std::uint8_t> record) {
        TnSession before;
        {
            std::lock_guard lock(sessionLock);
            before = state.settings;
            std::ranges::copy(record, state.settings.bytes().begin());
        }
        // As OK on the settings sheet: saved when the document has a name, then the engine
        // values go to the reader library.
        document.finishConfigure(before, true, [&document, saveDocument](std::string_view) {
            return saveDocument && !document.currentSettingsPath().empty();
        });
    };
    return {tnRecordLayout(), messages, std::move(settingsDir), current, commit};
}

}  // namespace qn::tn
