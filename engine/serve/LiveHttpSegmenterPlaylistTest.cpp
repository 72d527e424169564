#include <gtest/gtest.h>

#include "engine/serve/LiveHttpSegmenterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;

const uint32_t k90k = 90000;

std::string Write(SegmenterRig& rig, uint32_t track = 0) {
    boost::shared_ptr<LiveHttpFile> slot;
    rig.Segmenter().WritePlaylist(TrackId(track), slot);
    return FileText(slot);
}

TEST(LiveHttpSegmenterPlaylistTest, MasterListsOneVariantPerVideoTrackWithItsBitRate) {
    SegmenterRig rig(true, true);
    // Byte rates 100 and 200 per second; an audio-only track and a trick-play track are no
    // variants.
    boost::shared_ptr<MediaTrack> audio = VideoTrack(4, k90k, 450000, {0});
    audio->SetVideo(false);
    boost::shared_ptr<MediaTrack> trick = VideoTrack(6, k90k, 450000, {0});
    trick->SetTrickPlayRate(4);
    rig.Tracks({VideoTrack(5, k90k, 450000, {0}, 1600), VideoTrack(3, k90k, 450000, {0}, 800),
                audio, trick});
    EXPECT_EQ(
        "#EXTM3U\n"                                         // header
        "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=800\n"   // track 3: 100 bytes/s x 8
        "3.m3u8\n"                                          // its variant, by track id
        "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=1600\n"  // track 5: 200 bytes/s x 8
        "5.m3u8\n",                                         // no other tag follows
        Write(rig));
}

TEST(LiveHttpSegmenterPlaylistTest, CompleteListsRoundToWholeSecondsHalfUp) {
    // Timescale 100: key frames at 0, 2 and 4 s, track 4.5 s long.
    const std::string expectedEnd =
        "#EXTINF:2,\n"  // 0 to 2 s
        "%0\n"
        "#EXTINF:2,\n"  // 2 to 4 s
        "%1\n"
        "#EXTINF:1,\n"  // 4 to 4.5 s: half a second rounds up
        "%2\n"
        "#EXT-X-ENDLIST\n";  // the title is whole
    for (bool adaptive : {false, true}) {
        SegmenterRig rig(true, adaptive);
        rig.Tracks({VideoTrack(7, 100, 450, {0, 200, 400})});
        std::string expected =
            "#EXTM3U\n"
            "#EXT-X-ALLOW-CACHE:NO\n"
            "#EXT-X-TARGETDURATION:2\n" +  // the longest segment
            expectedEnd;
        // Segment names: "<n>.ts" for one rendition, "<track>-<n>.ts" with adaptation.
        for (char n = '0'; n <= '2'; ++n) {
            const std::string name =
                adaptive ? std::string("7-") + n + ".ts" : n + std::string(".ts");
            expected.replace(expected.find(std::string("%") + n), 2, name);
        }
        EXPECT_EQ(expected, Write(rig, adaptive ? 7 : 0)) << adaptive;
    }
}

TEST(LiveHttpSegmenterPlaylistTest, DurationsAreMeasuredFromTheSecondsAlreadyListed) {
    SegmenterRig rig(true, true);
    // Timescale 1000: key frames every 1.5 s and one at 4.49 s; 6 s long.
    rig.Tracks({VideoTrack(1, 1000, 6000, {0, 1500, 3000, 4490})});
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-TARGETDURATION:2\n"
        "#EXTINF:2,\n"  // 0 to 1.5 s: 1.5 rounds up to 2
        "1-0.ts\n"
        "#EXTINF:1,\n"  // to 3 s, measured from the 2 s listed: 1.0
        "1-1.ts\n"
        "#EXTINF:1,\n"  // to 4.49 s, from the 3 s listed: 1.49 rounds down
        "1-2.ts\n"
        "#EXTINF:2,\n"  // the last, from its key frame at 4.49 s to the end: 1.51
        "1-3.ts\n"
        "#EXT-X-ENDLIST\n",
        Write(rig, 1));
}

TEST(LiveHttpSegmenterPlaylistTest, UniformListCutsTheLongestGroupOfPictures) {
    SegmenterRig rig(true, false);
    // A 10 s track with a key frame every 4 s.
    rig.Tracks({VideoTrack(2, k90k, 10 * k90k, {0, 4 * k90k, 8 * k90k})});
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-TARGETDURATION:4\n"
        "#EXTINF:4,\n"  // 0 to 4 s
        "0.ts\n"
        "#EXTINF:4,\n"  // 4 to 8 s
        "1.ts\n"
        "#EXTINF:2,\n"  // 8 to 10 s, the end of the track
        "2.ts\n"
        "#EXT-X-ENDLIST\n",
        Write(rig));
}

TEST(LiveHttpSegmenterPlaylistTest,
     UniformListGivesAStreamThatRunsOnPastItsLastKeyFrameNoEmptySegment) {
    SegmenterRig rig(true, false);
    // Key frames at 0 and 2 s, the audio runs on to 4.09 s: two groups of pictures, so two
    // segments, the second reaching to the end (2.09 s, listed as 2).
    rig.Tracks({VideoTrack(1, k90k, 368160, {0, 2 * k90k})});
    EXPECT_EQ(kTwoSegmentCompletePlaylist, Write(rig));
}

TEST(LiveHttpSegmenterPlaylistTest, UnevenGroupsAreListedOneSegmentPerKeyFrameToTheMillisecond) {
    SegmenterRig rig(true, false);
    // Key frames at 0, 1, 4, 5 and 11 s, 16 s long: the segmenter cuts five segments.
    rig.Tracks({VideoTrack(1, k90k, 16 * k90k, {0, 1 * k90k, 4 * k90k, 5 * k90k, 11 * k90k})});
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-VERSION:3\n"         // durations with decimals
        "#EXT-X-TARGETDURATION:6\n"  // the longest group, 5 to 11 s
        "#EXTINF:1.000,\n"           // 0 to 1 s
        "0.ts\n"
        "#EXTINF:3.000,\n"  // 1 to 4 s
        "1.ts\n"
        "#EXTINF:1.000,\n"  // 4 to 5 s
        "2.ts\n"
        "#EXTINF:6.000,\n"  // 5 to 11 s
        "3.ts\n"
        "#EXTINF:5.000,\n"  // 11 s to the end
        "4.ts\n"
        "#EXT-X-ENDLIST\n",
        Write(rig));
}

TEST(LiveHttpSegmenterPlaylistTest, GroupsThatDifferSlightlyKeepTheirOwnDurations) {
    struct Case {
        const char* what;
        uint32_t timescale;
        uint32_t duration;
        std::vector<uint32_t> keys;
        std::string expected;
    } cases[] = {
        // Two clips joined: 2 s groups, then 2.021 s ones (181890 ticks). In whole seconds
        // they would all read 2 and the sum would drift off the key frames.
        {"two clips",
         k90k,
         905670,
         {0, 180000, 360000, 541890, 723780},
         "#EXT-X-TARGETDURATION:2\n"
         "#EXTINF:2.000,\n0.ts\n"
         "#EXTINF:2.000,\n1.ts\n"
         "#EXTINF:2.021,\n2.ts\n"
         "#EXTINF:2.021,\n3.ts\n"
         "#EXTINF:2.021,\n4.ts\n"},  // 8.042 to 10.063 s
        // Thirds of a second: each measured from the milliseconds already listed, to the
        // nearest, so that the sum lands on every key frame (333, 1000 and 1667 ms).
        {"thirds",
         3,
         5,
         {0, 1, 3},
         "#EXT-X-TARGETDURATION:1\n"
         "#EXTINF:0.333,\n0.ts\n"
         "#EXTINF:0.667,\n1.ts\n"
         "#EXTINF:0.667,\n2.ts\n"},
        // Even groups that start late: segment k is not [k x D, (k + 1) x D), so the index's
        // entries are listed; the first runs from 0.
        {"late start",
         k90k,
         5 * k90k,
         {k90k / 2, 5 * k90k / 2, 9 * k90k / 2},
         "#EXT-X-TARGETDURATION:3\n"
         "#EXTINF:2.500,\n0.ts\n"
         "#EXTINF:2.000,\n1.ts\n"
         "#EXTINF:0.500,\n2.ts\n"},
    };
    for (const Case& c : cases) {
        SegmenterRig rig(true, false);
        rig.Tracks({VideoTrack(1, c.timescale, c.duration, c.keys)});
        EXPECT_EQ(
            "#EXTM3U\n#EXT-X-ALLOW-CACHE:NO\n#EXT-X-VERSION:3\n" + c.expected + "#EXT-X-ENDLIST\n",
            Write(rig))
            << c.what;
    }
}

TEST(LiveHttpSegmenterPlaylistTest, NoPlaylistIsWrittenWithoutATrack) {
    for (bool onDemand : {false, true}) {
        for (bool adaptive : {false, true}) {
            SegmenterRig rig(onDemand, adaptive);
            boost::shared_ptr<LiveHttpFile> slot =
                boost::make_shared<LiveHttpFile>(nullptr, 0);  // something written before
            rig.Segmenter().WritePlaylist(TrackId(adaptive ? 3 : 0), slot);
            if (onDemand) {
                // A complete list already written is kept.
                EXPECT_TRUE(slot) << onDemand << adaptive;
                continue;
            }
            boost::shared_ptr<LiveHttpFile> empty;
            rig.Segmenter().WritePlaylist(TrackId(adaptive ? 3 : 0), empty);
            EXPECT_FALSE(empty) << onDemand << adaptive;
        }
    }
    // A track whose index has no timescale cannot be listed either.
    SegmenterRig rig(true, false);
    rig.Tracks({VideoTrack(1, 0, 100, {0})});
    EXPECT_EQ("", Write(rig));
}

TEST(LiveHttpSegmenterPlaylistTest, CompleteListsAreWrittenOnceSlidingWindowsEachTime) {
    SegmenterRig onDemand(true, false);
    onDemand.Tracks({VideoTrack(1, k90k, 4 * k90k, {0, 2 * k90k})});
    boost::shared_ptr<LiveHttpFile> slot;
    onDemand.Segmenter().WritePlaylist(TrackId(0), slot);
    const boost::shared_ptr<LiveHttpFile> first = slot;
    ASSERT_TRUE(first);
    EXPECT_EQ(LiveHttpFile::StateComplete, first->GetState());
    onDemand.Segmenter().WritePlaylist(TrackId(0), slot);
    EXPECT_EQ(first, slot);

    SegmenterRig live(false, false);
    live.Tracks({VideoTrack(1, k90k, 4 * k90k, {0, 2 * k90k})});
    live.Gop();
    live.Data("a");
    live.Gop();
    boost::shared_ptr<LiveHttpFile> window;
    live.Segmenter().WritePlaylist(TrackId(0), window);
    const boost::shared_ptr<LiveHttpFile> before = window;
    ASSERT_TRUE(before);
    live.Segmenter().WritePlaylist(TrackId(0), window);
    EXPECT_NE(before, window);
    // Only segment 0 is finished: it alone is named.
    EXPECT_EQ(kFirstSegmentLiveWindow, FileText(window));
}

}  // namespace
}  // namespace SarvelonMediaKit
