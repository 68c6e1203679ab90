#include "common/device/device.h"

#include <algorithm>
#include <chrono>

namespace qn::device {

void fitDialog(DialogLayout& dialog, int screenMode) {
    dialog.captionOkButton = true;
    if (screenMode != 2) {
        dialog.rect = {0, 0, 240, 320};
        return;
    }
    dialog.rect = {0, 0, 480, 640};
    for (ControlLayout& control : dialog.controls) {
        const Rect old = control.rect;
        // Truncation towards zero, as the integer conversion of the scaled value.
        control.rect.x = static_cast<int>(old.x * 2.0);
        control.rect.width = static_cast<int>(old.width * 2.0);
        control.rect.y = static_cast<int>(old.y * 1.5);
        control.rect.height = static_cast<int>(old.height * 1.5);
        if (control.className == "combobox") control.rect.height = old.height + 200;
        if (control.className == "checkbox") control.rect.width = old.width;
        control.fontFace = kDialogFontFace;
        control.fontPointTenths = kDialogFontPointTenths;
    }
}

DeviceLayer::DeviceLayer(platform::Services& services) : services_(services) {}

DeviceLayer::~DeviceLayer() = default;

bool DeviceLayer::detectModel() {
    auto key = services_.registry.openKey(kIdentKey);
    if (!key) return false;
    // The registry holds UTF-16 text: 100 bytes are 50 characters here.
    std::string name = key->text("DeviceModel", kModelNameMax).value_or("");
    if (name.empty()) name = key->text("Name", kModelNameMax).value_or("");
    modelName_ = name;

    for (const ModelEntry& entry : kModelTable) {
        if (name != entry.model) continue;
        systemLibrary_ = services_.libraries.load(services_.deviceRoot / entry.systemLibrary);
        if (systemLibrary_ == nullptr) return false;
        setVibratorPower_ =
            platform::bindOperation<QnSetVibratorPowerFn>(*systemLibrary_, "SetVibratorPower");
        getSysInfo_ = platform::bindOperation<QnGetSysInfoFn>(*systemLibrary_, "GetSysInfo");
        return true;
    }
    if (name == "Pocket_PC") services_.messages.show("Cannot find system!!");
    return false;
}

void DeviceLayer::playSound(int number) {
    services_.sound.stop();
    if (number < 1 || number > static_cast<int>(kSoundNames.size())) return;
    std::string file(kSoundNames[static_cast<std::size_t>(number - 1)]);
    services_.sound.playAsync(services_.deviceRoot / (file + ".wav"));
}

void DeviceLayer::vibrate(int steps) {
    // A negative count from a settings file or a host command is no vibration, not a huge one.
    if (steps <= 0) return;
    // Without SetVibratorPower nothing would vibrate: return at once rather than stall.
    if (setVibratorPower_ == nullptr) return;
    steps = std::min(steps, kMaxVibrationSteps);
    setVibratorPower_(1);
    services_.clock.sleepFor(std::chrono::milliseconds(steps * kVibrationStepMs));
    setVibratorPower_(0);
}

int DeviceLayer::systemInfoDigit() {
    if (getSysInfo_ == nullptr) return 0;
    std::array<unsigned char, QN_SYSINFO_SIZE> record{};
    getSysInfo_(record.data());
    unsigned char c = record[QN_SYSINFO_DIGIT_OFFSET];
    return (c >= '0' && c <= '9') ? c - '0' : 0;
}

void DeviceLayer::freeLibraries(std::unique_ptr<platform::LoadedLibrary> readerLibrary) {
    if (readerLibrary != nullptr) {
        if (!readerLibrary->release()) services_.messages.show("Failed to Free Reader Library!!");
        services_.clock.sleepFor(std::chrono::milliseconds(55));
    }
    if (systemLibrary_ != nullptr) {
        setVibratorPower_ = nullptr;
        getSysInfo_ = nullptr;
        if (!systemLibrary_->release()) services_.messages.show("Failed to Free System Library!!");
        systemLibrary_.reset();
        services_.clock.sleepFor(std::chrono::milliseconds(10));
    }
}

}  // namespace qn::device
