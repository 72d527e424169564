#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "tests/support/Fixtures.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::LineCapture;

class ErrorLog : public ErrorInfoMonitor {
public:
    ~ErrorLog() override { DetachFromSources(); }
    void SetError(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors.push_back(std::make_pair(status, text));
    }
    std::vector<std::pair<SVStatus, std::string>> Errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<SVStatus, std::string>> errors;
};

boost::shared_ptr<MediaTrack> Track(uint32_t id, bool video, bool audio) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetVideo(video);
    track->SetAudio(audio);
    return track;
}

TEST(TransformerChapters, LaterNumbersAppendAndKnownNumbersReplace) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    transformer.ChapterReceived(0, MediaTime(0), "Opening");
    transformer.ChapterReceived(1, MediaTime(60000000), "Middle");
    transformer.ChapterReceived(5, MediaTime(90000000), "End");
    std::vector<Transformer::ChapterInfo> chapters = transformer.GetChapters();
    ASSERT_EQ(3u, chapters.size()) << "a number beyond the end leaves no gap";
    EXPECT_EQ("Opening", chapters[0].title);
    EXPECT_EQ(60000000u, chapters[1].startTime.Get());
    EXPECT_EQ("End", chapters[2].title);
    EXPECT_EQ(90000000u, chapters[2].startTime.Get());

    transformer.ChapterReceived(1, MediaTime(61000000), "Middle again");
    chapters = transformer.GetChapters();
    ASSERT_EQ(3u, chapters.size());
    EXPECT_EQ("Middle again", chapters[1].title);
    EXPECT_EQ(61000000u, chapters[1].startTime.Get());
    EXPECT_EQ("Opening", chapters[0].title);
    EXPECT_EQ("End", chapters[2].title);
    transformer.ChaptersAvailable(7);
    transformer.ThumbnailReceived(0, std::vector<unsigned char>(10, 0xFF));
    EXPECT_EQ(3u, transformer.GetChapters().size()) << "counts and thumbnails are not kept";
}

TEST(TransformerStreamEvents, TracksDurationAndCurrentTracks) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    Transformer::TrackMap tracks;
    tracks[TrackId(1)] = Track(1, true, true);
    tracks[TrackId(2)] = Track(2, false, true);
    transformer.TracksAvailable(tracks, false);
    EXPECT_TRUE(transformer.GetTracks().empty()) << "an incomplete list is not kept";
    transformer.TracksAvailable(tracks, true);
    EXPECT_EQ(2u, transformer.GetTracks().size());
    Transformer::TrackMap fewer;
    fewer[TrackId(1)] = tracks[TrackId(1)];
    transformer.TracksAvailable(fewer, false);
    EXPECT_EQ(2u, transformer.GetTracks().size()) << "a partial list keeps the complete one";

    transformer.TrackChanged(tracks[TrackId(1)]);
    EXPECT_EQ(tracks[TrackId(1)], transformer.GetVideoTrack()) << "video and audio count as video";
    EXPECT_FALSE(transformer.GetAudioTrack());
    transformer.TrackChanged(tracks[TrackId(2)]);
    EXPECT_EQ(tracks[TrackId(2)], transformer.GetAudioTrack());
    EXPECT_EQ(tracks[TrackId(1)], transformer.GetVideoTrack());
    transformer.TrackChanged(Track(3, false, false));
    EXPECT_EQ(tracks[TrackId(2)], transformer.GetAudioTrack()) << "a text track changes neither";
    transformer.TrackChanged(boost::shared_ptr<MediaTrack>());

    transformer.DurationAvailable(MediaTime(123456789));
    EXPECT_EQ(123456789u, transformer.GetDuration().Get());
    transformer.TrickPlayAvailable(true);
    EXPECT_TRUE(transformer.IsTrickPlayAvailable());

    // Only stream type 2 goes into the time map.
    transformer.MediaTimeAvailable(1, MediaTime(5000), MediaTime(1000));
    EXPECT_FALSE(transformer.IsStarted());
    transformer.MediaTimeAvailable(2, MediaTime(5000), MediaTime(1000));
    EXPECT_TRUE(transformer.IsStarted());
    EXPECT_EQ(4000u, transformer.GetOffset().Get());
}

TEST(TransformerStreamEvents, QueriesWhileEventsArriveOnAnotherThread) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    std::thread writer([&transformer]() {
        for (uint32_t i = 0; i < 2000; ++i) {
            Transformer::TrackMap tracks;
            tracks[TrackId(i % 5 + 1)] = Track(i % 5 + 1, i % 2 == 0, true);
            transformer.TracksAvailable(tracks, true);
            transformer.TrackChanged(tracks.begin()->second);
            transformer.ChapterReceived(i % 7, MediaTime(i), "chapter");
            transformer.DurationAvailable(MediaTime(i));
        }
    });
    size_t seen = 0;
    for (int i = 0; i < 2000; ++i) {
        seen += transformer.GetTracks().size();
        seen += transformer.GetChapters().size() <= 7 ? 0 : 1000000;
        if (boost::shared_ptr<MediaTrack> video = transformer.GetVideoTrack()) {
            EXPECT_TRUE(video->HasVideo());
        }
    }
    writer.join();
    EXPECT_LT(seen, 1000000u) << "never more chapters than numbers used";
    EXPECT_EQ(7u, transformer.GetChapters().size());
}

TEST(TransformerErrors, ErrorIsRecordedStopsTheSessionAndIsPassedOn) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    transformer.SetError(SVStatusMediaTruncated, "Media was truncated");
    EXPECT_EQ(SVStatusMediaTruncated, transformer.GetStatus());
    EXPECT_EQ("Media was truncated", transformer.GetErrorText());
    ASSERT_EQ(1u, log.Errors().size());
    EXPECT_EQ(SVStatusMediaTruncated, log.Errors()[0].first);
    EXPECT_EQ("Media was truncated", log.Errors()[0].second);
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
    // A later preload does not wait for a stopped chain (here it fails to open the file).
    EXPECT_NE(SVStatusSuccess, transformer.PreLoad());
    transformer.ClearStatus();
    EXPECT_EQ(SVStatusSuccess, transformer.GetLastStatus());
}

TEST(TransformerErrors, SessionErrorsReachTheTransformer) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    // The session publishes from its own task thread.
    transformer.GetSession()->SetError(SVStatusDataStalled, "stalled");
    for (int i = 0; i < 500 && log.Errors().empty(); ++i) usleep(10000);
    ASSERT_EQ(1u, log.Errors().size());
    EXPECT_EQ(SVStatusDataStalled, transformer.GetStatus());
    EXPECT_EQ("stalled", transformer.GetErrorText());
}

TEST(TransformerErrors, RtmpOutputKeepsTheSessionRunning) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindRtmpServer, "");
    ASSERT_EQ(SVStatusUnrecognisedScheme, transformer.GetStatus());
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    transformer.SetError(SVStatusFileInput, "cannot read");
    EXPECT_EQ(SVStatusFileInput, transformer.GetStatus());
    EXPECT_EQ(1u, log.Errors().size());
    EXPECT_FALSE(transformer.GetSession()->WaitForStop(200)) << "the session goes on";
    EXPECT_EQ(SVStatusFileInput, transformer.StopSession());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
}

TEST(TransformerSessionEvents, LifeCycleLines) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    transformer.SessionStopped();
    transformer.SessionSetupCompleted();
    EXPECT_EQ(std::vector<std::string>(
                  {"SessionSetupCompleted", "SessionStopped", "SessionSetupCompleted"}),
              capture.Lines());
}

TEST(TransformerStreamEvents, PreloadCompleteEndsTheWait) {
    Transformer transformer(SvTestSupport::Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls,
                            "");
    // A completion that arrives early (counted once per demultiplexer) leaves nothing to wait
    // for: the stage goes straight to its end.
    transformer.PreloadComplete();
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(8388608u - 524288u, transformer.GetSession()->GetCapacity().Get())
        << "the preload stage did not run: the capacity stays reduced";
}

}  // namespace
}  // namespace SarvelonMediaKit
