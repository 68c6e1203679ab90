#pragma once
// What both programs' shells share without their windows: the command identifiers of the
// menus and the toolbar with their enabling rule, the fixed texts of the About box and the
// quit question, and the handheld under the program (device name, model and system library,
// reader library) with its start-up, quit and release steps.

#include <string>
#include <string_view>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "platform/services.h"

namespace qn::shell {

namespace command {
inline constexpr unsigned kConnect = 0x8004;
inline constexpr unsigned kDisconnect = 0x8005;
inline constexpr unsigned kConfigure = 0x8007;
inline constexpr unsigned kNothing = 0x8008;
inline constexpr unsigned kKeyPanel = 0x8009;
inline constexpr unsigned kOpen = 0x8010;
inline constexpr unsigned kMaximize = 0x8014;
inline constexpr unsigned kTrayExit = 0x8015;
inline constexpr unsigned kRepaint = 0x8018;
inline constexpr unsigned kSetConfigFile = 0x801C;
inline constexpr unsigned kFullScreen = 0x801D;
inline constexpr unsigned kSave = 0xE103;
inline constexpr unsigned kSaveAs = 0xE104;
inline constexpr unsigned kAbout = 0xE140;
inline constexpr unsigned kExit = 0xE141;
}  // namespace command

inline constexpr std::string_view kReaderVersionLabel = "Reader Dll Ver:";
inline constexpr std::string_view kQuitQuestion = "Do you want to quit?";
// The notification popup's Exit ends the message loop with this code.
inline constexpr int kTrayExitCode = 16;
inline constexpr std::size_t kDeviceNameMax = 256;

// Whether a menu or toolbar command is offered now. keyPanelOffline: the program's key panel
// is offered without a connection too.
bool commandEnabled(unsigned id, bool connected, bool settingsSaved, bool keyPanelOffline);

class Handheld {
  public:
    explicit Handheld(platform::Services& services);

    // Start-up after the single-instance check: the device name, the model and its system
    // library, the reader library and its readers. False ends the program (its messages
    // shown).
    bool start();
    // The quit question; on OK the readers are halted. False keeps the program running.
    bool confirmQuit();
    // At exit: reader library, 55 ms, system library, 10 ms.
    void freeLibraries();

    const std::string& deviceName() const { return deviceName_; }
    device::DeviceLayer& device() { return device_; }
    reader::ReaderLibrary& reader() { return reader_; }
    const reader::ReaderLibrary& reader() const { return reader_; }

  private:
    platform::Services& services_;
    std::string deviceName_;
    device::DeviceLayer device_;
    reader::ReaderLibrary reader_;
};

}  // namespace qn::shell
