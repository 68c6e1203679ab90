#include "vt/shell/vt_program.h"

namespace qn::vt {

bool commandEnabled(unsigned id, bool connected, bool settingsSaved) {
    switch (id) {
        case command::kConnect:
            return !connected;
        case command::kDisconnect:
        case command::kVtKey:
        case command::kFullScreen:
            return connected;
        case command::kSave:
            return !settingsSaved;
        default:
            return true;
    }
}

VtProgram::VtProgram(platform::Services& services, std::filesystem::path settingsDir, Views views)
    : services_(services),
      device_(services),
      reader_(services),
      sessionHost_(device_, reader_, views.viewSignals),
      deferred_(sessionHost_),
      emulator_(session_.settings, deferred_),
      terminal_(emulator_),
      transport_(std::in_place,
                 VtTransport::Parts{services, session_, sessionLock_, terminal_, deferred_,
                                    views.connection, sessionHost_, resolver_}),
      keyboard_(session_, sessionLock_, emulator_, *this, views.keyboard),
      document_(session_, reader_, services.messages, std::move(settingsDir)),
      decodeMessage_(platform::registerWindowMessage(reader::kDecodeMessageName)),
      decodeHandler_({services.messages, reader_, device_, session_, sessionLock_, emulator_,
                      [this](std::span<const std::uint8_t> bytes) { sendBytes(bytes); },
                      views.repaint}) {
    sessionHost_.attach(&*transport_);
}

VtProgram::~VtProgram() {
    closeConnection();
}

void VtProgram::closeConnection() {
    sessionHost_.attach(nullptr);
    transport_.reset();
}

bool VtProgram::startDevice() {
    if (auto key = services_.registry.openKey(device::kIdentKey)) {
        deviceName_ = key->text("Name", kDeviceNameMax).value_or("");
    }
    if (!device_.detectModel()) return false;
    if (!reader_.load()) return false;
    reader_.initialise();
    document_.setDefaultSettings();
    return true;
}

bool VtProgram::confirmQuit() {
    const auto answer = services_.messages.show(
        kQuitQuestion, "Warning", platform::MbButtons::OkCancel, platform::MbIcon::Exclamation);
    if (answer != platform::MbResult::Ok) return false;
    reader_.halt();
    return true;
}

void VtProgram::freeLibraries() {
    closeConnection();
    device_.freeLibraries(reader_.releaseLibrary());
}

void VtProgram::handleDecode(std::uintptr_t wParam) {
    decodeHandler_.handleDecode(wParam);
}

bool VtProgram::commandEnabled(unsigned id) const {
    return vt::commandEnabled(id, connected(), session_.settingsSaved != 0);
}

std::string VtProgram::aboutReaderVersion() const {
    return reader_.versionText();
}

}  // namespace qn::vt
