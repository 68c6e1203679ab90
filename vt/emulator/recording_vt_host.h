#pragma once
// A host that sends nowhere: it records every reply and device action in order. The replay
// tool and the tests stand behind the emulator with it.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vt/emulator/vt_host.h"

namespace qn::vt {

class RecordingVtHost : public VtHost {
  public:
    // Each send as one entry.
    std::vector<std::vector<std::uint8_t>> sends;
    // "sound N", "vibrate MS", "trigger 0|1", "active 0xMASK", "beep", "caret show|hide".
    std::vector<std::string> events;
    std::uint32_t readerTypeMask = 0x27;

    void sendBytes(const std::uint8_t* data, std::size_t length) override {
        sends.emplace_back(data, data + length);
    }
    void playSound(int number) override { events.push_back("sound " + std::to_string(number)); }
    void vibrate(int steps) override {
        events.push_back("vibrate " + std::to_string(static_cast<long long>(steps) * 250));
    }
    void setTriggerKey(int on) override { events.push_back("trigger " + std::to_string(on)); }
    std::uint32_t readerType() const override { return readerTypeMask; }
    void setActiveDevice(std::uint32_t mask) override {
        char text[32];
        std::snprintf(text, sizeof text, "active 0x%02x", static_cast<unsigned>(mask));
        events.emplace_back(text);
    }
    void beep() override { events.emplace_back("beep"); }
    void showCaret(bool visible) override {
        events.emplace_back(visible ? "caret show" : "caret hide");
    }

    // Every byte sent, in order.
    std::vector<std::uint8_t> sent() const {
        std::vector<std::uint8_t> all;
        for (const auto& send : sends)
            all.insert(all.end(), send.begin(), send.end());
        return all;
    }
};

}  // namespace qn::vt
