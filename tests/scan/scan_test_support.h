#pragma once
// One ordered record of what a decode did to the world: sends, repaints, vibrations (the
// clock's sleeps) and sounds, from whichever thread they came.

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/sound.h"

namespace qn::test {

class Timeline {
  public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// A vibration is the device layer's sleep between vibrator on and off: "sleep 500ms".
class TimelineClock final : public platform::Clock {
  public:
    explicit TimelineClock(Timeline& timeline) : timeline_(timeline) {}
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override {
        timeline_.add("sleep " + std::to_string(duration.count()) + "ms");
    }

  private:
    Timeline& timeline_;
};

// "stop" and "play <file name>".
class TimelineSound final : public platform::SoundPlayer {
  public:
    explicit TimelineSound(Timeline& timeline) : timeline_(timeline) {}
    void stop() override { timeline_.add("stop"); }
    void playAsync(const std::filesystem::path& wavFile) override {
        timeline_.add("play " + wavFile.filename().string());
    }

  private:
    Timeline& timeline_;
};

// A send as the timeline shows it: printable bytes as they are, others as <hex>.
inline std::string sendEvent(const std::uint8_t* data, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "send ";
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            text += '<';
            text += kHex[b >> 4];
            text += kHex[b & 15];
            text += '>';
        }
    }
    return text;
}

}  // namespace qn::test
