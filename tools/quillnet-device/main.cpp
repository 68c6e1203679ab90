// quillnet-device: brings up the handheld stand-in the way the programs do at start-up (model,
// system library, reader library) and reports what it found; optionally plays a sound, vibrates
// and prints the decodes that arrive. For checking a device root on a desktop or a handheld.
// --scanners lists the scanners attached to this machine, for filling in reader.ini.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/cli/cli.h"
#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "platform/paths.h"
#include "plugins/simreader/scanner_devices.h"
#include "plugins/simreader/simreader_test_api.h"

namespace {

// Message boxes of a console tool: the text on stderr, answered with the default button.
class ConsoleMessageBoxes final : public qn::platform::MessageBoxes {
  public:
    qn::platform::MbResult show(std::string_view text, std::string_view,
                                qn::platform::MbButtons buttons, qn::platform::MbIcon) override {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
        return buttons == qn::platform::MbButtons::YesNo ? qn::platform::MbResult::Yes
                                                         : qn::platform::MbResult::Ok;
    }
};

constexpr int kExitUsage = 64;

// One line a scanner, with the reader.ini line that names it.
int listScanners() {
    const auto devices = qn::sim::findScannerDevices();
    int others = 0, listed = 0;
    for (const auto& device : devices) {
        if (!device.likelyScanner) {
            ++others;
            continue;
        }
        ++listed;
        const char* kind = qn::sim::scannerKindName(device.kind);
        std::printf("%-8s %04x:%04x  %s\n", kind, device.id.vendor, device.id.product,
                    device.name.c_str());
        std::printf(
            "         node:  %s%s\n", device.node.c_str(),
            ::access(device.node.c_str(), R_OK) == 0 ? "" : "  (not readable by this user)");
        if (!device.byId.empty()) std::printf("         by-id: %s\n", device.byId.c_str());
        if (!device.hidLayout.empty()) {
            std::printf("         layout: %s\n", device.hidLayout.c_str());
        }
        const std::string byIdName =
            device.byId.empty() ? "" : device.byId.substr(device.byId.rfind('/') + 1);
        switch (device.kind) {
            case qn::sim::ScannerKind::Keyboard:
                std::printf("         reader.ini: [scanner] evdev=%s\n",
                            byIdName.empty() ? device.node.c_str() : byIdName.c_str());
                break;
            case qn::sim::ScannerKind::HidPos:
                std::printf("         reader.ini: [scanner] hidraw=%04x:%04x\n", device.id.vendor,
                            device.id.product);
                break;
            default:
                std::printf("         reader.ini: [reader] serial=%s\n",
                            device.byId.empty() ? device.node.c_str() : device.byId.c_str());
                break;
        }
    }
    if (listed == 0) std::printf("no scanner found\n");
    if (others > 0) {
        std::printf("%d other keyboard%s not listed (they have LEDs and no scanner name)\n", others,
                    others == 1 ? "" : "s");
    }
    return 0;
}

std::string printable(const unsigned char* data, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        unsigned char c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "Brings up the handheld stand-in as the programs do at start-up and reports what it "
        "found; optionally plays a sound, vibrates and prints the decodes that arrive.");
    qn::cli::prepare(app, "quillnet-device");
    // An option given twice counts with its last value, as scripts append overrides.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    int sound = 0, vibrateSteps = 0, waitSeconds = 0;
    std::optional<int> watchSeconds;
    bool scanners = false;
    const CLI::Range seconds(0, 3600);
    CLI::Option* soundOption = app.add_option("--sound", sound, "Play sound N (0 to 3600)")
                                   ->type_name("N")
                                   ->transform(qn::cli::decimal())
                                   ->check(seconds);
    CLI::Option* vibrateOption =
        app.add_option("--vibrate", vibrateSteps, "Vibrate for STEPS steps (0 to 3600)")
            ->type_name("STEPS")
            ->transform(qn::cli::decimal())
            ->check(seconds);
    CLI::Option* waitOption =
        app.add_option("--wait", waitSeconds, "Print the decodes that arrive for SECONDS")
            ->type_name("SECONDS")
            ->transform(qn::cli::decimal())
            ->check(seconds);
    CLI::Option* watchOption =
        app.add_option("--watch", watchSeconds,
                       "Print the decodes that arrive for SECONDS, each with its scanner kind")
            ->type_name("SECONDS")
            ->transform(qn::cli::decimal())
            ->check(seconds);
    app.add_flag("--scanners", scanners,
                 "List the scanners attached to this machine, with their reader.ini lines")
        ->excludes(soundOption, vibrateOption, waitOption, watchOption);
    std::ostringstream out, err;
    const std::optional<int> status =
        qn::cli::parse(app, std::vector<std::string>(argv + 1, argv + argc), out, err, kExitUsage);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (status) return *status;
    if (scanners) return listScanners();
    const bool watch = watchSeconds.has_value();
    if (watchSeconds) waitSeconds = *watchSeconds;

    auto root = qn::platform::deviceRoot();
    qn::platform::IniRegistry registry(root / "registry.ini");
    qn::platform::DlLibraryLoader loader;
    ConsoleMessageBoxes messages;
    qn::platform::BlockingMessageQueue queue;
    qn::platform::SystemClock clock;
    qn::platform::AlsaSoundPlayer player;
    qn::platform::Services services{registry, loader, messages, queue, clock, player, root};

    std::printf("device root: %s\n", root.c_str());
    qn::device::DeviceLayer device(services);
    if (!device.detectModel()) {
        std::printf("model: '%s' not supported, start-up stops\n", device.modelName().c_str());
        return 1;
    }
    std::printf("model: %s\nsystem info digit: %d\n", device.modelName().c_str(),
                device.systemInfoDigit());

    qn::reader::ReaderLibrary reader(services);
    if (!reader.load()) return 1;
    reader.initialise();
    std::printf("reader library: %s\nreader type: 0x%X\nactive devices: 0x%X\n",
                reader.versionText().c_str(), reader.readerType(), reader.activeDevices());

    if (sound != 0) device.playSound(sound);
    if (vibrateSteps != 0) device.vibrate(vibrateSteps);

    if (waitSeconds > 0) {
        const auto decodeMessage =
            qn::platform::registerWindowMessage(qn::reader::kDecodeMessageName);
        // The simulated reader tells which scanner a decode came from; another library does not.
        QnSimDecodeSourceFn decodeSource = nullptr;
        void* self = ::dlopen((root / "ScanSvc_CE.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (self != nullptr) {
            decodeSource =
                reinterpret_cast<QnSimDecodeSourceFn>(::dlsym(self, "QnSimDecodeSource"));
        }
        reader.setTriggerKey(1);
        std::printf("waiting %d s for decodes\n", waitSeconds);
        std::fflush(stdout);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            auto message = queue.waitFor(left);
            if (!message || message->id != decodeMessage) continue;
            unsigned char buffer[260] = {};
            const auto& ops = reader.ops();
            if (message->wParam == QN_DECODE_BARCODE && ops.GetOutputRecord) {
                // Asked before the fetch: the decode cannot be replaced until it is fetched.
                char kind[16] = {}, symbology[8] = {};
                const bool known =
                    watch && decodeSource != nullptr &&
                    decodeSource(kind, sizeof kind, symbology, sizeof symbology) == 1;
                int length = ops.GetOutputRecord(QN_DECODE_BARCODE, buffer, sizeof buffer);
                if (known) {
                    std::printf("%s%s%s: %s\n", kind, symbology[0] != 0 ? " " : "", symbology,
                                printable(buffer, length).c_str());
                } else {
                    std::printf("barcode: %s\n", printable(buffer, length).c_str());
                }
            } else if (ops.GetDecodeRfidUID) {
                int length = ops.GetDecodeRfidUID(buffer, sizeof buffer);
                std::printf("rfid uid: %s\n", printable(buffer, length).c_str());
            }
            std::fflush(stdout);
        }
        reader.setTriggerKey(0);
        if (self != nullptr) ::dlclose(self);
    } else {
        // Leave time for a sound to be heard before the player goes away.
        if (sound != 0) clock.sleepFor(std::chrono::milliseconds(500));
    }

    reader.halt();
    device.freeLibraries(reader.releaseLibrary());
    return 0;
}
