// Host output through the telnet filter into the VT emulator, cut into receives of varying
// size, with the sign-on check after each: nothing the host sends may reach outside the screen
// buffers, and the cursor and scroll region stay on the screen.
//
// Input: byte 0 picks the reader-command settings, byte 1 the receive size (low seven bits)
// and the emulation (top bit: classic); the rest is the host's output.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/reader/record_fields.h"
#include "tests/fuzz/fuzz_support.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/transport/auto_sign_on.h"
#include "vt/transport/emulator_terminal.h"
#include "vt/transport/vt_telnet_filter.h"

namespace {

using namespace qn::vt;

class CountingHost : public VtHost {
  public:
    void sendBytes(const std::uint8_t* data, std::size_t length) override {
        for (std::size_t i = 0; i < length; ++i)
            checksum += data[i];
    }
    void playSound(int number) override { checksum += static_cast<unsigned>(number); }
    void vibrate(int steps) override {
        if (steps <= 0) std::abort();  // the emulator never asks for an empty vibration
    }
    void setTriggerKey(int on) override { checksum += static_cast<unsigned>(on); }
    std::uint32_t readerType() const override { return 0x27; }
    void setActiveDevice(std::uint32_t mask) override { checksum += mask; }
    void beep() override {}
    void showCaret(bool) override {}
    unsigned checksum = 0;
};

class HostSender final : public qn::telnet::ByteSender {
  public:
    explicit HostSender(VtHost& host) : host_(host) {}
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        host_.sendBytes(bytes.data(), bytes.size());
    }

  private:
    VtHost& host_;
};

void checkScreen(const VtScreen& s) {
    const bool ok = s.cursorRow >= 0 && s.cursorRow < kScreenRows && s.cursorCol >= 0 &&
                    s.cursorCol <= kScreenColumns && s.savedRow >= 0 && s.savedRow < kScreenRows &&
                    s.savedCol >= 0 && s.savedCol <= kScreenColumns && s.regionTop >= 1 &&
                    s.regionTop < s.regionBottom && s.regionBottom <= kScreenRows &&
                    (s.originMode == 0 || s.originMode == 1);
    // In origin mode the cursor never leaves the region, so its reports count from the top.
    const bool inRegion =
        s.originMode == 0 || (s.cursorRow >= s.regionTop - 1 && s.cursorRow <= s.regionBottom - 1);
    if (!ok || !inRegion) std::abort();
}

qn::fuzz::Fresh<VtSession> gSession;
qn::fuzz::Fresh<VtEmulator> gEmulator;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    VtSession* session = &gSession.make();
    VtSettings* settings = &session->settings;
    const std::uint8_t flags = data[0];
    qn::reader::storeText(settings->enableCommand, "\033[99h");
    qn::reader::storeText(settings->disableCommand, "\033[99l");
    if (flags & 1) qn::reader::storeText(settings->goodFeedbackCommand, "\033[5q");
    if (flags & 2) qn::reader::storeText(settings->errorFeedbackCommand, "\033[6n");
    settings->triggerByEscCmd = (flags >> 2) & 1;
    settings->feedbackByCmd = (flags >> 3) & 1;
    settings->rfidReaderOn = (flags >> 4) & 1;
    settings->goodVibrator.set(flags >> 5);
    settings->goodBeeper.set(1);
    // Empty prompts match every row: the sign-on reads the cursor's row after every receive.
    settings->autoSignOn = (flags >> 7) & 1;
    qn::reader::storeText(settings->loginName, "guest");
    // At most 64 receives: each costs a pass of per-receive work that would otherwise
    // outweigh the bytes themselves, and two or three already make a sequence straddle them.
    const std::size_t chunk = std::max<std::size_t>(1 + data[1] % 128, size / 64);

    CountingHost host;
    VtEmulator& emulator = gEmulator.make(*settings, host);
    EmulatorTerminal terminal(emulator);
    HostSender answers(host);
    VtTelnetFilter filter(*session, answers, terminal);
    AutoSignOn signOn;
    emulator.setEmulation((data[1] & 0x80) != 0 ? VtEmulation::Classic : VtEmulation::Vt100);
    emulator.vtReset();
    filter.setSgaAgreed(true);
    for (std::size_t at = 2; at < size; at += chunk) {
        filter.receive({data + at, std::min(chunk, size - at)});
        signOn.check(*settings, terminal, host);
        checkScreen(emulator.screen());
        // Control strings are a vt100 state only.
        const std::int32_t state = emulator.parserState();
        const bool classic = emulator.emulation() == VtEmulation::Classic;
        if (state < kGround || state > (classic ? kEscapeIntermediate : kControlStringEscape)) {
            std::abort();
        }
    }
    return 0;
}
