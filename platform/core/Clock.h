#ifndef PLATFORM_CORE_CLOCK_H
#define PLATFORM_CORE_CLOCK_H
// The one clock a run loop reads for its timers. Production code uses the steady clock; tests
// swap in a manual clock and step time forward themselves, so nothing time-driven needs to sleep.

#include <chrono>

namespace ns {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
};

}  // namespace ns

#endif
