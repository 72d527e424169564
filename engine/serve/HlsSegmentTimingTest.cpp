// The shape of a track's list, worked out by hand from its key frames: whether the list is
// uniform, its longest group, and how many uniform segments it names.
#include "engine/serve/HlsSegmentTiming.h"

#include <gtest/gtest.h>

#include "engine/serve/LiveHttpSegmenterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using test::VideoTrack;

struct Shape {
    bool uniform;
    uint32_t longestGop;
    uint32_t uniformCount;
};

void ExpectShape(const Shape& expected, const MediaTrack& track, const char* what) {
    const HlsSegmentTiming::ListShape shape = HlsSegmentTiming::ShapeOf(track);
    EXPECT_EQ(expected.uniform, shape.uniform) << what;
    EXPECT_EQ(expected.longestGop, shape.longestGop) << what;
    if (expected.uniform) {
        EXPECT_EQ(expected.uniformCount, shape.uniformCount) << what;
    }
}

TEST(HlsSegmentTimingTest, TheShapeOfAListComesFromTheKeyFramesAndTheDuration) {
    // 90 kHz, key frames every 2 s (180000 ticks).
    const std::vector<uint32_t> ten = {0,      180000,  360000,  540000,  720000,
                                       900000, 1080000, 1260000, 1440000, 1620000};
    // 20 s: ten groups of 2 s, ten segments.
    ExpectShape({true, 180000, 10}, *VideoTrack(1, 90000, 1800000, ten), "20 s");
    // 19 s: the last group lasts 1 s; 19 / 2 rounded up is still ten segments.
    ExpectShape({true, 180000, 10}, *VideoTrack(1, 90000, 1710000, ten), "19 s");
    // 21 s: sound runs on 1 s past the last group; 21 / 2 rounded up is 11, but there are only
    // ten key frames to cut at, so ten.
    ExpectShape({true, 180000, 10}, *VideoTrack(1, 90000, 1890000, ten), "21 s");
    // Key frames at 0, 1.5 s and 4 s (100 ticks a second): the longest group is 2.5 s and
    // the first is shorter, so the list names the key frames one by one.
    ExpectShape({false, 250, 0}, *VideoTrack(1, 100, 450, {0, 150, 400}), "uneven");
    // Even groups that do not start at 0 are not the uniform list either.
    ExpectShape({false, 200, 0}, *VideoTrack(1, 100, 700, {100, 300, 500}), "late start");
    // One key frame: no spacing, so the group is the whole 4.5 s, one segment.
    ExpectShape({true, 450, 1}, *VideoTrack(1, 100, 450, {0}), "one group");
}

}  // namespace
}  // namespace SarvelonMediaKit
