#include "engine/serve/HlsPlaylistMaker.h"

#include <gtest/gtest.h>

#include "engine/serve/LiveHttpSegmenterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using test::VideoTrack;

typedef std::vector<std::pair<uint64_t, std::string>> Listed;

Listed SegmentsOf(const HlsPlaylist& playlist) {
    Listed listed;
    for (const HlsPlaylist::Segment& segment : playlist.segments) {
        listed.push_back(std::make_pair(segment.duration, segment.uri));
    }
    return listed;
}

TEST(HlsPlaylistMakerTest, SlidingWindowEndsAtTheNewestFinishedSegment) {
    // Key frames 2.5 s apart (90 kHz): the target rounds the longest group half up to 3 s, each
    // segment is said to last it truncated, 2 s.
    const boost::shared_ptr<MediaTrack> track = VideoTrack(4, 90000, 450000, {0, 225000});
    // Segments 5 to 8 finished, 9 being written.
    const std::vector<HlsPlaylistMaker::Segment> segments = {
        {5, true}, {6, true}, {7, true}, {8, true}, {9, false}};
    HlsPlaylist window;
    ASSERT_TRUE(
        HlsPlaylistMaker(false).MakeSlidingWindow(TrackId(0), track.get(), segments, 3, window));
    EXPECT_EQ(3u, window.targetDuration);
    EXPECT_TRUE(window.hasMediaSequence);
    EXPECT_EQ(6u, window.mediaSequence);  // the last three finished: 6, 7, 8
    EXPECT_EQ(Listed({{2, "6.ts"}, {2, "7.ts"}, {2, "8.ts"}}), SegmentsOf(window));
    EXPECT_FALSE(window.endList);

    // A window wider than what is in memory starts at the oldest; adaptive names carry the
    // track id given.
    HlsPlaylist wide;
    ASSERT_TRUE(HlsPlaylistMaker(true).MakeSlidingWindow(TrackId(4), track.get(),
                                                         {{0, true}, {1, false}}, 3, wide));
    EXPECT_EQ(0u, wide.mediaSequence);
    EXPECT_EQ(Listed({{2, "4-0.ts"}}), SegmentsOf(wide));

    // Nothing to list: no finished segment, no track, no timescale.
    HlsPlaylist none;
    const HlsPlaylistMaker maker(false);
    EXPECT_FALSE(maker.MakeSlidingWindow(TrackId(0), track.get(), {{3, false}}, 3, none));
    EXPECT_FALSE(maker.MakeSlidingWindow(TrackId(0), nullptr, segments, 3, none));
    EXPECT_FALSE(maker.MakeSlidingWindow(TrackId(0), VideoTrack(4, 0, 450000, {0}).get(), segments,
                                         3, none));
    EXPECT_TRUE(none.segments.empty());
}

TEST(HlsPlaylistMakerTest, UnevenGroupsAreWholeSecondsPerKeyFrameWithAdaptation) {
    // Timescale 100: key frames at 0, 1.5 and 4 s, the track 4.5 s long. With adaptation every
    // rendition names one segment per key frame in whole seconds, each measured from the
    // seconds already listed: 1.5 s rounds to 2, 4 - 2 = 2, 4.5 - 4 = 0.5 rounds to 1.
    const boost::shared_ptr<MediaTrack> track = VideoTrack(7, 100, 450, {0, 150, 400});
    HlsPlaylist list;
    ASSERT_TRUE(HlsPlaylistMaker(true).MakeCompleteList(TrackId(7), track.get(), list));
    EXPECT_EQ(0u, list.version);
    EXPECT_EQ(HlsPlaylist::DurationUnit::Seconds, list.durationUnit);
    EXPECT_EQ(2u, list.targetDuration);
    EXPECT_EQ(Listed({{2, "7-0.ts"}, {2, "7-1.ts"}, {1, "7-2.ts"}}), SegmentsOf(list));
    EXPECT_TRUE(list.endList);
    EXPECT_FALSE(list.hasMediaSequence);

    // No track to list, no renditions: nothing.
    HlsPlaylist none;
    EXPECT_FALSE(HlsPlaylistMaker(true).MakeCompleteList(TrackId(7), nullptr, none));
    EXPECT_FALSE(HlsPlaylistMaker(true).MakeMaster({}, none));
}

}  // namespace
}  // namespace SarvelonMediaKit
