#include "vt/shell/vt_program.h"

namespace qn::vt {

VtProgram::VtProgram(platform::Services& services, std::filesystem::path settingsDir, Views views)
    : handheld_(services),
      sessionHost_(handheld_.device(), handheld_.reader(), views.viewSignals),
      deferred_(sessionHost_),
      emulator_(session_.settings, deferred_),
      terminal_(emulator_),
      transport_(std::in_place,
                 VtTransport::Parts{services, session_, sessionLock_, terminal_, deferred_,
                                    views.connection, sessionHost_, resolver_,
                                    std::chrono::milliseconds(100), views.waiter}),
      keyboard_(session_, sessionLock_, emulator_, *this, views.keyboard),
      document_(session_, handheld_.reader(), services.messages, std::move(settingsDir)),
      decodeMessage_(platform::registerWindowMessage(reader::kDecodeMessageName)),
      configScan_(
          vtConfigScan(session_, sessionLock_, document_, services.messages,
                       std::filesystem::path(document_.defaultSettingsPath()).parent_path())),
      decodeHandler_(
          {services.messages, handheld_.reader(), handheld_.device(), session_, sessionLock_,
           emulator_, [this](std::span<const std::uint8_t> bytes) { sendBytes(bytes); },
           views.repaint,
           [this](std::span<const std::uint8_t> decode) { return configScan_.handle(decode); }}) {
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
    if (!handheld_.start()) return false;
    document_.setDefaultSettings();
    return true;
}

bool VtProgram::confirmQuit() {
    return handheld_.confirmQuit();
}

void VtProgram::freeLibraries() {
    closeConnection();
    handheld_.freeLibraries();
}

void VtProgram::handleDecode(std::uintptr_t wParam) {
    decodeHandler_.handleDecode(wParam);
}

bool VtProgram::commandEnabled(unsigned id) const {
    return vt::commandEnabled(id, connected(), session_.settingsSaved != 0);
}

std::string VtProgram::aboutReaderVersion() const {
    return handheld_.reader().versionText();
}

}  // namespace qn::vt
