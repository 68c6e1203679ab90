#pragma once
// Time and sleeping, injectable so that waits of seconds are tested without sleeping.

#include <chrono>
#include <mutex>
#include <vector>

namespace qn::platform {

class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override;
};

// Test double: sleeping only advances the clock, and every sleep is recorded.
class FakeClock final : public Clock {
  public:
    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds duration) override;
    std::vector<std::chrono::milliseconds> sleeps() const;
    std::chrono::milliseconds elapsed() const;

  private:
    mutable std::mutex mutex_;
    std::chrono::milliseconds elapsed_{0};
    std::vector<std::chrono::milliseconds> sleeps_;
};

}  // namespace qn::platform
