// The player screen with the real engine: a portal title's playback information names the
// portal's title file, SV_Play serves it as HLS on a loopback port, and the headless player
// plays what the engine serves to the end. A relay between the player and the engine's server
// writes down what the player asked the server for. The loop's clock follows real time here
// (the engine works in real time); the movie plays at eight times its speed, about two seconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/QplayerTestFixture.h"
#include "app/testing/EngineTestSupport.h"
#include "engine/api/SViOsApiState.h"

namespace {

using QplayerTest::QplayerTestBase;

class QplayerEngineTest : public QplayerTestBase {
protected:
    void SetUp() override {
        QplayerTestBase::SetUp();
        ASSERT_NO_FATAL_FAILURE(engine_.Start());
        delegate_->dismisses = false;
    }
    void TearDown() override {
        QplayerTestBase::TearDown();
        engine_.Stop();
    }
    bool RunRealTime(const std::function<bool()>& cond, double seconds) {
        return AppTestSupport::RunRealTime(loop_, cond, seconds);
    }

    AppTestSupport::RelayedEngine engine_;
};

TEST_F(QplayerEngineTest, APortalTitlePlaysThroughTheEngineToItsEnd) {
    Open(PlaybackUrl("102"));
    // The engine starts on the bridge's thread; the movie player gets its URL once it has.
    ASSERT_TRUE(RunRealTime(
        [&] {
            return (Movie() != nullptr && !Movie()->ContentUrl().empty()) ||
                   !delegate_->calls.empty();
        },
        20));
    ASSERT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    // The playback information names the portal's own title file; the engine fetched it.
    ASSERT_NE(nullptr, player_->dataObject());
    EXPECT_EQ(portal_->Url("/media/102.svm"), player_->dataObject()->sarvelonUri);
    bool fetched = false;
    for (const auto& request : portal_->Requests()) fetched |= request.path == "/media/102.svm";
    EXPECT_TRUE(fetched);
    // The movie player plays the engine's loopback playlist.
    const std::string playlist =
        "http://localhost:" + std::to_string(engine_.EnginePort()) + "/102.m3u8";
    EXPECT_EQ(playlist, Movie()->ContentUrl());

    ASSERT_TRUE(RunRealTime(
        [&] {
            return delegate_->Count("complete") == 1 &&
                   Movie()->PlaybackState() == ns::MoviePlaybackState::Stopped;
        },
        30))
        << "position " << Movie()->CurrentPlaybackTime();
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);

    // The server was asked for the playlist first, then for segments.
    const std::vector<std::string> requests = engine_.Relay().Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("GET /102.m3u8 HTTP/1.1", requests.front());
    const auto segments = std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
        return r.find(".ts HTTP/1.1") != std::string::npos;
    });
    EXPECT_GE(segments, 2) << requests.size() << " requests";

    // Video from start to end of the 12 s title, its presentation times never going back.
    bool video = false;
    for (const ns::MovieStreamStatistics& stream : Movie()->Statistics()) {
        if (stream.mediaType != "video") continue;
        video = true;
        EXPECT_GT(stream.packets, 0u);
        EXPECT_EQ(0u, stream.ptsBackwards);
        EXPECT_GE(stream.lastPts - stream.firstPts, 11.0);
    }
    EXPECT_TRUE(video);

    player_->DismissViewController(false);
    loop_.Step();
    ASSERT_TRUE(WaitForEngine());
    EXPECT_FALSE(SarvelonMediaKit::SViOsApiState::Instance().IsInitialized());
}

// A title left while its engine start still waits for an origin that trickles it: the start
// is stopped when the screen closes, so the next title, opened after it, starts and plays at
// once instead of behind the first one's preload (given a minute here, past every wait of the
// test); nothing of the title left reaches either screen or its delegate.
TEST_F(QplayerEngineTest, ATitleLeftWhileItTricklesInIsStoppedAndTheNextOnePlays) {
    AppTestSupport::ServeTricklingTitle(origin_, "/slow.svm");

    Open(Info(InfoJson(0, origin_.Url("/slow.svm"))));
    ASSERT_TRUE(RunRealTime([&] { return origin_.AnswersBegun("/slow.svm") > 0; }, 20));
    std::shared_ptr<Qplayer> first = player_;
    std::shared_ptr<QplayerTest::RecordingDelegate> firstDelegate = delegate_;
    first->closeView();
    ASSERT_TRUE(RunRealTime([&] { return !firstDelegate->calls.empty(); }, 10));
    first->DismissViewController(false);
    loop_.Step();

    delegate_ = std::make_shared<QplayerTest::RecordingDelegate>();
    delegate_->dismisses = false;
    Open(PlaybackUrl("102"));
    ASSERT_TRUE(RunRealTime(
        [&] {
            return (Movie() != nullptr && !Movie()->ContentUrl().empty()) ||
                   !delegate_->calls.empty();
        },
        30))
        << "the next start waited behind the title left";
    EXPECT_EQ(1, LogCount("[Q] engine start ended after closing (status:408): not played"));
    EXPECT_TRUE(RunRealTime([&] { return Playing(); }, 30));
    EXPECT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    EXPECT_EQ((std::vector<std::string>{"dispose"}), firstDelegate->calls);
    EXPECT_EQ(0, LogsContaining("[Q] sarvelonStoppingOnError"));

    player_->DismissViewController(false);
    loop_.Step();
    ASSERT_TRUE(WaitForEngine());
}

}  // namespace
