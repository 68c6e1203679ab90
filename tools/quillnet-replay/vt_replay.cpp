#include "tools/quillnet-replay/vt_replay.h"

#include "tools/quillnet-replay/replay_json.h"

#include <chrono>
#include <cstdio>
#include <sstream>

#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "platform/services.h"
#include "vt/emulator/recording_vt_host.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/settings/vt_document.h"
#include "vt/transport/auto_sign_on.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/vt_telnet_filter.h"

namespace qn::tools {

namespace {

using vt::VtEmulator;
using vt::VtScreen;
using vt::VtSettings;

// The handheld's services as the replay has them: no reader library, nothing shown.
struct OfflineServices {
    platform::MemoryRegistry registry{""};
    platform::FakeLibraryLoader libraries;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, libraries, messages, queue, clock, sound, {}};
};

std::string report(const VtEmulator& emulator, const VtSettings& settings,
                   const vt::RecordingVtHost& host) {
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
    for (const auto& send : host.sends)
        sends.push_back(hex(send));

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
    appendJsonString(out, hex(host.sent()));
    out += ",\n  \"sends\": ";
    appendStringArray(out, sends);
    out += ",\n  \"events\": ";
    appendStringArray(out, host.events);
    out += "\n}\n";
    return out;
}

// Telnet answers go out through the recording host, in order with the emulator's replies.
class HostSender final : public telnet::ByteSender {
  public:
    explicit HostSender(vt::VtHost& host) : host_(host) {}
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        host_.sendBytes(bytes.data(), bytes.size());
    }

  private:
    vt::VtHost& host_;
};

// One connection's worth of terminal: settings, telnet filter, emulator, the recording host.
struct Terminal {
    OfflineServices offline;
    reader::ReaderLibrary reader{offline.services};
    vt::VtSession session;
    vt::VtDocument document{session, reader, offline.messages, {}};
    vt::RecordingVtHost host;
    VtEmulator emulator{session.settings, host};
    vt::EmulatorTerminal terminal{emulator};
    HostSender answers{host};
    vt::VtTelnetFilter filter{session, answers, terminal};
    vt::AutoSignOn signOn;

    // Host bytes of one receive, then the sign-on check, as the read thread does.
    void receive(const std::uint8_t* data, std::size_t length) {
        filter.receive({data, length});
        signOn.check(session.settings, terminal, host);
    }

    // What a connect does before the first receive.
    void connect() {
        emulator.vtReset();
        filter.setSgaAgreed(true);
        const VtSettings& s = session.settings;
        host.setTriggerKey(0);
        if (s.triggerByEscCmd == 0 && (s.rfidReaderOn || s.barcodeReaderOn)) host.setTriggerKey(1);
    }
};

}  // namespace

VtReplayResult replayVt(const std::vector<std::uint8_t>& input, const VtReplayOptions& options) {
    auto terminal = std::make_unique<Terminal>();
    terminal->document.setDefaultSettings();
    if (options.settingsPath && !terminal->document.loadSettings(*options.settingsPath)) {
        return {1, {}, "cannot read settings " + *options.settingsPath};
    }
    terminal->connect();

    if (!options.script) {
        const std::size_t chunk = options.chunk == 0 ? 1 : options.chunk;
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            terminal->receive(input.data() + at, std::min(chunk, input.size() - at));
        }
        return {0, report(terminal->emulator, terminal->session.settings, terminal->host), {}};
    }

    std::istringstream lines(std::string(input.begin(), input.end()));
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string step;
        if (!(words >> step)) continue;
        std::string rest;
        std::getline(words, rest);
        if (step == "recv") {
            const auto bytes = parseHex(rest);
            if (!bytes) return {1, {}, "line " + std::to_string(number) + ": bad hex"};
            terminal->receive(bytes->data(), bytes->size());
        } else if (step == "key" || step == "char" || step == "scan" || step == "rfid") {
            return {2, {}, "unsupported step: " + step};
        } else {
            return {1, {}, "line " + std::to_string(number) + ": unknown step " + step};
        }
    }
    return {0, report(terminal->emulator, terminal->session.settings, terminal->host), {}};
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
