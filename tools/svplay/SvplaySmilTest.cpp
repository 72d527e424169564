// svplay on a multi-file title (a SMIL manifest with a video title, an audio title per
// language and a subtitle file): from its path, a file:// URL and nginx, read through by ffmpeg
// with the pictures and the first language's sound as they went into the title.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using namespace SvplayTestSupport;

// The first audio stream of input as ADTS frames.
std::string AdtsOf(const TemporaryDirectory& dir, const std::string& input) {
    return SvTestSupport::AdtsOf(input, dir.File("frames.aac"));
}

// Plays the title with svplay and reads the playlist through with ffmpeg, stopping at the
// first error: every picture of the short clip and every frame of the 440 Hz "en" sound,
// byte for byte, not the 880 Hz "de" one.
void ExpectPicturesAndFirstLanguage(const std::string& title, const TemporaryDirectory& dir) {
    const uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Svplay svplay({title, "--port", std::to_string(port)}, dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    ASSERT_EQ("http://localhost:" + std::to_string(port) + "/title.m3u8", url) << svplay.Errors();

    const std::map<int, size_t> servedFrames = DecodedFramesPerStream(url, true);
    const std::map<int, size_t> sourceFrames =
        DecodedFramesPerStream(Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), false);
    ASSERT_EQ(2u, servedFrames.size());
    EXPECT_EQ(Fixtures::kShortClipFrames, servedFrames.at(0));
    EXPECT_EQ(sourceFrames.at(0), servedFrames.at(1));

    const std::string first = AdtsOf(dir, Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency));
    const std::string second = AdtsOf(dir, Fixtures::SineAudioClip(Fixtures::kSmilSecondFrequency));
    const std::string played = AdtsOf(dir, url);
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(first, played) << "the first language's frames as they went into the title";
    EXPECT_NE(second, played);

    svplay.Signal(SIGINT);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
}

SV_SUITE_LABEL(SvplaySmilTest, e2e);  // checked with outside clients
TEST(SvplaySmilTest, AManifestByPathAndByFileUrlPlaysThePicturesAndTheFirstLanguage) {
    TemporaryDirectory dir("svplaysmil");
    const std::string manifest = Fixtures::SmilTitle();
    ASSERT_NO_FATAL_FAILURE(ExpectPicturesAndFirstLanguage(manifest, dir));
    ASSERT_NO_FATAL_FAILURE(ExpectPicturesAndFirstLanguage("file://" + manifest, dir));
}

TEST(SvplaySmilTest, AManifestFromNginxPlaysItsFilesFromTheSameFolder) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("svplaysmil");
    const std::string manifest = Fixtures::SmilTitle();
    NginxOrigin origin(manifest.substr(0, manifest.rfind('/')));
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    ASSERT_NO_FATAL_FAILURE(ExpectPicturesAndFirstLanguage(origin.Url("/title.smil"), dir));
}

TEST(SvplaySmilTest, AManifestWhoseFileIsMissingFailsWithTheReason) {
    TemporaryDirectory dir("svplaysmil");
    const std::string manifest = dir.File("broken.smil");
    {
        std::ofstream out(manifest);
        out << "<smil><body><video src=\"nothing-here.svm\"/></body></smil>\n";
    }
    Svplay svplay({manifest, "--port", std::to_string(FreePort())}, dir.File("stderr"));
    ASSERT_TRUE(svplay.Started());
    EXPECT_EQ(1, svplay.Wait(kStart)) << svplay.Errors();
    EXPECT_NE(std::string::npos, svplay.Errors().find("broken.smil")) << svplay.Errors();
}

}  // namespace
