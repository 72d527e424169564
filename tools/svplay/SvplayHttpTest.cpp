// svplay on a title that nginx serves, as a player would meet a title on a CDN: ffmpeg reads it
// whole from the engine's playlist with every frame and the pictures and sound byte for byte as
// they went into the title, and a cold seek to 60 s gets its first byte within the goal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"

namespace {

using namespace SvplayTestSupport;

// The time a player may wait for the first byte of a segment far ahead of what was read. A
// sanitized build runs every stage several times slower: it is held to a bound that only
// catches a seek that does not happen, and the plain build to the goal.
#if defined(SV_SANITIZED)
const double kColdSeekGoalSeconds = 8.0;
#else
const double kColdSeekGoalSeconds = 1.5;
#endif

// The elementary stream of the kind ("h264", "adts") as ffmpeg copies it out of input.
std::string Extract(const TemporaryDirectory& dir, const std::string& input,
                    const std::string& format, const std::string& name) {
    const std::string path = dir.File(name + "." + format);
    std::string report;
    EXPECT_EQ(0,
              RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", input, "-map",
                          format == "h264" ? "0:v:0" : "0:a:0", "-c", "copy", "-f", format, path},
                         &report))
        << report;
    return ReadFile(path);
}

class SvplayHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
        const std::string root = dir.File("www");
        ASSERT_EQ(0, mkdir(root.c_str(), 0755));
        ASSERT_EQ(0, symlink(Fixtures::HlsTitle().c_str(), (root + "/title.svm").c_str()));
        origin.reset(new NginxOrigin(root));
        std::string reason;
        ASSERT_TRUE(origin->Start(&reason)) << reason;
    }

    TemporaryDirectory dir{"svplayhttp"};
    std::unique_ptr<NginxOrigin> origin;
};

SV_SUITE_LABEL(SvplayHttpTest, e2e);  // checked with outside clients
TEST_F(SvplayHttpTest, ATitleFromNginxPlaysWholeAndSeeksCold) {
    const uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Svplay svplay({origin->Url("/title.svm"), "--port", std::to_string(port)}, dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    // The URL is not taken for a path: the playlist is named after the URL's file.
    ASSERT_EQ("http://localhost:" + std::to_string(port) + "/title.m3u8", url) << svplay.Errors();

    // Cold: nothing but the playlist read yet, then the segment that holds 60 s (2 s groups).
    std::string playlist;
    ASSERT_EQ("200", HttpCode(url, &playlist));
    ASSERT_NE(std::string::npos, playlist.find("\n30.ts\n")) << playlist;
    std::string firstByte;
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-m", "10", "-o", "/dev/null", "-w",
                             "%{http_code} %{time_starttransfer}",
                             url.substr(0, url.rfind('/') + 1) + "30.ts"},
                            &firstByte))
        << firstByte;
    ASSERT_EQ(0u, firstByte.find("200 ")) << firstByte;
    EXPECT_LT(std::atof(firstByte.c_str() + 4), kColdSeekGoalSeconds) << firstByte;

    // Read and decoded to the end, stopping at the first error: every picture and every audio
    // frame of the clip the title was made from.
    ASSERT_NO_FATAL_FAILURE(ExpectEveryFrameOfTheHlsClip(url));

    // The pictures and the sound as they went into the title, byte for byte.
    const std::string video = Extract(dir, url, "h264", "served");
    EXPECT_FALSE(video.empty());
    EXPECT_TRUE(video == Extract(dir, Fixtures::HlsClip(), "h264", "clip")) << video.size();
    const std::string audio = Extract(dir, url, "adts", "served");
    EXPECT_FALSE(audio.empty());
    EXPECT_TRUE(audio == Extract(dir, Fixtures::HlsClip(), "adts", "clip")) << audio.size();

    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
    EXPECT_EQ(std::string::npos, svplay.Output().find("StoppingOnError")) << svplay.Output();
    EXPECT_NE(std::string::npos, svplay.Output().find("\nevent SViOsApiEvent_Terminated {}\n"));
}

TEST_F(SvplayHttpTest, ATitleTheOriginDoesNotHaveEndsWithItsStatus) {
    Svplay svplay({origin->Url("/missing.svm"), "--port", std::to_string(FreePort())},
                  dir.File("stderr"));
    EXPECT_EQ(1, svplay.Wait(kStart + kStop)) << svplay.Output();
    // The origin's answer, with its number, and no playback URL handed out.
    EXPECT_NE(std::string::npos, svplay.Errors().find("HTTP Error 404 (404)")) << svplay.Errors();
    EXPECT_EQ(std::string::npos, svplay.Output().find("http://localhost")) << svplay.Output();
}

}  // namespace
