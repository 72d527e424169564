#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/container/MediaTrack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/SVMKCredentials.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "engine/serve/LiveHttpSegmenter.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/TestLabels.h"
#include "tests/support/ErrorRecorder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::ErrorRecorder;
using SvTestSupport::FindInChain;
using SvTestSupport::Fixtures;
using SvTestSupport::LineCapture;
using SvTestSupport::TemporaryDirectory;

const uint32_t kDefaultCapacity = 8388608;
const uint32_t kPreloadCapacity = 8388608 - 524288;

SV::SVDictionary Credentials(uint64_t cacheSize, bool pda) {
    SV::SVDictionary credentials;
    if (cacheSize != 0)
        credentials.SetValue("CredentialsKey_CacheSize", SV::SVTypedValue(cacheSize));
    credentials.SetValue("CredentialsKey_Pda", SV::SVTypedValue(pda));
    return credentials;
}

TEST(TransformerCredentials, CacheSizeWaitsForThePreloadThenApplies) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(kPreloadCapacity, transformer.GetSession()->GetCapacity().Get());
    EXPECT_EQ(SVStatusSuccess, transformer.SetCredentials(Credentials(16u << 20, false)));
    EXPECT_EQ(16u << 20, transformer.GetCacheSize());
    EXPECT_EQ(kPreloadCapacity, transformer.GetSession()->GetCapacity().Get())
        << "the session keeps its preload size while the preload is pending";
    // The record is shared with the session, not copied.
    ASSERT_TRUE(transformer.GetSession()->GetCredentials());
    uint64_t stored = 0;
    EXPECT_TRUE(transformer.GetSession()->GetCredentials()->GetEntries().GetUnsignedLong(
        "CredentialsKey_CacheSize", stored));
    EXPECT_EQ(16u << 20, stored);

    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(16u << 20, transformer.GetSession()->GetCapacity().Get());
}

TEST(TransformerCredentials, WithoutDemultiplexerTheSizeAppliesAtOnceFromTheLowWord) {
    LineCapture capture;  // "libSVMKMP4Demux not loaded"
    Transformer transformer("/x/clip.mp4", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(kDefaultCapacity, transformer.GetSession()->GetCapacity().Get());
    transformer.SetCredentials(Credentials((uint64_t(1) << 32) + (4u << 20), false));
    EXPECT_EQ(4u << 20, transformer.GetCacheSize());
    EXPECT_EQ(4u << 20, transformer.GetSession()->GetCapacity().Get());
}

TEST(TransformerCredentials, PlayerDrivenAdaptationAndASecondRecordThatChangesNothing) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    LiveHttpSegmenter* segmenter = FindInChain<LiveHttpSegmenter>(transformer);
    MediaSeeker* seeker = FindInChain<MediaSeeker>(transformer);
    ASSERT_NE(nullptr, segmenter);
    ASSERT_NE(nullptr, seeker);
    EXPECT_TRUE(seeker->GetUsePrediction());

    EXPECT_EQ(SVStatusSuccess, transformer.SetCredentials(Credentials(0, true)));
    EXPECT_TRUE(segmenter->IsAdaptive());
    EXPECT_FALSE(seeker->GetAlignSwitchPoints()) << "the player chooses, not the seeker";
    EXPECT_FALSE(seeker->GetAdaptation()) << "the periodic check must not switch either";
    EXPECT_EQ(kDefaultCapacity, transformer.GetCacheSize()) << "no size given, none changed";

    // Made once: a second dictionary is neither read nor applied.
    EXPECT_EQ(SVStatusSuccess, transformer.SetCredentials(Credentials(2u << 20, false)));
    EXPECT_TRUE(segmenter->IsAdaptive());
    EXPECT_FALSE(seeker->GetAlignSwitchPoints());
    EXPECT_EQ(kDefaultCapacity, transformer.GetCacheSize());
    EXPECT_TRUE(transformer.GetSession()->GetCredentials()->GetEntries().GetBooleanOrDefault(
        "CredentialsKey_Pda", false));
}

TEST(TransformerCredentials, WithoutAdaptationEntryTheSeekerAdapts) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusSuccess, transformer.SetCredentials(SV::SVDictionary()));
    EXPECT_FALSE(FindInChain<LiveHttpSegmenter>(transformer)->IsAdaptive());
    EXPECT_TRUE(FindInChain<MediaSeeker>(transformer)->GetAlignSwitchPoints());
    EXPECT_TRUE(FindInChain<MediaSeeker>(transformer)->GetAdaptation());
}

TEST(TransformerTrackSelection, MustExistLooksAtTheKnownTracks) {
    Transformer transformer(Fixtures::MultiRateTitle(), MediaFormatHls, OutputKindHls, "");
    // Nothing known yet: a track that must exist does not.
    EXPECT_EQ(SVStatusChapterRange, transformer.SelectTrack(TrackId(1), true));
    EXPECT_EQ(SVStatusSuccess, transformer.SelectTrack(TrackId(1), false));
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    ASSERT_EQ(3u, transformer.GetTitleInfo().GetTracks().size()) << "one track per rendition";
    EXPECT_EQ(SVStatusChapterRange, transformer.SelectTrack(TrackId(4), true));
    EXPECT_EQ(SVStatusSuccess, transformer.SelectTrack(TrackId(3), true));
    // The selection reaches the seeker through the session's queue.
    MediaSeeker* seeker = FindInChain<MediaSeeker>(transformer);
    Session& session = *transformer.GetSession();
    uint32_t selected = 0;
    for (int i = 0; i < 500 && selected != 3; ++i) {
        session.PausePump();
        selected = seeker->GetSelectedTrackId().Get();
        session.ResumePump();
        if (selected != 3) usleep(10000);
    }
    EXPECT_EQ(3u, selected);
}

TEST(TransformerPreload, CompletesOnATitleWithFullCapacity) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    transformer.SetCredentials(SV::SVDictionary());
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(kDefaultCapacity, transformer.GetSession()->GetCapacity().Get());
    const Transformer::TrackMap tracks = transformer.GetTitleInfo().GetTracks();
    ASSERT_EQ(1u, tracks.size());
    EXPECT_TRUE(tracks.begin()->second->HasVideo());
    EXPECT_TRUE(tracks.begin()->second->HasAudio());
    // The recipe: 100 pictures at 25 per second.
    EXPECT_NEAR(4000000.0, double(transformer.GetTitleInfo().GetDuration().Get()), 100000.0);
    // Done once: a second call has nothing to wait for.
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(SVStatusSuccess, transformer.NameSource());
}

TEST(TransformerPreload, MissingTitleFailsWithTheClientsError) {
    Transformer transformer("/no/such/dir/title.svm", MediaFormatHls, OutputKindHls, "");
    ErrorRecorder errors;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&errors);
    EXPECT_EQ(SVStatusFileInput, transformer.PreLoad());
    EXPECT_EQ(SVStatusFileInput, transformer.GetStatus());
    ASSERT_FALSE(errors.Errors().empty());
    EXPECT_EQ(SVStatusFileInput, errors.Errors()[0].first);
    EXPECT_FALSE(transformer.GetErrorText().empty());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000)) << "an error stops the session";
}

TEST(TransformerPreload, DamagedTitleEndsThePreloadWithAnError) {
    const std::string title = Fixtures::MakeTitle(
        "tg-truncated.svm", {Fixtures::ShortClip(), "--truncate=3000", "{out}"});
    Transformer transformer(title, MediaFormatHls, OutputKindHls, "");
    SV::SVDictionary credentials;
    credentials.SetValue("CredentialsKey_PreloadTimeout", SV::SVTypedValue(uint32_t(500000)));
    transformer.SetCredentials(credentials);
    const SVStatus status = transformer.PreLoad();
    EXPECT_NE(SVStatusSuccess, status);
    EXPECT_EQ(status, transformer.GetStatus());
    EXPECT_EQ(kPreloadCapacity, transformer.GetSession()->GetCapacity().Get())
        << "a failed preload does not grow the session";
}

TEST(TransformerPreload, NameSourceWithoutChain) {
    LineCapture capture;
    Transformer transformer("https://origin.example/live/index.m3u8", MediaFormatHls, OutputKindHls,
                            "");
    EXPECT_EQ(SVStatusNoTransformer, transformer.NameSource());
}

// The audio of this title is a rendition of its own: after the preload a second chain with a
// tracker of its own reads it from the same file and feeds the same multiplexer.
TEST(TransformerAudioBranch, SeparateAudioRenditionGetsASecondChain) {
    const std::string output = ::testing::TempDir() + "tg-audio-branch-structure.ts";
    Transformer transformer(Fixtures::SeparateAudioTitle(), MediaFormatMpeg2Ts, OutputKindFile,
                            output);
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    transformer.SetCredentials(SV::SVDictionary());
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    const Transformer::TrackMap tracks = transformer.GetTitleInfo().GetTracks();
    ASSERT_EQ(2u, tracks.size()) << "the complete list keeps both renditions";
    EXPECT_TRUE(tracks.at(TrackId(1))->HasVideo());
    EXPECT_FALSE(tracks.at(TrackId(2))->HasVideo());
    Session& session = *transformer.GetSession();
    EXPECT_EQ(kDefaultCapacity, session.GetCapacity().Get());
    EXPECT_EQ(4u, ChainTypes(transformer).size() - 1) << "the main chain itself is unchanged";
    session.PausePump();
    Mux* mux = FindInChain<Mux>(transformer);
    ASSERT_NE(nullptr, mux);
    EXPECT_EQ(2u, mux->GetDemuxes().size()) << "the multiplexer reads both demultiplexers";
    Mpeg2PsDemux* demux = FindInChain<Mpeg2PsDemux>(transformer);
    ASSERT_NE(nullptr, demux);
    EXPECT_EQ(1u, demux->GetTracks().size()) << "the main chain leaves the audio rendition";
    EXPECT_EQ(1u, demux->GetTracks().count(TrackId(1)));
    session.ResumePump();
    // A second preload has nothing to do: the branch is built once.
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    session.PausePump();
    EXPECT_EQ(2u, mux->GetDemuxes().size());
    session.ResumePump();
    session.Stop(true);
    remove(output.c_str());
}

using SvTestSupport::kNoPosition;

// What ffprobe counts in the sources the separate-audio title is made of: the pictures of its
// video clip and the packets (one AAC frame each) of its audio clip.
std::map<int, size_t> SeparateAudioSourceCounts() {
    const std::map<int, size_t> audio = test::ProbeCounts(Fixtures::AudioOnlyClip(), false);
    EXPECT_EQ(1u, audio.size());
    std::map<int, size_t> counts;
    counts[0] = Fixtures::kShortClipFrames;  // the video clip's recipe: 4 s at 25 pictures a second
    counts[1] = audio.empty() ? 0 : audio.begin()->second;
    return counts;
}

SV_SUITE_LABEL(TransformerAudioBranchPlayerTest, e2e);  // checked with outside clients
// The transport stream written through the branch, read back by ffprobe and ffmpeg: the main
// chain's pictures and the branch's audio frames, each as many as the title's sources hold.
TEST(TransformerAudioBranchPlayerTest, SeparateAudioTrackReachesTheOutput) {
    TemporaryDirectory dir("tbranch");
    const std::string output = dir.File("out.ts");
    const std::map<int, size_t> source = SeparateAudioSourceCounts();
    ASSERT_GE(source.at(1), 186u) << "4 s of AAC at 48 kHz, 1024 samples a frame";
    ASSERT_NO_FATAL_FAILURE(SvTestSupport::TransformToFileUntilComplete(
        Fixtures::SeparateAudioTitle(), output, source));
    const auto video = SvTestSupport::ProbePackets(output, "dts,pts,flags", "v:0");
    ASSERT_EQ(Fixtures::kShortClipFrames, video.size()) << "every picture of the video track";
    EXPECT_TRUE(SvTestSupport::IsKeyPacket(video[0])) << "the output starts at a key frame";
    // Decoded to the end without an error, every picture and every audio frame.
    std::string decoded;
    ASSERT_EQ(0, SvTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i",
                                            output, "-map", "0", "-f", "framecrc", "-"},
                                           &decoded))
        << decoded;
    EXPECT_EQ(source, test::FramesPerStream(decoded));
}

// The same title played as HLS from the engine's loopback server.
TEST(TransformerAudioBranchPlayerTest, SeparateAudioTrackIsServedAsHls) {
    const uint16_t port = test::UseFreeLoopbackPort();
    ASSERT_NE(0, port);
    const std::map<int, size_t> source = SeparateAudioSourceCounts();
    Transformer transformer(Fixtures::SeparateAudioTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    ASSERT_TRUE(SvTestSupport::WaitUntil(
        [&]() { return transformer.GetServingSessions().GetListeningPort() != 0; }));
    const std::string url = transformer.GetOutputName();
    EXPECT_EQ(0u, url.find("http://localhost:" + std::to_string(port) + "/"));
    std::string decoded;
    const int status = SvTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror",
                                                  "-i", url, "-map", "0", "-f", "framecrc", "-"},
                                                 &decoded);
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    ASSERT_EQ(0, status) << decoded;
    const std::map<int, size_t> served = test::FramesPerStream(decoded);
    ASSERT_EQ(2u, served.size()) << decoded;
    EXPECT_EQ(source.at(0), served.at(0)) << "every picture";
    // Audio goes out four frames to a packet; the last, shorter group leaves at the end too.
    EXPECT_EQ(source.at(1), served.at(1)) << "every audio frame";
}

}  // namespace
}  // namespace SarvelonMediaKit
