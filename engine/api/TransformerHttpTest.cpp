// A Transformer whose title comes over HTTP: the download client in the chain with its monitors,
// an origin's refusal as the playback's error, a title served as HLS from a loopback origin
// byte for byte as the same title read from its file, and a title with a separate audio
// rendition, whose audio branch downloads it with a client of its own, written to a file whole.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/MemoryCache.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/ChildDescriptors.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/LoopbackConnect.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "engine/input/CurlTransportTestFixture.h"
#include "tests/support/MediaFileTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::FindInChain;
using SvTestSupport::Fixtures;
using SvTestSupport::LineCapture;
using SvTestSupport::TemporaryDirectory;
using SvTestSupport::TestOrigin;
using namespace test;

using SvTestSupport::kNoPosition;

// The engine's transport for the test's downloads, stopped again after it.
class TransformerHttpTest : public CurlTransportTestFixture {};

TEST_F(TransformerHttpTest, AnHttpTitleIsDownloadedByAClientTheSeekerAndTheTransformerWatch) {
    LineCapture capture;
    Transformer http("http://127.0.0.1:9/dir/title.svm", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusSuccess, http.GetStatus());
    const std::vector<std::string> chain = ChainTypes(http);
    ASSERT_EQ(5u, chain.size());
    HTTPClient* client = FindInChain<HTTPClient>(http);
    MediaSeeker* seeker = FindInChain<MediaSeeker>(http);
    ASSERT_NE(nullptr, client);
    ASSERT_NE(nullptr, seeker);
    EXPECT_EQ(client->GetTypeName(), chain.back()) << "the download is the source end";
    // The seeker picks renditions by the rate the download achieves; the Transformer hears
    // the download's failures; the download runs ahead into a cache of its own.
    EXPECT_TRUE(static_cast<BandwidthInfoSource&>(*client).HasMonitor(seeker));
    EXPECT_TRUE(static_cast<ErrorInfoSource&>(*client).HasMonitor(&http));
    EXPECT_TRUE(client->GetMemoryCache() != nullptr);
    EXPECT_EQ("http://localhost:" + std::to_string(GetLoopbackPort()) + "/title.m3u8",
              http.GetOutputName());

    // A sparse title is fetched where it is read: no cache, and no limit on the session.
    Transformer sparse("http://127.0.0.1:9/title.ps.sparse", MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusSuccess, sparse.GetStatus());
    HTTPClient* sparseClient = FindInChain<HTTPClient>(sparse);
    ASSERT_NE(nullptr, sparseClient);
    EXPECT_TRUE(sparseClient->GetMemoryCache() == nullptr);
    EXPECT_EQ(0xFFFFFFFFu, sparse.GetSession()->GetCapacity().Get());
}

TEST_F(TransformerHttpTest, AnOriginsRefusalEndsThePreloadWithItsStatus) {
    TestOrigin origin;
    Transformer transformer(origin.Url("/missing.svm"), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(404, transformer.PreLoad());
    EXPECT_EQ(404, transformer.GetStatus());
    EXPECT_EQ("HTTP Error 404", transformer.GetErrorText());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000)) << "an error stops the session";
}

// Every segment of the playlist, in order, as the loopback server hands it out.
std::vector<std::string> AllSegments(uint16_t port, const std::string& playlistUrl) {
    std::vector<std::string> segments;
    const HttpAnswer playlist = HttpGet(port, playlistUrl.substr(playlistUrl.rfind('/') + 1));
    EXPECT_EQ(200, playlist.status);
    size_t at = 0;
    while ((at = playlist.body.find("#EXTINF:", at)) != std::string::npos) {
        const size_t line = playlist.body.find('\n', at) + 1;
        const std::string name = playlist.body.substr(line, playlist.body.find('\n', line) - line);
        const HttpAnswer segment = HttpGet(port, name, 20000);
        EXPECT_EQ(200, segment.status) << name;
        EXPECT_TRUE(segment.complete) << name;
        segments.push_back(segment.body);
        at = line;
    }
    return segments;
}

// Plays the title as HLS and reads every segment; the port is the engine's.
std::vector<std::string> PlayAndRead(const std::string& title, uint16_t port) {
    Transformer transformer(title, MediaFormatHls, OutputKindHls, "");
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    EXPECT_TRUE(
        WaitUntil([&]() { return transformer.GetServingSessions().GetListeningPort() != 0; }));
    const std::vector<std::string> segments = AllSegments(port, transformer.GetOutputName());
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    return segments;
}

TEST_F(TransformerHttpTest, ATitleFromAnOriginIsServedAsItsFileIs) {
    const std::string title = Fixtures::HlsTitle();
    TestOrigin origin;
    origin.ServeFile("/title.svm", title);
    const uint16_t port = UseFreeLoopbackPort();
    ASSERT_NE(0, port);
    // The same title read from its file: the oracle for what the download must give.
    const std::vector<std::string> local = PlayAndRead(title, port);
    ASSERT_EQ(Fixtures::kHlsClipSeconds / 2, local.size()) << "a segment per 2 s group";
    const std::vector<std::string> served = PlayAndRead(origin.Url("/title.svm"), port);
    ASSERT_EQ(local.size(), served.size());
    for (size_t i = 0; i < local.size(); ++i) {
        EXPECT_TRUE(local[i] == served[i]) << "segment " << i;
    }
    // The download asked for the title, in ranges the seeker chose.
    bool asked = false;
    for (const TestOrigin::Request& request : origin.Requests()) {
        asked = asked || request.path == "/title.svm";
    }
    EXPECT_TRUE(asked);
}

TEST_F(TransformerHttpTest, AColdSeekNearTheEndStillEndsTheLastSegment) {
    const std::string title = Fixtures::HlsTitle();
    TestOrigin origin;
    origin.ServeFile("/title.svm", title);
    const uint16_t port = UseFreeLoopbackPort();
    ASSERT_NE(0, port);
    Transformer transformer(origin.Url("/title.svm"), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    ASSERT_TRUE(
        WaitUntil([&]() { return transformer.GetServingSessions().GetListeningPort() != 0; }));
    const size_t last = Fixtures::kHlsClipSeconds / 2 - 1;
    EXPECT_EQ(200, HttpGet(port, "0.ts").status);
    // Far ahead of what was read: a range request from the group at 112 s to the track's end,
    // whose end of data must end the stream, or the last segment never closes.
    for (size_t i = last - 3; i <= last; ++i) {
        const HttpAnswer segment = HttpGet(port, std::to_string(i) + ".ts", 10000);
        EXPECT_EQ(200, segment.status) << i;
        EXPECT_TRUE(segment.complete) << i;
        EXPECT_GE(FirstVideoPts(segment.body), 0) << i;
    }
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
}

// What this process held before any test ran: descriptors its own starter passed on, which a
// child inherits too through no fault of the engine's.
const std::map<int, std::string> kDescriptorsGivenAtStart = SvTestSupport::OpenDescriptors();

// The application starts children (WebKit's processes) at any moment: one started while the
// engine listens, serves a player and downloads must hold none of those sockets, or the child
// keeps the engine's port bound after the engine closed it.
TEST_F(TransformerHttpTest, AChildStartedWhileATitleIsDownloadedAndServedHoldsNoneOfItsSockets) {
    const std::string title = Fixtures::HlsTitle();
    TestOrigin origin;
    // Slow enough that the download is still under way when the child starts.
    TestOrigin::Fault slow;
    slow.bytesPerSecond = 256 * 1024;
    origin.SetFault("/title.svm", slow);
    origin.ServeFile("/title.svm", title);
    const uint16_t port = UseFreeLoopbackPort();
    ASSERT_NE(0, port);
    Transformer transformer(origin.Url("/title.svm"), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad()) << transformer.GetErrorText();
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    ASSERT_TRUE(
        WaitUntil([&]() { return transformer.GetServingSessions().GetListeningPort() != 0; }));
    // A player asks for the playlist and keeps its connection, as a player does between
    // requests: the engine holds the socket it accepted for it.
    const int player = SvTestSupport::Connect(port);
    ASSERT_GE(player, 0);
    const std::string ask = "GET /title.m3u8 HTTP/1.1\r\nHost: localhost\r\n\r\n";
    ASSERT_EQ(static_cast<ssize_t>(ask.size()), send(player, ask.data(), ask.size(), 0));
    char head[64];
    ASSERT_GT(recv(player, head, sizeof head, 0), 0) << "the playlist's answer";

    // The engine's three kinds of socket are open in this process as the child starts.
    using SvTestSupport::TcpSocket;
    EXPECT_TRUE(SvTestSupport::HoldsTcpSocket(
        [&](const TcpSocket& s) { return s.listening && s.localPort == port; }));
    EXPECT_TRUE(SvTestSupport::HoldsTcpSocket(
        [&](const TcpSocket& s) { return !s.listening && s.localPort == port; }));
    EXPECT_TRUE(SvTestSupport::HoldsTcpSocket(
        [&](const TcpSocket& s) { return !s.listening && s.remotePort == origin.Port(); }));
    const std::vector<std::string> passed =
        SvTestSupport::DescriptorsPassedToAChild(kDescriptorsGivenAtStart);
    std::string named;
    for (const std::string& one : passed) named += one + "\n";
    EXPECT_TRUE(passed.empty()) << "the child holds:\n" << named;

    close(player);
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
}

// The side branch that reads the audio-only rendition: the demultiplexer the multiplexer reads
// after the main one, and the stages toward its source.
struct AudioBranch {
    Component* demux = nullptr;
    Component* seeker = nullptr;
    Component* client = nullptr;
};

AudioBranch FindAudioBranch(const Transformer& transformer) {
    AudioBranch branch;
    Mux* mux = FindInChain<Mux>(transformer);
    if (mux == nullptr || mux->GetDemuxes().size() != 2) return branch;
    branch.demux = dynamic_cast<Component*>(mux->GetDemuxes()[1]);
    if (branch.demux != nullptr) branch.seeker = branch.demux->GetSource().get();
    if (branch.seeker != nullptr) branch.client = branch.seeker->GetSource().get();
    return branch;
}

// The branch over HTTP is wired as the main chain's download, except that it steers nothing:
// the Transformer hears its failures, no seeker listens to its rate, and it buffers on the
// branch's own tracker rather than the session's.
TEST_F(TransformerHttpTest, AnAudioBranchOverHttpHasItsOwnClientCacheAndNoBandwidthMonitor) {
    TestOrigin origin;
    origin.ServeFile("/title.svm", Fixtures::SeparateAudioTitle());
    TemporaryDirectory dir("thttpwiring");
    Transformer transformer(origin.Url("/title.svm"), MediaFormatMpeg2Ts, OutputKindFile,
                            dir.File("out.ts"));
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad()) << transformer.GetErrorText();
    Session& session = *transformer.GetSession();
    session.PausePump();
    HTTPClient* main = FindInChain<HTTPClient>(transformer);
    MediaSeeker* mainSeeker = FindInChain<MediaSeeker>(transformer);
    const AudioBranch branch = FindAudioBranch(transformer);
    ASSERT_NE(nullptr, main);
    ASSERT_NE(nullptr, branch.demux) << "the title's audio rendition gets a branch";
    EXPECT_NE(nullptr, dynamic_cast<Mpeg2PsDemux*>(branch.demux));
    MediaSeeker* seeker = dynamic_cast<MediaSeeker*>(branch.seeker);
    HTTPClient* client = dynamic_cast<HTTPClient*>(branch.client);
    ASSERT_NE(nullptr, seeker);
    ASSERT_NE(nullptr, client) << "an HTTP title's branch downloads with a client of its own";
    EXPECT_NE(main, client);
    EXPECT_EQ(origin.Url("/title.svm"), client->GetName());
    EXPECT_TRUE(client->GetSource() == nullptr) << "the branch's source end";

    EXPECT_TRUE(static_cast<ErrorInfoSource&>(*client).HasMonitor(&transformer));
    EXPECT_FALSE(static_cast<BandwidthInfoSource&>(*client).HasMonitors())
        << "neither seeker steers by the branch's share of the download";
    EXPECT_FALSE(static_cast<BandwidthInfoSource&>(*client).HasMonitor(mainSeeker));
    EXPECT_TRUE(static_cast<BandwidthInfoSource&>(*main).HasMonitor(mainSeeker));

    const boost::shared_ptr<MemoryCache> cache = client->GetMemoryCache();
    ASSERT_TRUE(cache != nullptr) << "the branch downloads ahead into a cache of its own";
    EXPECT_TRUE(cache != main->GetMemoryCache());
    const boost::shared_ptr<MemoryTracker> tracker = cache->GetTracker();
    ASSERT_TRUE(tracker != nullptr);
    EXPECT_TRUE(tracker == static_cast<Mpeg2PsDemux*>(branch.demux)->GetMemoryTracker())
        << "the branch's tracker, shared with its demultiplexer";
    EXPECT_TRUE(tracker != session.GetMemoryTracker());
    EXPECT_TRUE(main->GetMemoryCache()->GetTracker() != tracker);
    session.ResumePump();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
}

// Writes the title to a transport-stream file; the session ends once the file is whole (or on
// an error). The file's bytes.
std::string WriteTitle(const std::string& title, const std::string& output) {
    Transformer transformer(title, MediaFormatMpeg2Ts, OutputKindFile, output);
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(30000)) << title;
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    return SvTestSupport::ReadWholeFile(output);
}

// 20 s of pictures without sound (track 1) and 4 s of audio (track 2, a rendition of its own):
// the audio branch's download ends long before the pictures do.
std::string ShortAudioTitle() {
    return Fixtures::MakeTitle("short-audio-branch.svm",
                               {Fixtures::TrickClips()[0], Fixtures::AudioOnlyClip(), "{out}"});
}

// The audio branch's download ends with an end of data while the main chain still has most of
// its pictures to come, and the main download ends with one too: the file must still hold the
// whole title, byte for byte as the same title read from its file gives it.
TEST_F(TransformerHttpTest, AnHttpTitleWithAnAudioBranchIsWrittenToAFileWhole) {
    const std::string title = ShortAudioTitle();
    TestOrigin origin;
    origin.ServeFile("/title.svm", title);
    TemporaryDirectory dir("thttpfile");
    const std::string local = WriteTitle(title, dir.File("local.ts"));
    // The oracle: the pictures of the video clip's recipe and every frame of the audio clip,
    // as ffprobe counts them in the output of the title read from its file.
    const std::map<int, size_t> counts = test::ProbeCounts(dir.File("local.ts"), false);
    ASSERT_EQ(2u, counts.size());
    ASSERT_EQ(Fixtures::kTrickClipFrames, counts.at(0));
    ASSERT_EQ(test::ProbeCounts(Fixtures::AudioOnlyClip(), false).begin()->second, counts.at(1));

    const std::string served = WriteTitle(origin.Url("/title.svm"), dir.File("served.ts"));
    EXPECT_EQ(counts, test::ProbeCounts(dir.File("served.ts"), false));
    EXPECT_EQ(local.size(), served.size());
    EXPECT_TRUE(local == served) << "the same bytes as from the file";
}

}  // namespace
}  // namespace SarvelonMediaKit
