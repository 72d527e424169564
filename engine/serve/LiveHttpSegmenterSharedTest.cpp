// Several players on one playback: the two-minute title (2 s groups of pictures, 25 pictures a
// second) served by the whole chain, its segments asked for by clients that pull the playback
// in different directions, up to 50 at once (more than the server holds connections: the others
// wait to be taken). Every
// listed segment is answered with its own media: checked by the tools' independent
// transport-stream reader and by ffmpeg.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/codecs/MediaTiming.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HlsTestChain.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TestLabels.h"
#include "common/TsReader.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::HlsTestChain;
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;
using SvTestSupport::RunProgram;

const size_t kSharedFramesPerSegment = 50;  // 2 s at 25 pictures a second

// The first video PTS of a segment and its pictures, by the independent reader.
struct VideoView {
    bool hasVideo = false;
    uint64_t firstPts = 0;
    size_t pictures = 0;
};

VideoView ViewVideo(const std::string& bytes) {
    VideoView view;
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.streamType != 0x1B) continue;  // H.264
        if (!view.hasVideo) view.firstPts = pes.pts;
        view.hasVideo = true;
        ++view.pictures;
    }
    return view;
}

class LiveHttpSegmenterSharedTest : public ::testing::Test {
protected:
    void SetUp() override {
        chain.reset(new HlsTestChain(Fixtures::HlsTitle()));
        chain->Start();
        ASSERT_EQ(200, HttpGet(chain->Port(), chain->PlaylistName()).status);
    }
    void TearDown() override {
        chain->Stop();
        EXPECT_TRUE(chain->Errors().empty())
            << chain->Errors().front().second << " (" << chain->Errors().front().first << ")";
    }

    std::unique_ptr<HlsTestChain> chain;
};

SV_SUITE_LABEL(LiveHttpSegmenterSharedTest, e2e);  // checked with outside clients

TEST_F(LiveHttpSegmenterSharedTest, TwoSegmentsAskedATenthOfASecondApartBothComeWithTheirMedia) {
    const uint16_t port = chain->Port();
    std::future<HttpAnswer> five =
        std::async(std::launch::async, [port]() { return HttpGet(port, "5.ts"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::future<HttpAnswer> fifty =
        std::async(std::launch::async, [port]() { return HttpGet(port, "50.ts"); });
    const HttpAnswer a = five.get();
    const HttpAnswer b = fifty.get();
    ASSERT_EQ(200, a.status);
    ASSERT_EQ(200, b.status);
    EXPECT_TRUE(a.complete);
    EXPECT_TRUE(b.complete);
    const VideoView viewA = ViewVideo(a.body);
    const VideoView viewB = ViewVideo(b.body);
    ASSERT_TRUE(viewA.hasVideo);
    ASSERT_TRUE(viewB.hasVideo);
    EXPECT_EQ(kSharedFramesPerSegment, viewA.pictures);
    EXPECT_EQ(kSharedFramesPerSegment, viewB.pictures);
    // 45 segments of 2 s apart: 90 s of 90 kHz ticks.
    EXPECT_EQ(90u * kTicksPerSecond, viewB.firstPts - viewA.firstPts);
    // Segment 6 follows 5: 2 s on.
    const HttpAnswer six = HttpGet(port, "6.ts");
    ASSERT_EQ(200, six.status);
    EXPECT_EQ(viewA.firstPts + 2 * kTicksPerSecond, ViewVideo(six.body).firstPts);
}

// Every picture's presentation time in a copying read of the playlist by ffmpeg; a read that
// stops on an error (a segment refused) fails.
std::vector<std::string> PicturesRead(const std::string& url, std::string& said) {
    std::string listing;
    const int status = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", url,
                                   "-map", "0:v", "-c", "copy", "-f", "framecrc", "-"},
                                  &listing);
    std::vector<std::string> pts;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        // "stream, dts, pts, duration, size, crc"
        if (line.empty() || line[0] != '0') continue;
        std::istringstream fields(line);
        std::string stream, dts, time;
        std::getline(fields, stream, ',');
        std::getline(fields, dts, ',');
        std::getline(fields, time, ',');
        pts.push_back(time);
    }
    if (status != 0) said = "ffmpeg exited with " + std::to_string(status) + ": " + listing;
    return pts;
}

TEST_F(LiveHttpSegmenterSharedTest, EightPlayersReadingTheWholeTitleAtOnceEachGetEveryPictureOnce) {
    const std::string url = chain->PlaylistUrl();
    std::vector<std::future<std::vector<std::string>>> players;
    std::vector<std::string> said(8);
    for (size_t i = 0; i < said.size(); ++i) {
        std::string* out = &said[i];
        players.push_back(
            std::async(std::launch::async, [url, out]() { return PicturesRead(url, *out); }));
    }
    for (size_t i = 0; i < players.size(); ++i) {
        const std::vector<std::string> pts = players[i].get();
        EXPECT_EQ("", said[i]) << "player " << i;
        // The fixture's 120 s at 25 pictures a second, each once.
        EXPECT_EQ(Fixtures::kHlsClipFrames, pts.size()) << "player " << i;
        EXPECT_EQ(Fixtures::kHlsClipFrames, std::set<std::string>(pts.begin(), pts.end()).size())
            << "player " << i;
    }
}

TEST_F(LiveHttpSegmenterSharedTest, FiftyReadersAtScatteredPlacesEachGetEveryListedSegmentTheyAsk) {
    const uint16_t port = chain->Port();
    const HttpAnswer first = HttpGet(port, "0.ts");
    ASSERT_EQ(200, first.status);
    const uint64_t start = ViewVideo(first.body).firstPts;
    const size_t kReaders = 50;
    const uint32_t kEach = 6;  // segments read one after the other from a reader's start
    const uint32_t kSegments = Fixtures::kHlsClipSeconds / 2;
    struct Outcome {
        size_t notFound = 0;
        std::vector<std::string> wrong;
    };
    std::vector<std::future<Outcome>> readers;
    for (size_t i = 0; i < kReaders; ++i) {
        // Starts spread over the title, in no order: 23 and 55 are coprime.
        const uint32_t from = static_cast<uint32_t>((i * 23) % (kSegments - kEach + 1));
        readers.push_back(std::async(std::launch::async, [=]() {
            Outcome outcome;
            for (uint32_t n = from; n < from + kEach; ++n) {
                // Connections beyond the server's cap wait to be taken, and are answered. One
                // taken at the cap before its request has come in counts as idle, and a newcomer
                // may take its place: the reader asks again, as a player does.
                HttpAnswer answer;
                for (int attempt = 0; attempt < 3 && answer.status == 0; ++attempt) {
                    answer = HttpGet(port, std::to_string(n) + ".ts");
                }
                if (answer.status == 404) ++outcome.notFound;
                const VideoView view = ViewVideo(answer.body);
                // Segment n holds its own 2 s: 50 pictures from 2n s on.
                if (answer.status != 200 || !answer.complete ||
                    view.pictures != kSharedFramesPerSegment ||
                    view.firstPts != start + 2 * kTicksPerSecond * n) {
                    outcome.wrong.push_back(std::to_string(n) +
                                            ".ts: " + std::to_string(answer.status) + ", " +
                                            std::to_string(view.pictures) + " pictures");
                }
            }
            return outcome;
        }));
    }
    for (size_t i = 0; i < readers.size(); ++i) {
        const Outcome outcome = readers[i].get();
        EXPECT_EQ(0u, outcome.notFound) << "reader " << i;
        EXPECT_TRUE(outcome.wrong.empty()) << "reader " << i << ": " << outcome.wrong.front();
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
