#include "platform/core/SteadyClock.h"

namespace ns {

std::chrono::steady_clock::time_point SteadyClock::Now() const {
    return std::chrono::steady_clock::now();
}

}  // namespace ns
