#include "tn5250/shell/tn_program.h"

#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {

bool commandEnabled(unsigned id, bool connected, bool settingsSaved) {
    switch (id) {
        case command::kConnect:
            return !connected;
        case command::kDisconnect:
        case command::kFullScreen:
            return connected;
        case command::kSave:
            return !settingsSaved;
        default:
            // The key panel is offered with or without a connection.
            return true;
    }
}

TnProgram::TnProgram(platform::Services& services, std::filesystem::path settingsDir, Views views)
    : services_(services),
      device_(services),
      reader_(services),
      stream_(screen_, state_.record, deferred_),
      effects_(*this, device_, state_.record, sessionLock_),
      transport_(std::in_place,
                 TnTransport::Parts{services, state_.record, sessionLock_, stream_, deferred_,
                                    effects_, views.connection, *this, resolver_}),
      editor_(screen_, stream_, state_.record, deferred_),
      viewInput_(editor_, [this](const std::function<void()>& operation) { locked(operation); }),
      document_(state_, reader_, services.messages, std::move(settingsDir)),
      decodeMessage_(platform::registerWindowMessage(reader::kDecodeMessageName)),
      decodeHandler_({services.messages, reader_, device_, state_.record, sessionLock_, editor_,
                      deferred_, effects_, std::move(views.repaint)}) {}

TnProgram::~TnProgram() {
    closeConnection();
}

void TnProgram::closeConnection() {
    transport_.reset();
}

bool TnProgram::startDevice() {
    if (auto key = services_.registry.openKey(device::kIdentKey)) {
        deviceName_ = key->text("Name", kDeviceNameMax).value_or("");
    }
    if (!device_.detectModel()) return false;
    if (!reader_.load()) return false;
    reader_.initialise();
    // No read thread yet; the defaults may show a message, so no lock is held.
    document_.applyDefaults();
    return true;
}

bool TnProgram::confirmQuit() {
    const auto answer = services_.messages.show(
        kQuitQuestion, "Warning", platform::MbButtons::OkCancel, platform::MbIcon::Exclamation);
    if (answer != platform::MbResult::Ok) return false;
    reader_.halt();
    return true;
}

void TnProgram::freeLibraries() {
    closeConnection();
    device_.freeLibraries(reader_.releaseLibrary());
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
        if (screen_.state.keyboardLocked && function != fn::kReset) {
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
