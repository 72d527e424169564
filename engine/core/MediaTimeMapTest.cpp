#include "engine/core/MediaTimeMap.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

std::deque<std::pair<MediaTime, MediaTime>> Pairs(MediaTimeMap& map) {
    SV::ScopedLock lock(map);
    return map.Value();
}

TEST(MediaTimeMapTest, TheFirstReportFixesTheOffsetAndABackwardTimeClearsTheHistory) {
    MediaTimeMap map;
    EXPECT_FALSE(map.IsStarted());
    EXPECT_EQ(0u, map.GetOffset());

    map.SetCurrentTime(5000, 2000);
    EXPECT_TRUE(map.IsStarted());
    EXPECT_EQ(3000u, map.GetOffset());
    map.SetCurrentTime(6000, 2500);
    map.SetCurrentTime(6000, 2600);  // an equal time is appended
    EXPECT_EQ(3u, Pairs(map).size());

    map.SetCurrentTime(4000, 1500);  // time went back
    auto pairs = Pairs(map);
    ASSERT_EQ(1u, pairs.size());
    EXPECT_EQ(4000u, pairs[0].first);
    EXPECT_EQ(1500u, pairs[0].second);
    EXPECT_EQ(3000u, map.GetOffset());  // kept from the first report

    MediaTimeMap negative;
    negative.SetCurrentTime(1000, 4000);
    EXPECT_EQ(static_cast<uint64_t>(-3000), negative.GetOffset().Get());
}

TEST(MediaTimeMapTest, TheHistoryKeepsTheNewest7200Pairs) {
    MediaTimeMap map;
    for (uint64_t i = 0; i < 7201; ++i) map.SetCurrentTime(i * 40000, i);
    auto pairs = Pairs(map);
    ASSERT_EQ(MediaTimeMap::kMaxPairs, pairs.size());
    EXPECT_EQ(1u, pairs.front().second);  // the first report's pair is gone
    EXPECT_EQ(7200u, pairs.back().second);
}

}  // namespace
}  // namespace SarvelonMediaKit
