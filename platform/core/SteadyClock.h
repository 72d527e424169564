#ifndef PLATFORM_CORE_STEADY_CLOCK_H
#define PLATFORM_CORE_STEADY_CLOCK_H
// The real monotonic clock (never jumps when the wall clock is set).

#include "platform/core/Clock.h"

namespace ns {

class SteadyClock : public Clock {
public:
    std::chrono::steady_clock::time_point Now() const override;
};

}  // namespace ns

#endif
