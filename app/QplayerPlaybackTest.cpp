// The player screen playing a movie file in the headless player (the fake bridge hands the
// file out as the playback URL): start of play, the start position, the labels and the
// scrubber, completion, the start time-out, what taps do to the controls, and how the movie
// player's finish reaches the portal.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/QplayerControls.h"
#include "app/QplayerTestFixture.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"

namespace {

using QplayerTest::QplayerTestBase;

// A clip's bytes, for the origin to serve.
std::string ClipBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class QplayerPlaybackTest : public QplayerTestBase {
protected:
    // The 20 s zoom, from the portal's title 103, starting at `start` seconds.
    void OpenZoom(int start = 0) {
        bridge_->playbackUrlToHand = ClipPath("mandelbrot");
        Open(start > 0 ? Info(InfoJson(start)) : PlaybackUrl("103"));
        ASSERT_TRUE(WaitReal([&] { return Movie() != nullptr; }, 10));
    }
    std::string Text(const std::string& identifier) {
        auto label = driver_.Find<ui::Label>(identifier);
        return label ? label->Text() : "(none)";
    }
    // A movie whose server never answers: it neither plays nor fails.
    void OpenSilentMovie() {
        SvTestSupport::TestOrigin::Fault silent;
        silent.headDelayMs = 600000;
        origin_.Serve("/silent.ts", "never sent");
        origin_.SetFault("/silent.ts", silent);
        bridge_->playbackUrlToHand = origin_.Url("/silent.ts");
        Open(PlaybackUrl("103"));
    }
    size_t IndexOf(const std::string& message) {
        const std::vector<std::string> logs = Logs();
        for (size_t i = 0; i < logs.size(); ++i) {
            if (logs[i] == message) return i;
        }
        return logs.size();
    }
};

TEST(QplayerTimeTextTest, MinutesBelowAnHourAndATwoCharacterHourFromThen) {
    EXPECT_EQ("0:00", QplayerControls::convertTime(0));
    EXPECT_EQ("0:59", QplayerControls::convertTime(59));
    EXPECT_EQ("1:00", QplayerControls::convertTime(60));
    EXPECT_EQ("59:59", QplayerControls::convertTime(3599));
    EXPECT_EQ(" 1:00:00", QplayerControls::convertTime(3600));
    EXPECT_EQ(" 2:03:04", QplayerControls::convertTime(2 * 3600 + 3 * 60 + 4));
    EXPECT_EQ("10:00:00", QplayerControls::convertTime(36000));
    EXPECT_EQ("0:00", QplayerControls::convertTime(-5));  // never a negative time
}

TEST_F(QplayerPlaybackTest, PlayableStartsPlayAndShowsTheControls) {
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    const size_t playable = IndexOf("[Q] MPMovieLoadStatePlayable");
    const size_t playing = IndexOf("[Q] PLAYSTATE: 1");
    EXPECT_LT(playable, Logs().size());
    EXPECT_LT(playable, playing);
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_TRUE(player_->controls().showingControls());
    // The bottom bar (66 points high) sits at the bottom, the top bar at the top, both opaque.
    const double height = player_->GetView()->Bounds().Height();
    EXPECT_DOUBLE_EQ(height - 66, driver_.Find("controls")->Frame().Y());
    EXPECT_DOUBLE_EQ(0, driver_.Find("topBar")->Frame().Y());
    EXPECT_DOUBLE_EQ(1, driver_.Find("controls")->Alpha());
    // A tap hides them: the bottom bar 50 points below the bottom edge, the top bar (44 points
    // high) just above the top one; another shows them again.
    ASSERT_TRUE(driver_.Tap("playerHit"));
    EXPECT_FALSE(player_->controls().showingControls());
    EXPECT_DOUBLE_EQ(height + 50, driver_.Find("controls")->Frame().Y());
    EXPECT_DOUBLE_EQ(-44, driver_.Find("topBar")->Frame().Y());
    ASSERT_TRUE(driver_.Tap("playerHit"));
    EXPECT_TRUE(player_->controls().showingControls());
    EXPECT_DOUBLE_EQ(height - 66, driver_.Find("controls")->Frame().Y());
    EXPECT_DOUBLE_EQ(0, driver_.Find("topBar")->Frame().Y());
    // The scrubber's range is the duration in hundredths.
    auto scrubber = driver_.Find<ui::Slider>("scrubber_ui");
    EXPECT_NEAR(Movie()->Duration() * 100, scrubber->MaximumValue(), 1e-6);
    EXPECT_GT(Movie()->Duration(), 19.5);
}

TEST_F(QplayerPlaybackTest, AStartPositionIsSoughtOnceTheMoviePlays) {
    OpenZoom(5);
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    ASSERT_TRUE(RunUntil([&] { return Playing() && Movie()->CurrentPlaybackTime() >= 5; }, 2));
    EXPECT_LT(Movie()->CurrentPlaybackTime(), 7);
}

TEST_F(QplayerPlaybackTest, LabelsShowThePositionAndWhatRemainsBeforeTheEnd) {
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Text("progressTimeDisplay") == "0:06"; }, 15));
    // 20 s of movie: 20 - 4 - 6 seconds remain before completion.
    EXPECT_EQ("0:10", Text("remainingTimeDisplay"));
    auto scrubber = driver_.Find<ui::Slider>("scrubber_ui");
    EXPECT_GE(scrubber->Value(), 600);
    EXPECT_LT(scrubber->Value(), 700);
    EXPECT_EQ(6, player_->currentProgress());
    EXPECT_FALSE(player_->shouldStoreCurrentProgress());  // the first two minutes never
}

TEST_F(QplayerPlaybackTest, ReleasingTheScrubberAtTheEndSeeksTwoSecondsBeforeIt) {
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    auto scrubber = driver_.Find<ui::Slider>("scrubber_ui");
    ASSERT_TRUE(driver_.SetSlider(scrubber, 500));
    EXPECT_NEAR(5.0, Movie()->CurrentPlaybackTime(), 0.05);
    ASSERT_TRUE(driver_.SetSlider(scrubber, scrubber->MaximumValue()));
    EXPECT_NEAR(Movie()->Duration() - 2, Movie()->CurrentPlaybackTime(), 0.05);
}

TEST_F(QplayerPlaybackTest, CompletionIsReportedExactlyOnceAndTheRemainingTimeNeverGoesNegative) {
    delegate_->dismisses = false;
    rate_ = 4;
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    bool negative = false;
    ASSERT_TRUE(RunUntil(
        [&] {
            negative = negative || Text("remainingTimeDisplay").find('-') != std::string::npos;
            return Movie()->PlaybackState() == ns::MoviePlaybackState::Stopped;
        },
        20));
    RunFor(5);
    EXPECT_FALSE(negative);
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);
    EXPECT_EQ("0:00", Text("remainingTimeDisplay"));
}

TEST_F(QplayerPlaybackTest, AMovieThatNeverPlaysClosesThroughTheDisposePathAfter35Seconds) {
    OpenSilentMovie();
    RunFor(34.5, 0.5);
    EXPECT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    RunFor(1, 0.1);
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    EXPECT_EQ(1, LogCount("[Q] dismised on timeout"));
    // The portal dismissed it: the engine is stopped.
    ASSERT_TRUE(WaitForEngine());
    const std::vector<std::string> names = bridge_->CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ("SV_Terminate", names.back());
}

// Playback began: the start time-out is gone. A movie paused early stays on screen well past
// 35 s after the screen loaded. (The clock waits until four seconds are read ahead: a stall, and
// the load state of exactly "playable" after it, would rightly play the movie again.)
TEST_F(QplayerPlaybackTest, AMoviePausedEarlyIsNotClosedAt35Seconds) {
    OpenZoom();
    ASSERT_TRUE(WaitReal(
        [&] { return Playing() && (Movie()->LoadState() & ns::kLoadStatePlaythroughOK) != 0; },
        10));
    RunFor(0.5);
    ASSERT_LT(Movie()->CurrentPlaybackTime(), 5);
    ASSERT_TRUE(driver_.Tap("pauseButton"));
    ASSERT_EQ(ns::MoviePlaybackState::Paused, Movie()->PlaybackState());
    EXPECT_FALSE(player_->isPlaying());
    RunFor(40, 0.5);
    EXPECT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    EXPECT_EQ(0, LogCount("[Q] dismised on timeout"));
    EXPECT_EQ(player_, root_->PresentedViewController());
}

TEST_F(QplayerPlaybackTest, ClosingDisposesAfterThreeSeconds) {
    delegate_->dismisses = false;
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    // The close button shows two seconds after the screen.
    RunFor(2);
    ASSERT_TRUE(driver_.Tap("closeViewButton"));
    EXPECT_EQ(ns::MoviePlaybackState::Paused, Movie()->PlaybackState());
    EXPECT_DOUBLE_EQ(0, driver_.Find("controls")->Alpha());
    RunFor(2.9);
    EXPECT_TRUE(delegate_->calls.empty());
    RunFor(0.2);
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    // Not dismissed by then: the close time-out tries once more at 10 s.
    RunFor(7);
    EXPECT_EQ((std::vector<std::string>{"dispose", "dispose"}), delegate_->calls);
}

// The engine started and the movie is loading when the person closes the screen: the movie
// that becomes playable afterwards does not start by itself behind the closing screen.
TEST_F(QplayerPlaybackTest, AMovieThatBecomesPlayableWhileTheScreenClosesStaysStill) {
    delegate_->dismisses = false;
    SvTestSupport::TestOrigin::Fault late;
    late.headDelayMs = 1000;  // per request (opening the movie takes a few)
    origin_.Serve("/late.ts", ClipBytes(ClipPath("mandelbrot")));
    origin_.SetFault("/late.ts", late);
    bridge_->playbackUrlToHand = origin_.Url("/late.ts");
    Open(PlaybackUrl("103"));
    ASSERT_TRUE(WaitReal([&] { return Movie() != nullptr && !Movie()->ContentUrl().empty(); }));
    RunFor(2.1);
    ASSERT_EQ(0u, Movie()->LoadState());
    ASSERT_TRUE(driver_.Tap("closeViewButton"));
    ASSERT_TRUE(WaitReal([&] { return Movie()->LoadState() != 0; }));
    RunFor(0.5);
    EXPECT_NE(ns::MoviePlaybackState::Playing, Movie()->PlaybackState());
    EXPECT_FALSE(player_->isPlaying());
}

TEST_F(QplayerPlaybackTest, TappingBeforePlaybackShowsNoControls) {
    OpenSilentMovie();
    ASSERT_TRUE(WaitReal([&] { return player_->dataObject() != nullptr; }, 10));
    const double hiddenY = driver_.Find("controls")->Frame().Y();
    // 50 points below the bottom edge.
    EXPECT_DOUBLE_EQ(player_->GetView()->Bounds().Height() + 50, hiddenY);
    // Until the first second of playback the subtitle line holds its placeholder.
    EXPECT_EQ(".......", driver_.Find<ui::Label>("subtitleView")->Text());
    ASSERT_TRUE(driver_.Tap("playerHit"));
    RunFor(0.5);
    EXPECT_FALSE(player_->controls().showingControls());
    EXPECT_DOUBLE_EQ(hiddenY, driver_.Find("controls")->Frame().Y());
}

TEST_F(QplayerPlaybackTest, PlayAndPauseCloseTheVolumeSliderAndTheChooser) {
    OpenZoom();
    ASSERT_TRUE(RunUntil([&] { return Playing(); }, 10));
    RunFor(0.5);
    const QplayerControls& controls = player_->controls();
    ASSERT_TRUE(driver_.Tap("audioButton"));
    ASSERT_TRUE(driver_.Tap("subtitleButton"));
    ASSERT_TRUE(controls.showingVolumeSlider());
    ASSERT_TRUE(controls.isSubtitleChooser());
    // Shown, the volume panel's top lies 246 points above the bottom edge, the chooser's
    // bottom 52 points above it.
    const double height = player_->GetView()->Bounds().Height();
    EXPECT_DOUBLE_EQ(height - 246, driver_.Find("volumeView")->Frame().Y());
    const ui::Rect chooser = driver_.Find("subtitleChooserView")->Frame();
    EXPECT_DOUBLE_EQ(height - 52, chooser.Y() + chooser.Height());
    ASSERT_TRUE(driver_.Tap("pauseButton"));
    EXPECT_FALSE(controls.showingVolumeSlider());
    EXPECT_FALSE(controls.isSubtitleChooser());
    EXPECT_EQ(ns::MoviePlaybackState::Paused, Movie()->PlaybackState());
    // The chooser went back below the screen.
    EXPECT_DOUBLE_EQ(player_->GetView()->Bounds().Height(),
                     driver_.Find("subtitleChooserView")->Frame().Y());

    ASSERT_TRUE(driver_.Tap("audioButton"));
    ASSERT_TRUE(driver_.Tap("subtitleButton"));
    ASSERT_TRUE(controls.showingVolumeSlider());
    ASSERT_TRUE(driver_.Tap("playButton"));
    EXPECT_FALSE(controls.showingVolumeSlider());
    EXPECT_FALSE(controls.isSubtitleChooser());
    EXPECT_TRUE(RunUntil([&] { return Playing(); }, 1));
}

// When the movie player finishes: a movie that cannot be read or whose connection breaks
// during playback is a player error the person is told of (210, the reason in the log); one
// that stops short of its end closes as an ordinary end that keeps its place; one that reaches
// its end completes even when it passed its last seconds between two ticks.
class QplayerFinishTest : public QplayerTestBase {
protected:
    // The loop's clock runs ahead of a reader slowed by a busy machine: the movie then waits
    // for its data (its position does not move), so a wait for a position is bounded loosely.
    static constexpr double kMovieWait = 60;

    void OpenMovie(const std::string& url, const std::string& info) {
        bridge_->playbackUrlToHand = url;
        Open(info);
        ASSERT_TRUE(WaitReal([&] { return Movie() != nullptr || !delegate_->calls.empty(); }, 10));
        ASSERT_TRUE(WaitForEngine());
    }
    bool Reported() const { return !delegate_->calls.empty(); }
    // The movie player stops, back at its start, and posts its finish without an error, as
    // the platform's players do at the end of what they could play.
    void PostFinish() {
        Movie()->Stop();
        ns::Dictionary info;
        info.Set(ns::MoviePlayer::kFinishReasonKey,
                 static_cast<int>(ns::MovieFinishReason::PlaybackEnded));
        ns::NotificationCenter::Default().Post(ns::MoviePlayer::kPlaybackDidFinish,
                                               static_cast<const ns::MoviePlayer*>(Movie()),
                                               ns::Value(info));
    }
    // The 20 s zoom's bytes, served by the origin at `path`; *size is their number.
    std::string ServeZoom(const std::string& path, uint64_t* size) {
        const std::string bytes = ClipBytes(ClipPath("mandelbrot"));
        *size = bytes.size();
        origin_.Serve(path, bytes);
        return origin_.Url(path);
    }
};

TEST_F(QplayerFinishTest, AMovieThatCannotBeReadIsReportedWithItsReasonInTheLog) {
    // A file that is not there.
    const std::string missing = ClipPath("no-such-clip");
    OpenMovie(missing, PlaybackUrl("103"));
    ASSERT_TRUE(RunUntil([&] { return Reported(); }, 5));
    EXPECT_EQ((std::vector<std::string>{"error 210 Internal player error"}), delegate_->calls);
    EXPECT_EQ(1, LogsContaining("[Q] moviePlayerPlaybackDidFinish error:"));
    EXPECT_EQ(1, LogsContaining(missing));

    // Bytes that are no movie at all, over HTTP.
    origin_.Serve("/junk.ts", std::string(4096, 'x'));
    delegate_ = std::make_shared<QplayerTest::RecordingDelegate>();
    OpenMovie(origin_.Url("/junk.ts"), PlaybackUrl("103"));
    ASSERT_TRUE(RunUntil([&] { return Reported(); }, 5));
    EXPECT_EQ((std::vector<std::string>{"error 210 Internal player error"}), delegate_->calls);
    EXPECT_EQ(2, LogsContaining("[Q] moviePlayerPlaybackDidFinish error:"));
    // The screen went through the portal's error path: dismissed, the engine stopped.
    EXPECT_EQ(nullptr, root_->PresentedViewController());
    ASSERT_TRUE(WaitForEngine());
    EXPECT_EQ("SV_Terminate", bridge_->CallNames().back());
}

TEST_F(QplayerFinishTest, AConnectionResetDuringPlaybackIsReported) {
    uint64_t size = 0;
    const std::string url = ServeZoom("/reset.ts", &size);
    SvTestSupport::TestOrigin::Fault fault;
    // Half of the bytes, slowly enough that the movie plays before they run out; then the
    // connection is reset.
    fault.dropAfter = size / 2;
    fault.bytesPerSecond = 400000;
    origin_.SetFault("/reset.ts", fault);
    OpenMovie(url, PlaybackUrl("103"));
    ASSERT_TRUE(WaitReal([&] { return Playing(); }, 10));
    ASSERT_TRUE(RunUntil([&] { return Reported(); }, 60));
    EXPECT_EQ((std::vector<std::string>{"error 210 Internal player error"}), delegate_->calls);
    EXPECT_EQ(1, LogsContaining("[Q] moviePlayerPlaybackDidFinish error:"));
}

// A player that ends short of the movie's end (as one that gives up at a part of the stream
// that never came): stopped, back at its start, and then the finish without an error, as the
// platform's players post it.
TEST_F(QplayerFinishTest, AMovieThatStopsShortOfItsEndIsAnOrdinaryEndThatKeepsItsPlace) {
    delegate_->dismisses = false;
    OpenMovie(ClipPath("mandelbrot"), PlaybackUrl("103"));
    ASSERT_TRUE(RunUntil([&] { return Playing() && player_->currentProgress() >= 5; }, kMovieWait));
    const int32_t place = player_->currentProgress();
    PostFinish();
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    EXPECT_EQ(1, LogsContaining("[Q] moviePlayerPlaybackDidFinish ended at"));
    // The place where it stopped stays for the portal, not the start the player went back to.
    RunFor(2);
    EXPECT_EQ(place, player_->currentProgress());
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
}

// A finish without an error just after a tick saw the movie a second before the stretch where
// completion counts: the ticks missed its last seconds (a loop that was busy, a movie that
// played fast), but it reached its end. That completes, once.
TEST_F(QplayerFinishTest, AMovieThatReachesItsEndBetweenTwoTicksCompletesOnce) {
    delegate_->dismisses = false;
    OpenMovie(ClipPath("mandelbrot"), Info(InfoJson(15)));
    ASSERT_TRUE(
        RunUntil([&] { return Playing() && player_->currentProgress() == 16; }, kMovieWait));
    ASSERT_TRUE(delegate_->calls.empty());
    PostFinish();
    RunFor(2);
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);
}

// A kept position past the title's end starts where completion counts: the last seconds play,
// the title completes, and the screen never stands on its first picture.
TEST_F(QplayerFinishTest, AStartPositionPastTheEndStartsAtTheLastSecondsAndCompletes) {
    delegate_->dismisses = false;
    OpenMovie(ClipPath("mandelbrot"), Info(InfoJson(99999999)));
    ASSERT_TRUE(
        RunUntil([&] { return Playing() && Movie()->CurrentPlaybackTime() > 1; }, kMovieWait));
    const double duration = Movie()->Duration();
    ASSERT_GT(duration, 19.5);
    EXPECT_GE(Movie()->CurrentPlaybackTime(), duration - Qplayer::kCompletionSecondsBeforeEnd);
    EXPECT_LT(Movie()->CurrentPlaybackTime(), duration - 2);
    EXPECT_EQ(1, LogsContaining("[Q] start position 99999999 past 16"));
    ASSERT_TRUE(RunUntil([&] { return Reported(); }, kMovieWait));
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);
}

}  // namespace
