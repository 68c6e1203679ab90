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

// Where the emulator's requests end up, as in the program: sounds and vibration through the
// device layer, the trigger and active devices through the reader library; sends are recorded
// instead of sent, and the view's beep and caret are events.
class ReplayVtHost final : public vt::VtHost {
  public:
    ReplayVtHost(device::DeviceLayer& device, reader::ReaderLibrary& reader, OperatorEvents& events)
        : device_(device), reader_(reader), events_(events) {}

    void sendBytes(const std::uint8_t* data, std::size_t length) override {
        if (length > 0) sends.emplace_back(data, data + length);
    }
    void playSound(int number) override { device_.playSound(number); }
    void vibrate(int steps) override { device_.vibrate(steps); }
    void setTriggerKey(int on) override { reader_.setTriggerKey(on); }
    std::uint32_t readerType() const override { return reader_.readerType(); }
    void setActiveDevice(std::uint32_t mask) override {
        if (auto set = reader_.ops().SetActiveDevice) set(static_cast<int>(mask));
    }
    void beep() override { events_.add("beep"); }
    void showCaret(bool visible) override { events_.add(visible ? "caret show" : "caret hide"); }

    std::vector<std::vector<std::uint8_t>> sends;

  private:
    device::DeviceLayer& device_;
    reader::ReaderLibrary& reader_;
    OperatorEvents& events_;
};

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

// One connection's worth of VT terminal, put together as the program does it, fed from the
// script instead of a socket: the emulator and the telnet filter work under the session lock
// and what they ask for is carried out once it is released; keys and characters go through the
// program's keyboard, scans through its decode handling.
struct Terminal final : vt::KeyboardLink, vt::KeyboardView {
    OfflineHandheld offline;
    device::DeviceLayer device{offline.services};
    reader::ReaderLibrary reader{offline.services};
    vt::VtSession session;
    vt::VtDocument document{session, reader, offline.events, {}};
    std::mutex sessionLock;
    ReplayVtHost host{device, reader, offline.events};
    vt::DeferredVtHost deferred{host};
    VtEmulator emulator{session.settings, deferred};
    vt::EmulatorTerminal terminal{emulator};
    DeferredSender answers{deferred};
    vt::VtTelnetFilter filter{session, answers, terminal};
    vt::AutoSignOn signOn;
    vt::VtKeyboard keyboard{session, sessionLock, emulator, *this, *this};
    vt::VtDecodeHandler decoder{{offline.events,
                                 reader,
                                 device,
                                 session,
                                 sessionLock,
                                 emulator,
                                 [this](std::span<const std::uint8_t> bytes) {
                                     host.sendBytes(bytes.data(), bytes.size());
                                 },
                                 {}}};

    void start() {
        device.detectModel();
        reader.load();
        reader.initialise();
        document.setDefaultSettings();
    }

    // What the Connect command does once the socket is connected; what happened before it is
    // not replayed.
    void connect() {
        offline.events.clear();
        reader::Bytes<reader::kMacroFrameSize> macroFrame;
        {
            std::lock_guard lock(sessionLock);
            terminal.reset();
            filter.setSgaAgreed(true);
            macroFrame = session.settings.macroFrame;
        }
        runDeferred();
        const std::size_t frameLength =
            macroFrame[9] != 0 ? macroFrame.size() : reader::fixedLength(macroFrame);
        if (frameLength != 0) {
            offline.events.show("MicroFrame", {}, platform::MbButtons::Ok, platform::MbIcon::None);
            host.sendBytes(macroFrame.data(), frameLength);
        }
        reader.setTriggerKey(0);
        bool triggerOn;
        {
            std::lock_guard lock(sessionLock);
            const VtSettings& s = session.settings;
            triggerOn = s.triggerByEscCmd == 0 && (s.rfidReaderOn != 0 || s.barcodeReaderOn != 0);
            if (session.settingsLoaded == 0) vt::installDefaultKeyMap(session, false);
        }
        if (triggerOn) reader.setTriggerKey(1);
    }

    // One receive, then the sign-on check, as the read thread does them.
    void receive(std::span<const std::uint8_t> bytes) {
        {
            std::lock_guard lock(sessionLock);
            filter.receive(bytes);
        }
        runDeferred();
        {
            std::lock_guard lock(sessionLock);
            signOn.check(session.settings, terminal, deferred);
        }
        runDeferred();
    }

    std::string report() {
        std::lock_guard lock(sessionLock);
        return vtReport(emulator, session.settings, host.sends, offline.events.list());
    }

    // The keyboard's link: the socket is open for the whole replay.
    bool socketOpen() const override { return true; }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        host.sendBytes(bytes.data(), bytes.size());
    }
    void runDeferred() override {
        vt::DeferredVtHost::Batch batch;
        {
            std::lock_guard lock(sessionLock);
            batch = deferred.take();
        }
        batch.run(host);
    }

    // The keyboard's view: nothing is painted; a line-buffer Enter's repaint request is taken.
    void invalidate() override {}
    void placeCaret() override {}
    void repaintAfterKey() override { keyboard.takeLineBufferEnter(); }
    void frameEscape() override { offline.events.add("full screen off"); }
};

}  // namespace

std::string vtReport(const vt::VtEmulator& emulator, const vt::VtSettings& settings,
                     const std::vector<std::vector<std::uint8_t>>& sendList,
                     const std::vector<std::string>& events) {
    const VtScreen& s = emulator.screen();
    std::vector<std::string> screen;
    for (int row = 0; row < vt::kBufferRows; ++row) {
        std::string text;
        for (std::uint8_t c : s.rowChars(row))
            text += c == 0 ? ' ' : static_cast<char>(c);
        screen.push_back(std::move(text));
    }
    std::vector<std::string> reverse;
    for (int row = 0; row < vt::kScreenRows; ++row) {
        std::string flags;
        for (int col = 0; col < vt::kScreenColumns; ++col)
            flags += s.isReverse(row, col) ? '1' : '0';
        reverse.push_back(std::move(flags));
    }
    std::vector<std::string> sends;
    std::vector<std::uint8_t> sent;
    for (const auto& send : sendList) {
        sends.push_back(hex(send));
        sent.insert(sent.end(), send.begin(), send.end());
    }

    std::string out = "{\n  \"screen\": ";
    appendStringArray(out, screen, true);
    out += ",\n  \"reverse\": ";
    appendStringArray(out, reverse, true);
    out += ",\n  \"cursor\": {\"row\": " + std::to_string(s.cursorRow) +
           ", \"col\": " + std::to_string(s.cursorCol) + "}";
    const std::pair<const char*, long> modes[] = {
        {"newLineModeOff", s.newLineModeOff},
        {"cursorKeysNormal", s.cursorKeysNormal},
        {"autoWrap", s.autoWrap},
        {"replaceMode", s.replaceMode},
        {"noRegion", s.noRegion},
        {"regionTop", s.regionTop},
        {"regionBottom", s.regionBottom},
        {"lineDrawing", s.lineDrawing},
        {"localEcho", settings.localEcho},
    };
    out += ",\n  \"modes\": {";
    for (std::size_t i = 0; i < std::size(modes); ++i) {
        if (i) out += ", ";
        out += '"' + std::string(modes[i].first) + "\": " + std::to_string(modes[i].second);
    }
    out += "},\n  \"sent\": ";
    appendJsonString(out, hex(sent));
    out += ",\n  \"sends\": ";
    appendStringArray(out, sends);
    out += ",\n  \"events\": ";
    appendStringArray(out, events);
    out += "\n}\n";
    return out;
}

std::string vtScreenText(const vt::VtEmulator& emulator) {
    std::string out;
    for (int row = 0; row < vt::kScreenRows; ++row) {
        for (std::uint8_t c : emulator.screen().rowChars(row))
            out += c == 0 ? ' ' : static_cast<char>(c);
        out += '\n';
    }
    return out;
}

VtReplayResult replayVt(const std::vector<std::uint8_t>& input, const VtReplayOptions& options) {
    auto terminal = std::make_unique<Terminal>();
    terminal->start();
    if (options.settingsPath) {
        if (!terminal->document.loadSettings(*options.settingsPath)) {
            return {1, {}, "cannot read settings " + *options.settingsPath};
        }
        terminal->session.settingsLoaded = 1;
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
        switch (step.kind) {
            case StepKind::Recv:
                terminal->receive(step.text);
                break;
            case StepKind::Key:
                terminal->keyboard.keyDown(step.first);
                break;
            case StepKind::Char:
                for (std::uint8_t c : step.text)
                    terminal->keyboard.character(c);
                break;
            case StepKind::Scan:
                setScriptedBarcode(step.text);
                terminal->decoder.handleDecode(vt::kBarcodeDecode);
                break;
            case StepKind::Rfid:
                setScriptedRfid(step.text, step.data);
                terminal->decoder.handleDecode(0);
                break;
            default:
                break;
        }
    }
    return {0, terminal->report(), {}};
}

VtBenchResult benchVt(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat) {
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
