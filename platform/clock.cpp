#include "platform/clock.h"

#include <thread>

namespace qn::platform {

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

Clock::TimePoint FakeClock::now() const {
    std::lock_guard lock(mutex_);
    return TimePoint{} + elapsed_;
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    elapsed_ += duration;
    sleeps_.push_back(duration);
}

std::vector<std::chrono::milliseconds> FakeClock::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

std::chrono::milliseconds FakeClock::elapsed() const {
    std::lock_guard lock(mutex_);
    return elapsed_;
}

}  // namespace qn::platform
