// Titles whose groups of pictures differ in length, served as HLS by the whole chain and read
// by ffmpeg as a player reads them: key frames at 0, 1, 4, 5, 11, 12 and 15 s, and two clips
// joined whose groups last 1 s and then 1.2 s. What is served is checked against the source
// clip, read by ffmpeg and ffprobe.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/HlsTestChain.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::Fixtures;
using SvTestSupport::HlsTestChain;
using SvTestSupport::HttpGet;
using SvTestSupport::RunProgram;

struct Title {
    const char* name;
    std::string (*clip)();
    std::string (*title)();
    size_t frames;    // pictures of the source
    size_t segments;  // groups of pictures
};

const Title kTitles[] = {
    {"uneven", &Fixtures::UnevenGopClip, &Fixtures::UnevenGopTitle, Fixtures::kUnevenGopFrames, 7},
    {"joined", &Fixtures::JoinedClip, &Fixtures::JoinedTitle, Fixtures::kJoinedFrames, 12},
};

// The last field of every line that is no comment: the MD5 of each picture of a framemd5
// listing.
std::vector<std::string> Digests(const std::string& listing) {
    std::vector<std::string> digests;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t comma = line.rfind(',');
        digests.push_back(line.substr(comma == std::string::npos ? 0 : comma + 1));
        while (!digests.back().empty() && digests.back()[0] == ' ') digests.back().erase(0, 1);
    }
    return digests;
}

// The source's pictures in presentation order: their digests, and their times from the first.
struct SourcePictures {
    std::vector<std::string> digests;
    std::vector<double> seconds;
};

SourcePictures ReadSource(const std::string& clip) {
    SourcePictures source;
    std::string out;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-map", "0:v", "-f",
                             "framemd5", "-"},
                            &out))
        << out;
    source.digests = Digests(out);
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                             "frame=pts_time", "-of", "csv=p=0", clip},
                            &out))
        << out;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) source.seconds.push_back(std::atof(line.c_str()));
    }
    for (size_t i = source.seconds.size(); i > 0; --i) source.seconds[i - 1] -= source.seconds[0];
    return source;
}

class LiveHttpSegmenterUnevenGopTest : public ::testing::TestWithParam<Title> {
protected:
    void SetUp() override {
        chain.reset(new HlsTestChain(GetParam().title()));
        chain->Start();
    }
    void TearDown() override {
        chain->Stop();
        EXPECT_TRUE(chain->Errors().empty()) << chain->Errors().front().second;
    }
    std::unique_ptr<HlsTestChain> chain;
};

SV_SUITE_LABEL(LiveHttpSegmenterUnevenGopTest, e2e);  // checked with outside clients
TEST_P(LiveHttpSegmenterUnevenGopTest, APlayerGetsEveryPictureAndAudioFrameOfTheSource) {
    const SvTestSupport::HttpAnswer playlist = HttpGet(chain->Port(), chain->PlaylistName());
    ASSERT_EQ(200, playlist.status);
    // One segment per group of pictures, each listed.
    size_t listed = 0;
    for (size_t at = 0; (at = playlist.body.find(".ts\n", at)) != std::string::npos; ++at) {
        ++listed;
    }
    EXPECT_EQ(GetParam().segments, listed) << playlist.body;

    std::string decoded;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i",
                             chain->PlaylistUrl(), "-map", "0", "-f", "framecrc", "-"},
                            &decoded))
        << decoded.substr(0, 2000);
    const std::map<int, size_t> frames = ProbeCounts(GetParam().clip(), true);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(GetParam().frames, frames.at(0));
    EXPECT_EQ(frames, FramesPerStream(decoded));
}

TEST_P(LiveHttpSegmenterUnevenGopTest, ASeekGivesTheSourcesPictureAtThatTime) {
    const SourcePictures source = ReadSource(GetParam().clip());
    ASSERT_EQ(GetParam().frames, source.digests.size());
    ASSERT_EQ(GetParam().frames, source.seconds.size());
    // Inside a long group (5 to 11 s) and in the second clip (its groups from 9.221 s on).
    for (const double at : {8.0, 10.0}) {
        std::string out;
        ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-ss",
                                 std::to_string(at), "-i", chain->PlaylistUrl(), "-map", "0:v",
                                 "-frames:v", "1", "-f", "framemd5", "-"},
                                &out))
            << out;
        const std::vector<std::string> got = Digests(out);
        ASSERT_EQ(1u, got.size()) << "no picture at " << at << " s";
        size_t found = source.digests.size();
        for (size_t i = 0; i < source.digests.size() && found == source.digests.size(); ++i) {
            if (source.digests[i] == got[0]) found = i;
        }
        ASSERT_LT(found, source.digests.size()) << "a picture the source does not have";
        // The player's clock starts with the first sound or picture, whichever is earlier:
        // within a picture of the time asked for.
        EXPECT_NEAR(at, source.seconds[found], 0.05) << "picture " << found;
    }
}

TEST_P(LiveHttpSegmenterUnevenGopTest,
       AStraightReadWhileAnotherClientJumpsAboutGetsEveryFrameOnce) {
    std::atomic<bool> done(false);
    std::thread other([&]() {
        std::mt19937 random(7);
        while (!done) {
            const uint32_t number = random() % GetParam().segments;
            HttpGet(chain->Port(), std::to_string(number) + ".ts", 3000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    // Read at ten times the playing speed, so that the other client's requests fall among
    // the reader's (a second or two in all).
    std::string decoded;
    const int status =
        RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-readrate", "10", "-i",
                    chain->PlaylistUrl(), "-map", "0", "-f", "framecrc", "-"},
                   &decoded);
    done = true;
    other.join();
    ASSERT_EQ(0, status) << decoded.substr(0, 2000);
    // The other client moved the playback away at least once (the reader's segments may come
    // back from those kept in memory rather than by a seek back).
    EXPECT_GE(chain->Client().SeekCount(), 1u);
    EXPECT_EQ(ProbeCounts(GetParam().clip(), true), FramesPerStream(decoded));
}

INSTANTIATE_TEST_SUITE_P(Titles, LiveHttpSegmenterUnevenGopTest, ::testing::ValuesIn(kTitles),
                         [](const ::testing::TestParamInfo<Title>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace SarvelonMediaKit
