// A Transformer as playback uses it, against outside players: a two-minute title served as
// HLS on the loopback port and read by ffprobe and ffmpeg, and a title written to a file
// that ffprobe and ffmpeg read back. What comes out is compared with the title's source as
// the same outside tools see it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ProbeDuration;

using namespace test;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

using SvTestSupport::kNoPosition;
const size_t kAudioFramesPerPacket = 4;

class TransformerServeTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = UseFreeLoopbackPort();
        transformer.reset(new Transformer(Fixtures::HlsTitle(), MediaFormatHls, OutputKindHls, ""));
        ASSERT_EQ(SVStatusSuccess, transformer->GetStatus());
        // As playback runs it: the preload on the caller's thread, then the worker.
        ASSERT_EQ(SVStatusSuccess, transformer->PreLoad());
        ASSERT_EQ(SVStatusSuccess, transformer->Transform(kNoPosition, TrickPlayRate(0), true));
        ASSERT_TRUE(WaitUntil(
            [this]() { return transformer->GetServingSessions().GetListeningPort() != 0; }));
        url = transformer->GetOutputName();
    }
    void TearDown() override {
        EXPECT_EQ(SVStatusSuccess, transformer->Stop());
        transformer.reset();
    }

    uint16_t port = 0;
    std::unique_ptr<Transformer> transformer;
    std::string url;
};

SV_SUITE_LABEL(TransformerServeTest, e2e);  // checked with outside clients
TEST_F(TransformerServeTest, FfmpegPlaysTheWholeTitleFromThePlaybackUrl) {
    // The URL handed out names the engine's port and the title's playlist.
    const std::string title = Fixtures::HlsTitle();
    std::string base = title.substr(title.rfind('/') + 1);
    base.erase(base.rfind('.'));
    EXPECT_EQ("http://localhost:" + std::to_string(port) + "/" + base + ".m3u8", url);

    const std::string source = Fixtures::HlsClip();
    EXPECT_NEAR(ProbeDuration(source, "stream=duration"), ProbeDuration(url, "format=duration"),
                0.1);

    // Read and decoded to the end without a single error, every frame of every stream.
    const std::map<int, size_t> served = DecodedFramesPerStream(url, true);
    const std::map<int, size_t> frames = ProbeCounts(source, true);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Fixtures::kHlsClipFrames, frames.at(0));
    ASSERT_EQ(2u, served.size());
    EXPECT_EQ(frames.at(0), served.at(0));
    // For the segmenter the multiplexer sends audio frames four to a packet; a last group
    // still short at the end of the title goes out as it is, so every frame is served.
    EXPECT_NE(0u, frames.at(1) % kAudioFramesPerPacket) << "the title ends in a short group";
    EXPECT_EQ(frames.at(1), served.at(1));
    EXPECT_EQ(SVStatusSuccess, transformer->GetStatus());
}

TEST_F(TransformerServeTest, APlayerThatStartsInTheMiddleSeeksThereCold) {
    // No segment asked for yet: the chain is still at the title's start.
    std::string out;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-ss", "60", "-i", url,
                             "-t", "4", "-map", "0", "-f", "null", "-"},
                            &out))
        << out;
    EXPECT_EQ("", out);
    // The segment that starts at 60 s holds the picture 60 s after the first one.
    const HttpAnswer first = HttpGet(port, "0.ts");
    ASSERT_EQ(200, first.status);
    const HttpAnswer middle = HttpGet(port, "30.ts");
    ASSERT_EQ(200, middle.status);
    const int64_t firstPts = FirstVideoPts(first.body);
    const int64_t middlePts = FirstVideoPts(middle.body);
    ASSERT_GE(firstPts, 0);
    ASSERT_GE(middlePts, 0);
    EXPECT_NEAR(60.0, double(middlePts - firstPts) / 90000, 0.1);
}

TEST_F(TransformerServeTest, NamesThatAreNotServedAreNotFound) {
    for (const char* name : {"favicon.ico", "x.m3u8", "60.ts", "-1.ts", "0.tsX", "index.html"}) {
        EXPECT_EQ(404, HttpGet(port, name, 2000).status) << name;
    }
    // And the playlist still is.
    const HttpAnswer playlist = HttpGet(port, url.substr(url.rfind('/') + 1));
    EXPECT_EQ(200, playlist.status);
    EXPECT_EQ(0u, playlist.body.find("#EXTM3U\n"));
    EXPECT_EQ(SVStatusSuccess, transformer->GetStatus());
}

SV_SUITE_LABEL(TransformerFileOutputTest, e2e);  // checked with outside clients
TEST(TransformerFileOutputTest, TheTitleIsWrittenWholeAsATransportStream) {
    TemporaryDirectory dir("tfile");
    const std::string output = dir.File("out.ts");
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatMpeg2Ts, OutputKindFile, output);
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(output, transformer.GetOutputName());
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    // A local title sends no end-of-data: the output ends by itself once the end of the title
    // has been written, the worker's wait ends and nothing is reported as an error.
    ASSERT_TRUE(transformer.GetSession()->WaitForStop(60000)) << "the file output never ended";
    EXPECT_TRUE(WaitUntil([]() { return SvTestSupport::ThreadsNamed("TWorker") == 0; }, 30000));
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    EXPECT_EQ(0, SvTestSupport::ThreadsNamed("TWorker"));
    // File output does not listen.
    EXPECT_EQ(0, transformer.GetServingSessions().GetListeningPort());
    // Every picture and every audio frame of the source, as ffprobe counts them.
    const std::map<int, size_t> source = ProbeCounts(Fixtures::ShortClip(), false);
    ASSERT_EQ(2u, source.size());
    EXPECT_EQ(source, ProbeCounts(output, false));
    std::string errors;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", output, "-map",
                             "0", "-f", "null", "-"},
                            &errors))
        << errors;
    EXPECT_EQ("", errors);
}

}  // namespace
}  // namespace SarvelonMediaKit
