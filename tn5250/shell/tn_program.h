#pragma once
// The 5250 program without its windows: every part of one running session wired together, the
// start-up steps, the command-enabling rules, the view's entry points for keys, characters,
// taps and the key panel, the decode message and the quit sequence. The UI owns one of these
// and supplies the view it paints with.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/shell/shell.h"
#include "common/telnet/connection.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/input/tn_program_host.h"
#include "tn5250/input/view_input.h"
#include "tn5250/scan/tn_config_scan.h"
#include "tn5250/scan/tn_decode_handler.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_document.h"
#include "tn5250/telnet/tn_transport.h"

namespace qn::tn {

// Command identifiers of the menus and the toolbar: the shells' own, "TNKey" the key panel.
namespace command {
using namespace shell::command;
inline constexpr unsigned kTnKey = shell::command::kKeyPanel;
}  // namespace command

inline constexpr std::string_view kTnShortName = "QuillTN";
inline constexpr std::string_view kTnVersionText = "QuillNetTN (V 3.031)";
using shell::kReaderVersionLabel;

// Whether a menu or toolbar command is offered now; the key panel with or without a
// connection.
inline bool commandEnabled(unsigned id, bool connected, bool settingsSaved) {
    return shell::commandEnabled(id, connected, settingsSaved, true);
}

class TnProgram final : private telnet::ByteSender, private telnet::TriggerSwitch {
  public:
    struct Views {
        telnet::ConnectionView& connection;
        // Invalidates the whole view (after a scan was entered).
        std::function<void()> repaint;
        // Keeps the window painting while connecting; none: the connect blocks (bounded).
        telnet::ConnectWaiter* waiter = nullptr;
    };

    TnProgram(platform::Services& services, std::filesystem::path settingsDir, Views views);
    ~TnProgram() override;
    TnProgram(const TnProgram&) = delete;
    TnProgram& operator=(const TnProgram&) = delete;

    // Start-up after the single-instance check: device name, model and system library, the
    // reader library and its readers, the defaults. False ends the program (its messages shown).
    bool startDevice();
    // The settings document at start-up; what it asks for next.
    StartupRequests loadAtStartup() { return document_.loadAtStartup(); }

    // The quit question; on OK the readers are halted. False keeps the program running.
    bool confirmQuit() { return handheld_.confirmQuit(); }
    // Quit: the socket is closed and the read thread ends, without the teardown.
    void closeConnection();
    // At exit, after closeConnection: reader library, 55 ms, system library, 10 ms.
    void freeLibraries();

    // The registered decode message, on the UI thread.
    void handleDecode(std::uintptr_t wParam) { decodeHandler_.handleDecode(wParam); }
    platform::MessageId decodeMessage() const { return decodeMessage_; }

    // The view's input. Each returns whether the screen must be redrawn.
    TnViewInput::KeyResult keyDown(int virtualKey, bool fullScreen);
    bool character(std::uint8_t c);
    // A stylus tap on a cell while connected: the cursor moves there unless the current
    // field refuses to be left.
    bool tap(int row, int column);
    // The key panel's function, run as it is (the key map is not involved). While the keyboard
    // is locked only Reset and Attention act, and without a connection nothing does.
    bool runPanelFunction(int function);

    bool commandEnabled(unsigned id) const;
    std::string aboutReaderVersion() const { return handheld_.reader().versionText(); }

    const std::string& deviceName() const { return handheld_.deviceName(); }
    std::mutex& sessionLock() { return sessionLock_; }
    TnSessionState& state() { return state_; }
    TnSession& session() { return state_.settings; }
    // Under the session lock.
    const TnScreen& screen() const { return screen_; }
    // Valid until closeConnection.
    TnTransport& transport() { return *transport_; }
    bool connected() const { return transport_ && transport_->connected(); }
    TnDocument& document() { return document_; }
    device::DeviceLayer& device() { return handheld_.device(); }
    reader::ReaderLibrary& reader() { return handheld_.reader(); }

  private:
    // The effects' socket: the transport while it exists.
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (transport_) transport_->sendBytes(bytes);
    }
    void setTriggerKey(int on) override { handheld_.reader().setTriggerKey(on); }
    // Runs an edit under the session lock; its sends and alarms after the release.
    void locked(const std::function<void()>& operation);

    shell::Handheld handheld_;
    TnSessionState state_;
    std::mutex sessionLock_;
    TnScreen screen_;
    DeferredTnHost deferred_;
    TnDataStream stream_;
    TnProgramHost effects_;
    telnet::SystemResolver resolver_;
    std::optional<TnTransport> transport_;
    TnFieldEditor editor_;
    TnViewInput viewInput_;
    TnDocument document_;
    platform::MessageId decodeMessage_;
    fleet::ConfigScan configScan_;
    TnDecodeHandler decodeHandler_;
};

}  // namespace qn::tn
