#ifndef PLATFORM_CORE_MANUAL_CLOCK_H
#define PLATFORM_CORE_MANUAL_CLOCK_H
// A clock that stands still until told to move. Tests advance it and then step the run loop;
// it may be read and advanced from any thread.

#include <mutex>

#include "platform/core/Clock.h"

namespace ns {

class ManualClock : public Clock {
public:
    // Starts at an arbitrary but fixed point well past the clock's epoch, so that subtracting
    // a delay from Now() never underflows.
    ManualClock();
    explicit ManualClock(std::chrono::steady_clock::time_point start);

    std::chrono::steady_clock::time_point Now() const override;
    // Moves the time forward; a negative step is ignored (a steady clock never goes back).
    void Advance(std::chrono::steady_clock::duration step);
    // Sets the time; a point before the current one is ignored for the same reason.
    void Set(std::chrono::steady_clock::time_point when);

private:
    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point now_;
};

}  // namespace ns

#endif
