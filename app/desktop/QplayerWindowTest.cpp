// The player screen in a GTK window on the test's Xvfb: a portal title started through the
// engine plays in the GStreamer player (silently), with the controls over it and a subtitle
// line chosen in the chooser; a paused movie scrubbed with the mouse stays paused; a title
// played to its end keeps its last picture until the screen has gone; a start over a slow
// origin leaves the window answering. The picture
// is kept beside the test program as qplayer-window.png. The title is 12 s of colour bars, still
// from frame to frame, so two pictures taken with and without the subtitle differ only where the
// subtitle is.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/QPlayerDelegate.h"
#include "app/Qplayer.h"
#include "app/QplayerControls.h"
#include "app/SarvelonQueue.h"
#include "app/desktop/QplayerWindowTestBase.h"
#include "app/desktop/TickingWait.h"
#include "app/testing/AnimationWatch.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/EngineTestSupport.h"
#include "engine/api/SViOsApiState.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/H264DecodersRankedOut.h"
#include "platform/desktop/testing/LoggedLines.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Slider.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"
#include "tests/support/KeyFrameDamage.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"

namespace {

using namespace QplayerWindowTesting;

// How late the main loop runs what another thread posts to it: every 10 ms a post carries the
// time it was made, and the loop's thread keeps the longest wait. A loop held up by a call that
// blocks shows it as a wait of that call's length.
class LoopLatencyProbe {
public:
    LoopLatencyProbe() : state_(std::make_shared<State>()), thread_([this] { Run(); }) {}
    ~LoopLatencyProbe() { Stop(); }
    LoopLatencyProbe(const LoopLatencyProbe&) = delete;
    LoopLatencyProbe& operator=(const LoopLatencyProbe&) = delete;

    void Stop() {
        if (!thread_.joinable()) return;
        state_->stop.store(true);
        thread_.join();
    }
    std::chrono::milliseconds Worst() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(state_->worstMicroseconds.load()));
    }
    int Samples() const { return state_->samples.load(); }

private:
    struct State {
        std::atomic<bool> stop{false};
        std::atomic<int64_t> worstMicroseconds{0};
        std::atomic<int> samples{0};
    };
    void Run() {
        while (!state_->stop.load()) {
            const auto posted = std::chrono::steady_clock::now();
            // A post still waiting when the probe goes keeps the state it writes to.
            ns::RunLoop::Main().Post([state = state_, posted] {
                const int64_t waited = std::chrono::duration_cast<std::chrono::microseconds>(
                                           std::chrono::steady_clock::now() - posted)
                                           .count();
                if (waited > state->worstMicroseconds.load()) {
                    state->worstMicroseconds.store(waited);
                }
                state->samples.fetch_add(1);
            });
            std::this_thread::sleep_for(10ms);
        }
    }

    std::shared_ptr<State> state_;
    std::thread thread_;
};

TEST_F(QplayerWindowTest, APortalTitlePlaysWithItsControlsAndASubtitleLine) {
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    EXPECT_TRUE(player_->controls().showingControls());
    ui::Driver driver(window_);
    ASSERT_NO_FATAL_FAILURE(ChooseEnglishUntilALine(driver));
    const std::string line = SubtitleLabel()->Text();
    // Taken once the fade-ins and the bars' slides are over.
    Pixbuf withSubtitle = Shot();
    ASSERT_NE(nullptr, withSubtitle);
    std::string error;
    EXPECT_TRUE(SavePng(withSubtitle.get(), PicturePath("qplayer-window.png"), &error)) << error;

    const ui::Rect screen = window_->Bounds();
    EXPECT_GE(ColouredBars(withSubtitle.get()), 4) << "the bars are not in the picture";
    // The controls: the bottom bar is shown and darkens what lies under it.
    const ui::View& bar = *window_->FindByIdentifier("controls");
    const ui::Rect barFrame = bar.ConvertRectTo(bar.Bounds(), nullptr);
    // The bottom bar, 66 points high, on the bottom edge.
    EXPECT_DOUBLE_EQ(screen.Height() - 66, barFrame.Y());
    int dark = 0;
    int samples = 0;
    for (double x = barFrame.MinX() + 4; x < barFrame.MaxX(); x += 16) {
        const Rgb c = At(withSubtitle.get(), x, barFrame.MinY() + 4);
        dark += std::max({c.r, c.g, c.b}) <= 90;
        ++samples;
    }
    EXPECT_GT(dark * 10, samples * 8) << dark << " of " << samples;

    // The subtitle line: hidden by "None", while the paused picture and the scrubber stay as
    // they were.
    ASSERT_TRUE(driver.Tap("subtitleButtonON"));
    ASSERT_TRUE(AtRest());
    ASSERT_TRUE(driver.Tap(driver.FindWithText<ui::Button>("None", "Button")));
    EXPECT_EQ(0.0, SubtitleLabel()->Alpha());
    Pixbuf without = Shot();
    ASSERT_NE(nullptr, without);
    const ui::Label& label = *SubtitleLabel();
    EXPECT_GT(Differing(withSubtitle.get(), without.get(), label), 100) << "\"" << line << "\"";
    // Its white text is edged with a dark shadow, so a bright picture does not swallow it.
    EXPECT_GT(NewlyDark(withSubtitle.get(), without.get(), label), 50) << "\"" << line << "\"";
    EXPECT_EQ(
        0, Differing(withSubtitle.get(), without.get(), *window_->FindByIdentifier("scrubber_ui")));

    player_->DismissViewController(false);
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([] { return !EngineRunning(); }, kWaitTimeout));
}

// A person closes a playing movie: for the three seconds the screen takes to go, the spinner
// turns over the paused picture. The player's news that the movie paused comes once its
// pipeline has paused, after the click, and must not take the spinner away.
TEST_F(QplayerWindowTest, ClosingAPlayingMovieTurnsTheSpinnerUntilTheScreenGoes) {
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    const ui::View& close = *window_->FindByIdentifier("closeViewButton");
    ASSERT_TRUE(
        AppTestSupport::IterateUntilTicking([&] { return close.Alpha() == 1; }, kWaitTimeout));
    const ui::View& spinner = *window_->FindByIdentifier("indicatorView");
    ASSERT_EQ(0, spinner.Alpha());
    const auto clicked = std::chrono::steady_clock::now();
    Click(close);
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return !Playing(); }, kWaitTimeout));
    // Well after the pause, well before the screen goes.
    AppTestSupport::IterateUntilTicking(
        [&] { return std::chrono::steady_clock::now() >= clicked + 1500ms; }, 2s);
    EXPECT_TRUE(delegate_->calls.empty());
    EXPECT_EQ(1, spinner.Alpha());
    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 5s));
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);

    player_->DismissViewController(false);
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([] { return !EngineRunning(); }, kWaitTimeout));
}

// A person pauses the movie and drags the scrubber forward with the mouse: the movie goes to
// where the scrubber was let go and stays paused there, its play button showing.
TEST_F(QplayerWindowTest, DraggingTheScrubberOfAPausedMovieMovesItAndLeavesItPaused) {
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_NO_FATAL_FAILURE(ClickOn("pauseButton"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return Paused(); }, kWaitTimeout));
    const ns::MoviePlayer& movie = *player_->player();
    const double before = movie.CurrentPlaybackTime();
    ASSERT_LT(before, 6.0) << "the 12 s title played too far before the pause";

    // From the thumb to three quarters of the track: about 9 s of the 12.
    const auto scrubber =
        std::dynamic_pointer_cast<ui::Slider>(window_->FindByIdentifier("scrubber_ui"));
    ASSERT_NE(nullptr, scrubber);
    ASSERT_TRUE(AtRest());
    const ui::Rect thumb = scrubber->ConvertRectTo(scrubber->ThumbRect(), nullptr);
    const ui::Rect track = scrubber->ConvertRectTo(scrubber->Bounds(), nullptr);
    const double travel = track.Width() - thumb.Width();
    const ui::Point from = renderer_->ToWindow(thumb.Center());
    const ui::Point to = renderer_->ToWindow(
        ui::Point(track.MinX() + thumb.Width() / 2 + 0.75 * travel, thumb.Center().y));
    DragAt(
        gtk_widget_get_window(renderer_->Window()), static_cast<int>(from.x),
        static_cast<int>(from.y), static_cast<int>(to.x), static_cast<int>(to.y), 8,
        [](void*) { IteratePending(); }, nullptr);
    ASSERT_TRUE(
        AppTestSupport::IterateUntilTicking([&] { return !scrubber->IsTracking(); }, kWaitTimeout));
    const double target = scrubber->Value() / 100;
    ASSERT_NEAR(9.0, target, 0.5) << "the drag did not move the scrubber";

    // The seek lands near the target (on a key frame), paused.
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] { return Paused() && std::abs(movie.CurrentPlaybackTime() - target) < 1.5; },
        kWaitTimeout))
        << "at " << movie.CurrentPlaybackTime() << " in state "
        << static_cast<int>(movie.PlaybackState());
    const double landed = movie.CurrentPlaybackTime();
    // Nothing plays it afterwards (a bound on a wait for what must not come).
    EXPECT_FALSE(AppTestSupport::IterateUntilTicking([&] { return !Paused(); }, 2s))
        << "the paused movie went on to state " << static_cast<int>(movie.PlaybackState());
    EXPECT_NEAR(landed, movie.CurrentPlaybackTime(), 0.05) << "the paused picture moves";
    EXPECT_FALSE(window_->FindByIdentifier("playButton")->IsHidden());
    EXPECT_TRUE(window_->FindByIdentifier("pauseButton")->IsHidden());
    const auto position =
        std::dynamic_pointer_cast<ui::Label>(window_->FindByIdentifier("progressTimeDisplay"));
    // The label shows the scrubber's whole second, m:ss (the target is within 9 +- 0.5 s).
    EXPECT_EQ(std::string(target < 9.0 ? "0:08" : "0:09"), position->Text());

    // Play goes on from there.
    ASSERT_NO_FATAL_FAILURE(ClickOn("playButton"));
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] { return Playing() && movie.CurrentPlaybackTime() > landed + 0.3; }, kWaitTimeout))
        << "at " << movie.CurrentPlaybackTime() << " in state "
        << static_cast<int>(movie.PlaybackState());
}

// A TTML document with a cue at every second of a title `seconds` long and one past it:
// "Line n" up to the point where the title counts as complete (four seconds before its end),
// "Past n" after it, where a title can be cut with cues of the longer original still to come.
std::string CueEverySecond(int seconds) {
    std::string cues;
    for (int s = 1; s <= seconds + 1; ++s) {
        const bool past = s > seconds - Qplayer::kCompletionSecondsBeforeEnd;
        char cue[160];
        std::snprintf(cue, sizeof cue,
                      "<p begin=\"00:00:%02d.500\" end=\"00:00:%02d.000\">%s %d</p>\n", s, s + 1,
                      past ? "Past" : "Line", s);
        cues += cue;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"en\"><body><div>\n" +
           cues + "</div></body></tt>\n";
}

// A short title played to its end with its subtitles on: once the movie has ended the screen
// still shows its last picture, not a black one, and the subtitle line shows no cue from past
// the completion point. Then the screen's dismissal, as the portal makes it on completion,
// keeps the picture's view in place, its movie held, until the screen has gone.
TEST_F(QplayerWindowTest, AtTheEndTheLastPictureStaysAndNoCuePastTheCompletionShows) {
    SvTestSupport::TestOrigin origin;
    origin.ServeFile("/bars.svm", std::string(SV_PORTAL_DATA_DIR) + "/media/bars.svm");
    ASSERT_NO_FATAL_FAILURE(PresentFromOrigin(origin, "/bars.svm", "/bars.en.ttml"));
    ASSERT_TRUE(IterateUntil([&] { return Playing() || !delegate_->calls.empty(); }, 20s));
    ASSERT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    ASSERT_NO_FATAL_FAILURE(ClickOn("pauseButton"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return Paused(); }, kWaitTimeout));
    const int seconds = static_cast<int>(player_->player()->Duration());
    ASSERT_GT(seconds, 8);
    origin.Serve("/bars.en.ttml", CueEverySecond(seconds));
    ASSERT_NO_FATAL_FAILURE(ClickOn("subtitleButton"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] { return player_->controls().isSubtitleChooser(); }, kWaitTimeout));
    ui::Driver driver(window_);
    const auto english = driver.FindWithText<ui::Button>("English", "Button");
    ASSERT_NE(nullptr, english);
    ASSERT_TRUE(AtRest());  // the chooser has slid up
    Click(*english);
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] {
            for (const auto& request : origin.Requests()) {
                if (request.path == "/bars.en.ttml") return true;
            }
            return false;
        },
        kWaitTimeout));
    // The last six seconds are enough: two cues before the completion point, then the end.
    player_->player()->SetCurrentPlaybackTime(seconds - 6);
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] { return Paused() && player_->player()->CurrentPlaybackTime() > seconds - 9; },
        kWaitTimeout));
    ASSERT_NO_FATAL_FAILURE(ClickOn("playButton"));
    ASSERT_TRUE(IterateUntil([&] { return SubtitleLabel()->Text().rfind("Line", 0) == 0; }, 10s))
        << "no cue shown: \"" << SubtitleLabel()->Text() << "\"";

    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 20s));
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);
    // The movie plays on to its end: stopped, the screen still up.
    ASSERT_TRUE(IterateUntil(
        [&] { return player_->player()->PlaybackState() == ns::MoviePlaybackState::Stopped; },
        20s));
    EXPECT_EQ(std::string::npos, SubtitleLabel()->Text().find("Past"))
        << "\"" << SubtitleLabel()->Text() << "\" shows at the end";
    Pixbuf ended = Shot();
    ASSERT_NE(nullptr, ended);
    std::string error;
    EXPECT_TRUE(SavePng(ended.get(), PicturePath("qplayer-ended.png"), &error)) << error;
    EXPECT_GE(ColouredBars(ended.get()), 4) << "the last picture went at the end";

    // The portal dismisses the screen: the picture's view stays over the transition.
    const std::shared_ptr<ui::View> movieView = player_->player()->View();
    player_->DismissViewController(true);
    EXPECT_NE(nullptr, player_->player()) << "the movie went before the screen";
    EXPECT_NE(nullptr, movieView->WindowOf());
    // The window drawn meanwhile still shows the picture (looked at when it was drawn before
    // the transition's 0.3 s were over, as they are on a machine that is not overloaded).
    DrawWatch drawn(renderer_->Window());
    gtk_widget_queue_draw(renderer_->Window());
    ASSERT_TRUE(drawn.WaitForDrawAfter(0, 3s));
    Pixbuf leaving = CaptureWindow(renderer_->Window());
    ASSERT_NE(nullptr, leaving);
    if (player_->PresentingViewController() != nullptr) {
        EXPECT_GE(ColouredBars(leaving.get()), 4) << "the picture went before the screen";
    }
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return player_->player() == nullptr; },
                                                    kWaitTimeout));
    EXPECT_EQ(nullptr, movieView->WindowOf());
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([] { return !EngineRunning(); }, kWaitTimeout));
}

TEST_F(QplayerPhoneWindowTest, TheSubtitleLineSitsAtTheBottomOfThePicture) {
    ui::Driver driver(window_);
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_NO_FATAL_FAILURE(ChooseEnglishUntilALine(driver));
    const ui::Rect screen = window_->Bounds();
    const ui::Label& label = *SubtitleLabel();
    const ui::Rect frame = label.ConvertRectTo(label.Bounds(), nullptr);
    EXPECT_DOUBLE_EQ(screen.Height(), frame.MaxY());
    EXPECT_GT(frame.MinY(), screen.Height() * 0.6);
    Pixbuf withSubtitle = Shot();
    ASSERT_NE(nullptr, withSubtitle);
    std::string error;
    EXPECT_TRUE(SavePng(withSubtitle.get(), PicturePath("qplayer-phone-window.png"), &error))
        << error;

    // The line's pixels are where its frame is: they go when "None" hides it.
    ASSERT_TRUE(driver.Tap("subtitleButtonON"));
    ASSERT_TRUE(AtRest());
    ASSERT_TRUE(driver.Tap(driver.FindWithText<ui::Button>("None", "Button")));
    Pixbuf without = Shot();
    ASSERT_NE(nullptr, without);
    EXPECT_GT(Differing(withSubtitle.get(), without.get(), label), 50);

    player_->DismissViewController(false);
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([] { return !EngineRunning(); }, kWaitTimeout));
}

// The longest a person's input or a post may wait for the main loop while the engine starts.
// The origin holds the title until the test lets it go, so a loop held by the engine's start
// would wait without end: the bounds only need to lie above what a loaded machine's scheduling
// adds (a sanitized build slows every step of GTK's drawing several times over).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds kMostLatency{3000};
#else
constexpr std::chrono::milliseconds kMostLatency{1000};
#endif
// The longest the main loop may be held while the first player of the process opens (its
// screen, playbin and picture widget made). GStreamer's own start, about a third of a second
// idle and seconds on a loaded machine, is no part of it: it ran on a thread of its own from the
// player's installation on.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds kMostOpeningLatency{5000};
#else
constexpr std::chrono::milliseconds kMostOpeningLatency{1500};
#endif

// An origin that holds the title's answer until the screen is closed, and then sends it at
// 200 kbit/s: the engine's start waits in its preload meanwhile. The window goes on: the first
// player of the process opens without holding it up (GStreamer started earlier), the spinner
// turns, posts to the main loop run at once, the close button shows after two seconds and a
// click on it closes the screen at once; the start plays nothing behind the closing screen,
// and the engine is stopped once the screen is gone.
TEST_F(QplayerWindowTest, AStartOverASlowOriginLeavesTheWindowAnsweringAndClosingStopsIt) {
    SvTestSupport::TestOrigin origin;
    origin.ServeFile("/bars.svm", std::string(SV_PORTAL_DATA_DIR) + "/media/bars.svm");
    SvTestSupport::TestOrigin::Fault slow;
    slow.held = true;
    slow.bytesPerSecond = 25000;
    origin.SetFault("/bars.svm", slow);
    auto titleAsked = [&] {
        for (const auto& request : origin.Requests()) {
            if (request.path == "/bars.svm") return true;
        }
        return false;
    };

    DrawWatch drawn(renderer_->Window());
    // The application installed the player at its start, long before a person opens a title.
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([] { return GstMoviePlayer::Started(); },
                                                    kWaitTimeout));
    // The first movie player of this process opens without holding up the window.
    auto opening = std::make_unique<LoopLatencyProbe>();
    ASSERT_NO_FATAL_FAILURE(PresentFromOrigin(origin, "/bars.svm"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(titleAsked, kWaitTimeout));
    opening->Stop();
    RecordProperty("opening_worst_loop_latency_ms", static_cast<int>(opening->Worst().count()));
    EXPECT_LT(opening->Worst().count(), kMostOpeningLatency.count())
        << "ms while the first player opened";
    // From here on the engine's start waits for the origin.
    LoopLatencyProbe probe;
    // The spinner turns, frame after frame, while the engine waits for the origin: more than
    // ten frames are drawn (in well under a second on an idle machine; a sanitized build on a
    // busy one draws a few a second, so the count is waited for rather than looked at after a
    // second).
    const int drawsBefore = drawn.Count();
    EXPECT_TRUE(
        AppTestSupport::IterateUntilTicking([&] { return drawn.Count() - drawsBefore > 10; }, 10s))
        << drawn.Count() - drawsBefore << " frames drawn";
    const ui::View& close = *window_->FindByIdentifier("closeViewButton");
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return close.Alpha() == 1; }, 5s));
    ASSERT_NE(nullptr, player_->player());
    ASSERT_EQ("", player_->player()->ContentUrl()) << "the engine started before the close";

    const ui::View& topBar = *window_->FindByIdentifier("topBar");
    ASSERT_EQ(1, topBar.Alpha());
    const auto clicked = std::chrono::steady_clock::now();
    Click(close);
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return topBar.Alpha() == 0; }, 5s));
    const auto answered = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - clicked);
    origin.Release("/bars.svm");
    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 5s));
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    EXPECT_EQ("", player_->player()->ContentUrl());
    probe.Stop();
    RecordProperty("worst_loop_latency_ms", static_cast<int>(probe.Worst().count()));
    RecordProperty("click_to_close_ms", static_cast<int>(answered.count()));
    EXPECT_LT(probe.Worst().count(), kMostLatency.count())
        << "ms, over " << probe.Samples() << " posts";
    EXPECT_GT(probe.Samples(), 100);
    EXPECT_LT(answered.count(), kMostLatency.count()) << "ms from the click to the close";

    player_->DismissViewController(false);
    // The movie goes with the screen, once its dismissal is over.
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([&] { return player_->player() == nullptr; },
                                                    kWaitTimeout));
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking(
        [] { return !EngineRunning() && SarvelonQueue::Shared().IsIdle(); }, 30s));
}

// A title left while its start waits for an origin that trickles it: the close button,
// clicked on the X server, stops that start, so the next title, opened once the screen is
// gone, plays at once instead of behind the first one's preload (given a minute here, past
// every wait of the test), and nothing of the title left reaches the next screen.
TEST_F(QplayerWindowTest, ATitleLeftDuringItsStartLetsTheNextOnePlayAndTellsItNothing) {
    SvTestSupport::TestOrigin origin;
    AppTestSupport::ServeTricklingTitle(origin, "/bars.svm");

    ASSERT_NO_FATAL_FAILURE(PresentFromOrigin(origin, "/bars.svm"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
        [&] { return origin.AnswersBegun("/bars.svm") > 0; }, kWaitTimeout));
    const ui::View& close = *window_->FindByIdentifier("closeViewButton");
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return close.Alpha() == 1; }, 5s));
    Click(close);
    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 5s));
    EXPECT_EQ((std::vector<std::string>{"dispose"}), delegate_->calls);
    // As the portal lets the screen go.
    player_->DismissViewController(false);

    std::shared_ptr<Delegate> first = delegate_;
    delegate_ = std::make_shared<Delegate>();
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    EXPECT_TRUE(delegate_->calls.empty());
    EXPECT_EQ((std::vector<std::string>{"dispose"}), first->calls);
}

// Without an H.264 decoder GStreamer cannot show the title: the screen tells the portal of a
// player error, whose reason, GStreamer's name for the missing decoder, is in the log, and
// nothing plays.
TEST_F(QplayerWindowTest, WithoutAnH264DecoderThePortalHearsOfAPlayerErrorAndTheLogSaysWhy) {
    H264DecodersRankedOut rankedOut;
    ASSERT_GT(rankedOut.Count(), 0u) << "this machine has no H.264 decoder to rank out";
    LoggedLines log;
    player_ = Qplayer::initWithJSON(portal_->Url("/api/playback?id=102"), "device-1");
    player_->setDelegate(delegate_);
    ASSERT_TRUE(root_->PresentViewController(player_, false));
    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 20s));
    ASSERT_EQ(0u, delegate_->calls.front().rfind("error 210 ", 0)) << delegate_->calls.front();
    EXPECT_FALSE(Playing());
    const std::string missing = log.FirstContaining("missing plug-in");
    EXPECT_NE(std::string::npos, missing.find("H.264")) << missing;
}

// A title whose third group of pictures was destroyed (zeroes from its key frame on) plays
// past the damage to its end: the engine answers the group it cannot cut so that GStreamer's
// HLS client goes on to the next one, and the screen reports the title completed.
TEST_F(QplayerWindowTest, ATitleWithAGroupOfPicturesDestroyedPlaysOnPastItToItsEnd) {
    SvTestSupport::TemporaryDirectory dir("damagedbars");
    const std::string title = dir.File("bars.svm");
    ASSERT_GE(SvTestSupport::CopyWithKeyFrameZeroed(
                  std::string(SV_PORTAL_DATA_DIR) + "/media/bars.svm", title, 2, 16 * 1024),
              5u);
    SvTestSupport::TestOrigin origin;
    origin.ServeFile("/bars.svm", title);
    ASSERT_NO_FATAL_FAILURE(PresentFromOrigin(origin, "/bars.svm"));
    ASSERT_TRUE(IterateUntil([&] { return !delegate_->calls.empty(); }, 40s))
        << "position " << (player_->player() ? player_->player()->CurrentPlaybackTime() : -1);
    EXPECT_EQ("complete", delegate_->calls.front());
    for (const std::string& call : delegate_->calls) {
        EXPECT_EQ(std::string::npos, call.find("error")) << call;
    }
}

}  // namespace
