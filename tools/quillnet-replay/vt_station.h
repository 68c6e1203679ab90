#pragma once
// The VT terminal put together as the program does it, without its window and without its
// socket: the emulator works under the session lock and what it asks for is carried out once
// the lock is released (sends onto `wire`, sounds and vibration through the device layer, the
// trigger and active devices through the reader library); keys and characters go through the
// program's keyboard, scans through its decode handling. The replay feeds it recorded host
// bytes, the session tool a live connection.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "platform/paths.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/scan/vt_config_scan.h"
#include "vt/scan/vt_decode_handler.h"
#include "vt/settings/vt_document.h"
#include "vt/transport/deferred_host.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/session_host.h"

namespace qn::tools {

struct VtStation final : OperatorInput, vt::KeyboardLink, vt::KeyboardView, vt::VtViewSignals {
    VtStation(OfflineHandheld& handheld, StationWire& wire);

    // The model and the reader library, as at start-up; the session's defaults.
    void start();
    // Carries out what the emulator collected, with the session lock released.
    void runDeferred() override;
    // The operator's input: the keyboard's key-downs and characters, decodes.
    void key(int virtualKey) override { keyboard.keyDown(virtualKey); }
    void character(std::uint8_t c) override { keyboard.character(c); }
    void scan(std::span<const std::uint8_t> decoded) override;
    void rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) override;

    // Under the session lock: row text (nulls as blanks), the cursor, the report as JSON with
    // the given sends, and the screen as 24 lines.
    std::string rowText(int row) const;
    std::pair<int, int> cursor() const {
        return {emulator.screen().cursorRow, emulator.screen().cursorCol};
    }
    std::string report(const std::vector<std::vector<std::uint8_t>>& sends) const;
    std::string screenText() const;

    // The keyboard's link and view: nothing is painted; a line-buffer Enter's repaint request
    // is taken.
    bool socketOpen() const override { return wire.open(); }
    void sendBytes(std::span<const std::uint8_t> bytes) override { wire.sendBytes(bytes); }
    void invalidate() override {}
    void placeCaret() override {}
    void repaintAfterKey() override { keyboard.takeLineBufferEnter(); }
    void frameEscape() override { handheld.events.add("full screen off"); }
    // What the emulator asks of the view: events.
    void beep() override { handheld.events.add("beep"); }
    void showCaret(bool visible) override {
        handheld.events.add(visible ? "caret show" : "caret hide");
    }

    OfflineHandheld& handheld;
    StationWire& wire;
    device::DeviceLayer device{handheld.services};
    reader::ReaderLibrary reader{handheld.services};
    vt::VtSession session;
    vt::VtDocument document{session, reader, handheld.events, {}};
    std::mutex sessionLock;
    // The emulator's requests as the program carries them out, replies onto the wire.
    vt::VtSessionHost host{device, reader, *this};
    vt::DeferredVtHost deferred{host};
    vt::VtEmulator emulator{session.settings, deferred};
    vt::EmulatorTerminal terminal{emulator};
    vt::VtKeyboard keyboard{session, sessionLock, emulator, *this, *this};
    // Configuration codes with the site key of the settings folder; the session takes them, no
    // file does.
    fleet::ConfigScan configScan{vt::vtConfigScan(session, sessionLock, document, handheld.events,
                                                  platform::settingsDir(), false)};
    vt::VtDecodeHandler decoder{
        {handheld.events,
         reader,
         device,
         session,
         sessionLock,
         emulator,
         [this](std::span<const std::uint8_t> bytes) { wire.sendBytes(bytes); },
         {},
         [this](std::span<const std::uint8_t> code) { return configScan.handle(code); }}};
};

}  // namespace qn::tools
