#pragma once
// A program's session: its settings record, saved byte for byte as the settings document, and
// the run-time values kept beside it, which are never saved. Both programs keep one for their
// whole run; documents, transports and dialogs bind to the record through `settings`.

#include <cstdint>

namespace qn::settings {

template <class Record>
struct SessionState {
    Record settings{};
    std::uint8_t settingsSaved = 0;   // 1 after a successful save; Save is offered while 0
    std::uint8_t settingsLoaded = 0;  // the record came from a settings file at start-up
};

}  // namespace qn::settings
