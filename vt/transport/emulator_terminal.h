#pragma once
// The VT emulator as the connection sees it.

#include <algorithm>

#include "vt/emulator/vt_emulator.h"
#include "vt/transport/vt_transport.h"

namespace qn::vt {

class EmulatorTerminal final : public VtTerminal {
  public:
    explicit EmulatorTerminal(VtEmulator& emulator) : emulator_(emulator) {}

    void data(std::span<const std::uint8_t> bytes) override { emulator_.feed(bytes); }
    void reset() override { emulator_.vtReset(); }
    int cursorRow() const override { return emulator_.screen().cursorRow; }
    std::span<const std::uint8_t> rowText(int row) const override {
        return emulator_.screen().rowChars(std::clamp(row, 0, kScreenRows - 1));
    }
    void clearScreenChars() override { emulator_.clearScreenChars(); }
    void setEmulation(telnet::Emulation emulation) override {
        emulator_.setEmulation(emulation == telnet::Emulation::Classic ? VtEmulation::Classic
                                                                       : VtEmulation::Vt100);
    }

  private:
    VtEmulator& emulator_;
};

}  // namespace qn::vt
