#include "tn5250/shell/tn_program.h"

#include "tn5250/input/tn_keys.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {

TnProgram::TnProgram(platform::Services& services, std::filesystem::path settingsDir, Views views)
    : handheld_(services),
      stream_(screen_, state_.settings, deferred_),
      effects_(*this, handheld_.device(), state_.settings, sessionLock_),
      transport_(std::in_place,
                 TnTransport::Parts{services, state_.settings, sessionLock_, stream_, deferred_,
                                    effects_, views.connection, *this, resolver_, views.waiter}),
      editor_(screen_, stream_, state_.settings, deferred_),
      viewInput_(editor_, [this](const std::function<void()>& operation) { locked(operation); }),
      document_(state_, handheld_.reader(), services.messages, std::move(settingsDir)),
      decodeMessage_(platform::registerWindowMessage(reader::kDecodeMessageName)),
      configScan_(
          tnConfigScan(state_, sessionLock_, document_, services.messages,
                       std::filesystem::path(document_.defaultSettingsPath()).parent_path())),
      decodeHandler_(
          {services.messages, handheld_.reader(), handheld_.device(), state_.settings, sessionLock_,
           editor_, deferred_, effects_, std::move(views.repaint),
           [this](std::span<const std::uint8_t> decode) { return configScan_.handle(decode); }}) {}

TnProgram::~TnProgram() {
    closeConnection();
}

void TnProgram::closeConnection() {
    transport_.reset();
}

bool TnProgram::startDevice() {
    if (!handheld_.start()) return false;
    // No read thread yet; the defaults may show a message, so no lock is held.
    document_.applyDefaults();
    return true;
}

void TnProgram::freeLibraries() {
    closeConnection();
    handheld_.freeLibraries();
}

void TnProgram::locked(const std::function<void()>& operation) {
    DeferredTnHost::Batch batch;
    {
        std::lock_guard lock(sessionLock_);
        operation();
        batch = deferred_.take();
    }
    batch.run(effects_);
}

TnViewInput::KeyResult TnProgram::keyDown(int virtualKey, bool fullScreen) {
    return viewInput_.keyDown(virtualKey, fullScreen, connected());
}

bool TnProgram::character(std::uint8_t c) {
    return viewInput_.character(c, connected());
}

bool TnProgram::tap(int row, int column) {
    if (!connected()) return false;
    bool moved = false;
    locked([&] { moved = screen_.tapCell(row, column); });
    return moved;
}

bool TnProgram::runPanelFunction(int function) {
    if (function <= 0 || !connected()) return false;
    bool redraw = false;
    locked([&] {
        // The locked keyboard refuses the panel as it refuses keys: a second AID must not
        // follow one the host has not answered.
        if (screen_.state.keyboardLocked && !actsWhileLocked(function)) {
            editor_.alarm();
        } else {
            redraw = editor_.runFunction(function);
        }
    });
    return redraw;
}

bool TnProgram::commandEnabled(unsigned id) const {
    return tn::commandEnabled(id, connected(), state_.settingsSaved != 0);
}

}  // namespace qn::tn
