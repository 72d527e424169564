#include "platform/core/ManualClock.h"

namespace ns {

ManualClock::ManualClock()
    : ManualClock(std::chrono::steady_clock::time_point(std::chrono::hours(24))) {}

ManualClock::ManualClock(std::chrono::steady_clock::time_point start) : now_(start) {}

std::chrono::steady_clock::time_point ManualClock::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void ManualClock::Advance(std::chrono::steady_clock::duration step) {
    if (step <= std::chrono::steady_clock::duration::zero()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += step;
}

void ManualClock::Set(std::chrono::steady_clock::time_point when) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (when > now_) now_ = when;
}

}  // namespace ns
