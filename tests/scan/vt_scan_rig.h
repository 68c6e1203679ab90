#pragma once
// A whole VT session with real parts: the simulated reader and the system library loaded from a
// private device root, the device layer, the emulator behind the telnet transport, a loopback
// host, and the decode handler run by a "UI loop" that takes "WM_DECODEDATA" from the queue.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/scan/scan_test_support.h"
#include "tests/simreader/test_support.h"
#include "tests/support/loopback_host.h"
#include "vt/scan/vt_decode_handler.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/session_host.h"

namespace qn::test {

class QuietView final : public telnet::ConnectionView, public vt::VtViewSignals {
  public:
    void connected() override {}
    void chunkReceived() override { chunks.fetch_add(1); }
    void disconnected() override {}
    void beep() override {}
    void showCaret(bool) override {}
    std::atomic<int> chunks{0};
};

class LoopbackOnlyResolver final : public telnet::HostResolver {
  public:
    std::optional<in_addr> resolveName(const std::string&) override { return std::nullopt; }
};

// The queue of the UI thread; remembers when the last message was posted.
class StampingQueue final : public platform::MessageQueue {
  public:
    void post(platform::MessageId id, std::uintptr_t wParam) override {
        lastPost_.store(std::chrono::steady_clock::now().time_since_epoch().count());
        inner_.post(id, wParam);
    }
    std::optional<platform::Message> waitFor(std::chrono::milliseconds timeout) {
        return inner_.waitFor(timeout);
    }
    std::chrono::steady_clock::time_point lastPost() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(lastPost_.load()));
    }

  private:
    platform::BlockingMessageQueue inner_;
    std::atomic<std::chrono::steady_clock::rep> lastPost_{0};
};

struct VtScanRig {
    explicit VtScanRig(const std::string& readerIni = "[reader]\ntype=0x25\nactive=0x27\n") {
        writeFile(root / "reader.ini", readerIni);
        copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        copyPlugin(root.path(), "KX2CE_SYS.so", "KX2CE_SYS.so");
        modelFound = device.detectModel();
        readerLoaded = reader.load();
        if (readerLoaded) reader.initialise();
        simPlugin.emplace(root / "ScanSvc_CE.so");  // the same loaded library, for its test API

        auto& s = session.settings;
        reader::storeText(s.hostAddress, "127.0.0.1");
        s.telnetPort.set(host.port());
        reader::storeText(s.terminalType, "vt100");
        reader::storeText(s.enableCommand, "\033[99h");
        reader::storeText(s.disableCommand, "\033[99l");
        s.barcodeReaderOn = 1;
        s.rfidReaderOn = 1;
        s.scanVibrator.set(2);
        s.scanBeeper.set(6);
        session.settingsLoaded = 1;
        sessionHost.attach(&transport);
    }
    ~VtScanRig() {
        sessionHost.attach(nullptr);
        transport.disconnectSession();
    }

    // The UI loop's turn: the next "WM_DECODEDATA" handled. False when none came.
    bool handleNextDecode(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        auto message = queue.waitFor(timeout);
        if (!message) return false;
        if (message->id != platform::registerWindowMessage(reader::kDecodeMessageName))
            return false;
        handler.handleDecode(message->wParam);
        return true;
    }

    // A scan through quillnet-scan, as an operator's trigger pull; returns its exit status.
    int scan(std::vector<std::string> args) {
        args.insert(args.begin(), {"--socket", (root / "scan.sock").string()});
        return runTool("quillnet-scan", args).exitCode;
    }

    // The simulated reader's call log, one call a line.
    std::string readerLog() const {
        auto callLog = simPlugin->get<QnSimCallLogFn>("QnSimCallLog");
        std::string text(8192, '\0');
        int length = callLog(text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(std::min<int>(length, 8191)));
        return text;
    }
    void clearReaderLog() const { simPlugin->get<QnSimClearCallLogFn>("QnSimClearCallLog")(); }

    bool newLineMode() {
        std::lock_guard lock(sessionLock);
        return emulator.screen().newLineModeOff == 0;
    }

    TempDir root;
    Timeline timeline;
    TimelineClock clock{timeline};
    TimelineSound sound{timeline};
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n"};
    platform::DlLibraryLoader libraries;
    platform::RecordingMessageBoxes messages;
    StampingQueue queue;
    platform::Services services{registry, libraries, messages, queue, clock, sound, root.path()};
    device::DeviceLayer device{services};
    reader::ReaderLibrary reader{services};
    bool modelFound = false;
    bool readerLoaded = false;
    std::optional<Plugin> simPlugin;

    LoopbackHost host;
    vt::VtSession session;
    std::mutex sessionLock;
    QuietView view;
    vt::VtSessionHost sessionHost{device, reader, view};
    vt::DeferredVtHost deferred{sessionHost};
    vt::VtEmulator emulator{session.settings, deferred};
    vt::EmulatorTerminal terminal{emulator};
    LoopbackOnlyResolver resolver;
    vt::VtTransport transport{{services, session, sessionLock, terminal, deferred, view,
                               sessionHost, resolver, std::chrono::milliseconds(0)}};
    std::atomic<std::chrono::steady_clock::rep> lastSendReturned{0};
    vt::VtDecodeHandler handler{
        {messages, reader, device, session, sessionLock, emulator,
         [this](std::span<const std::uint8_t> bytes) {
             transport.sendBytes(bytes);
             lastSendReturned.store(std::chrono::steady_clock::now().time_since_epoch().count());
             timeline.add(sendEvent(bytes.data(), bytes.size()));
         },
         [this] { timeline.add("repaint"); }}};
};

template <class Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace qn::test
