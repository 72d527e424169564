#include "engine/codecs/MediaTiming.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

TEST(MediaTiming, TickAndMicrosecondConversionsFollowTheirRoundingRules) {
    EXPECT_EQ(TicksToMicrosecondsTruncated(90000), 1000000u);  // one second
    EXPECT_EQ(TicksToMicrosecondsTruncated(1), 11u);           // 11.11 us, truncated
    EXPECT_EQ(TicksToMicrosecondsTruncated(3003), 33366u);     // 33366.67 us (29.97 Hz frame)
    EXPECT_EQ(MicrosecondsToTicksTruncated(33366), 3002u);     // 3002.94 ticks, truncated
    EXPECT_EQ(MicrosecondsToTicksRounded(33366), 3003u);       // (33366 + 5) * 0.09 = 3003.39
    EXPECT_EQ(MicrosecondsToTicksRounded(0), 0u);              // 0.45 ticks stays 0
    EXPECT_EQ(ClockToTicks(27000000), 90000u);
    EXPECT_EQ(ClockToTicks(299), 0u);
    EXPECT_EQ(TicksToClock(90000), 27000000u);
    EXPECT_EQ(ClockExtension(27000299), 299u);  // one second and 299 periods of the next tick
    EXPECT_EQ(ClockExtension(300), 0u);
    EXPECT_EQ(ClockExtension(599), 299u);
    EXPECT_EQ(UnitsToMicroseconds(48000, 48000), 1000000u);
    EXPECT_EQ(UnitsToMicroseconds(1, 3), 333333u);
    EXPECT_EQ(UnitsToMicroseconds(5, 0), 0u);
}

TEST(MediaTiming, TimestampsCount33Bits) {
    EXPECT_EQ(kTimestampPeriod, 8589934592u);  // 2^33 ticks, about 26.5 hours
    EXPECT_EQ(kTimestampMask, 0x1FFFFFFFFu);
    EXPECT_EQ((kTimestampPeriod + 5) & kTimestampMask, 5u);  // one period later: the same PTS
}

TEST(MediaTiming, ATickCountReadInAndWrittenOutComesBackUnchanged) {
    // What the demultiplexer reads (truncated microseconds) the multiplexer writes again; every
    // timestamp of a title must survive the trip, over the whole 33-bit range.
    for (uint64_t ticks = 0; ticks < 200000; ++ticks) {
        ASSERT_EQ(MicrosecondsToTicksRounded(TicksToMicrosecondsTruncated(ticks)), ticks) << ticks;
    }
    for (uint64_t ticks = (1ull << 33) - 100000; ticks < (1ull << 33); ++ticks) {
        ASSERT_EQ(MicrosecondsToTicksRounded(TicksToMicrosecondsTruncated(ticks)), ticks) << ticks;
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
