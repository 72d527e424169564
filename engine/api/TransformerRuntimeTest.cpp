// The Transformer at run time on real titles: its worker, the serving sessions of the
// loopback server and their collection, the start position, file output, chapter requests,
// a port it cannot listen on, and what is left after Stop and destruction.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/core/Session.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TaskTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;

using SvTestSupport::kNoPosition;

// Everything queued on the session before this call has run (or the session has stopped).
bool DrainQueue(Session& session) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    session.AddTask(SvTestSupport::MakeTask("test sentinel", [done]() { *done = true; }));
    return WaitUntil([&]() { return *done || session.WaitForStop(0); }) && *done;
}

class TransformerRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { port = UseFreeLoopbackPort(); }

    // HLS of a title on the test's port, its worker started and listening.
    std::unique_ptr<Transformer> Serving(const std::string& title,
                                         MediaTime position = kNoPosition) {
        std::unique_ptr<Transformer> transformer(
            new Transformer(title, MediaFormatHls, OutputKindHls, ""));
        EXPECT_EQ(SVStatusSuccess, transformer->GetStatus());
        EXPECT_EQ(SVStatusSuccess, transformer->Transform(position, TrickPlayRate(0), true));
        EXPECT_TRUE(
            WaitUntil([&]() { return transformer->GetServingSessions().GetListeningPort() != 0; }));
        EXPECT_EQ(port, transformer->GetServingSessions().GetListeningPort());
        return transformer;
    }

    uint16_t port = 0;
};

TEST_F(TransformerRuntimeTest, ASecondTransformIsRefusedAndStartsNoSecondWorker) {
    ASSERT_EQ(0, ThreadsNamed("TWorker"));
    std::unique_ptr<Transformer> transformer = Serving(Fixtures::ShortTitle());
    EXPECT_EQ(1, ThreadsNamed("TWorker"));
    EXPECT_EQ(SVStatusAlreadyStarted, transformer->Transform(kNoPosition, TrickPlayRate(0), true));
    EXPECT_EQ(SVStatusAlreadyStarted, transformer->Transform(MediaTime(0), TrickPlayRate(0), true));
    EXPECT_EQ(1, ThreadsNamed("TWorker"));
    // The refusals changed nothing: the playback still runs and serves.
    EXPECT_EQ(SVStatusSuccess, transformer->GetStatus());
    EXPECT_FALSE(transformer->GetSession()->WaitForStop(0));
    EXPECT_EQ(200, HttpGet(port, "0.ts").status);
}

TEST_F(TransformerRuntimeTest, WithoutAStartPositionNoSeekIsMadeAndAPositionSeeksThere) {
    // Segments made after a seek are numbered from the first, so what segment 0 holds shows
    // where the chain was sent before anything was asked of it.
    int64_t startPts = -1;
    {
        std::unique_ptr<Transformer> transformer = Serving(Fixtures::HlsTitle());
        // The worker posts its seek before it listens: once this has run, so has the seek.
        ASSERT_TRUE(DrainQueue(*transformer->GetSession()));
        const HttpAnswer segment = HttpGet(port, "0.ts");
        ASSERT_EQ(200, segment.status);
        startPts = FirstVideoPts(segment.body);
        ASSERT_GE(startPts, 0);
        EXPECT_EQ(SVStatusSuccess, transformer->Stop());
    }
    port = UseFreeLoopbackPort();
    std::unique_ptr<Transformer> transformer =
        Serving(Fixtures::HlsTitle(), MediaTime(60 * 1000000ull));
    ASSERT_TRUE(DrainQueue(*transformer->GetSession()));
    const HttpAnswer segment = HttpGet(port, "0.ts");
    ASSERT_EQ(200, segment.status);
    const int64_t seekPts = FirstVideoPts(segment.body);
    ASSERT_GE(seekPts, 0);
    // The chain went to the key frame of the GOP that holds 60 s (GOPs last 2 s); without the
    // seek, segment 0 would start where the first run's did.
    const double moved = double(seekPts - startPts) / kTicksPerSecond;
    EXPECT_GT(moved, 58.0);
    EXPECT_LT(moved, 60.1);
}

TEST_F(TransformerRuntimeTest, EachConnectionGetsASessionThatIsCollectedOnceItStops) {
    std::unique_ptr<Transformer> transformer = Serving(Fixtures::ShortTitle());
    EXPECT_EQ(0u, transformer->GetServingSessions().GetCount());
    // A connection gets its session once it has asked something: two ask for a name that is
    // not there, one for the first segment.
    int connections[3];
    for (int i = 0; i < 3; ++i) {
        connections[i] = Connect(port);
        ASSERT_GE(connections[i], 0);
        ASSERT_TRUE(SendAll(connections[i], i == 1
                                                ? "GET /0.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                                                : "GET /none HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    }
    ASSERT_TRUE(WaitUntil([&]() { return transformer->GetServingSessions().GetCount() == 3; }));
    // Running sessions are never collected.
    transformer->GetServingSessions().Collect();
    EXPECT_EQ(3u, transformer->GetServingSessions().GetCount());

    // A closed connection stops its session; the next collection lets exactly that one go.
    close(connections[0]);
    EXPECT_TRUE(WaitUntil([&]() {
        transformer->GetServingSessions().Collect();
        return transformer->GetServingSessions().GetCount() == 2;
    }));
    transformer->GetServingSessions().Collect();
    EXPECT_EQ(2u, transformer->GetServingSessions().GetCount());
    // The others still serve.
    const std::string head = ReadAtLeast(connections[1], 12);
    EXPECT_EQ("HTTP/1.1 200", head.substr(0, 12));

    // Left alone, the collection timer does the same about once a second.
    close(connections[1]);
    EXPECT_TRUE(
        WaitUntil([&]() { return transformer->GetServingSessions().GetCount() == 1; }, 5000));
    close(connections[2]);
    EXPECT_TRUE(
        WaitUntil([&]() { return transformer->GetServingSessions().GetCount() == 0; }, 5000));
    EXPECT_EQ(SVStatusSuccess, transformer->GetStatus());
}

TEST_F(TransformerRuntimeTest, StopEndsTheWorkerTheServersAndFreesThePort) {
    std::unique_ptr<Transformer> transformer = Serving(Fixtures::HlsTitle());
    // Players connected, one in the middle of a segment.
    const int idle = Connect(port);
    ASSERT_GE(idle, 0);
    const int reading = Connect(port);
    ASSERT_GE(reading, 0);
    ASSERT_TRUE(SendAll(reading, "GET /0.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    ASSERT_FALSE(ReadAtLeast(reading, 1).empty());
    // The one that has asked nothing waits without a session.
    ASSERT_TRUE(WaitUntil([&]() { return transformer->GetServingSessions().GetCount() == 1; }));
    EXPECT_EQ(1, ThreadsNamed("TWorker"));

    // The worker waits in its serving loop until the stop.
    EXPECT_EQ(SVStatusSuccess, transformer->Stop());
    EXPECT_EQ(0, ThreadsNamed("TWorker"));
    EXPECT_EQ(0u, transformer->GetServingSessions().GetCount());
    EXPECT_TRUE(transformer->GetSession()->WaitForStop(0));
    EXPECT_EQ(0, transformer->GetServingSessions().GetListeningPort());
    // The players' connections were closed by their servers.
    EXPECT_TRUE(PeerCloses(idle));
    EXPECT_TRUE(PeerCloses(reading));
    close(idle);
    close(reading);
    // Nobody accepts on the port any more, and it can be listened on again.
    EXPECT_LT(Connect(port), 0);
    const int again = BindLoopback(port, true);
    EXPECT_GE(again, 0);
    if (again >= 0) close(again);
    // A second stop finds nothing left to do.
    EXPECT_EQ(SVStatusSuccess, transformer->Stop());

    transformer.reset();
    EXPECT_EQ(0, ThreadsNamed("TWorker"));
    EXPECT_EQ(0, ThreadsNamed("Pump"));
    EXPECT_EQ(0, ThreadsNamed("SocketMaster"));
}

TEST_F(TransformerRuntimeTest, DestructionAloneStopsEverything) {
    {
        std::unique_ptr<Transformer> transformer = Serving(Fixtures::ShortTitle());
        const int fd = Connect(port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "GET /none HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        ASSERT_TRUE(WaitUntil([&]() { return transformer->GetServingSessions().GetCount() == 1; }));
        transformer.reset();
        EXPECT_TRUE(PeerCloses(fd));
        close(fd);
    }
    EXPECT_EQ(0, ThreadsNamed("TWorker"));
    EXPECT_EQ(0, ThreadsNamed("Pump"));
    EXPECT_EQ(0, ThreadsNamed("SocketMaster"));
    const int again = BindLoopback(port, true);
    EXPECT_GE(again, 0);
    if (again >= 0) close(again);
}

TEST_F(TransformerRuntimeTest, APortThatIsTakenIsReportedAsAnErrorAndStopsThePlayback) {
    const int taken = BindLoopback(port, true);
    ASSERT_GE(taken, 0);
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    ErrorRecorder recorder;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&recorder);
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));

    ASSERT_TRUE(WaitUntil([&]() { return !recorder.Errors().empty(); }));
    const ErrorRecorder::Report report = recorder.Errors().front();
    EXPECT_EQ(SVStatusListenFailed, report.first);
    // The text names the port and the reason.
    EXPECT_NE(std::string::npos, report.second.find("127.0.0.1:" + std::to_string(port)))
        << report.second;
    EXPECT_NE(std::string::npos, report.second.find("Address already in use")) << report.second;
    EXPECT_EQ(SVStatusListenFailed, transformer.GetStatus());
    EXPECT_NE(std::string::npos, transformer.GetErrorText().find(std::to_string(port)));
    // The playback is over and the worker ends on its own.
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(10000));
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("TWorker") == 0; }));
    EXPECT_EQ(0, transformer.GetServingSessions().GetListeningPort());
    EXPECT_EQ(SVStatusListenFailed, transformer.Stop());
    EXPECT_EQ(1u, recorder.Errors().size());
    close(taken);
}

TEST_F(TransformerRuntimeTest, ChapterRangesAreCheckedAgainstTheChaptersOfTheTitle) {
    // The fixture's recipe gives the title three chapters: "Opening" at 0 s, "The middle part"
    // at 5.5 s and "Late" at 12 s.
    Transformer transformer(Fixtures::ChapterTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    // None known before the preload: even the first is out of range.
    EXPECT_EQ(SVStatusChapterRange, transformer.GetChapterData(0, 0));
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    const std::vector<TitleInfoCache::ChapterInfo> chapters =
        transformer.GetTitleInfo().GetChapters();
    ASSERT_EQ(3u, chapters.size());
    EXPECT_EQ("Opening", chapters[0].title);
    EXPECT_EQ(0u, chapters[0].startTime.Get());
    EXPECT_EQ("The middle part", chapters[1].title);
    EXPECT_EQ(5500000u, chapters[1].startTime.Get());
    EXPECT_EQ("Late", chapters[2].title);
    EXPECT_EQ(12000000u, chapters[2].startTime.Get());
    EXPECT_EQ(SVStatusChapterRange, transformer.GetChapterData(2, 1));  // reversed
    EXPECT_EQ(SVStatusChapterRange, transformer.GetChapterData(0, 3));  // one past the end
    EXPECT_EQ(SVStatusChapterRange, transformer.GetChapterData(3, 3));
    EXPECT_EQ(SVStatusSuccess, transformer.GetChapterData(0, 2));
    EXPECT_EQ(SVStatusSuccess, transformer.GetChapterData(1, 1));
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
}

TEST_F(TransformerRuntimeTest, FileOutputThatCannotBeWrittenEndsWithTheErrorNotSuccess) {
    TemporaryDirectory dir("tfile");
    // The folder does not exist: the output file cannot be made.
    const std::string output = dir.File("missing/out.ts");
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatMpeg2Ts, OutputKindFile, output);
    EXPECT_EQ(SVStatusFileInput, transformer.GetStatus());
    // The worker gives up at once, and nothing is written.
    transformer.Transform(kNoPosition, TrickPlayRate(0), true);
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("TWorker") == 0; }));
    EXPECT_EQ(SVStatusFileInput, transformer.Stop());
    EXPECT_EQ(SVStatusFileInput, transformer.GetStatus());
    EXPECT_NE(0, access(dir.File("missing").c_str(), F_OK));
}

}  // namespace
}  // namespace SarvelonMediaKit
