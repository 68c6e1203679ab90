#pragma once
// What the programs ask of the handheld itself, apart from the reader: the model and its system
// library, sounds by number, vibration in 250 ms steps, dialog layout by screen mode, and
// freeing the run-time libraries at exit.

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/device/system_abi.h"
#include "platform/services.h"

namespace qn::device {

struct ModelEntry {
    std::string_view model;
    std::string_view systemLibrary;
};

// Tried in this order.
inline constexpr std::array<ModelEntry, 4> kModelTable{{
    {"KX2CE", "KX2CE_SYS.so"},
    {"KX3CE", "KX3CE_SYS.so"},
    {"KX4CE", "KX4CE_SYS.so"},
    {"KX1CE", "KX1CE_SYS.so"},
}};

// Sound numbers 1..9; any other number is silence.
inline constexpr std::array<std::string_view, 9> kSoundNames{
    "Default", "Hwandsw", "MenuPop", "MsgBox", "Notify", "VoicBeep", "Alarm2", "Alarm3", "LowBatt"};

inline constexpr const char* kIdentKey = "HKEY_LOCAL_MACHINE\\Ident";
inline constexpr std::size_t kModelNameMax = 50;
inline constexpr int kVibrationStepMs = 250;
// A host device command can ask for any count; a minute is the most one call blocks.
inline constexpr int kMaxVibrationSteps = 240;

// Screen mode 2 when the main window is 480 pixels wide, else 1.
constexpr int screenModeForWidth(int mainWindowWidth) {
    return mainWindowWidth == 480 ? 2 : 1;
}

// A dialog as the layout rules see it: its rectangle and its controls' class names and
// rectangles. The UI applies the result to real widgets.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

struct ControlLayout {
    std::string className;  // "button", "edit", "combobox", "checkbox", "static", ...
    Rect rect;
    std::string fontFace;  // empty until fitDialog sets one
    int fontPointTenths = 0;
};

struct DialogLayout {
    Rect rect;
    bool captionOkButton = false;
    std::vector<ControlLayout> controls;
};

inline constexpr const char* kDialogFontFace = "Tahoma";
inline constexpr int kDialogFontPointTenths = 150;

void fitDialog(DialogLayout& dialog, int screenMode);

class DeviceLayer {
  public:
    explicit DeviceLayer(platform::Services& services);
    ~DeviceLayer();
    DeviceLayer(const DeviceLayer&) = delete;
    DeviceLayer& operator=(const DeviceLayer&) = delete;

    // Finds the model and binds its system library. False stops start-up.
    bool detectModel();
    const std::string& modelName() const { return modelName_; }

    // Stops the playing sound, then plays sound n (1..9) without waiting.
    void playSound(int number);
    // Vibrates for steps × 250 ms, blocking the calling thread; 0 does nothing.
    void vibrate(int steps);
    // The digit at byte 22 of the system information, else 0.
    int systemInfoDigit();

    int screenMode() const { return screenMode_.load(); }
    void setScreenMode(int mode) { screenMode_.store(mode == 2 ? 2 : 1); }
    void fit(DialogLayout& dialog) const { fitDialog(dialog, screenMode()); }

    // At exit: frees the reader library (then 55 ms), then the system library (then 10 ms).
    void freeLibraries(std::unique_ptr<platform::LoadedLibrary> readerLibrary);

  private:
    platform::Services& services_;
    std::string modelName_;
    std::unique_ptr<platform::LoadedLibrary> systemLibrary_;
    QnSetVibratorPowerFn setVibratorPower_ = nullptr;
    QnGetSysInfoFn getSysInfo_ = nullptr;
    std::atomic<int> screenMode_{1};
};

}  // namespace qn::device
