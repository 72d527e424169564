#include "engine/api/Transformer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/input/FileClient.h"
#include "engine/mux/Mpeg2PsMux.h"
#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::FindInChain;
using SvTestSupport::LineCapture;
typedef std::vector<std::string> Strings;

const char kSegmenter[] = "LiveHttpSegmenter";
const char kTsMux[] = "Mpeg2TsMux";
const char kDemux[] = "Mpeg2PsDemux";
const char kSeeker[] = "SarvelonMediaKit::MediaSeeker";
const char kFileClient[] = "SarvelonMediaKit::FileClient";

TEST(TransformerConstruction, PlaybackUrlNamesTheLoopbackPortAndTheBaseName) {
    EXPECT_EQ(SVStatusSuccess, Transformer::Initialize());
    SetLoopbackPort(43117);
    LineCapture capture;
    {
        Transformer transformer("/no/such/dir/Movie.Name.ps", MediaFormatHls, OutputKindHls, "");
        EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
        EXPECT_EQ("http://localhost:43117/Movie.Name.m3u8", transformer.GetOutputName());
        LiveHttpSegmenter* segmenter = FindInChain<LiveHttpSegmenter>(transformer);
        ASSERT_NE(nullptr, segmenter);
        EXPECT_EQ("Movie.Name.m3u8", segmenter->GetPlaylistName());
        EXPECT_TRUE(segmenter->IsOnDemand()) << "a whole title gets complete playlists";
    }
    {
        Transformer transformer("memory://feed/noext", MediaFormatHls, OutputKindHls, "");
        // No extension: no media format, nothing built, no URL.
        EXPECT_EQ(SVStatusUnsupported, transformer.GetStatus());
    }
    {
        Transformer transformer("/dir/noext.svm/", MediaFormatHls, OutputKindHls, "x");
        EXPECT_EQ(SVStatusUnsupported, transformer.GetStatus());
    }
    SetLoopbackPort(20001);
    {
        Transformer transformer("memory://feed/sub/Clip.ps", MediaFormatHls, OutputKindHls, "");
        EXPECT_EQ("http://localhost:20001/Clip.m3u8", transformer.GetOutputName());
    }
    // The other output kinds: pass-through and no output name nothing, a file keeps its name.
    {
        Transformer transformer("/x/Movie.ps", MediaFormatNone, OutputKindPassThrough, "given");
        EXPECT_EQ("", transformer.GetOutputName());
    }
    {
        SvTestSupport::TemporaryDirectory dir("tg-transformer");
        const std::string output = dir.File("output-name.ps");
        Transformer transformer("/x/Movie.ps", MediaFormatMpeg2Ps, OutputKindFile, output);
        EXPECT_EQ(output, transformer.GetOutputName());
    }
}

TEST(TransformerConstruction, PlaylistNameComesFromThePathOfAUrl) {
    SetLoopbackPort(20001);
    // A last component without a '.': the format comes from the "itag" parameter, which is
    // no part of the playlist's name.
    Transformer noext("memory://feed/noext?itag=svm", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusSuccess, noext.GetStatus());
    EXPECT_EQ("http://localhost:20001/noext.m3u8", noext.GetOutputName());
    Transformer plain("noext.svm", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ("http://localhost:20001/noext.m3u8", plain.GetOutputName());
    // A query with a '.' in it does not cut the name.
    Transformer query("memory://feed/Clip.svm?v=1.5", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ("http://localhost:20001/Clip.m3u8", query.GetOutputName());
    // An encoded space: the segmenter's name is the decoded one, the URL carries it encoded.
    Transformer spaced("memory://feed/My%20Clip.svm", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ("http://localhost:20001/My%20Clip.m3u8", spaced.GetOutputName());
    LiveHttpSegmenter* segmenter = FindInChain<LiveHttpSegmenter>(spaced);
    ASSERT_NE(nullptr, segmenter);
    EXPECT_EQ("My Clip.m3u8", segmenter->GetPlaylistName());
}

TEST(TransformerConstruction, StackOrderPerSourceAndOutputKind) {
    LineCapture capture;
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    {
        Transformer hls(title, MediaFormatHls, OutputKindHls, "");
        EXPECT_EQ(SVStatusSuccess, hls.GetStatus());
        EXPECT_EQ(Strings({kSegmenter, kTsMux, kDemux, kSeeker, kFileClient}), ChainTypes(hls));
    }
    {
        Transformer memory("memory://feed/movie.ps", MediaFormatMpeg2Ts, OutputKindHls, "");
        EXPECT_EQ(SVStatusSuccess, memory.GetStatus());
        EXPECT_EQ(Strings({kSegmenter, kTsMux, kDemux, kSeeker, "SarvelonMediaKit::FunctorClient"}),
                  ChainTypes(memory));
    }
    const std::string output = ::testing::TempDir() + "tg-transformer-stack.ps";
    {
        // Same format in and out: no multiplexer, and nothing "not loaded".
        Transformer file(title, MediaFormatMpeg2Ps, OutputKindFile, output);
        EXPECT_EQ(SVStatusSuccess, file.GetStatus());
        EXPECT_EQ(Strings({"SarvelonMediaKit::FileServer", kDemux, kSeeker, kFileClient}),
                  ChainTypes(file));
    }
    remove(output.c_str());
    {
        Transformer none(title, MediaFormatNone, OutputKindNone, "");
        EXPECT_EQ(SVStatusSuccess, none.GetStatus());
        EXPECT_EQ(Strings({kDemux, kSeeker, kFileClient}), ChainTypes(none));
    }
    {
        Transformer ts(title, MediaFormatMpeg2Ts, OutputKindNone, "");
        EXPECT_EQ(Strings({kTsMux, kDemux, kSeeker, kFileClient}), ChainTypes(ts));
    }
    {
        // A remote HLS playlist is played directly: nothing is built, the URL is handed out.
        Transformer remote("https://origin.example/live/index.m3u8", MediaFormatHls, OutputKindHls,
                           "");
        EXPECT_EQ(SVStatusSuccess, remote.GetStatus());
        EXPECT_TRUE(ChainTypes(remote).empty());
        EXPECT_EQ("https://origin.example/live/index.m3u8", remote.GetOutputName());
    }
    EXPECT_TRUE(capture.OtherLines().empty());
}

TEST(TransformerConstruction, CapacityLeavesRoomForTheAudioBranchOnlyWithADemultiplexer) {
    const std::string title = SvTestSupport::Fixtures::ShortTitle();
    Transformer demuxed(title, MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(8388608u - 524288u, demuxed.GetSession()->GetCapacity().Get());
    EXPECT_EQ(8388608u, demuxed.GetCacheSize());
    LineCapture capture;
    Transformer mp4("/x/clip.mp4", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(Strings({kSegmenter, kTsMux, kFileClient}), ChainTypes(mp4));
    EXPECT_EQ(8388608u, mp4.GetSession()->GetCapacity().Get());
}

TEST(TransformerConstruction, UnknownSchemeAndOutputKindStopWith1012) {
    LineCapture capture;
    Transformer ftp("ftp://host/movie.ps", MediaFormatHls, OutputKindHls, "out");
    EXPECT_EQ(SVStatusUnrecognisedScheme, ftp.GetStatus());
    EXPECT_TRUE(ChainTypes(ftp).empty());
    ASSERT_TRUE(ftp.GetSession());
    EXPECT_EQ(SVStatusUnrecognisedScheme, ftp.PreLoad())
        << "nothing to preload without a chain: the status stays";

    Transformer badKind("/x/movie.ps", MediaFormatHls, static_cast<OutputKind>(9), "");
    EXPECT_EQ(SVStatusUnrecognisedScheme, badKind.GetStatus());
    EXPECT_TRUE(ChainTypes(badKind).empty());

    Transformer unknown("/x/movie.wmv", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusUnsupported, unknown.GetStatus());
    EXPECT_TRUE(ChainTypes(unknown).empty());
    EXPECT_TRUE(capture.OtherLines().empty());
}

TEST(TransformerConstruction, ComponentsThisEngineLacksAreNamedOnStandardOutput) {
    const struct {
        const char* url;
        MediaFormat output;
        OutputKind kind;
        SVStatus status;
        Strings lines;
        Strings chain;
    } cases[] = {
        // The RTMP server is missing; the rest is built.
        {"/x/movie.ps",
         MediaFormatHls,
         OutputKindRtmpServer,
         SVStatusUnrecognisedScheme,
         {"RTMPServer is not loaded"},
         {kTsMux, kDemux, kSeeker, kFileClient}},
        {"/x/movie.ps",
         MediaFormatFlv,
         OutputKindNone,
         SVStatusUnsupported,
         {"libSVMKFlvMux not loaded"},
         {kDemux, kSeeker, kFileClient}},
        {"/x/movie.ps",
         MediaFormatRaw5,
         OutputKindNone,
         SVStatusUnsupported,
         {"libSVMKRawMux not loaded"},
         {kDemux, kSeeker, kFileClient}},
        {"/x/movie.ps",
         MediaFormatRaw6,
         OutputKindFile,
         SVStatusUnsupported,
         {"libSVMKRawMux not loaded"},
         {kDemux, kSeeker, kFileClient}},
        {"/x/clip.flv",
         MediaFormatHls,
         OutputKindHls,
         SVStatusUnsupported,
         {"libSVMKFlvDemux not loaded"},
         {kSegmenter, kTsMux, kFileClient}},
        {"/x/clip.mp4",
         MediaFormatHls,
         OutputKindHls,
         SVStatusUnsupported,
         {"libSVMKMP4Demux not loaded"},
         {kSegmenter, kTsMux, kFileClient}},
        {"/x/clip.ts",
         MediaFormatHls,
         OutputKindHls,
         SVStatusUnsupported,
         {"libSVMKMpeg2TsDemux not loaded"},
         {kSegmenter, kTsMux, kFileClient}},
        {"https://host/index.m3u8",
         MediaFormatNone,
         OutputKindNone,
         SVStatusUnsupported,
         {"libSVMKHttpLiveClient not loaded"},
         {}},
        // A source kind without a client ends construction: nothing reaches the session.
        {"rtmp://host/app/clip.flv",
         MediaFormatHls,
         OutputKindHls,
         SVStatusUnsupported,
         {"libSVMKFlvDemux not loaded"},
         {}},
        {"udp://239.0.0.1:1234",
         MediaFormatHls,
         OutputKindHls,
         SVStatusUnsupported,
         {"libSVMKMpeg2TsDemux not loaded"},
         {}},
        // Output formats that are not multiplexed at all.
        {"/x/movie.ps", static_cast<MediaFormat>(11), OutputKindNone, SVStatusUnsupported, {}, {}},
        {"/x/movie.ps", MediaFormatMp4, OutputKindNone, SVStatusUnsupported, {}, {}},
    };
    SvTestSupport::TemporaryDirectory dir("tg-transformer");
    for (const auto& c : cases) {
        LineCapture capture;
        Transformer transformer(c.url, c.output, c.kind, dir.File("unused"));
        EXPECT_EQ(c.status, transformer.GetStatus()) << c.url << " " << c.output;
        EXPECT_EQ(c.lines, capture.OtherLines()) << c.url << " " << c.output;
        EXPECT_EQ(c.chain, ChainTypes(transformer)) << c.url << " " << c.output;
        EXPECT_EQ("", transformer.GetErrorText());
    }
}

TEST(TransformerConstruction, ProgramStreamOutputGetsTheProgramStreamMultiplexer) {
    LineCapture capture;
    // A local path that ends in ".sparse" is no known format at all.
    Transformer localSparse("/x/title.ps.sparse", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusUnsupported, localSparse.GetStatus());

    // DVD output from a program stream: the multiplexer in DVD mode.
    Transformer dvd("/x/movie.ps", MediaFormatDvd, OutputKindNone, "");
    EXPECT_EQ(SVStatusSuccess, dvd.GetStatus());
    EXPECT_EQ(Strings({"Mpeg2PsMux", kDemux, kSeeker, kFileClient}), ChainTypes(dvd));
    Mpeg2PsMux* dvdMux = FindInChain<Mpeg2PsMux>(dvd);
    ASSERT_NE(nullptr, dvdMux);
    EXPECT_EQ(1, dvdMux->GetDvdMode());
    // A plain program stream from a DVD title: the same multiplexer, not in DVD mode.
    Transformer plain("/x/clip.vob", MediaFormatMpeg2Ps, OutputKindNone, "");
    EXPECT_EQ(SVStatusSuccess, plain.GetStatus());
    Mpeg2PsMux* plainMux = FindInChain<Mpeg2PsMux>(plain);
    ASSERT_NE(nullptr, plainMux);
    EXPECT_EQ(0, plainMux->GetDvdMode());
    EXPECT_TRUE(capture.OtherLines().empty());
}

TEST(TransformerConstruction, LifeLinesAndDestruction) {
    LineCapture capture;
    {
        Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
        EXPECT_EQ(Strings({"SessionSetupCompleted"}), capture.Lines());
    }
    const Strings lines = capture.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("~Transformer", lines[1]);
    EXPECT_EQ("~Transformer done", lines.back());
}

}  // namespace
}  // namespace SarvelonMediaKit
