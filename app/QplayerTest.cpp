// The player screen against the demo portal and the fake bridge: the playback-information
// request, what a faulty answer leads to, and the engine's start, errors and stop.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/QplayerTestFixture.h"
#include "app/SarvelonQueue.h"

namespace {

using QplayerTest::QplayerTestBase;

class QplayerInformationTest : public QplayerTestBase {
protected:
    bool Started() { return bridge_->Calls().size() >= 2; }
    bool Answered() { return player_ && player_->dataObject() != nullptr; }
};

TEST_F(QplayerInformationTest, AsksForTheInformationWithIosOneAndStartsTheEngineWithIt) {
    bridge_->playbackUrlToHand = ClipPath("bars");
    Open(PlaybackUrl("102"));
    ASSERT_TRUE(WaitReal([&] { return Started(); }, 10));
    ASSERT_TRUE(WaitForEngine());

    std::vector<std::string> queries;
    for (const auto& request : portal_->Requests()) {
        if (request.path == "/api/playback") queries.push_back(request.query);
    }
    EXPECT_EQ(std::vector<std::string>{"id=102&ios=1"}, queries);

    // The settings, then the title's own file from the answer, with an empty string for the
    // playback URL and 0.
    const std::vector<FakeSarvelonBridge::Call> calls = bridge_->Calls();
    ASSERT_EQ((std::vector<std::string>{"SV_Initialize", "SV_Play"}), bridge_->CallNames());
    ns::Dictionary settings;
    settings.Set("SVPlayerDrivenAdaptationKey", "0");
    EXPECT_EQ(settings, calls[0].settings);
    EXPECT_EQ(portal_->Url("/media/102.svm"), calls[1].assetUrl);
    EXPECT_TRUE(calls[1].playbackUrlWasEmpty);
    EXPECT_EQ(0, calls[1].unused);
    EXPECT_EQ(1, LogCount("[Q] ALL OK"));
    ASSERT_NE(nullptr, Movie());
    EXPECT_EQ(ClipPath("bars"), Movie()->ContentUrl());

    // The portal's two languages, sorted by label after "None".
    const PlayerDataObject* data = player_->dataObject();
    ASSERT_NE(nullptr, data);
    ASSERT_EQ(3u, data->subtitles.size());
    EXPECT_EQ("None", data->subtitles[0].label);
    EXPECT_EQ("English", data->subtitles[1].label);
    EXPECT_EQ("Polski", data->subtitles[2].label);
    EXPECT_EQ(portal_->Url("/media/102.pl.ttml"), data->subtitles[2].uri.value_or(""));
    EXPECT_EQ("102", player_->mediaID());
}

// The answer must be whole twenty seconds after its request started: one that never comes (the
// portal's 903) and one that trickles in a byte now and then both fail then, as a connection
// error.
TEST_F(QplayerInformationTest, AnAnswerNotWholeAfterTwentySecondsFails) {
    origin_.Serve("/trickle", InfoJson(0) + std::string(4000, ' '));
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/trickle", trickle);
    for (const std::string& url : {PlaybackUrl("903"), origin_.Url("/trickle?id=1")}) {
        SCOPED_TRACE(url);
        delegate_->calls.clear();
        Open(url);
        RunFor(19.5, 0.5);
        EXPECT_TRUE(delegate_->calls.empty());
        ASSERT_TRUE(RunUntil([&] { return !delegate_->calls.empty(); }, 1.0, 0.5));
        EXPECT_EQ((std::vector<std::string>{"error 300 connection error: ContectAccessAPI"}),
                  delegate_->calls);
    }
    EXPECT_EQ(1, origin_.AnswersBegun("/trickle"));
}

TEST_F(QplayerInformationTest, AMissingFieldIsReportedOneSecondLaterWithoutStartingAnything) {
    Open(PlaybackUrl("901"));
    ASSERT_TRUE(WaitReal([&] { return Answered(); }, 10));
    RunFor(0.9, 0.05);
    EXPECT_TRUE(delegate_->calls.empty());
    RunFor(0.2, 0.05);
    EXPECT_EQ((std::vector<std::string>{"error 200 MISSING UILanguage --MISSING startPosition --"}),
              delegate_->calls);
    EXPECT_TRUE(player_->dataObject() == nullptr);  // gone with the screen
    // The engine was never started; the screen's going still stops it.
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ((std::vector<std::string>{"SV_Stop", "SV_Terminate"}), bridge_->CallNames());
}

TEST_F(QplayerInformationTest, AnEmptyDeliveryUriIsReportedOnceAndNotRetried) {
    delegate_->dismisses = false;
    Open(PlaybackUrl("902"));
    ASSERT_TRUE(WaitReal([&] { return Answered(); }, 10));
    ASSERT_TRUE(WaitForEngine());
    // Past the start time-out: that one closes through the delegate, and nothing is said twice.
    RunFor(40, 0.5);
    EXPECT_EQ((std::vector<std::string>{"error 200 Player initialization failed", "dispose"}),
              delegate_->calls);
    EXPECT_EQ((std::vector<std::string>{"SV_Initialize"}), bridge_->CallNames());
}

TEST_F(QplayerInformationTest, AnOversizedOrUnreadableAddressIsAConnectionError) {
    // More than any playback information: the load stops instead of growing.
    Open(Info(std::string(Qplayer::kMaxResponseBytes + 1, ' ')));
    ASSERT_TRUE(WaitReal([&] { return !delegate_->calls.empty(); }, 10));
    EXPECT_EQ((std::vector<std::string>{"error 300 connection error: ContectAccessAPI"}),
              delegate_->calls);
    // Nothing started; the screen's going stops the engine all the same.
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ((std::vector<std::string>{"SV_Stop", "SV_Terminate"}), bridge_->CallNames());

    // An address that is no URL fails the same way, once the delegate is there to hear it.
    delegate_ = std::make_shared<QplayerTest::RecordingDelegate>();
    Open("no address at all");
    RunFor(0.1);
    EXPECT_EQ((std::vector<std::string>{"error 300 connection error: ContectAccessAPI"}),
              delegate_->calls);
}

class QplayerEngineStartTest : public QplayerTestBase {
protected:
    void OpenBars() {
        bridge_->playbackUrlToHand = ClipPath("bars");
        Open(PlaybackUrl("102"));
        ASSERT_TRUE(WaitReal(
            [&] { return player_->dataObject() != nullptr || !delegate_->calls.empty(); }, 10));
        // The start's steps, each on the bridge's thread with its answer back here.
        ASSERT_TRUE(WaitForEngine());
    }
};

TEST_F(QplayerEngineStartTest, AFailedPlayIsRetriedOnceAfterLettingTheSessionGo) {
    bridge_->playStatuses = {1022};
    OpenBars();
    EXPECT_EQ((std::vector<std::string>{"SV_Initialize", "SV_Play", "SV_Stop", "SV_Initialize",
                                        "SV_Play"}),
              bridge_->CallNames());
    EXPECT_EQ(1, LogCount("[Q] GOT A SLIDE PROBLEM status:1022"));
    EXPECT_EQ(1, LogCount("[Q] TRYING"));
    EXPECT_TRUE(delegate_->calls.empty());
    ASSERT_NE(nullptr, Movie());
    EXPECT_EQ(ClipPath("bars"), Movie()->ContentUrl());
}

TEST_F(QplayerEngineStartTest, ASecondFailedPlayIsReported) {
    bridge_->playStatuses = {16, 16};
    OpenBars();
    EXPECT_EQ((std::vector<std::string>{"error 200 Player initialization failed"}),
              delegate_->calls);
    EXPECT_EQ(2, LogCount("[Q] GOT A SLIDE PROBLEM status:16"));
    // Two starts, the release between them, and the stop of the screen's going.
    EXPECT_EQ((std::vector<std::string>{"SV_Initialize", "SV_Play", "SV_Stop", "SV_Initialize",
                                        "SV_Play", "SV_Stop", "SV_Terminate"}),
              bridge_->CallNames());
}

TEST_F(QplayerEngineStartTest, EngineEventNineteenIsAnInternalPlayerError) {
    OpenBars();
    ns::Dictionary attributes;
    attributes.Set("SVErrorKey", 2000u);
    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, attributes);
    bridge_->PostEvent(SViOsApiEvent_Bitrates, ns::Dictionary());  // heard, not acted on
    ASSERT_TRUE(RunUntil([&] { return !delegate_->calls.empty(); }, 1));
    EXPECT_EQ((std::vector<std::string>{"error 210 Internal player error"}), delegate_->calls);
    EXPECT_EQ(1, LogCount("[Q] callback event:SViOsApiEvent_StoppingOnError attributes:"
                          "{\"SVErrorKey\": 2000}"));
    EXPECT_EQ(1, LogCount("[Q] callback event:SViOsApiEvent_Bitrates attributes:{}"));
}

TEST_F(QplayerEngineStartTest, DisappearingStopsThenTerminatesAndLaterEventsAreDropped) {
    OpenBars();
    EXPECT_EQ(player_, Qplayer::Current());
    player_->DismissViewController(false);
    loop_.Step();
    ASSERT_TRUE(WaitForEngine());
    const std::vector<std::string> names = bridge_->CallNames();
    ASSERT_EQ(4u, names.size());
    EXPECT_EQ("SV_Stop", names[2]);
    EXPECT_EQ("SV_Terminate", names[3]);
    EXPECT_EQ(nullptr, Qplayer::Current());
    EXPECT_EQ(nullptr, player_->player());

    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, ns::Dictionary());
    RunFor(1);
    EXPECT_TRUE(delegate_->calls.empty());
}

// SV_Play held, as an origin that answers slowly holds it inside the engine's preload: the
// screen goes on meanwhile, and closing it stops that start at once (SV_Stop beside it, which
// ends the held SV_Play with 408) instead of waiting it out; what the start answers plays
// nothing.
class QplayerSlowStartTest : public QplayerTestBase {
protected:
    void OpenHeld() {
        bridge_->HoldPlay();
        bridge_->playbackUrlToHand = ClipPath("bars");
        Open(PlaybackUrl("102"));
        ASSERT_TRUE(WaitReal([&] { return bridge_->PlaysEntered() == 1; }, 10));
    }
    std::vector<std::string> Names(std::initializer_list<const char*> names) {
        return std::vector<std::string>(names.begin(), names.end());
    }
};

TEST_F(QplayerSlowStartTest, TheCloseButtonWorksAndStopsTheStartAtOnceWhichPlaysNothing) {
    delegate_->dismisses = false;
    OpenHeld();
    RunFor(2.1);
    EXPECT_DOUBLE_EQ(1, driver_.Find("closeViewButton")->Alpha());
    ASSERT_TRUE(driver_.Tap("closeViewButton"));
    // Never released: the close alone ends the start.
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ(1, bridge_->PlaysStopped());
    EXPECT_EQ(Names({"SV_Initialize", "SV_Play", "SV_Stop"}), bridge_->CallNames());
    EXPECT_EQ(1, LogCount("[Q] engine start ended after closing (status:408): not played"));
    EXPECT_EQ(0, LogCount("[Q] ALL OK"));
    ASSERT_NE(nullptr, Movie());
    EXPECT_EQ("", Movie()->ContentUrl());
    RunFor(3.1);
    EXPECT_EQ(Names({"dispose"}), delegate_->calls);
    EXPECT_EQ(ns::MoviePlaybackState::Stopped, Movie()->PlaybackState());

    // Dismissed: the engine is stopped and terminated as ever.
    player_->DismissViewController(false);
    loop_.Step();
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ(Names({"SV_Initialize", "SV_Play", "SV_Stop", "SV_Stop", "SV_Terminate"}),
              bridge_->CallNames());
}

TEST_F(QplayerSlowStartTest, TheStartTimeOutClosesTheScreenAndStopsTheStartStillUnderWay) {
    OpenHeld();
    RunFor(34.5, 0.5);
    EXPECT_TRUE(delegate_->calls.empty());
    RunFor(1);
    EXPECT_EQ(Names({"dispose"}), delegate_->calls);
    EXPECT_EQ(nullptr, root_->PresentedViewController());
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ(1, bridge_->PlaysStopped());
    EXPECT_EQ(Names({"SV_Initialize", "SV_Play", "SV_Stop", "SV_Stop", "SV_Terminate"}),
              bridge_->CallNames());
    EXPECT_EQ(0, LogCount("[Q] ALL OK"));
}

// One playback at a time, and a title left while it starts takes nothing of the next one: the
// next screen's start does not wait for the first start's origin (it is asked for while the
// bridge still holds every SV_Play), and an error the first start's session queued after
// that screen closed never reaches the next one.
TEST_F(QplayerSlowStartTest, ATitleLeftDuringItsStartHoldsUpNothingAndReachesNoLaterScreen) {
    OpenHeld();
    std::shared_ptr<Qplayer> first = player_;
    std::shared_ptr<QplayerTest::RecordingDelegate> firstDelegate = delegate_;
    first->DismissViewController(false);
    loop_.Step();
    // The first session's error, queued behind its stop, delivered once the next screen is
    // current.
    ns::Dictionary attributes;
    attributes.Set("SVErrorKey", 408u);
    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, attributes);
    delegate_ = std::make_shared<QplayerTest::RecordingDelegate>();
    Open(PlaybackUrl("102"));
    EXPECT_EQ(player_, Qplayer::Current());
    ASSERT_TRUE(WaitReal([&] { return bridge_->PlaysEntered() == 2; }, 10))
        << "the second start waits behind the first";
    EXPECT_EQ(1, bridge_->PlaysStopped());
    EXPECT_EQ(Names({"SV_Initialize", "SV_Play", "SV_Stop", "SV_Stop", "SV_Terminate",
                     "SV_Initialize", "SV_Play"}),
              bridge_->CallNames());
    bridge_->ReleasePlay();
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ(1, LogCount("[Q] ALL OK"));
    ASSERT_NE(nullptr, Movie());
    EXPECT_EQ(ClipPath("bars"), Movie()->ContentUrl());
    EXPECT_TRUE(RunUntil([&] { return Playing(); }, 10));
    EXPECT_EQ(1, LogCount("[Q] callback event:SViOsApiEvent_StoppingOnError attributes:"
                          "{\"SVErrorKey\": 408}"));
    EXPECT_EQ(0, LogsContaining("[Q] sarvelonStoppingOnError"));
    EXPECT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    EXPECT_TRUE(firstDelegate->calls.empty()) << firstDelegate->calls.front();

    // The second screen's own session's errors reach it.
    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, attributes);
    ASSERT_TRUE(RunUntil([&] { return !delegate_->calls.empty(); }, 1));
    EXPECT_EQ(std::vector<std::string>{"error 210 Internal player error"}, delegate_->calls);
}

// A stop that comes while the start job has not reached SV_Play yet finds no session: it tries
// again until the start it was meant for is under way and ends it, rather than leave that
// start to wait for its origin. A tag no running job carries reaches nothing.
TEST_F(QplayerSlowStartTest, AnInterruptBeforeTheStartReachesTheBridgeStopsItOnceItDoes) {
    bridge_->HoldPlay();
    // Shared with the job, and its gate opened however the test ends, so the bridge's thread
    // is free for the next test.
    struct Start {
        std::atomic<bool> entered{false};
        std::atomic<bool> gate{false};
        std::atomic<int> played{0};
    };
    const auto start = std::make_shared<Start>();
    const std::shared_ptr<void> openGate(nullptr, [start](void*) { start->gate = true; });
    SarvelonQueue::Shared().Add(
        [start](SarvelonBridge& bridge) {
            start->entered = true;
            while (!start->gate) std::this_thread::yield();
            std::string url;
            start->played = bridge.Play("http://x/t.svm", &url, 0);
        },
        start.get());
    ASSERT_TRUE(WaitReal([&] { return start->entered.load(); }, 10));
    int other = 0;
    EXPECT_FALSE(SarvelonQueue::Shared().Interrupt(&other, [](SarvelonBridge&) { return true; }));
    EXPECT_TRUE(SarvelonQueue::Shared().Interrupt(start.get(), [](SarvelonBridge& bridge) {
        return bridge.Stop() != SarvelonBridge::kNoSession;
    }));
    // The stop has found nothing at least once before the start goes on.
    ASSERT_TRUE(WaitReal([&] { return !bridge_->CallNames().empty(); }, 10));
    start->gate = true;
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ(FakeSarvelonBridge::kStoppedStatus, start->played.load());
    EXPECT_EQ(1, bridge_->PlaysStopped());
    const std::vector<std::string> names = bridge_->CallNames();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ("SV_Stop", names.front());
    EXPECT_EQ((std::vector<std::string>{"SV_Play", "SV_Stop"}),
              std::vector<std::string>(names.end() - 2, names.end()));
}

// A playing screen that the person closes hears nothing more of the engine: an error its
// session reports while the screen closes is not told to the portal.
TEST_F(QplayerEngineStartTest, AnEngineErrorWhileTheScreenClosesIsNotReported) {
    delegate_->dismisses = false;
    OpenBars();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    player_->closeView();
    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, ns::Dictionary());
    // The event does reach the screen's callback: what follows is its being dropped, not its
    // never arriving.
    ASSERT_TRUE(RunUntil(
        [&] {
            return LogCount("[Q] callback event:SViOsApiEvent_StoppingOnError attributes:{}") == 1;
        },
        1));
    RunFor(3.1);
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    EXPECT_EQ(0, LogsContaining("[Q] sarvelonStoppingOnError"));
}

}  // namespace
