// quillnet-device: brings up the handheld stand-in the way the programs do at start-up (model,
// system library, reader library) and reports what it found; optionally plays a sound, vibrates
// and prints the decodes that arrive. For checking a device root on a desktop or a handheld.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "platform/paths.h"

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

int usage() {
    std::fprintf(stderr, "usage: quillnet-device [--sound N] [--vibrate STEPS] [--wait SECONDS]\n");
    return 64;
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
    int sound = 0, vibrateSteps = 0, waitSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        auto number = [&](int& out) {
            if (i + 1 >= argc) return false;
            auto value = qn::platform::parseInteger(argv[++i]);
            if (!value || *value < 0 || *value > 3600) return false;
            out = static_cast<int>(*value);
            return true;
        };
        bool ok = false;
        if (std::strcmp(argv[i], "--sound") == 0)
            ok = number(sound);
        else if (std::strcmp(argv[i], "--vibrate") == 0)
            ok = number(vibrateSteps);
        else if (std::strcmp(argv[i], "--wait") == 0)
            ok = number(waitSeconds);
        if (!ok) return usage();
    }

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
                int length = ops.GetOutputRecord(QN_DECODE_BARCODE, buffer, sizeof buffer);
                std::printf("barcode: %s\n", printable(buffer, length).c_str());
            } else if (ops.GetDecodeRfidUID) {
                int length = ops.GetDecodeRfidUID(buffer, sizeof buffer);
                std::printf("rfid uid: %s\n", printable(buffer, length).c_str());
            }
            std::fflush(stdout);
        }
        reader.setTriggerKey(0);
    } else {
        // Leave time for a sound to be heard before the player goes away.
        if (sound != 0) clock.sleepFor(std::chrono::milliseconds(500));
    }

    reader.halt();
    device.freeLibraries(reader.releaseLibrary());
    return 0;
}
