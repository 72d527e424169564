// svremux on a multi-file title: the stream it writes holds every picture of the video file and
// the first language's audio frames as they went into the title, from a path, a file:// URL
// (as a program stream) and nginx.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using SvTestSupport::AdtsOf;

using SvTestSupport::Fixtures;
using SvTestSupport::NginxOrigin;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

// Runs svremux and checks what it wrote: decoded by ffmpeg to the end without an error, every
// picture of the short clip, and exactly the 440 Hz "en" source's audio frames.
void ExpectRemuxed(const std::vector<std::string>& args, const std::string& output,
                   const TemporaryDirectory& dir) {
    std::vector<std::string> argv = {SV_SVREMUX_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"-o", output});
    std::string report;
    ASSERT_EQ(0, RunProgram(argv, &report)) << report;
    std::string decoded;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", output, "-map",
                             "0", "-f", "framecrc", "-"},
                            &decoded))
        << decoded.substr(0, 2000);
    const std::map<int, size_t> frames = SarvelonMediaKit::test::FramesPerStream(decoded);
    const std::map<int, size_t> audio = SarvelonMediaKit::test::ProbeCounts(
        Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), true);
    ASSERT_EQ(2u, frames.size()) << decoded.substr(0, 2000);
    ASSERT_EQ(1u, audio.size());
    EXPECT_EQ(Fixtures::kShortClipFrames, frames.at(0));
    EXPECT_EQ(audio.begin()->second, frames.at(1));
    const std::string scratch = dir.File("frames.aac");
    const std::string written = AdtsOf(output, scratch);
    EXPECT_EQ(AdtsOf(Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), scratch), written);
    EXPECT_NE(AdtsOf(Fixtures::SineAudioClip(Fixtures::kSmilSecondFrequency), scratch), written);
}

SV_SUITE_LABEL(SvremuxSmilTest, e2e);  // checked with outside clients
TEST(SvremuxSmilTest, AManifestBecomesOneStreamOfThePicturesAndTheFirstLanguage) {
    TemporaryDirectory dir("svremuxsmil");
    const std::string manifest = Fixtures::SmilTitle();
    ASSERT_NO_FATAL_FAILURE(ExpectRemuxed({manifest}, dir.File("out.ts"), dir));
    ASSERT_NO_FATAL_FAILURE(
        ExpectRemuxed({"--ps", "file://" + manifest}, dir.File("out.mpg"), dir));
}

TEST(SvremuxSmilTest, AManifestFromNginx) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("svremuxsmil");
    const std::string manifest = Fixtures::SmilTitle();
    NginxOrigin origin(manifest.substr(0, manifest.rfind('/')));
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    ASSERT_NO_FATAL_FAILURE(ExpectRemuxed({origin.Url("/title.smil")}, dir.File("out.ts"), dir));
}

TEST(SvremuxSmilTest, AManifestThatCannotBeLoadedFailsAndLeavesNoOutput) {
    TemporaryDirectory dir("svremuxsmil");
    const std::string manifest = dir.File("broken.smil");
    {
        std::ofstream out(manifest);
        out << "<smil><body><audio systemLanguage=\"en\"/></body></smil>\n";
    }
    std::string report;
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, manifest, "-o", dir.File("out.ts")}, &report));
    EXPECT_NE(std::string::npos, report.find("Missing src attribute")) << report;
    EXPECT_NE(std::string::npos, report.find("1029")) << report;
    EXPECT_EQ(std::string(), SvTestSupport::ReadWholeFile(dir.File("out.ts")));
    std::ifstream gone(dir.File("out.ts"));
    EXPECT_FALSE(gone.good()) << "the file this run made is removed again";
}

}  // namespace
