// svplay on a title whose key frame in the middle was destroyed (64 KiB of zeroes from its
// first byte, where ffprobe finds the picture): every segment request is answered within 5 s
// (curl's bound), the segment of the lost key frame with a segment of the program's tables
// alone (no pictures) and the others with their own media, the damage is told once as a
// warning event, and standard output stays a few lines. The same holds when a player jumps
// straight to the damaged segment (the playback seeks to it and finds the next key frame
// first). GStreamer's HLS client and ffmpeg play the title through to its end.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/KeyFrameDamage.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"
#include "tools/svplay/SvplayTestSupport.h"

namespace {

using namespace SvplayTestSupport;

const size_t kSegments = Fixtures::kHlsClipSeconds / 2;  // 2 s groups of pictures
const size_t kDamagedSegment = 30;
const size_t kZeroedBytes = 64 * 1024;

// curl's answer to one GET, given at most 5 s: the code ("000" when none came) and the body.
std::string Get(const TemporaryDirectory& dir, const std::string& url, std::string& body) {
    std::string code;
    RunProgram({"curl", "-sS", "-m", "5", "-o", dir.File("body"), "-w", "%{http_code}", url},
               &code);
    body = ReadFile(dir.File("body"));
    std::remove(dir.File("body").c_str());
    return code;
}

// The first video PTS of a segment, by ffprobe; -1 when it has none.
double FirstVideoTime(const TemporaryDirectory& dir, const std::string& bytes) {
    const std::string path = dir.File("segment.ts");
    std::ofstream(path, std::ios::binary) << bytes;
    std::string out;
    RunProgram({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                "packet=pts_time", "-read_intervals", "%+#1", "-of", "csv=p=0", path},
               &out);
    return out.empty() ? -1.0 : std::atof(out.c_str());
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class SvplayDamageTest : public ::testing::Test {
protected:
    // The HLS fixture title with kDamagedSegment's key frame zeroed, served by svplay; url is
    // its playlist's, base the folder of its segments. The playlist has been read.
    void Serve() {
        const std::string title = dir.File("damaged.svm");
        ASSERT_EQ(kSegments, SvTestSupport::CopyWithKeyFrameZeroed(Fixtures::HlsTitle(), title,
                                                                   kDamagedSegment, kZeroedBytes));
        svplay.reset(new Svplay({title, "--port", std::to_string(FreePort())}, dir.File("stderr")));
        std::string url;
        ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(*svplay, url));
        base = url.substr(0, url.rfind('/') + 1);
        std::string body;
        ASSERT_EQ("200", Get(dir, url, body));
    }
    // Segment n, checked to start with its own picture, 2 s per segment on from start.
    void ExpectSegment(size_t n, double start) {
        std::string body;
        ASSERT_EQ("200", Get(dir, base + std::to_string(n) + ".ts", body)) << n;
        EXPECT_NEAR(start + 2.0 * double(n), FirstVideoTime(dir, body), 0.01) << n;
    }
    // The answer for a segment the media cannot give: "200" with two whole packets, the PAT
    // and the PMT (by ffprobe: a program, no picture).
    void ExpectTablesAlone(const std::string& code, const std::string& body, size_t n) {
        EXPECT_EQ("200", code) << n;
        EXPECT_EQ(2u * 188u, body.size()) << n;
        EXPECT_EQ(-1.0, FirstVideoTime(dir, body)) << n;
        const std::string path = dir.File("tables.ts");
        std::ofstream(path, std::ios::binary) << body;
        std::string out;
        RunProgram({"ffprobe", "-v", "error", "-show_entries", "program=program_id", "-of",
                    "csv=p=0", path},
                   &out);
        EXPECT_EQ("1", out.substr(0, out.find_first_of("\n,"))) << n << ": " << out;
    }
    // Stops svplay: the damage was told once, and standard output stayed short.
    void ExpectToldOnce() {
        svplay->Signal(SIGTERM);
        EXPECT_EQ(0, svplay->Wait(kStop)) << svplay->Errors();
        const std::string output = svplay->Output();
        EXPECT_EQ(1u, Count(output, "event SViOsApiEvent_Warning ")) << output;
        EXPECT_EQ(1u, Count(output, "SVDescriptionKey=\"Damaged data: ")) << output;
        EXPECT_EQ(0u, Count(output, "StoppingOnError")) << output;
        // The URL and the playback's events: a few lines, not a line per check.
        EXPECT_LT(Count(output, "\n"), 30u) << output;
        EXPECT_LE(Count(svplay->Errors(), "Mux has stopped sending"), 1u) << svplay->Errors();
    }

    TemporaryDirectory dir{"svplaydamage"};
    std::unique_ptr<Svplay> svplay;
    std::string base;
};

SV_SUITE_LABEL(SvplayDamageTest, e2e);  // curl and ffprobe against svplay

TEST_F(SvplayDamageTest, ALostKeyFrameIsAnsweredToldOnceAndTheSegmentsAfterItPlay) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    std::string body;
    double start = -1.0;
    for (size_t n = 0; n < kSegments; ++n) {
        const std::string code = Get(dir, base + std::to_string(n) + ".ts", body);
        if (n == kDamagedSegment) {
            ExpectTablesAlone(code, body, n);
            continue;
        }
        ASSERT_EQ("200", code) << n;
        const double time = FirstVideoTime(dir, body);
        if (n == 0) start = time;
        // Each segment holds its own 2 s, those after the damage too.
        EXPECT_NEAR(start + 2.0 * double(n), time, 0.01) << n;
    }
    // Asked again, the damaged one is answered at once too.
    const std::string again = Get(dir, base + std::to_string(kDamagedSegment) + ".ts", body);
    ExpectTablesAlone(again, body, kDamagedSegment);
    ExpectToldOnce();
}

TEST_F(SvplayDamageTest, AJumpToTheLostKeyFramesSegmentIsAnsweredAndTheNextOnesAreTheirOwn) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    std::string body;
    ASSERT_EQ("200", Get(dir, base + "0.ts", body));
    const double start = FirstVideoTime(dir, body);
    ASSERT_NO_FATAL_FAILURE(ExpectSegment(1, start));
    // Far from what was cut: the playback seeks to it, and finds the next group's key frame
    // first. That group is not the one asked for.
    const std::string code = Get(dir, base + std::to_string(kDamagedSegment) + ".ts", body);
    ExpectTablesAlone(code, body, kDamagedSegment);
    ASSERT_NO_FATAL_FAILURE(ExpectSegment(kDamagedSegment + 1, start));
    ASSERT_NO_FATAL_FAILURE(ExpectSegment(kDamagedSegment + 2, start));
    ExpectToldOnce();
}

// The video pictures GStreamer's HLS client takes from url (its demultiplexers to a sink that
// prints each buffer) and the last one's time in seconds.
void GStreamerPictures(const std::string& url, size_t& pictures, double& last) {
    std::string out;
    EXPECT_EQ(0, RunProgram({"gst-launch-1.0", "-v", "souphttpsrc", "location=" + url, "!",
                             "hlsdemux", "!", "tsdemux", "!", "h264parse", "!", "fakesink",
                             "sync=false", "silent=false"},
                            &out))
        << out.substr(0, 2000);
    pictures = 0;
    last = -1.0;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        // "... chain ******* (fakesink0:sink) (5243 bytes, dts: ..., pts: 0:00:08.240000000, ..."
        if (line.find(" chain ") == std::string::npos) continue;
        ++pictures;
        const size_t at = line.find("pts: ");
        unsigned hours = 0, minutes = 0;
        double seconds = 0;
        if (at != std::string::npos &&
            std::sscanf(line.c_str() + at, "pts: %u:%u:%lf", &hours, &minutes, &seconds) == 3) {
            last = hours * 3600.0 + minutes * 60.0 + seconds;
        }
    }
}

TEST_F(SvplayDamageTest, GStreamerAndFfmpegPlayOnPastTheLostGroupToTheEnd) {
    ASSERT_NO_FATAL_FAILURE(Serve());
    const std::string url = base + "damaged.m3u8";
    // A group of 50 pictures at most is lost; the rest of the title plays, to its last second.
    const size_t atLeast = Fixtures::kHlsClipFrames - 50;
    size_t pictures = 0;
    double last = -1.0;
    GStreamerPictures(url, pictures, last);
    EXPECT_GE(pictures, atLeast);
    EXPECT_GT(last, double(Fixtures::kHlsClipSeconds) - 2.0);
    // ffmpeg decodes what it can of the damaged group and goes on.
    std::string listing;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", url, "-map", "0:v", "-f",
                             "framecrc", "-"},
                            &listing));
    size_t decoded = 0;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) decoded += line.compare(0, 2, "0,") == 0 ? 1 : 0;
    EXPECT_GE(decoded, atLeast);
    ExpectToldOnce();
}

}  // namespace
