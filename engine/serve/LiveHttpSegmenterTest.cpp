#include "engine/serve/LiveHttpSegmenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/Pump.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/samples/SampleFormat.h"
#include "engine/serve/LiveHttpSegmenterTestSupport.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/FakeDemux.h"
#include "tests/support/HandMadeStreams.h"
#include "common/TsReader.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::ErrorRecorder;
using SvTestSupport::RecordingStage;

const uint32_t kTicksPerSecond = 90000;
const std::string kNotFound = "HTTP/1.1 404 Not Found";
const std::string kOk = "HTTP/1.1 200 OK";

// A title of key frames every 2 s, 20 s long.
boost::shared_ptr<MediaTrack> TwoSecondTrack(uint32_t id = 1) {
    std::vector<uint32_t> keys;
    for (uint32_t k = 0; k < 10; ++k) keys.push_back(k * 2 * kTicksPerSecond);
    return VideoTrack(id, kTicksPerSecond, 20 * kTicksPerSecond, keys);
}

class LiveHttpSegmenterTest : public SegmenterTestBase {};

TEST_F(LiveHttpSegmenterTest, ThreeGroupsOfPicturesMakeSegmentsZeroOneTwo) {
    Start(false, false);
    ErrorRecorder errors;
    rig->Segmenter().AddMonitor(&errors);
    // Nothing in memory: the segmenter pulls, a sample at a time (this source gives nothing,
    // so the first step is the last).
    rig->Pull();
    EXPECT_EQ(std::vector<std::string>{"pull 1"}, rig->Source().Log(RecordingStage::kPull));
    // Audio ahead of the first picture has no segment to go to: dropped, and no error.
    rig->Data("early");
    for (const char* bytes : {"gop-zero", "gop-one", "gop-two"}) {
        rig->Gop();
        rig->Data(bytes);
        rig->Data("+");
    }
    rig->EndOfStream();
    EXPECT_TRUE(errors.Errors().empty());
    EXPECT_TRUE(errors.Warnings().empty());
    // Three finished; the end of the stream opened one more, held: three wait to be served.
    EXPECT_EQ((Segments{{0, 3}, {1, 3}, {2, 3}, {3, 0}}), rig->Segments());
    rig->Source().ClearLog();
    rig->Pull();
    EXPECT_EQ(0u, rig->Source().Log(RecordingStage::kPull).size());

    EXPECT_EQ("gop-zero+", Fetch(Port(), "0.ts").body);
    const Reply one = Fetch(Port(), "1.ts?session=abc");  // a query is not part of the name
    EXPECT_EQ(kOk, one.status);
    EXPECT_EQ("gop-one+", one.body);
    EXPECT_EQ("gop-two+", Fetch(Port(), "2.ts").body);
    // Served segments leave memory; the held one opens for writing and pulls resume.
    EXPECT_TRUE(SegmentsBecome(Segments{{3, 1}}));
    rig->Pull();
    EXPECT_EQ(std::vector<std::string>{"pull 1"}, rig->Source().Log(RecordingStage::kPull));
    rig->Segmenter().RemoveMonitor(&errors);
}

// The real multiplexer in front: the sound timed ahead of the first key frame goes out before
// the group's marker, where no segment is open. It is dropped without an error (the playback's
// Transformer would stop on one), and the first segment begins with the group's tables.
TEST(LiveHttpSegmenterMuxTest, SoundAheadOfTheFirstKeyFrameIsDroppedWithoutStoppingAnything) {
    boost::shared_ptr<LiveHttpSegmenter> segmenter = boost::make_shared<LiveHttpSegmenter>(nullptr);
    boost::shared_ptr<RecordingStage> between = boost::make_shared<RecordingStage>();
    boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(nullptr);
    boost::shared_ptr<SvTestSupport::FakeDemux> demux =
        boost::make_shared<SvTestSupport::FakeDemux>(nullptr);
    const size_t video = demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    const size_t audio = demux->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatAacAdts);
    ComponentStack stack =
        SvTestSupport::BuildLinkedChain(StackIdMain, {segmenter, between, mux, demux});
    segmenter->SetName("title.m3u8", false);
    ErrorRecorder errors;
    segmenter->AddMonitor(&errors);
    LiveFront front(segmenter.get());

    // Sound at 0.98 s, the key frame at 1.0 s, sound at 1.0 s; then the end of the stream.
    demux->AddSample(audio, SvGolden::AdtsFrame(200, 1), 980000);
    demux->AddSample(video, SvGolden::Slice(true, 7, 0, 0, 400, 2), 1000000, 0, true);
    demux->AddSample(audio, SvGolden::AdtsFrame(200, 3), 1000000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(ByteAmount(0x7FFFFFFF));

    // Bytes reached the segmenter ahead of the first marker (type 0, a group of pictures).
    std::vector<std::string> passed;  // data and markers in the order they went by
    for (const std::string& line : between->Log()) {
        if (line.rfind("data ", 0) == 0 || line.rfind("marker ", 0) == 0) passed.push_back(line);
    }
    ASSERT_GE(passed.size(), 2u);
    EXPECT_EQ(0u, passed[0].rfind("data ", 0)) << passed[0];
    EXPECT_EQ("marker 0", between->Log(RecordingStage::kMarker).front());

    EXPECT_TRUE(errors.Errors().empty());
    EXPECT_TRUE(errors.Warnings().empty());
    // Segment 0 finished by the end of the stream, one more open after it.
    EXPECT_EQ((Segments{{0, 3}, {1, 1}}), segmenter->GetSegments());

    const std::string segment = Fetch(front.Port(), "0.ts").body;
    ASSERT_GE(segment.size(), 188u);
    ASSERT_EQ(0u, segment.size() % 188);
    const uint8_t* first = reinterpret_cast<const uint8_t*>(segment.data());
    EXPECT_EQ(0x47, first[0]);
    EXPECT_EQ(0x0000, ((first[1] & 0x1F) << 8) | first[2]);  // PID 0: the PAT leads
    // Read by the independent reader: the picture (PID 0x21) and the sound (0x22) of 1.0 s
    // only, 90000 at 90 kHz; the sound of 0.98 s (88200) is not there.
    SvTools::TsReader reader;
    reader.Feed(first, segment.size());
    reader.Finish();
    std::vector<std::string> pes;
    for (const SvTools::TsPes& p : reader.Pes()) {
        pes.push_back(std::to_string(p.pid) + "@" + std::to_string(p.pts));
    }
    EXPECT_EQ((std::vector<std::string>{"33@90000", "34@90000"}), pes);
    segmenter->RemoveMonitor(&errors);
}

TEST_F(LiveHttpSegmenterTest, OnDemandHoldsAtMostOneFinishedUnservedSegment) {
    Start(true, false);
    rig->Tracks({TwoSecondTrack()});
    rig->Gop();
    rig->Data("zero");
    EXPECT_EQ((Segments{{0, 1}}), rig->Segments());
    rig->Gop();
    rig->Data("one");  // the chain may hand on bytes past the marker in the same pull
    // 0 waits to be served: 1 exists but is held, and nothing is pulled.
    EXPECT_EQ((Segments{{0, 3}, {1, 0}}), rig->Segments());
    rig->Pull();
    EXPECT_EQ(0, rig->Source().Count(RecordingStage::kPull));

    EXPECT_EQ("zero", Fetch(Port(), "0.ts").body);
    // Served completely: 0 is dropped and 1 is released for writing.
    EXPECT_TRUE(SegmentsBecome(Segments{{1, 1}}));
    rig->Pull();
    EXPECT_EQ(1, rig->Source().Count(RecordingStage::kPull));
    rig->Gop();
    EXPECT_EQ("one", Fetch(Port(), "1.ts").body);
}

TEST_F(LiveHttpSegmenterTest, RequestsInsideTheWindowWaitOutsideItSeekAfterHalfASecond) {
    Start(false, false);
    rig->Tracks({TwoSecondTrack()});
    // Segments 0 to 5 cut; 0 to 2 served: 3 and 4 finished, 5 being written, next 6.
    for (int k = 0; k <= 5; ++k) {
        rig->Gop();
        rig->Data("d" + std::to_string(k));
        if (k == 3) {
            for (int served = 0; served <= 2; ++served) {
                EXPECT_EQ("d" + std::to_string(served),
                          Fetch(Port(), std::to_string(served) + ".ts").body);
            }
            ASSERT_TRUE(SegmentsBecome(Segments{{3, 1}}));
        }
    }
    ASSERT_EQ((Segments{{3, 3}, {4, 3}, {5, 1}}), rig->Segments());
    ASSERT_EQ(6u, rig->Segmenter().GetNextSegmentNumber());

    // 5 is being written and 6 comes next: both wait, without a seek.
    const int five = Ask(Port(), "5.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    const int six = Ask(Port(), "6.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    rig->Gop();  // 5 finished
    EXPECT_EQ("d5", Await(five).body);

    // 1 was dropped long ago and 20 lies far ahead: the playback has to move. Each waits.
    const int one = Ask(Port(), "1.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    EXPECT_TRUE(rig->Segmenter().IsSeekPending());
    const int twenty = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(3));
    // Not before more than 500 ms have passed since the last such request.
    rig->Advance(500);
    rig->Pull();
    rig->RunTasks();
    EXPECT_TRUE(Seeks().empty());
    rig->Advance(1);
    rig->Pull();
    rig->RunTasks();
    // To the last one asked for: 20 x (2 s + one 90 kHz tick), in microseconds.
    EXPECT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    EXPECT_TRUE(rig->Segments().empty());
    EXPECT_EQ(20u, rig->Segmenter().GetNextSegmentNumber());
    // 1 and 6 will not be made now: told so rather than left hanging.
    EXPECT_EQ(kNotFound, Await(one).status);
    EXPECT_EQ(kNotFound, Await(six).status);
    // The next segment cut carries the number asked for.
    rig->Data("in flight");  // bytes from before the seek's first marker: dropped
    rig->Gop();
    rig->Data("d20");
    rig->Gop();
    const Reply reply = Await(twenty);
    EXPECT_EQ(kOk, reply.status);
    EXPECT_EQ("d20", reply.body);
}

TEST_F(LiveHttpSegmenterTest, NamesOutsideTheGrammarAndPastTheListAreNotFoundAtOnce) {
    Start(true, false);
    rig->Tracks({TwoSecondTrack()});  // ten segments listed
    for (const char* name : {"favicon.ico", "-1.ts", "+5.ts", "5.tsX", "05.ts", "1-2.ts", "3.m3u8",
                             "4294967296.ts", "10.ts", "4294967295.ts", "title.m3u8x"}) {
        EXPECT_EQ(kNotFound, Fetch(Port(), name).status) << name;
    }
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    EXPECT_EQ(0u, rig->Segmenter().GetWaitingRequestCount());
    rig->Advance(1000);
    rig->Pull();
    rig->RunTasks();
    EXPECT_TRUE(Seeks().empty());
    // Playback goes on where it was: 1 follows 0 without a seek.
    rig->Gop();
    rig->Data("zero");
    rig->Gop();
    EXPECT_EQ("zero", Fetch(Port(), "0.ts").body);
    const int one = Ask(Port(), "1.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    rig->Data("one");
    rig->Gop();
    EXPECT_EQ("one", Await(one).body);
}

TEST_F(LiveHttpSegmenterTest, UnevenGroupsAreSoughtByTheirKeyFramesAndAllListed) {
    Start(true, false);
    // Key frames at 0, 1, 4, 5 and 11 s, 16 s long: five segments, although five of the
    // longest group (6 s) would not cover three.
    rig->Tracks({VideoTrack(
        1, kTicksPerSecond, 16 * kTicksPerSecond,
        {0, 1 * kTicksPerSecond, 4 * kTicksPerSecond, 5 * kTicksPerSecond, 11 * kTicksPerSecond})});
    EXPECT_EQ(kNotFound, Fetch(Port(), "5.ts").status);  // past the list
    const int four = Ask(Port(), "4.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    EXPECT_TRUE(rig->Segmenter().IsSeekPending());
    rig->Advance(501);
    rig->Pull();
    rig->RunTasks();
    // To the key frame of entry 4, 11 s, one microsecond past it so that it lands on it.
    EXPECT_EQ(std::vector<std::string>{"seek 11000001"}, Seeks());
    EXPECT_EQ(4u, rig->Segmenter().GetNextSegmentNumber());
    rig->Gop();
    rig->Data("d4");
    rig->EndOfStream();
    const Reply reply = Await(four);
    EXPECT_EQ(kOk, reply.status);
    EXPECT_EQ("d4", reply.body);
}

TEST_F(LiveHttpSegmenterTest, PlaylistsWaitForTheTrackListAndEveryWaitingRequestIsAnswered) {
    Start(true, false);
    const int first = Ask(Port(), "title.m3u8");
    const int second = Ask(Port(), "title.m3u8");
    const int segment = Ask(Port(), "3.ts");
    ASSERT_TRUE(WaitingBecomes(3));
    // A partial list says nothing yet; and no seek was made without a track to place it.
    rig->Tracks({TwoSecondTrack()}, false);
    EXPECT_EQ(3u, rig->Segmenter().GetWaitingRequestCount());
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    rig->Tracks({VideoTrack(1, kTicksPerSecond, 4 * kTicksPerSecond, {0, 2 * kTicksPerSecond})});
    const std::string expected = kTwoSegmentCompletePlaylist;
    EXPECT_EQ(expected, Await(first).body);
    EXPECT_EQ(expected, Await(second).body);
    // 3 is past the two segments listed.
    EXPECT_EQ(kNotFound, Await(segment).status);
}

TEST_F(LiveHttpSegmenterTest, ATrackListWithoutVideoAnswersWaitingPlaylistsNotFound) {
    Start(true, false);
    const int playlist = Ask(Port(), "title.m3u8");
    ASSERT_TRUE(WaitingBecomes(1));
    boost::shared_ptr<MediaTrack> audio = VideoTrack(2, kTicksPerSecond, 4 * kTicksPerSecond, {0});
    audio->SetVideo(false);
    rig->Tracks({audio});
    EXPECT_EQ(kNotFound, Await(playlist).status);
    EXPECT_EQ(kNotFound, Fetch(Port(), "title.m3u8").status);
}

TEST_F(LiveHttpSegmenterTest, ASlidingWindowWaitsForAFinishedSegmentAndShowsTheLastThree) {
    Start(false, false);
    rig->Tracks({TwoSecondTrack()});
    const int early = Ask(Port(), "title.m3u8");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Gop();
    rig->Data("d0");
    rig->Gop();
    EXPECT_EQ(kFirstSegmentLiveWindow, Await(early).body);
    // Segments 0 to 9 finished, 10 opened; 0 to 6 served.
    for (int k = 1; k <= 9; ++k) {
        rig->Data("d" + std::to_string(k));
        rig->Gop();
    }
    for (int k = 0; k <= 6; ++k) {
        EXPECT_EQ("d" + std::to_string(k), Fetch(Port(), std::to_string(k) + ".ts").body);
    }
    ASSERT_TRUE(SegmentsBecome(Segments{{7, 3}, {8, 3}, {9, 3}, {10, 0}}));
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-TARGETDURATION:2\n"  // the longest group of pictures, whole seconds
        "#EXT-X-MEDIA-SEQUENCE:7\n"  // the oldest segment listed
        "#EXTINF:2,\n"
        "7.ts\n"
        "#EXTINF:2,\n"
        "8.ts\n"
        "#EXTINF:2,\n"
        "9.ts\n",  // no end tag
        Fetch(Port(), "title.m3u8").body);
}

TEST_F(LiveHttpSegmenterTest, AdaptiveRequestForAnotherTrackSwitchesAndSeeksAtOnce) {
    Start(true, true);
    rig->Tracks({TwoSecondTrack(5), TwoSecondTrack(3)});
    // The lowest id is segmented first, and chosen in the chain.
    rig->RunTasks();
    EXPECT_EQ(std::vector<std::string>{"track 3"}, rig->Source().Log(RecordingStage::kSelectTrack));
    rig->Gop();
    rig->Data("3:0 ");
    // With adaptation a segment goes out while it is written.
    const int growing = Ask(Port(), "3-0.ts");
    ASSERT_TRUE(WaitUntil([&]() { return rig->Segments() == Segments{{0, 2}}; }));
    rig->Data("more");
    rig->Gop();
    EXPECT_EQ("3:0 more", Await(growing).body);

    EXPECT_EQ(kNotFound, Fetch(Port(), "9-0.ts").status);   // no such track
    EXPECT_EQ(kNotFound, Fetch(Port(), "5-10.ts").status);  // ten key frames: 0 to 9
    EXPECT_EQ(kNotFound, Fetch(Port(), "0.ts").status);     // names carry the track
    EXPECT_TRUE(Seeks().empty());

    const int other = Ask(Port(), "5-2.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    EXPECT_FALSE(rig->Segmenter().IsSeekPending());
    rig->RunTasks();  // no delay
    EXPECT_EQ((std::vector<std::string>{"track 3", "track 5"}),
              rig->Source().Log(RecordingStage::kSelectTrack));
    // Key frame 2 at 4 s, one microsecond past it.
    EXPECT_EQ(std::vector<std::string>{"seek 4000001"}, Seeks());
    EXPECT_EQ(5u, rig->Segmenter().GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(2u, rig->Segmenter().GetNextSegmentNumber());
    rig->Gop();
    rig->Data("5:2");
    rig->EndOfStream();
    EXPECT_EQ("5:2", Await(other).body);
}

// A player reading every rendition at once asks for another track's segment while one of the
// current track is still being cut and sent: that one reaches its reader whole (it used to
// end where the cut stood, as if complete), and the track changes right after.
TEST_F(LiveHttpSegmenterTest, AnotherTracksRequestWaitsUntilTheSegmentBeingReadIsWhole) {
    Start(true, true);
    rig->Tracks({TwoSecondTrack(5), TwoSecondTrack(3)});
    rig->RunTasks();
    rig->Gop();
    rig->Data("3:0 ");
    const int growing = Ask(Port(), "3-0.ts");
    ASSERT_TRUE(WaitUntil([&]() { return rig->Segments() == Segments{{0, 2}}; }));

    const int other = Ask(Port(), "5-1.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->RunTasks();
    EXPECT_TRUE(Seeks().empty());
    EXPECT_EQ(std::vector<std::string>{"track 3"}, rig->Source().Log(RecordingStage::kSelectTrack));
    EXPECT_EQ(3u, rig->Segmenter().GetCurrentTrack()->GetId().Get());

    rig->Data("more");
    rig->Gop();
    EXPECT_EQ("3:0 more", Await(growing).body);
    rig->RunTasks();
    EXPECT_EQ((std::vector<std::string>{"track 3", "track 5"}),
              rig->Source().Log(RecordingStage::kSelectTrack));
    EXPECT_EQ(std::vector<std::string>{"seek 2000001"}, Seeks());
    rig->Gop();
    rig->Data("5:1");
    rig->EndOfStream();
    EXPECT_EQ("5:1", Await(other).body);
}

TEST_F(LiveHttpSegmenterTest, TheMainPlaylistNameIsMatchedDecoded) {
    Start(true, false, "My Title \xC3\xA9.m3u8");
    EXPECT_EQ("My%20Title%20%C3%A9.m3u8", rig->Segmenter().GetUrlName());
    rig->Tracks({TwoSecondTrack()});
    const Reply reply = Fetch(Port(), "My%20Title%20%C3%A9.m3u8");
    EXPECT_EQ(kOk, reply.status);
    EXPECT_EQ(0u, reply.body.find("#EXTM3U\n"));
    EXPECT_EQ(kNotFound, Fetch(Port(), "My%20Title%20%C3%A9.m3u").status);

    // A name that a path carries as it is stays as it is.
    SegmenterRig plain(true, false, "title_01-x.m3u8");
    EXPECT_EQ("title_01-x.m3u8", plain.Segmenter().GetUrlName());
}

TEST_F(LiveHttpSegmenterTest, WaitingRequestsAreBoundedTheOldestToldToTryAgain) {
    Start(false, false);  // no tracks: every playlist request waits
    // As many wait as one front door holds connections...
    std::vector<int> fds;
    for (size_t i = 0; i < LiveHttpSegmenter::kMaxWaitingRequests; ++i) {
        fds.push_back(Ask(Port(), "title.m3u8"));
        ASSERT_TRUE(WaitingBecomes(i + 1)) << i;
    }
    // ...and one more through a second door: the oldest is told to try again, not "not
    // found", and the others still wait.
    LiveFront second(&rig->Segmenter());
    const int last = Ask(second.Port(), "title.m3u8");
    EXPECT_EQ("HTTP/1.1 503 Service Unavailable", Await(fds[0]).status);
    EXPECT_EQ(LiveHttpSegmenter::kMaxWaitingRequests, rig->Segmenter().GetWaitingRequestCount());
    for (size_t i = 1; i < fds.size(); ++i) close(fds[i]);
    close(last);
}

// A title of key frames every 2 s, 60 s long: room for a seek far ahead.
boost::shared_ptr<MediaTrack> LongTrack() {
    std::vector<uint32_t> keys;
    for (uint32_t k = 0; k < 30; ++k) keys.push_back(k * 2 * kTicksPerSecond);
    return VideoTrack(1, kTicksPerSecond, 60 * kTicksPerSecond, keys);
}

TEST_F(LiveHttpSegmenterTest, ARequestWhileASeekIsOnItsWayDoesNotRenumberTheSoughtMedia) {
    Start(false, false);
    rig->Tracks({LongTrack()});
    rig->Gop();
    rig->Data("d0");
    rig->Gop();  // 0 finished, 1 being written, 2 next
    const int far = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Advance(501);
    rig->Pull();  // the seek to segment 20 is asked of the session
    // The segment after the newest comes by itself: it waits, and moves no seek.
    const int near = Ask(Port(), "2.ts");
    ASSERT_TRUE(WaitingBecomes(2));
    rig->RunTasks();
    // 20 x (2 s + one 90 kHz tick), in microseconds.
    EXPECT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    EXPECT_EQ(20u, rig->Segmenter().GetNextSegmentNumber());
    // 2 will not be made now; 20 carries the media from 40 s.
    EXPECT_EQ(kNotFound, Await(near).status);
    rig->Gop();
    rig->Data("from-40s");
    rig->Gop();
    const Reply reply = Await(far);
    EXPECT_EQ(kOk, reply.status);
    EXPECT_EQ("from-40s", reply.body);
}

TEST_F(LiveHttpSegmenterTest, OnDemandARequestPastAnUnservedSegmentGivesItUp) {
    Start(true, false);
    rig->Tracks({TwoSecondTrack()});
    rig->Gop();
    rig->Data("zero");
    rig->Gop();
    ASSERT_EQ((Segments{{0, 3}, {1, 0}}), rig->Segments());
    // The player skipped 0: it is given up, so 1 can be written.
    const int one = Ask(Port(), "1.ts");
    ASSERT_TRUE(SegmentsBecome(Segments{{1, 1}}));
    rig->Pull();
    EXPECT_EQ(1, rig->Source().Count(RecordingStage::kPull));
    EXPECT_TRUE(Seeks().empty());
    rig->Data("one");
    rig->Gop();
    EXPECT_EQ("one", Await(one).body);
    // Two ahead: 2 finished and unserved, 3 held; a request for 4 gives 2 up, and 3 is
    // given up once it is finished in turn, so 4 is made.
    rig->Data("two");
    rig->Gop();
    ASSERT_TRUE(SegmentsBecome(Segments{{2, 3}, {3, 0}}));
    const int four = Ask(Port(), "4.ts");
    ASSERT_TRUE(SegmentsBecome(Segments{{3, 1}}));
    rig->Data("three");
    rig->Gop();
    EXPECT_EQ((Segments{{4, 1}}), rig->Segments());
    rig->Data("four");
    rig->Gop();
    EXPECT_EQ("four", Await(four).body);
}

TEST_F(LiveHttpSegmenterTest, LiveARequestForTheHeldSegmentGivesUpOnlyTheOldestUnserved) {
    Start(false, false);
    rig->Tracks({TwoSecondTrack()});
    for (const char* bytes : {"d0", "d1", "d2"}) {
        rig->Gop();
        rig->Data(bytes);
    }
    rig->Gop();
    ASSERT_EQ((Segments{{0, 3}, {1, 3}, {2, 3}, {3, 0}}), rig->Segments());
    const int three = Ask(Port(), "3.ts");
    // One given up is enough to write 3; 1 and 2 stay listed and can still be fetched.
    ASSERT_TRUE(SegmentsBecome(Segments{{1, 3}, {2, 3}, {3, 1}}));
    rig->Data("d3");
    rig->Gop();
    EXPECT_EQ("d3", Await(three).body);
    EXPECT_EQ("d1", Fetch(Port(), "1.ts").body);
    EXPECT_EQ("d2", Fetch(Port(), "2.ts").body);
}

TEST_F(LiveHttpSegmenterTest, ASeekTheSessionDroppedIsAskedAgain) {
    Start(false, false);
    rig->Tracks({LongTrack()});
    rig->Gop();
    rig->Data("d0");
    rig->Gop();
    // While the chain preloads, the session refuses seeks.
    rig->Source().SetPreloadState(Component::PreloadStatePreloading);
    const int far = Ask(Port(), "20.ts");
    ASSERT_TRUE(WaitingBecomes(1));
    rig->Advance(501);
    rig->Pull();
    rig->RunTasks();
    EXPECT_TRUE(Seeks().empty());
    rig->Source().SetPreloadState(0);
    rig->Advance(LiveHttpSegmenter::kSeekRetryMilliseconds);
    rig->Pull();
    rig->RunTasks();
    EXPECT_TRUE(Seeks().empty());  // not before the retry time has passed
    rig->Advance(1);
    rig->Pull();
    rig->RunTasks();
    EXPECT_EQ(std::vector<std::string>{"seek 40000222"}, Seeks());
    EXPECT_EQ(20u, rig->Segmenter().GetNextSegmentNumber());
    rig->Gop();
    rig->Data("d20");
    rig->Gop();
    EXPECT_EQ("d20", Await(far).body);
}

TEST(LiveHttpSegmenterLifetime, FilesOutlivingTheSegmenterChangeStateSafely) {
    boost::shared_ptr<LiveHttpFile> replaced;
    boost::shared_ptr<LiveHttpFile> current;
    {
        SegmenterRig rig(false, false);
        rig.Tracks({TwoSecondTrack()});
        rig.Gop();
        rig.Data("d0");
        rig.Gop();
        rig.Segmenter().WritePlaylist(TrackId(0), current);
        ASSERT_TRUE(current);
        replaced = current;
        rig.Data("d1");
        rig.Gop();
        // A sliding window is written anew: the old text is let go while someone (a server
        // still sending it) holds it.
        rig.Segmenter().WritePlaylist(TrackId(0), current);
        ASSERT_TRUE(current);
        ASSERT_NE(replaced, current);
        EXPECT_NE(std::string::npos, FileText(current).find("1.ts\n"));
    }
    // The segmenter is gone; the rises reach nothing of it (ASan: no use after free).
    EXPECT_TRUE(replaced->SetState(LiveHttpFile::StateServed));
    EXPECT_TRUE(current->SetState(LiveHttpFile::StateServed));
    EXPECT_EQ(LiveHttpFile::StateServed, current->GetState());
}

// The source of a chain that always has its bytes at hand (a file read ahead): a group of
// pictures starts at the first pull, then every pull gives a chunk of transport packets until
// the budget is spent.
class GivingSource : public Component {
public:
    static const uint32_t kChunkBytes = 188 * 64;
    GivingSource(Session* session, uint64_t budget) : Component(session), budget_(budget) {}
    std::string GetTypeName() const override { return "GivingSource"; }
    ByteAmount DoGetBufferedBytes() override { return ByteAmount(0xFFFFFFFFu); }
    void DoPullData(ByteAmount& /*amount*/) override {
        if (!started_) {
            started_ = true;
            DoSend(MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(0)));
        }
        if (given_ >= budget_) return;
        DoSend(MemoryChunk(kChunkBytes, 0, 0));
        given_ += kChunkBytes;
    }

private:
    const uint64_t budget_;
    uint64_t given_ = 0;
    bool started_ = false;
};

TEST(LiveHttpSegmenterPassTest, ASegmentLongerThanAPassIsWrittenInPassesThatFollowAtOnce) {
    // Three passes' worth and a byte more: the fourth pass takes the last chunk and then finds
    // nothing. A minute between passes: a pass that waited for it would not come in the test.
    const uint64_t budget = 3 * uint64_t(LiveHttpSegmenter::kPullAmount) + 1;
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<LiveHttpSegmenter> segmenter =
        boost::make_shared<LiveHttpSegmenter>(session.get());
    boost::shared_ptr<GivingSource> source =
        boost::make_shared<GivingSource>(session.get(), budget);
    session->SetComponentStack(
        SvTestSupport::BuildLinkedChain(StackIdServing, {segmenter, source}));
    segmenter->SetName("title.m3u8", false);
    segmenter->SetOnDemand(true);
    segmenter->TracksAvailable({{TrackId(1), TwoSecondTrack()}}, true);

    std::atomic<int> passes{0};
    {
        Pump pump(nullptr);
        pump.SetTickHandler([&]() {
            segmenter->PullData(ByteAmount(131072));
            ++passes;
        });
        pump.CreateThread(MediaTime(60000000));
        pump.Start();
        EXPECT_TRUE(WaitUntil([&]() { return passes >= 4; }));
        // The pass that ran dry waits its interval: a chain with nothing to give is not spun.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(4, passes.load());
        pump.RequestStop();
    }
    // Everything went into the one segment, which is still open for the rest of its group.
    EXPECT_EQ((Segments{{0, LiveHttpFile::StateWriting}}), segmenter->GetSegments());
}

}  // namespace
}  // namespace SarvelonMediaKit
