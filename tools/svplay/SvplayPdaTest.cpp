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

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;
using namespace SvplayTestSupport;

const std::chrono::seconds kStart(20);
const std::chrono::seconds kStop(20);

// Lines of a framecrc listing per stream index (its first field). Comments do not count, nor
// does anything ffmpeg says between the lines (its messages share the output).
std::map<int, size_t> FramesPerStream(const std::string& listing) {
    std::map<int, size_t> counts;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
        ++counts[std::atoi(line.c_str())];
    }
    return counts;
}

// ffprobe's count of decoded frames per stream of a file.
std::map<int, size_t> DecodedFrames(const std::string& path) {
    std::string out;
    std::map<int, size_t> counts;
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
                             "stream=index,nb_read_frames", "-of", "csv=p=0", path},
                            &out))
        << out;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        counts[std::atoi(line.c_str())] = std::strtoull(line.c_str() + comma + 1, nullptr, 10);
    }
    return counts;
}

SV_SUITE_LABEL(SvplayPdaTest, e2e);  // checked with outside clients
TEST(SvplayPdaTest, AMasterPlaylistReadByFfmpegGivesEveryFrameOnce) {
    TemporaryDirectory dir("svplaypda");
    const std::map<int, size_t> source = DecodedFrames(Fixtures::MultiRateClips()[0]);
    ASSERT_EQ(2u, source.size());
    ASSERT_EQ(Fixtures::kShortClipFrames, source.at(0));

    const uint16_t port = FreePort();
    Svplay svplay({"--pda", Fixtures::MultiRateTitle(), "--port", std::to_string(port)},
                  dir.File("stderr"));
    std::string url;
    ASSERT_TRUE(svplay.ReadLine(url, kStart)) << svplay.Errors();

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
