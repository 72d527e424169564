#include "engine/api/TitleInfoCache.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <thread>

#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {
namespace {

boost::shared_ptr<MediaTrack> Track(uint32_t id, bool video, bool audio) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetVideo(video);
    track->SetAudio(audio);
    return track;
}

TEST(TitleInfoCache, LaterChapterNumbersAppendAndKnownNumbersReplace) {
    TitleInfoCache cache;
    cache.ChapterReceived(0, MediaTime(0), "Opening");
    cache.ChapterReceived(1, MediaTime(60000000), "Middle");
    cache.ChapterReceived(5, MediaTime(90000000), "End");
    std::vector<TitleInfoCache::ChapterInfo> chapters = cache.GetChapters();
    ASSERT_EQ(3u, chapters.size()) << "a number beyond the end leaves no gap";
    EXPECT_EQ(3u, cache.GetChapterCount());
    EXPECT_EQ("Opening", chapters[0].title);
    EXPECT_EQ(60000000u, chapters[1].startTime.Get());
    EXPECT_EQ("End", chapters[2].title);
    EXPECT_EQ(90000000u, chapters[2].startTime.Get());

    cache.ChapterReceived(1, MediaTime(61000000), "Middle again");
    chapters = cache.GetChapters();
    ASSERT_EQ(3u, chapters.size());
    EXPECT_EQ("Middle again", chapters[1].title);
    EXPECT_EQ(61000000u, chapters[1].startTime.Get());
    EXPECT_EQ("Opening", chapters[0].title);
    EXPECT_EQ("End", chapters[2].title);
    cache.ChaptersAvailable(7);
    cache.ThumbnailReceived(0, std::vector<unsigned char>(10, 0xFF));
    EXPECT_EQ(3u, cache.GetChapters().size()) << "counts and thumbnails are not kept";
}

TEST(TitleInfoCache, TracksDurationAndCurrentTracks) {
    TitleInfoCache cache;
    StreamInfoMonitor::TrackMap tracks;
    tracks[TrackId(1)] = Track(1, true, true);
    tracks[TrackId(2)] = Track(2, false, true);
    cache.TracksAvailable(tracks, false);
    EXPECT_TRUE(cache.GetTracks().empty()) << "an incomplete list is not kept";
    cache.TracksAvailable(tracks, true);
    EXPECT_EQ(2u, cache.GetTracks().size());
    EXPECT_EQ(tracks[TrackId(2)], cache.FindTrack(TrackId(2)));
    EXPECT_FALSE(cache.FindTrack(TrackId(3)));
    StreamInfoMonitor::TrackMap fewer;
    fewer[TrackId(1)] = tracks[TrackId(1)];
    cache.TracksAvailable(fewer, false);
    EXPECT_EQ(2u, cache.GetTracks().size()) << "a partial list keeps the complete one";

    cache.TrackChanged(tracks[TrackId(1)]);
    EXPECT_EQ(tracks[TrackId(1)], cache.GetVideoTrack()) << "video and audio count as video";
    EXPECT_FALSE(cache.GetAudioTrack());
    cache.TrackChanged(tracks[TrackId(2)]);
    EXPECT_EQ(tracks[TrackId(2)], cache.GetAudioTrack());
    EXPECT_EQ(tracks[TrackId(1)], cache.GetVideoTrack());
    cache.TrackChanged(Track(3, false, false));
    EXPECT_EQ(tracks[TrackId(2)], cache.GetAudioTrack()) << "a text track changes neither";
    cache.TrackChanged(boost::shared_ptr<MediaTrack>());
    EXPECT_EQ(tracks[TrackId(1)], cache.GetVideoTrack());

    cache.DurationAvailable(MediaTime(123456789));
    EXPECT_EQ(123456789u, cache.GetDuration().Get());
    EXPECT_FALSE(cache.IsTrickPlayAvailable());
    cache.TrickPlayAvailable(true);
    EXPECT_TRUE(cache.IsTrickPlayAvailable());
}

TEST(TitleInfoCache, QueriesWhileEventsArriveOnAnotherThread) {
    TitleInfoCache cache;
    std::thread writer([&cache]() {
        for (uint32_t i = 0; i < 2000; ++i) {
            StreamInfoMonitor::TrackMap tracks;
            tracks[TrackId(i % 5 + 1)] = Track(i % 5 + 1, i % 2 == 0, true);
            cache.TracksAvailable(tracks, true);
            cache.TrackChanged(tracks.begin()->second);
            cache.ChapterReceived(i % 7, MediaTime(i), "chapter");
            cache.DurationAvailable(MediaTime(i));
        }
    });
    size_t seen = 0;
    for (int i = 0; i < 2000; ++i) {
        seen += cache.GetTracks().size();
        seen += cache.GetChapters().size() <= 7 ? 0 : 1000000;
        if (boost::shared_ptr<MediaTrack> video = cache.GetVideoTrack()) {
            EXPECT_TRUE(video->HasVideo());
        }
    }
    writer.join();
    EXPECT_LT(seen, 1000000u) << "never more chapters than numbers used";
    EXPECT_EQ(7u, cache.GetChapters().size());
}

}  // namespace
}  // namespace SarvelonMediaKit
