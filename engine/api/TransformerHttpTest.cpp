// A Transformer whose title comes over HTTP: the download client in the chain with its monitors,
// an origin's refusal as the playback's error, and a title served as HLS from a loopback origin
// byte for byte as the same title read from its file.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClient.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::FindInChain;
using SvTestSupport::Fixtures;
using SvTestSupport::LineCapture;
using SvTestSupport::TestOrigin;
using namespace test;

const MediaTime kNoPosition(~uint64_t(0));

// The engine's transport for the test's downloads, stopped again after it.
class TransformerHttpTest : public ::testing::Test {
protected:
    void SetUp() override { SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface); }
    void TearDown() override {
        ShutdownCurlHTTPClientInterface();
        SetHTTPClientInterfaceFactory(nullptr);
    }
};

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
    EXPECT_TRUE(WaitUntil([&]() { return transformer.GetListeningPort() != 0; }));
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
    ASSERT_TRUE(WaitUntil([&]() { return transformer.GetListeningPort() != 0; }));
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

}  // namespace
}  // namespace SarvelonMediaKit
