// svplay --pda on a title of three renditions (the short clip at three bit rates, each two
// groups of pictures of 2 s), read by ffmpeg as a player reads a master playlist: it opens every
// variant and fetches segments of each while it probes, so the engine moves between renditions
// back and forth. Whatever it read, every picture and audio frame of the source comes out once
// per rendition read, and ffmpeg -xerror finds nothing wrong. The counts come from ffprobe
// reading the source clip, which shares no code with the engine.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"

namespace {

using namespace SvplayTestSupport;

SV_SUITE_LABEL(SvplayPdaTest, e2e);  // checked with outside clients
TEST(SvplayPdaTest, AMasterPlaylistReadByFfmpegGivesEveryFrameOnce) {
    TemporaryDirectory dir("svplaypda");
    const std::map<int, size_t> source =
        SarvelonMediaKit::test::ProbeCounts(Fixtures::MultiRateClips()[0], true);
    ASSERT_EQ(2u, source.size());
    ASSERT_EQ(Fixtures::kShortClipFrames, source.at(0));

    const uint16_t port = FreePort();
    Svplay svplay({"--pda", Fixtures::MultiRateTitle(), "--port", std::to_string(port)},
                  dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));

    // As a player plays it: ffmpeg picks one rendition's streams.
    std::string decoded;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", url, "-f",
                             "framecrc", "-"},
                            &decoded))
        << decoded.substr(0, 2000);
    std::map<int, size_t> expected = {{0, source.at(0)}, {1, source.at(1)}};
    EXPECT_EQ(expected, FramesPerStream(decoded));

    // Every rendition at once: each one whole.
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", url, "-map", "0",
                             "-f", "framecrc", "-"},
                            &decoded))
        << decoded.substr(0, 2000);
    for (int stream = 2; stream < 6; ++stream) expected[stream] = source.at(stream % 2);
    EXPECT_EQ(expected, FramesPerStream(decoded));

    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
}

}  // namespace
