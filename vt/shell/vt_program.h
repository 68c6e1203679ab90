#pragma once
// The VT program without its windows: every part of one running session wired together, the
// start-up steps, the command-enabling rules and the quit sequence. The UI owns one of these and
// supplies the view it paints with.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/shell/shell.h"
#include "common/telnet/connection.h"
#include "platform/services.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/scan/vt_config_scan.h"
#include "vt/scan/vt_decode_handler.h"
#include "vt/settings/vt_document.h"
#include "vt/transport/deferred_host.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/session_host.h"
#include "vt/transport/vt_transport.h"

namespace qn::vt {

// Command identifiers of the menus and the toolbar: the shells' own, "VTKey" the key panel.
namespace command {
using namespace shell::command;
inline constexpr unsigned kVtKey = shell::command::kKeyPanel;
}  // namespace command

inline constexpr std::string_view kVtShortName = "QuillVT";
inline constexpr std::string_view kVtVersionText = "QuillNet_VT (V 3.031)";
using shell::kQuitQuestion;
using shell::kReaderVersionLabel;
using shell::kTrayExitCode;

// Whether a menu or toolbar command is offered now; the key pad only while connected.
inline bool commandEnabled(unsigned id, bool connected, bool settingsSaved) {
    return shell::commandEnabled(id, connected, settingsSaved, false);
}

class VtProgram final : private KeyboardLink {
  public:
    struct Views {
        telnet::ConnectionView& connection;
        VtViewSignals& viewSignals;
        KeyboardView& keyboard;
        // Invalidates the whole view (after a scan was sent).
        std::function<void()> repaint;
        // Keeps the window painting while connecting; none: the connect blocks (bounded).
        telnet::ConnectWaiter* waiter = nullptr;
    };

    VtProgram(platform::Services& services, std::filesystem::path settingsDir, Views views);
    ~VtProgram() override;
    VtProgram(const VtProgram&) = delete;
    VtProgram& operator=(const VtProgram&) = delete;

    // Start-up after the single-instance check: device name, model and system library, the
    // reader library and its readers, the defaults. False ends the program (its messages shown).
    bool startDevice();
    // The settings document at start-up; what it asks for next.
    reader::StartupRequests loadAtStartup() { return document_.loadAtStartup(); }

    // The quit question; on OK the readers are halted. False keeps the program running.
    bool confirmQuit();
    // Quit: the socket is closed and the read thread ends, without the teardown.
    void closeConnection();
    // At exit, after closeConnection: reader library, 55 ms, system library, 10 ms.
    void freeLibraries();

    // The registered decode message, on the UI thread.
    void handleDecode(std::uintptr_t wParam);
    platform::MessageId decodeMessage() const { return decodeMessage_; }

    // The host's emulation, from its entry in the connection file; call it before
    // transport().connectSession(). The emulator keeps it across connects until told otherwise.
    void setEmulation(VtEmulation emulation) {
        std::lock_guard lock(sessionLock_);
        emulator_.setEmulation(emulation);
    }

    bool commandEnabled(unsigned id) const;
    std::string aboutReaderVersion() const;

    const std::string& deviceName() const { return handheld_.deviceName(); }
    std::mutex& sessionLock() { return sessionLock_; }
    VtSession& session() { return session_; }
    VtEmulator& emulator() { return emulator_; }
    // Valid until closeConnection.
    VtTransport& transport() { return *transport_; }
    bool connected() const { return transport_ && transport_->connected(); }
    VtKeyboard& keyboard() { return keyboard_; }
    VtDocument& document() { return document_; }
    device::DeviceLayer& device() { return handheld_.device(); }
    reader::ReaderLibrary& reader() { return handheld_.reader(); }

  private:
    bool socketOpen() const override { return connected(); }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (transport_) transport_->sendBytes(bytes);
    }
    void runDeferred() override {
        if (transport_) transport_->runDeferred();
    }

    shell::Handheld handheld_;
    VtSession session_;
    std::mutex sessionLock_;
    VtSessionHost sessionHost_;
    DeferredVtHost deferred_;
    VtEmulator emulator_;
    EmulatorTerminal terminal_;
    telnet::SystemResolver resolver_;
    std::optional<VtTransport> transport_;
    VtKeyboard keyboard_;
    VtDocument document_;
    platform::MessageId decodeMessage_;
    fleet::ConfigScan configScan_;
    VtDecodeHandler decodeHandler_;
};

}  // namespace qn::vt
