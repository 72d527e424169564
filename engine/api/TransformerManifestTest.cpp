// A multi-file title (a SMIL manifest naming a video title, one audio title per language and a
// subtitle file) through the Transformer's preload and output: from a path, a file:// URL and
// a real web origin.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/TestLabels.h"
#include "tests/support/ErrorRecorder.h"
#include "engine/input/CurlTransportTestFixture.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;

using SvTestSupport::kNoPosition;

std::string Folder(const std::string& manifest) { return manifest.substr(0, manifest.rfind('/')); }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string StringOf(const MediaTrack& track, const char* key) {
    const std::string* value = nullptr;
    return track.GetInfo().GetString(key, value) && value ? *value : std::string();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The joined tracks of the fixture title after the preload: the pictures, then the sound of
// each language in manifest order, each read from its own file, then the subtitles, which the
// application shows from their own file.
void ExpectFixtureTracks(const Transformer::TrackMap& tracks, const std::string& where) {
    ASSERT_EQ(4u, tracks.size()) << where;
    const MediaTrack& video = *tracks.at(TrackId(1));
    const MediaTrack& en = *tracks.at(TrackId(2));
    const MediaTrack& de = *tracks.at(TrackId(3));
    const MediaTrack& text = *tracks.at(TrackId(4));
    EXPECT_TRUE(video.HasVideo());
    EXPECT_FALSE(video.HasAudio()) << "the video file carries no sound";
    EXPECT_TRUE(EndsWith(StringOf(video, TrackInfoKey_Source), "/video.svm"))
        << StringOf(video, TrackInfoKey_Source);
    EXPECT_TRUE(en.HasAudio() && !en.HasVideo());
    EXPECT_EQ("en", StringOf(en, TrackInfoKey_AudioIdentifier));
    EXPECT_TRUE(EndsWith(StringOf(en, TrackInfoKey_Source), "/audio-en.svm"));
    EXPECT_TRUE(de.HasAudio() && !de.HasVideo());
    EXPECT_EQ("de", StringOf(de, TrackInfoKey_AudioIdentifier));
    EXPECT_TRUE(EndsWith(StringOf(de, TrackInfoKey_Source), "/audio-de.svm"));
    EXPECT_TRUE(text.HasText());
    EXPECT_EQ("en", StringOf(text, TrackInfoKey_SubtitleIdentifier));
    EXPECT_TRUE(EndsWith(StringOf(text, TrackInfoKey_Source), "/text-en.ttml"));
}

// The playback demultiplexer keeps the media tracks only: the pictures in the main chain, and
// (after the audio branch took them) no sound and no subtitles.
void ExpectDemuxTracks(const Transformer& transformer) {
    Session& session = *transformer.GetSession();
    session.PausePump();
    Mpeg2PsDemux* demux = SvTestSupport::FindInChain<Mpeg2PsDemux>(transformer);
    ASSERT_NE(nullptr, demux);
    const Mpeg2PsDemux::TrackMap tracks = demux->GetTracks();
    session.ResumePump();
    ASSERT_EQ(1u, tracks.size());
    EXPECT_TRUE(tracks.begin()->second->HasVideo());
}

// The manifest's sources made absolute: as plain paths, or as file:// URLs when scheme is given.
std::string WithAbsoluteSources(const std::string& manifest, const std::string& scheme) {
    std::string text = ReadText(manifest);
    for (const char* name : {"video.svm", "audio-en.svm", "audio-de.svm", "text-en.ttml"}) {
        const std::string relative = std::string("src=\"") + name + "\"";
        const size_t at = text.find(relative);
        EXPECT_NE(std::string::npos, at) << name;
        if (at == std::string::npos) continue;
        text.replace(at, relative.size(),
                     "src=\"" + scheme + Folder(manifest) + "/" + std::string(name) + "\"");
    }
    return text;
}

TEST(TransformerManifest, RelativePathAndFileUrlSourcesLoadTheJoinedTracks) {
    const std::string manifest = Fixtures::SmilTitle();
    TemporaryDirectory dir("tmanifest");
    WriteText(dir.File("urls.smil"), WithAbsoluteSources(manifest, "file://"));
    WriteText(dir.File("paths.smil"), WithAbsoluteSources(manifest, ""));
    for (const std::string& source : {manifest, dir.File("urls.smil"), dir.File("paths.smil")}) {
        Transformer transformer(source, MediaFormatHls, OutputKindHls, "");
        ASSERT_EQ(MediaFormatSmil, transformer.GetMediaFormat());
        transformer.SetCredentials(SV::SVDictionary());
        ASSERT_EQ(SVStatusSuccess, transformer.PreLoad()) << source;
        ExpectFixtureTracks(transformer.GetTitleInfo().GetTracks(), source);
        ExpectDemuxTracks(transformer);
        // The stage is done: the session has its full size and nothing is left to wait for.
        EXPECT_EQ(transformer.GetCacheSize(), transformer.GetSession()->GetCapacity().Get());
        EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    }
}

TEST(TransformerManifest, AWrongHashOrAMissingSourceFailsTheStageWithTheLoadersStatus) {
    const std::string manifest = Fixtures::SmilTitle();
    TemporaryDirectory dir("tmanifest");
    // The same files, by absolute path, with the first hash's last digit changed.
    std::string changed = WithAbsoluteSources(manifest, "");
    const size_t hash = changed.find("hash=\"");
    ASSERT_NE(std::string::npos, hash);
    char& digit = changed[hash + 6 + 63];
    digit = digit == '0' ? '1' : '0';
    WriteText(dir.File("changed.smil"), changed);
    {
        Transformer transformer(dir.File("changed.smil"), MediaFormatHls, OutputKindHls, "");
        EXPECT_EQ(SVStatusDigestMismatch, transformer.PreLoad());
        EXPECT_EQ(SVStatusDigestMismatch, transformer.GetStatus());
        EXPECT_TRUE(transformer.GetTitleInfo().GetTracks().empty());
    }
    WriteText(dir.File("nosrc.smil"), "<smil><body><video hash=\"00\"/></body></smil>");
    {
        Transformer transformer(dir.File("nosrc.smil"), MediaFormatHls, OutputKindHls, "");
        ErrorRecorder errors;
        static_cast<ErrorInfoSource&>(transformer).AddMonitor(&errors);
        EXPECT_EQ(SVStatusManifest, transformer.PreLoad());
        ASSERT_EQ(1u, errors.Errors().size());
        EXPECT_EQ(SVStatusManifest, errors.Errors()[0].first);
        EXPECT_EQ("Missing src attribute", errors.Errors()[0].second);
    }
}

SV_SUITE_LABEL(TransformerManifestPlayerTest, e2e);  // checked with outside clients
// The transport stream written from the manifest: every picture of the video file and every
// frame of the first language's sound, which is the 440 Hz source's and not the 880 Hz one's.
TEST(TransformerManifestPlayerTest, TheOutputCarriesThePicturesAndTheFirstLanguage) {
    const std::string manifest = Fixtures::SmilTitle();
    TemporaryDirectory dir("tmanifest");
    const std::string output = dir.File("out.ts");
    const std::map<int, size_t> audio =
        test::ProbeCounts(Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), false);
    ASSERT_EQ(1u, audio.size());
    const std::map<int, size_t> source = {{0, Fixtures::kShortClipFrames},
                                          {1, audio.begin()->second}};
    ASSERT_NO_FATAL_FAILURE(SvTestSupport::TransformToFileUntilComplete(manifest, output, source));
    std::string copied, expected, other;
    const std::string frames = dir.File("frames.aac");
    auto adts = [&](const std::string& input, std::string& into) {
        ASSERT_EQ(
            0, SvTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", input,
                                          "-map", "0:a:0", "-c:a", "copy", "-f", "adts", frames}));
        into = ReadText(frames);
    };
    adts(output, copied);
    adts(Fixtures::SineAudioClip(Fixtures::kSmilFirstFrequency), expected);
    adts(Fixtures::SineAudioClip(Fixtures::kSmilSecondFrequency), other);
    ASSERT_FALSE(copied.empty());
    EXPECT_EQ(expected, copied) << "the first language's frames, unchanged";
    EXPECT_NE(other, copied);
}

// The engine's own transport fetches the manifest and every file from nginx.
class TransformerManifestNginxTest : public CurlTransportTestFixture {};

SV_SUITE_LABEL(TransformerManifestNginxTest, e2e);  // checked with outside clients
TEST_F(TransformerManifestNginxTest, AManifestOverHttpLoadsItsFilesFromTheSameFolder) {
    if (!SvTestSupport::NginxOrigin::Installed()) GTEST_SKIP() << "nginx is not installed";
    const std::string manifest = Fixtures::SmilTitle();
    SvTestSupport::NginxOrigin origin(Folder(manifest));
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    const std::string url = origin.Url("/title.smil");
    Transformer transformer(url, MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(MediaFormatSmil, transformer.GetMediaFormat());
    transformer.SetCredentials(SV::SVDictionary());
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad()) << origin.ErrorLog();
    const Transformer::TrackMap tracks = transformer.GetTitleInfo().GetTracks();
    ExpectFixtureTracks(tracks, url);
    if (tracks.size() == 3u) {
        EXPECT_EQ(origin.Url("/video.svm"), StringOf(*tracks.at(TrackId(1)), TrackInfoKey_Source));
    }
}

// Stop, from another thread, while PreLoad loads a manifest from the loopback origin whose
// manifest or one of whose files stalls: the load is cut short instead of running out its
// 20 s, and PreLoad returns 408 (the preload did not complete) without an error event, since
// the owner asked for the stop.
class TransformerManifestStopTest : public CurlTransportTestFixture {
protected:
    bool Requested(const std::string& path) const {
        for (const auto& request : origin_.Requests()) {
            if (request.path == path) return true;
        }
        return false;
    }

    void ExpectStopEndsThePreload(const std::string& manifestPath, const std::string& stalledPath) {
        Transformer transformer(origin_.Url(manifestPath), MediaFormatHls, OutputKindHls, "");
        ASSERT_EQ(MediaFormatSmil, transformer.GetMediaFormat());
        SV::SVDictionary credentials;
        credentials.SetValue("CredentialsKey_PreloadTimeout",
                             SV::SVTypedValue(uint32_t(20 * 1000 * 1000)));  // 20 s
        transformer.SetCredentials(credentials);
        ErrorRecorder errors;
        static_cast<ErrorInfoSource&>(transformer).AddMonitor(&errors);
        std::atomic<bool> preloaded(false);
        std::atomic<SVStatus> status(0);
        std::thread preload([&] {
            status = transformer.PreLoad();
            preloaded = true;
        });
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return Requested(stalledPath); }));
        EXPECT_FALSE(preloaded);
        // Its result depends on whether PreLoad has recorded the abort yet.
        transformer.Stop();
        // A few seconds at most: without the abort PreLoad waits out the 20 s.
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return preloaded.load(); }, 5000));
        preload.join();
        EXPECT_EQ(SVStatusPreloadTimeout, status.load());
        EXPECT_EQ(SVStatusPreloadTimeout, transformer.GetStatus());
        EXPECT_TRUE(transformer.GetTitleInfo().GetTracks().empty());
        EXPECT_TRUE(errors.Errors().empty()) << errors.Errors()[0].second;
    }

    SvTestSupport::TestOrigin origin_;
};

TEST_F(TransformerManifestStopTest, AStopEndsTheDownloadOfAManifestThatStalls) {
    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 60000;
    origin_.Serve("/title.smil", ReadText(Fixtures::SmilTitle()));
    origin_.SetFault("/title.smil", silent);
    ExpectStopEndsThePreload("/title.smil", "/title.smil");
}

TEST_F(TransformerManifestStopTest, AStopEndsThePreloadOfAFileThatStalls) {
    const std::string manifest = Fixtures::SmilTitle();
    origin_.Serve("/title.smil", ReadText(manifest));
    for (const char* name : {"/video.svm", "/audio-en.svm", "/audio-de.svm"}) {
        origin_.ServeFile(name, Folder(manifest) + name);
    }
    SvTestSupport::TestOrigin::Fault stall;
    stall.stallAfter = 0;  // the head, then not one byte of the body
    stall.stallMs = 60000;
    origin_.SetFault("/audio-de.svm", stall);
    ExpectStopEndsThePreload("/title.smil", "/audio-de.svm");
}

}  // namespace
}  // namespace SarvelonMediaKit
