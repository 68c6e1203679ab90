#pragma once
// Where the emulator's requests end up in the running program: replies on the session socket,
// sounds and vibration through the device layer, the trigger and active devices through the
// reader library, the beep and the caret through the view.

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "vt/emulator/vt_host.h"
#include "vt/transport/vt_transport.h"

namespace qn::vt {

// What the emulator may ask of the view itself.
class VtViewSignals {
  public:
    virtual ~VtViewSignals() = default;
    virtual void beep() = 0;
    virtual void showCaret(bool visible) = 0;
};

class VtSessionHost final : public VtHost, public telnet::TriggerSwitch {
  public:
    VtSessionHost(device::DeviceLayer& device, reader::ReaderLibrary& reader, VtViewSignals& view)
        : device_(device), reader_(reader), view_(view) {}

    // Where replies go: the transport, made after the host (it needs the emulator, which
    // needs the host), or a tool's wire.
    void attach(telnet::ByteSender* sender) { sender_ = sender; }

    void sendBytes(const std::uint8_t* data, std::size_t length) override {
        if (sender_ != nullptr) sender_->sendBytes({data, length});
    }
    void playSound(int number) override { device_.playSound(number); }
    void vibrate(int steps) override { device_.vibrate(steps); }
    void setTriggerKey(int on) override { reader_.setTriggerKey(on); }
    std::uint32_t readerType() const override { return reader_.readerType(); }
    void setActiveDevice(std::uint32_t mask) override {
        if (auto set = reader_.ops().SetActiveDevice) set(static_cast<int>(mask));
    }
    void beep() override { view_.beep(); }
    void showCaret(bool visible) override { view_.showCaret(visible); }

  private:
    device::DeviceLayer& device_;
    reader::ReaderLibrary& reader_;
    VtViewSignals& view_;
    telnet::ByteSender* sender_ = nullptr;
};

}  // namespace qn::vt
