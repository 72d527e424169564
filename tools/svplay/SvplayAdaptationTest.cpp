// svplay on the three-rendition title that nginx serves, read as a player reads HLS: the
// playlist, then every segment in order. Throttled below the middle rendition's rate the engine
// settles on the slowest rendition; unthrottled it climbs to the fastest. Either way the
// segments, joined in the order fetched, decode without an error and with no decode time going
// back. Widths and times come from ffprobe and ffmpeg, which share no code with the engine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"

namespace {

using namespace SvplayTestSupport;

// Below the middle rendition (1200 kbit/s of video, about 150 kB/s) and above the slowest
// (400 kbit/s with its sound, about 66 kB/s).
const uint64_t kThrottle = 100 * 1024;
// After this long at the throttled rate the engine must have settled on the slowest rendition.
const double kSettleSeconds = 20.0;

struct Segment {
    std::string path;
    double fetchedAt;  // seconds since svplay started, when its request went out
    int width;         // of its video stream, by ffprobe
};

int VideoWidth(const std::string& path) {
    std::string out;
    if (RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                    "stream=width", "-of", "csv=p=0", path},
                   &out) != 0)
        return -1;
    return std::atoi(out.c_str());
}

class SvplayAdaptationTest : public ::testing::Test {
protected:
    // Serves the title through nginx (throttled when bytesPerSecond is not 0) and starts
    // svplay on it; url receives the playlist's address.
    void Play(uint64_t bytesPerSecond, std::string& url) {
        ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
        const std::string root = dir.File("www");
        ASSERT_EQ(0, mkdir(root.c_str(), 0755));
        ASSERT_EQ(0, symlink(Fixtures::AdaptiveTitle().c_str(), (root + "/title.svm").c_str()));
        origin.reset(new NginxOrigin(root, bytesPerSecond));
        std::string reason;
        ASSERT_TRUE(origin->Start(&reason)) << reason;
        started = Clock::now();
        svplay.reset(new Svplay({origin->Url("/title.svm"), "--port", std::to_string(FreePort())},
                                dir.File("stderr")));
        ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(*svplay, url));
        ASSERT_EQ(0u, url.find("http://localhost:")) << url << "\n" << svplay->Errors();
    }

    // Fetches the playlist, then segments 0, 1, ... in order, each as soon as the one before
    // has arrived, until `count` have come or the playlist's last; each is probed for its width.
    void FetchSegments(const std::string& url, size_t count) {
        std::string playlist;
        ASSERT_EQ("200", HttpCode(url, &playlist));
        const std::string base = url.substr(0, url.rfind('/') + 1);
        for (size_t n = 0; n < count; ++n) {
            const std::string name = std::to_string(n) + ".ts";
            if (playlist.find("\n" + name + "\n") == std::string::npos) break;
            Segment segment;
            segment.path = dir.File("segment" + std::to_string(n) + ".ts");
            segment.fetchedAt = Seconds();
            std::string code;
            ASSERT_EQ(0, RunProgram({"curl", "-sS", "-m", "60", "-o", segment.path, "-w",
                                     "%{http_code}", base + name},
                                    &code))
                << name << ": " << code;
            ASSERT_EQ("200", code) << name;
            segment.width = VideoWidth(segment.path);
            segments.push_back(segment);
        }
    }

    // Joins the fetched segments in order, decodes them with ffmpeg stopping at the first
    // error, and checks that the video decode times only go forward.
    void ExpectTheJoinedSegmentsDecode() {
        const std::string joined = dir.File("joined.ts");
        {
            std::ofstream out(joined, std::ios::binary);
            for (const Segment& s : segments) out << ReadFile(s.path);
        }
        std::string report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", joined,
                                 "-map", "0", "-f", "null", "-"},
                                &report))
            << report.substr(0, 2000);
        long long previous = -1;
        size_t frames = 0;
        for (SvTestSupport::PacketFields& p :
             SvTestSupport::ProbePackets(joined, "codec_type,dts")) {
            if (p["codec_type"] != "video") continue;
            ASSERT_NE("N/A", p["dts"]) << "frame " << frames;
            const long long dts = std::atoll(p["dts"].c_str());
            ASSERT_GT(dts, previous) << "frame " << frames << ": decode time goes back";
            previous = dts;
            ++frames;
        }
        EXPECT_GT(frames, 0u);
    }

    void StopSvplay() {
        svplay->Signal(SIGTERM);
        EXPECT_EQ(0, svplay->Wait(kStop)) << svplay->Errors();
        EXPECT_EQ(std::string::npos, svplay->Output().find("StoppingOnError")) << svplay->Output();
    }

    double Seconds() const { return std::chrono::duration<double>(Clock::now() - started).count(); }

    std::string Widths() const {
        std::string text;
        for (const Segment& s : segments) {
            text += std::to_string(s.width) + "@" + std::to_string(int(s.fetchedAt)) + "s ";
        }
        return text;
    }

    TemporaryDirectory dir{"svplayadapt"};
    std::unique_ptr<NginxOrigin> origin;
    std::unique_ptr<Svplay> svplay;
    Clock::time_point started;
    std::vector<Segment> segments;
};

SV_SUITE_LABEL(SvplayAdaptationTest, e2e);  // checked with outside clients
SV_TEST_LABEL(SvplayAdaptationTest, AThrottledOriginSettlesOnTheSlowestRendition,
              slow);  // over 10 s
TEST_F(SvplayAdaptationTest, AThrottledOriginSettlesOnTheSlowestRendition) {
    std::string url;
    ASSERT_NO_FATAL_FAILURE(Play(kThrottle, url));
    ASSERT_NO_FATAL_FAILURE(FetchSegments(url, 1000));
    ASSERT_EQ(Fixtures::kAdaptiveClipSeconds / 2, segments.size()) << Widths();
    size_t late = 0;
    for (const Segment& s : segments) {
        EXPECT_TRUE(s.width == 640 || s.width == 1280 || s.width == 1920) << Widths();
        if (s.fetchedAt < kSettleSeconds) continue;
        ++late;
        EXPECT_EQ(640, s.width) << Widths();
    }
    // The title at the throttled rate lasts well beyond the settling time.
    EXPECT_GE(late, 2u) << Widths();
    // Nothing is measured before the first segment, which comes from a faster rendition: the
    // decoding below crosses at least one switch.
    bool switched = false;
    for (const Segment& s : segments) switched = switched || s.width != segments.front().width;
    EXPECT_TRUE(switched) << Widths();
    ASSERT_NO_FATAL_FAILURE(ExpectTheJoinedSegmentsDecode());
    StopSvplay();
}

TEST_F(SvplayAdaptationTest, AnUnthrottledOriginReachesTheFastestRendition) {
    std::string url;
    ASSERT_NO_FATAL_FAILURE(Play(0, url));
    ASSERT_NO_FATAL_FAILURE(FetchSegments(url, 10));
    ASSERT_EQ(10u, segments.size()) << Widths();
    bool fastest = false;
    for (const Segment& s : segments) fastest = fastest || s.width == 1920;
    EXPECT_TRUE(fastest) << Widths();
    EXPECT_EQ(1920, segments.back().width) << "and stays there: " << Widths();
    ASSERT_NO_FATAL_FAILURE(ExpectTheJoinedSegmentsDecode());
    StopSvplay();
}

}  // namespace
