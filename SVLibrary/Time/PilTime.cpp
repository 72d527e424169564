#include "SVLibrary/Time/PilTime.h"

#include <sys/time.h>

#include "SVLibrary/Exception/Exception.h"

namespace SV {

void PilTime::SetNow() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    value_ = static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

PilTime& PilTime::operator+=(int64_t delta) {
    const uint64_t sum = value_ + static_cast<uint64_t>(delta);
    if (delta >= 0 && sum < value_) throw SVLibraryException(SVL_PilTimeOverflow);
    if (delta <= 0 && sum > value_) throw SVLibraryException(SVL_PilTimeUnderflow);
    value_ = sum;
    return *this;
}

}  // namespace SV
