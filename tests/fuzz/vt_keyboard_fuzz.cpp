// The VT keyboard with everything it reads set by the host: host output through the telnet
// filter and the emulator (new-line and cursor-key modes, the cursor, local echo turned off by
// any telnet command) interleaved with key-downs, characters and key-map codes, in line-buffer
// mode or not. Whatever the order, the line buffer never outgrows its line, the cursor stays on
// the screen, and every send is a whole key's bytes or a whole line.
//
// Input: byte 0 the settings (local echo, line buffer, full screen, Control prefix); then
// steps, each an opcode byte and its operands.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tests/fuzz/fuzz_support.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/vt_telnet_filter.h"

namespace {

using namespace qn::vt;

void require(bool condition) {
    if (!condition) std::abort();
}

// The emulator's replies and device requests go nowhere; their sizes are checked.
class QuietHost final : public VtHost {
  public:
    void sendBytes(const std::uint8_t*, std::size_t length) override { require(length > 0); }
    void playSound(int) override {}
    void vibrate(int) override {}
    void setTriggerKey(int) override {}
    std::uint32_t readerType() const override { return 0x27; }
    void setActiveDevice(std::uint32_t) override {}
    void beep() override {}
    void showCaret(bool) override {}
};

class TelnetAnswers final : public qn::telnet::ByteSender {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override { require(!bytes.empty()); }
};

// The connection and the view as the keyboard sees them.
class Checks final : public KeyboardLink, public KeyboardView {
  public:
    bool socketOpen() const override { return open; }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        // A key's translation (at most five bytes), or the typed line of line-buffer mode.
        require(!bytes.empty() && bytes.size() <= std::max(kKeyCodeSize, kLineBufferSize));
    }
    void runDeferred() override {}
    void invalidate() override {}
    void placeCaret() override {}
    void repaintAfterKey() override {}
    void frameEscape() override {}
    bool open = true;
};

void checkScreen(const VtScreen& s) {
    require(s.cursorRow >= 0 && s.cursorRow < kScreenRows && s.cursorCol >= 0 &&
            s.cursorCol <= kScreenColumns);
}

// Keys worth reaching often: the mapped slots, the built-in translation, Control, full screen.
constexpr int kKeys[] = {vk::kReturn, vk::kBack,      vk::kTab,     vk::kEscape,
                         vk::kLeft,   vk::kUp,        vk::kRight,   vk::kDown,
                         vk::kHome,   vk::kEnd,       vk::kPageUp,  vk::kPageDown,
                         vk::kInsert, vk::kDelete,    vk::kF1,      vk::kF20,
                         vk::kSend,   vk::kDeviceEnd, vk::kControl, vk::kFullScreenPrefix};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qn::fuzz::Fresh<VtSession> freshSession;
    static qn::fuzz::Fresh<VtEmulator> freshEmulator;
    if (size < 1) return 0;
    VtSession& session = freshSession.make();
    session.settingsLoaded = 1;
    session.settings.localEcho = data[0] & 1;
    session.settings.lineBuffer = (data[0] >> 1) & 1;
    session.settings.fullScreenOn.set((data[0] >> 2) & 1);
    QuietHost host;
    VtEmulator& emulator = freshEmulator.make(session.settings, host);
    EmulatorTerminal terminal(emulator);
    TelnetAnswers answers;
    VtTelnetFilter filter(session, answers, terminal);
    Checks checks;
    std::mutex lock;
    VtKeyboard keyboard(session, lock, emulator, checks, checks);
    emulator.vtReset();

    std::size_t at = 1;
    // Each step may print a whole line: 64 of them reach far into a session.
    for (int step = 0; step < 64 && at < size; ++step) {
        const std::uint8_t op = data[at++];
        const std::uint8_t operand = at < size ? data[at++] : 0;
        switch (op % 6) {
            case 0: {  // host output
                const std::size_t n = std::min<std::size_t>(1 + operand % 64, size - at);
                filter.receive({data + at, n});
                at += n;
                break;
            }
            case 1:
                keyboard.keyDown(kKeys[operand % std::size(kKeys)]);
                break;
            case 2:
                keyboard.keyDown(operand);
                break;
            case 3:
                keyboard.character(operand);
                break;
            case 4: {  // a slot's code, as the mapping page stores it
                const std::size_t slot = 1 + operand % kKeySlots;
                auto code = session.settings.keyCodeTable.begin() +
                            static_cast<std::ptrdiff_t>(slot * kKeyCodeSize);
                const std::size_t n = std::min(kKeyCodeSize, size - at);
                std::fill_n(code, kKeyCodeSize, 0);
                std::copy_n(data + at, n, code);
                at += n;
                break;
            }
            default:  // the connection comes and goes; a user disconnect turns echo back on
                checks.open = (operand & 1) != 0;
                if (operand & 2) session.localEchoActive = 1;
                break;
        }
        require(keyboard.lineText().size() <= kLineBufferSize);
        checkScreen(emulator.screen());
    }
    return 0;
}
