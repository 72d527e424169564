// A two-minute title (2 s GOPs) served as HLS by the whole chain, on a session as playback
// runs it, against outside readers: the transport-stream reader of the tools, curl-like raw
// requests, ffprobe and ffmpeg. What is served is checked against the title's source
// transport stream, read by the same outside tools.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/codecs/MediaTiming.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HlsTestChain.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TemporaryDirectory.h"
#include "common/TsReader.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ProbeDuration;

using namespace test;
using SvTestSupport::Fixtures;
using SvTestSupport::HlsTestChain;
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

const size_t kSegments = Fixtures::kHlsClipSeconds / 2;
const size_t kFramesPerSegment = 50;  // 2 s at 25 fps

// What the independent reader finds in one segment.
struct SegmentView {
    bool startsWithTables = false;  // packet 0 the PAT, packet 1 the PMT it names
    bool firstVideoIsIdr = false;   // the first video access unit holds an IDR slice
    bool hasVideo = false;
    uint64_t firstVideoPts = 0;
    size_t videoFrames = 0;
    size_t continuityErrors = 0;
};

// True when an H.264 access unit in Annex B form holds a NAL unit of type 5 (an IDR slice).
bool HoldsIdrSlice(const std::vector<uint8_t>& payload) {
    for (size_t i = 0; i + 3 < payload.size(); ++i) {
        if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] == 1 &&
            (payload[i + 3] & 0x1F) == 5) {
            return true;
        }
    }
    return false;
}

SegmentView ViewSegment(const std::string& bytes) {
    SegmentView view;
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    view.continuityErrors = reader.ContinuityErrors().size();
    if (bytes.size() >= 2 * 188 && !reader.Programs().empty()) {
        const auto pid = [&](size_t packet) {
            return uint16_t(((uint8_t(bytes[packet * 188 + 1]) & 0x1F) << 8) |
                            uint8_t(bytes[packet * 188 + 2]));
        };
        view.startsWithTables = pid(0) == 0 && pid(1) == reader.Programs()[0].pmtPid;
    }
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.streamType != 0x1B) continue;  // H.264
        if (!view.hasVideo) {
            view.hasVideo = true;
            view.firstVideoPts = pes.pts;
            view.firstVideoIsIdr = HoldsIdrSlice(pes.payload);
        }
        ++view.videoFrames;
    }
    return view;
}

// The source's streams by ffprobe, one "index,codec,width,height,rate,channels" line each.
std::string ProbeStreams(const std::string& input) {
    std::string out;
    RunProgram(
        {"ffprobe", "-v", "error", "-show_entries",
         "stream=index,codec_name,width,height,sample_rate,channels", "-of", "csv=p=0", input},
        &out);
    return out;
}

class LiveHttpSegmenterPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        chain.reset(new HlsTestChain(Fixtures::HlsTitle()));
        chain->Start();
        port = chain->Port();
    }
    void TearDown() override {
        chain->Stop();
        EXPECT_TRUE(chain->Errors().empty())
            << chain->Errors().front().second << " (" << chain->Errors().front().first << ")";
    }

    // Asks for the segment and checks that it came whole.
    std::string Segment(size_t number) {
        const HttpAnswer response = HttpGet(port, std::to_string(number) + ".ts");
        EXPECT_EQ(200, response.status) << number;
        EXPECT_TRUE(response.complete) << number;
        return response.body;
    }

    std::unique_ptr<HlsTestChain> chain;
    uint16_t port = 0;
    TemporaryDirectory dir{"segplayer"};
};

SV_SUITE_LABEL(LiveHttpSegmenterPlayerTest, e2e);  // checked with outside clients
TEST_F(LiveHttpSegmenterPlayerTest, TheMainPlaylistListsEveryTwoSecondSegmentOfTheTitle) {
    // Asked for at once: the chain may not have read the title's index yet.
    const HttpAnswer response = HttpGet(port, chain->PlaylistName());
    ASSERT_EQ(200, response.status);
    ASSERT_TRUE(response.complete);
    std::string golden =
        "#EXTM3U\n"                  // the playlist tag
        "#EXT-X-ALLOW-CACHE:NO\n"    // players keep nothing
        "#EXT-X-TARGETDURATION:2\n"  // the longest segment, whole seconds
        ;
    for (size_t k = 0; k < kSegments; ++k) {
        golden += "#EXTINF:2,\n";  // every GOP lasts 2 s
        golden += std::to_string(k) + ".ts\n";
    }
    golden += "#EXT-X-ENDLIST\n";  // the title exists whole
    EXPECT_EQ(golden, response.body);
    EXPECT_EQ(std::string::npos, response.body.find('\r'));
    // Asked for again, the same text.
    EXPECT_EQ(golden, HttpGet(port, chain->PlaylistName()).body);
}

TEST_F(LiveHttpSegmenterPlayerTest, EverySegmentStartsWithTablesAndAKeyFrameAndRunsOnFromTheLast) {
    ASSERT_EQ(200, HttpGet(port, chain->PlaylistName()).status);
    std::string all;
    uint64_t firstPts = 0;
    size_t frames = 0;
    for (size_t k = 0; k < kSegments; ++k) {
        const std::string bytes = Segment(k);
        const SegmentView view = ViewSegment(bytes);
        EXPECT_EQ(0u, bytes.size() % 188) << k;
        EXPECT_TRUE(view.startsWithTables) << k;
        ASSERT_TRUE(view.hasVideo) << k;
        EXPECT_TRUE(view.firstVideoIsIdr) << k;
        EXPECT_EQ(kFramesPerSegment, view.videoFrames) << k;
        if (k == 0) firstPts = view.firstVideoPts;
        // Each segment's key frame lies exactly 2 s after the one before.
        EXPECT_EQ(firstPts + k * 2 * kTicksPerSecond, view.firstVideoPts) << k;
        frames += view.videoFrames;
        all += bytes;
    }
    EXPECT_EQ(Fixtures::kHlsClipFrames, frames);
    // Joined, the segments are one stream: no continuity counter jumps at a boundary.
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(all.data()), all.size());
    reader.Finish();
    EXPECT_TRUE(reader.ContinuityErrors().empty())
        << reader.ContinuityErrors().size() << " continuity errors, first at packet "
        << reader.ContinuityErrors().front().packet;
    EXPECT_EQ(0u, reader.SkippedBytes());
    EXPECT_EQ(0u, reader.SectionErrors());
    EXPECT_EQ(0u, reader.PesErrors());
    // Read in order, the title needed no seek.
    EXPECT_EQ(0u, chain->Client().SeekCount());
}

TEST_F(LiveHttpSegmenterPlayerTest, FfmpegReadsTheTitleAsItsSourceHasIt) {
    const std::string source = Fixtures::HlsClip();
    const std::string url = chain->PlaylistUrl();
    // Duration, codecs and sizes as the source has them.
    const double duration = ProbeDuration(source, "stream=duration");
    EXPECT_NEAR(duration, ProbeDuration(url, "format=duration"), 0.1);
    EXPECT_EQ(ProbeStreams(source), ProbeStreams(url));
    EXPECT_NE(std::string::npos, ProbeStreams(url).find("h264,320,180"));

    // One copying read: no error anywhere, and the elementary streams come out with the very
    // bytes that the source's come out with.
    std::string out;
    ASSERT_EQ(
        0,
        RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i",   url,
                    "-map",   "0",        "-c", "copy",  "-f",      "null", "-",
                    "-map",   "0:v",      "-c", "copy",  "-f",      "h264", dir.File("served.h264"),
                    "-map",   "0:a",      "-c", "copy",  "-f",      "adts", dir.File("served.aac")},
                   &out))
        << out;
    EXPECT_EQ("", out);
    ASSERT_EQ(0, RunProgram({"ffmpeg",
                             "-nostdin",
                             "-v",
                             "error",
                             "-i",
                             source,
                             "-map",
                             "0:v",
                             "-c",
                             "copy",
                             "-f",
                             "h264",
                             dir.File("source.h264"),
                             "-map",
                             "0:a",
                             "-c",
                             "copy",
                             "-f",
                             "adts",
                             dir.File("source.aac")},
                            &out))
        << out;
    const std::string servedVideo = ReadWholeFile(dir.File("served.h264"));
    EXPECT_GT(servedVideo.size(), 1000000u);
    EXPECT_TRUE(servedVideo == ReadWholeFile(dir.File("source.h264")))
        << servedVideo.size() << " bytes of H.264 served, "
        << ReadWholeFile(dir.File("source.h264")).size() << " in the source";
    const std::string servedAudio = ReadWholeFile(dir.File("served.aac"));
    EXPECT_GT(servedAudio.size(), 100000u);
    EXPECT_TRUE(servedAudio == ReadWholeFile(dir.File("source.aac")))
        << servedAudio.size() << " bytes of ADTS served, "
        << ReadWholeFile(dir.File("source.aac")).size() << " in the source";

    // The full decode: every frame of every stream that ffprobe decodes from the source.
    const std::map<int, size_t> served = DecodedFramesPerStream(url, true);
    const std::map<int, size_t> frames = ProbeCounts(source, true);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Fixtures::kHlsClipFrames, frames.at(0));
    EXPECT_EQ(frames, served);
}

TEST_F(LiveHttpSegmenterPlayerTest, AFarSegmentAskedForColdStartsAtItsKeyFrame) {
    ASSERT_EQ(200, HttpGet(port, chain->PlaylistName()).status);
    const SegmentView first = ViewSegment(Segment(0));
    ASSERT_TRUE(first.hasVideo);
    const size_t seeksBefore = chain->Client().SeekCount();

    const auto asked = std::chrono::steady_clock::now();
    const HttpAnswer far = HttpGet(port, "30.ts");
    const double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
    ASSERT_EQ(200, far.status);
    EXPECT_TRUE(far.complete);
    // A generous bound: the bench measures the speed.
    EXPECT_LT(milliseconds, 8000.0);
    const SegmentView view = ViewSegment(far.body);
    EXPECT_TRUE(view.startsWithTables);
    ASSERT_TRUE(view.hasVideo);
    EXPECT_TRUE(view.firstVideoIsIdr);
    EXPECT_EQ(kFramesPerSegment, view.videoFrames);
    EXPECT_EQ(0u, view.continuityErrors);
    // 60 s after segment 0's key frame, to within 0.1 s.
    EXPECT_NEAR(60.0, double(view.firstVideoPts - first.firstVideoPts) / kTicksPerSecond, 0.1);
    // The chain moved its reading once.
    EXPECT_EQ(seeksBefore + 1, chain->Client().SeekCount());
    // And on from there without another seek.
    const SegmentView next = ViewSegment(Segment(31));
    EXPECT_TRUE(next.firstVideoIsIdr);
    EXPECT_EQ(view.firstVideoPts + 2 * kTicksPerSecond, next.firstVideoPts);
    EXPECT_EQ(seeksBefore + 1, chain->Client().SeekCount());

    // A player that starts at 60 s.
    std::string out;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-ss", "60", "-i",
                             chain->PlaylistUrl(), "-t", "4", "-map", "0", "-f", "null", "-"},
                            &out))
        << out;
}

TEST_F(LiveHttpSegmenterPlayerTest, NamesThatAreNoSegmentAreNotFoundAtOnceAndMoveNothing) {
    ASSERT_EQ(200, HttpGet(port, chain->PlaylistName()).status);
    const SegmentView first = ViewSegment(Segment(0));
    const size_t seeksBefore = chain->Client().SeekCount();
    for (const char* name : {"favicon.ico", "-1.ts", "+5.ts", "5.tsX", "5.ts.ts", "4294967296.ts",
                             "60.ts", "1-1.ts", "7.m3u8", "x.m3u8"}) {
        // Answered at all within 2 s: a name kept waiting would not be.
        const HttpAnswer response = HttpGet(port, name, 2000);
        EXPECT_EQ(404, response.status) << name;
        EXPECT_TRUE(response.complete) << name;
    }
    // A query is no part of the name; the next segment follows without a seek.
    const HttpAnswer second = HttpGet(port, "1.ts?x=1");
    ASSERT_EQ(200, second.status);
    const SegmentView view = ViewSegment(second.body);
    EXPECT_TRUE(view.firstVideoIsIdr);
    EXPECT_EQ(first.firstVideoPts + 2 * kTicksPerSecond, view.firstVideoPts);
    EXPECT_EQ(first.firstVideoPts + 4 * kTicksPerSecond, ViewSegment(Segment(2)).firstVideoPts);
    EXPECT_EQ(seeksBefore, chain->Client().SeekCount());
}

TEST_F(LiveHttpSegmenterPlayerTest, OnDemandAtMostOneFinishedSegmentWaitsToBeServed) {
    ASSERT_EQ(200, HttpGet(port, chain->PlaylistName()).status);
    // Segment states: 3 finished, 4 finished and being served.
    const auto waiting = [&]() {
        size_t count = 0;
        for (const auto& segment : chain->Segmenter().GetSegments()) {
            if (segment.second == 3 || segment.second == 4) ++count;
        }
        return count;
    };
    for (uint32_t k = 0; k < 5; ++k) {
        ASSERT_EQ(200, HttpGet(port, std::to_string(k) + ".ts").status) << k;
        // The next segment gets made...
        ASSERT_TRUE(WaitUntil([&]() {
            for (const auto& segment : chain->Segmenter().GetSegments()) {
                if (segment.first == k + 1 && segment.second >= 3) return true;
            }
            return false;
        })) << k;
        // ...and nothing beyond it while it waits for its player.
        size_t most = 0;
        for (int i = 0; i < 40; ++i) {
            most = std::max(most, waiting());
            usleep(5000);
        }
        EXPECT_EQ(1u, most) << k;
        for (const auto& segment : chain->Segmenter().GetSegments()) {
            EXPECT_LE(segment.first, k + 2) << k;
        }
    }
}

TEST_F(LiveHttpSegmenterPlayerTest, APlayerThatSkipsAFinishedSegmentGetsTheNextOne) {
    ASSERT_EQ(200, HttpGet(port, chain->PlaylistName()).status);
    const HttpAnswer far = HttpGet(port, "30.ts");
    ASSERT_EQ(200, far.status);
    const SegmentView thirty = ViewSegment(far.body);
    ASSERT_TRUE(thirty.hasVideo);
    const size_t seeksBefore = chain->Client().SeekCount();
    // 31 is made and waits for its player, who never asks for it.
    ASSERT_TRUE(WaitUntil([&]() {
        for (const auto& segment : chain->Segmenter().GetSegments()) {
            if (segment.first == 31 && segment.second >= 3) return true;
        }
        return false;
    }));
    const HttpAnswer skip = HttpGet(port, "32.ts");
    ASSERT_EQ(200, skip.status);
    EXPECT_TRUE(skip.complete);
    const SegmentView view = ViewSegment(skip.body);
    EXPECT_TRUE(view.firstVideoIsIdr);
    // Two segments of 2 s on from 30, read on without a seek.
    EXPECT_EQ(thirty.firstVideoPts + 4 * kTicksPerSecond, view.firstVideoPts);
    EXPECT_EQ(seeksBefore, chain->Client().SeekCount());
}

}  // namespace
}  // namespace SarvelonMediaKit
