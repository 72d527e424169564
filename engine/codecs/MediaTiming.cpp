#include "engine/codecs/MediaTiming.h"

#include <algorithm>
#include <map>

namespace SarvelonMediaKit {

uint32_t DeriveFrameDuration(std::vector<uint64_t> presentationTimes) {
    std::sort(presentationTimes.begin(), presentationTimes.end());
    presentationTimes.erase(std::unique(presentationTimes.begin(), presentationTimes.end()),
                            presentationTimes.end());
    std::map<uint64_t, size_t> gaps;
    for (size_t i = 1; i < presentationTimes.size(); ++i) {
        ++gaps[presentationTimes[i] - presentationTimes[i - 1]];
    }
    uint64_t best = 0;
    size_t bestCount = 0;
    for (const auto& gap : gaps) {  // ascending, so a tie keeps the smaller gap
        if (gap.second > bestCount) {
            best = gap.first;
            bestCount = gap.second;
        }
    }
    return best > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(best);
}

uint32_t DeriveBitRate(uint64_t bytes, uint64_t durationTicks) {
    if (durationTicks == 0) {
        return 0;
    }
    // In 128 bits, so that no byte count overflows the product.
    const unsigned __int128 bits = static_cast<unsigned __int128>(bytes) * 8u * kTicksPerSecond;
    const unsigned __int128 rate = (bits + durationTicks / 2) / durationTicks;
    return rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
}

uint64_t UnwrapTimestamp(uint64_t timestamp33, uint64_t reference) {
    timestamp33 &= kTimestampMask;
    uint64_t candidate = (reference & ~kTimestampMask) | timestamp33;
    if (candidate + kTimestampPeriod / 2 < reference) {
        candidate += kTimestampPeriod;
    } else if (candidate > reference + kTimestampPeriod / 2 && candidate >= kTimestampPeriod) {
        candidate -= kTimestampPeriod;
    }
    return candidate;
}

}  // namespace SarvelonMediaKit
