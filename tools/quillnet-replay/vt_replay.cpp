#include "tools/quillnet-replay/vt_replay.h"

#include "tools/quillnet-replay/replay_json.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "platform/services.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"
#include "tools/quillnet-replay/vt_station.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/scan/vt_decode_handler.h"
#include "vt/settings/vt_document.h"
#include "vt/settings/vt_key_map.h"
#include "vt/transport/auto_sign_on.h"
#include "vt/transport/deferred_host.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/vt_telnet_filter.h"

namespace qn::tools {

namespace {

using vt::VtEmulator;
using vt::VtScreen;
using vt::VtSettings;

constexpr StepSet kReplayVtSteps{StepKind::Recv, StepKind::Key, StepKind::Char, StepKind::Scan,
                                 StepKind::Rfid};

// Telnet answers join the emulator's replies in one ordered queue, as in the transport.
class DeferredSender final : public telnet::ByteSender {
  public:
    explicit DeferredSender(vt::VtHost& host) : host_(host) {}
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        host_.sendBytes(bytes.data(), bytes.size());
    }

  private:
    vt::VtHost& host_;
};

// The VT terminal of one connection, fed from the script instead of a socket.
struct Terminal {
    OfflineHandheld offline;
    RecordingWire wire;
    VtStation station{offline, wire};
    DeferredSender answers{station.deferred};
    vt::VtTelnetFilter filter{station.session, answers, station.terminal};
    vt::AutoSignOn signOn;

    // What the Connect command does once the socket is connected; what happened before it is
    // not replayed.
    void connect() {
        offline.events.clear();
        vt::VtSession& session = station.session;
        reader::Bytes<reader::kMacroFrameSize> macroFrame;
        {
            std::lock_guard lock(station.sessionLock);
            station.terminal.reset();
            filter.setSgaAgreed(true);
            macroFrame = session.settings.macroFrame;
        }
        station.runDeferred();
        const std::size_t frameLength =
            macroFrame[9] != 0 ? macroFrame.size() : reader::fixedLength(macroFrame);
        if (frameLength != 0) {
            offline.events.show("MicroFrame", {}, platform::MbButtons::Ok, platform::MbIcon::None);
            wire.sendBytes({macroFrame.data(), frameLength});
        }
        station.reader.setTriggerKey(0);
        bool triggerOn;
        {
            std::lock_guard lock(station.sessionLock);
            const VtSettings& s = session.settings;
            triggerOn = s.triggerByEscCmd == 0 && (s.rfidReaderOn != 0 || s.barcodeReaderOn != 0);
            if (session.settingsLoaded == 0) vt::installDefaultKeyMap(session, false);
        }
        if (triggerOn) station.reader.setTriggerKey(1);
    }

    // One receive, then the sign-on check, as the read thread does them.
    void receive(std::span<const std::uint8_t> bytes) {
        {
            std::lock_guard lock(station.sessionLock);
            filter.receive(bytes);
        }
        station.runDeferred();
        {
            std::lock_guard lock(station.sessionLock);
            signOn.check(station.session.settings, station.terminal, station.deferred);
        }
        station.runDeferred();
    }

    std::string report() {
        std::lock_guard lock(station.sessionLock);
        return station.report(wire.sends);
    }
};

}  // namespace

VtReplayResult replayVt(const std::vector<std::uint8_t>& input, const VtReplayOptions& options) {
    auto terminal = std::make_unique<Terminal>();
    VtStation& station = terminal->station;
    station.emulator.setEmulation(options.emulation);
    station.start();
    if (options.settingsPath) {
        if (!station.document.loadSettings(*options.settingsPath)) {
            return {1, {}, "cannot read settings " + *options.settingsPath};
        }
        station.session.settingsLoaded = 1;
    }
    terminal->connect();

    if (!options.script) {
        const std::size_t chunk = options.chunk == 0 ? 1 : options.chunk;
        for (std::size_t at = 0; at < input.size(); at += chunk)
            terminal->receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
        return {0, terminal->report(), {}};
    }

    const Script script =
        parseScript(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()),
                    kReplayVtSteps);
    if (!script.valid()) return {1, {}, script.error};
    for (const Step& step : script.steps) {
        if (step.kind == StepKind::Recv) {
            terminal->receive(step.text);
        } else {
            runInputStep(step, station);
        }
    }
    return {0, terminal->report(), {}};
}

VtBenchResult benchVt(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat,
                      vt::VtEmulation emulation) {
    class NullHost : public vt::VtHost {
      public:
        void sendBytes(const std::uint8_t*, std::size_t) override {}
        void playSound(int) override {}
        void vibrate(int) override {}
        void setTriggerKey(int) override {}
        std::uint32_t readerType() const override { return 0; }
        void setActiveDevice(std::uint32_t) override {}
        void beep() override {}
        void showCaret(bool) override {}
    };
    auto settings = std::make_unique<VtSettings>();
    NullHost host;
    VtEmulator emulator(*settings, host);
    emulator.setEmulation(emulation);
    emulator.vtReset();
    if (chunk == 0) chunk = 1;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < repeat; ++round) {
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            emulator.feed(input.data() + at, std::min(chunk, input.size() - at));
        }
    }
    const auto stop = std::chrono::steady_clock::now();
    return {static_cast<double>(input.size()) * repeat,
            std::chrono::duration<double>(stop - start).count()};
}

}  // namespace qn::tools
