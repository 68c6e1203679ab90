#pragma once
// Where the 5250 program's deferred replies and alarms are finally carried out, once the
// session lock is free: records go out on the session socket, and the alarm is the configured
// error sound followed by the error vibration.

#include <cstdint>
#include <mutex>
#include <span>

#include "common/device/device.h"
#include "common/telnet/telnet.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

class TnProgramHost final : public TnHost {
  public:
    TnProgramHost(telnet::ByteSender& socket, device::DeviceLayer& device, const TnSession& session,
                  std::mutex& sessionLock)
        : socket_(socket), device_(device), session_(session), sessionLock_(sessionLock) {}

    void sendBytes(std::span<const std::uint8_t> bytes) override { socket_.sendBytes(bytes); }

    // Call with the session lock released: the settings are read under it, the sound and the
    // vibration (which waits) run without it.
    void alarm() override {
        int sound = 0;
        int steps = 0;
        {
            std::lock_guard lock(sessionLock_);
            sound = session_.errorBeeper.get();
            steps = session_.errorVibrator.get();
        }
        device_.playSound(sound);
        if (steps != 0) device_.vibrate(steps);
    }

  private:
    telnet::ByteSender& socket_;
    device::DeviceLayer& device_;
    const TnSession& session_;
    std::mutex& sessionLock_;
};

}  // namespace qn::tn
