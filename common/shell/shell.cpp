#include "common/shell/shell.h"

namespace qn::shell {

bool commandEnabled(unsigned id, bool connected, bool settingsSaved, bool keyPanelOffline) {
    switch (id) {
        case command::kConnect:
            return !connected;
        case command::kDisconnect:
        case command::kFullScreen:
            return connected;
        case command::kKeyPanel:
            return connected || keyPanelOffline;
        case command::kSave:
            return !settingsSaved;
        default:
            return true;
    }
}

Handheld::Handheld(platform::Services& services)
    : services_(services), device_(services), reader_(services) {}

bool Handheld::start() {
    if (auto key = services_.registry.openKey(device::kIdentKey)) {
        deviceName_ = key->text("Name", kDeviceNameMax).value_or("");
    }
    if (!device_.detectModel()) return false;
    if (!reader_.load()) return false;
    reader_.initialise();
    return true;
}

bool Handheld::confirmQuit() {
    const auto answer = services_.messages.show(
        kQuitQuestion, "Warning", platform::MbButtons::OkCancel, platform::MbIcon::Exclamation);
    if (answer != platform::MbResult::Ok) return false;
    reader_.halt();
    return true;
}

void Handheld::freeLibraries() {
    device_.freeLibraries(reader_.releaseLibrary());
}

}  // namespace qn::shell
