// The GStreamer movie player against the 12 s HLS fixture served by the loopback test origin,
// on the GTK thread with the platform's main loop inside GLib, silent. The same contract checks
// as the headless player's (MoviePlayerContract.h); playing happens in real time, so the tests
// seek near the end rather than play the whole movie.
#include "platform/desktop/GstMoviePlayer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/desktop/NativeView.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/H264DecodersRankedOut.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/LoggedLines.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/media/testing/MoviePlayerContract.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "tests/support/ChildDescriptors.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;
using contract::MoviePlayerLog;
using SvTestSupport::ThreadNames;

class GstMoviePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // This thread steps the main loop (inside GLib), so the default centre delivers here.
        RunLoop::Main().RunOnce(0ms);
        source_ = std::make_unique<RunLoopSource>(RunLoop::Main());
        contract::ServePlayerHls(origin_);
        player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
        log_ = std::make_unique<MoviePlayerLog>(*player_);
    }

    void TearDown() override {
        if (log_) contract::ExpectAllOn(*log_, std::this_thread::get_id());
        log_.reset();
        player_.reset();
        source_.reset();
    }

    // Generous: the limits only end a test that fails (a sanitized build on a busy machine is
    // many times slower than the plain one).
    static bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return IterateUntil(done, limit);
    }
    bool Playing() const { return player_->PlaybackState() == MoviePlaybackState::Playing; }
    std::vector<int> States() const { return log_->Values(MoviePlayer::kPlaybackStateDidChange); }
    std::vector<int> StatesFrom(size_t first) const {
        const std::vector<int> all = States();
        return std::vector<int>(all.begin() + static_cast<long>(std::min(first, all.size())),
                                all.end());
    }

    SvTestSupport::TestOrigin origin_;
    std::unique_ptr<RunLoopSource> source_;
    std::unique_ptr<GstMoviePlayer> player_;
    std::unique_ptr<MoviePlayerLog> log_;
};

TEST_F(GstMoviePlayerTest, PreparedMovieIsPlayableFirstAndKnowsItsDuration) {
    EXPECT_EQ(player_->AudioSinkName(), "fakeaudiosink");  // the test program asks for silence
    player_->SetShouldAutoplay(false);
    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    EXPECT_EQ(player_->Duration(), 0.0);  // unknown before loading
    player_->PrepareToPlay();
    ASSERT_TRUE(Wait([&] { return log_->Saw(MoviePlayer::kLoadStateDidChange, 3); }));

    contract::ExpectPlayableFirst(*log_);
    EXPECT_EQ(log_->Values(MoviePlayer::kLoadStateDidChange), (std::vector<int>{1, 3}));
    contract::ExpectFixtureDuration(*player_);
    // Autoplay off: prerolled, nothing plays.
    EXPECT_TRUE(States().empty());
    EXPECT_EQ(player_->CurrentPlaybackTime(), 0.0);
    // The demuxer opens the master's first variant and stays on it over the loopback.
    EXPECT_EQ(contract::SecondVariantRequests(origin_), std::vector<std::string>{});
}

TEST_F(GstMoviePlayerTest, SeekWhilePlayingLandsThenPlaysToTheEnd) {
    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    contract::ExpectPlayableFirst(*log_);
    const double started = player_->CurrentPlaybackTime();
    // A loaded machine may take longer than the tenth of a second to play it.
    EXPECT_TRUE(Wait([&] { return player_->CurrentPlaybackTime() > started + 0.1; }, 5s))
        << "the position does not move";

    const size_t before = States().size();
    player_->SetCurrentPlaybackTime(9.0);
    EXPECT_EQ(States().back(), 4);                   // forward, at once
    EXPECT_EQ(player_->CurrentPlaybackTime(), 9.0);  // the target while seeking
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    contract::ExpectSeekLanded(StatesFrom(before), true, *player_, 9.0);

    // The demuxer lands on the segment's start (8 s): 4 s are left.
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }, 30s));
    contract::ExpectEnded(*log_, *player_);
    EXPECT_EQ(player_->CurrentPlaybackTime(), 0.0);
}

// What this process held before any test ran, passed on by whoever started it.
const std::map<int, std::string> kDescriptorsGivenAtStart = SvTestSupport::OpenDescriptors();

// The application starts programs (a web view's processes) while a movie plays: none of them
// keeps the pipeline's descriptors (GStreamer's own are made without close-on-exec), not even
// one under the number of a descriptor that was open when the player was made and closed since.
TEST_F(GstMoviePlayerTest, AChildStartedWhileAMoviePlaysHoldsNoneOfThePipelinesDescriptors) {
    log_.reset();
    player_.reset();
    const int early = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(early, 0);
    player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
    log_ = std::make_unique<MoviePlayerLog>(*player_);
    // Its number goes to a socket made without close-on-exec, as GStreamer makes its own.
    const int socketMade = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(socketMade, 0);
    ASSERT_EQ(early, dup2(socketMade, early));
    close(socketMade);

    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    const double started = player_->CurrentPlaybackTime();
    ASSERT_TRUE(Wait([&] { return player_->CurrentPlaybackTime() > started + 0.1; }, 5s));
    const std::vector<std::string> passed =
        SvTestSupport::DescriptorsPassedToAChild(kDescriptorsGivenAtStart);
    EXPECT_TRUE(passed.empty()) << ::testing::PrintToString(passed);
    close(early);
}

TEST_F(GstMoviePlayerTest, PauseHoldsThePositionAndASeekBackKeepsItPaused) {
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing() && player_->CurrentPlaybackTime() > 0.5; }));
    player_->Pause();
    ASSERT_TRUE(Wait([&] { return player_->PlaybackState() == MoviePlaybackState::Paused; }));
    const double held = player_->CurrentPlaybackTime();
    IterateFor(300ms);
    EXPECT_NEAR(player_->CurrentPlaybackTime(), held, 0.05);

    const size_t before = States().size();
    player_->SetCurrentPlaybackTime(0.2);
    ASSERT_TRUE(Wait([&] { return StatesFrom(before).size() >= 2; }));
    EXPECT_EQ(StatesFrom(before), (std::vector<int>{5, 2}));  // backward, then paused again
    EXPECT_LE(player_->CurrentPlaybackTime(), 0.5);

    player_->Stop();
    EXPECT_EQ(States().back(), 0);
    EXPECT_EQ(player_->LoadState(), kLoadStateUnknown);
    EXPECT_FALSE(log_->Finished());  // a stop is not an end
}

TEST_F(GstMoviePlayerTest, ASeekWhilePausedStaysPaused) {
    player_->SetContentUrl(origin_.Url("/master.m3u8"));
    contract::ExpectPausedSeekStaysPaused(
        *player_, *log_, [](const std::function<bool()>& done) { return Wait(done); },
        // Time only: the paused movie must stay as it is through it.
        [] { IterateFor(1s); });
}

TEST_F(GstMoviePlayerTest, LoadFailuresAreNetworkErrorsNamingTheUrl) {
    const std::string missing = origin_.Url("/nothing.m3u8");
    player_->SetContentUrl(missing);
    player_->Play();
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }));
    contract::ExpectNetworkError(*log_, *player_, Error::kBadServerResponse, missing);
    EXPECT_NE(log_->LastError().LocalizedDescription().find("404"), std::string::npos);

    log_->Clear();
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(SvTestSupport::UnusedLoopbackPort()) + "/a.m3u8";
    player_->SetContentUrl(refused);
    player_->Play();
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }));
    contract::ExpectNetworkError(*log_, *player_, Error::kCannotConnectToHost, refused);
}

// Failures that would otherwise pass unseen: a plug-in GStreamer lacks and the network
// going away after the movie started end the movie with did-finish "error", the error naming
// the reason, and the reason in the log.
// Ended with an error: exactly one did-finish, "error", the player stopped.
void ExpectFinishedWithError(const MoviePlayerLog& log, const MoviePlayer& player) {
    EXPECT_EQ(log.Values(MoviePlayer::kPlaybackDidFinish),
              std::vector<int>{static_cast<int>(MovieFinishReason::PlaybackError)});
    EXPECT_EQ(player.PlaybackState(), MoviePlaybackState::Stopped);
    EXPECT_EQ(player.LoadState(), kLoadStateUnknown);
}

TEST_F(GstMoviePlayerTest, AMissingDecoderEndsTheMovieWithGStreamersDescriptionOfIt) {
    LoggedLines lines;
    H264DecodersRankedOut rankedOut;
    ASSERT_GT(rankedOut.Count(), 0u) << "no H.264 decoder to rank out";
    const std::string url = origin_.Url("/v0/index.m3u8");
    player_->SetContentUrl(url);
    player_->Play();
    // Without a decoder the sound alone would play the 12 s to their end over a black picture.
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }));
    ExpectFinishedWithError(*log_, *player_);
    const Error error = log_->LastError();
    EXPECT_EQ(error.Domain(), MoviePlayer::kErrorDomain);
    EXPECT_EQ(error.GetCode(), GST_CORE_ERROR_MISSING_PLUGIN);
    EXPECT_EQ(error.FailingURL(), url);
    // GStreamer's own words for what is missing, then the movie's URL.
    const std::string text = error.LocalizedDescription();
    EXPECT_NE(text.find("H.264"), std::string::npos) << text;
    EXPECT_NE(text.find("decoder"), std::string::npos) << text;
    EXPECT_NE(text.find(url), std::string::npos) << text;
    const std::string logged = lines.FirstContaining("[GST] missing plug-in: ");
    EXPECT_NE(logged.find("H.264"), std::string::npos) << "logged: " << logged;
    // Nothing of that run reaches anyone afterwards.
    IterateFor(500ms);
    EXPECT_EQ(log_->Values(MoviePlayer::kPlaybackDidFinish).size(), 1u);
}

// Plays the fixture with `segment` cut off and never answered again once the movie has started
// (its answer is held until then); the movie must end with a lost network connection, logged.
void ExpectNetworkLostWhilePlaying(SvTestSupport::TestOrigin& origin, GstMoviePlayer& player,
                                   const MoviePlayerLog& log, const std::string& segment) {
    LoggedLines lines;
    SvTestSupport::TestOrigin::Fault gone;
    gone.held = true;
    gone.dropAfter = 0;
    gone.goneAfterCut = true;
    origin.SetFault(segment, gone);
    player.SetContentUrl(origin.Url("/v0/index.m3u8"));
    player.Play();
    // The movie has started once it is playable and the player has asked for the segment. It
    // may be playing or, when GStreamer's buffering began before the first picture and the
    // first segment alone does not fill it, waiting for the held one: either way the network
    // goes away after the start. The bound is not a pace: with every core busy the first
    // segment can take many seconds to preroll.
    const auto asked = [&] {
        for (const auto& request : origin.Requests()) {
            if (request.path == segment) return true;
        }
        return false;
    };
    ASSERT_TRUE(IterateUntil(
        [&] { return (player.LoadState() & kLoadStatePlayable) != 0 && asked(); }, 60s))
        << "load state " << player.LoadState() << ", finished " << log.Finished();
    origin.Release(segment);
    ASSERT_TRUE(IterateUntil([&] { return log.Finished(); }, 30s));
    ExpectFinishedWithError(log, player);
    const Error error = log.LastError();
    EXPECT_EQ(error.Domain(), Error::kURLErrorDomain) << error.ToString();
    EXPECT_EQ(error.GetCode(), Error::kNetworkConnectionLost) << error.ToString();
    EXPECT_EQ(lines.Containing(error.LocalizedDescription()), 1u);
    EXPECT_GT(origin.AnswersBegun(segment), 0) << segment << " was never asked for";
}

TEST_F(GstMoviePlayerTest, TheNetworkGoingAwayWhilePlayingEndsTheMovieWithANetworkError) {
    ExpectNetworkLostWhilePlaying(origin_, *player_, *log_, "/v0/seg1.ts");
}

TEST_F(GstMoviePlayerTest, ALostLastSegmentIsANetworkErrorNotTheEnd) {
    // GStreamer's demuxer ends the stream when the last segment cannot be had.
    ExpectNetworkLostWhilePlaying(origin_, *player_, *log_, "/v0/seg2.ts");
}

// A picture of the window once it has drawn again.
Pixbuf Picture(Renderer& renderer) {
    DrawWatch drawn(renderer.Window());
    gtk_widget_queue_draw(renderer.Window());
    if (!drawn.WaitForDrawAfter(0, 2s)) return nullptr;
    IteratePending();
    return CaptureWindow(renderer.Window());
}

TEST_F(GstMoviePlayerTest, PictureMovesUnderTheViewsOverIt) {
    ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
    auto app = std::make_unique<ui::Application>();
    auto window = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
    window->SetBackgroundColor(ui::Color::White());
    const std::shared_ptr<ui::View> movie = player_->View();
    movie->SetFrame(ui::Rect(0, 0, 480, 320));
    window->AddSubview(movie);
    // Colours that neither the test picture nor a theme paints: one label inside the movie's
    // view (as the subtitle line is), one over it in the window (as the controls are).
    const Rgb inside{0xF0, 0xD0, 0x20}, over{0x20, 0xD0, 0xF0};
    auto insideLabel = std::make_shared<ui::Label>(ui::Rect(20, 250, 120, 40));
    insideLabel->SetBackgroundColor(ui::Color::FromRGB255(inside.r, inside.g, inside.b));
    movie->AddSubview(insideLabel);
    auto overLabel = std::make_shared<ui::Label>(ui::Rect(300, 100, 120, 40));
    overLabel->SetBackgroundColor(ui::Color::FromRGB255(over.r, over.g, over.b));
    window->AddSubview(overLabel);
    window->MakeKeyAndVisible();
    auto renderer = std::make_unique<Renderer>(window);
    GtkWidget* picture = static_cast<NativeView&>(*movie).Widget();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(gtk_widget_get_parent(picture), renderer->WidgetFor(*movie));

    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing() && player_->CurrentPlaybackTime() > 0.3; }));
    Pixbuf first = Picture(*renderer);
    const double firstTime = player_->CurrentPlaybackTime();
    ASSERT_TRUE(Wait([&] { return player_->CurrentPlaybackTime() > firstTime + 0.5; }));
    Pixbuf second = Picture(*renderer);
    ASSERT_TRUE(first && second);
    std::string error;
    EXPECT_TRUE(SavePng(first.get(), PicturePath("GstMoviePlayerFirst.png"), &error)) << error;
    EXPECT_TRUE(SavePng(second.get(), PicturePath("GstMoviePlayerSecond.png"), &error)) << error;

    for (const GdkPixbuf* shot : {first.get(), second.get()}) {
        EXPECT_EQ(PixelAt(shot, 25, 255), inside);
        EXPECT_EQ(PixelAt(shot, 135, 285), inside);
        EXPECT_EQ(PixelAt(shot, 305, 105), over);
        EXPECT_EQ(PixelAt(shot, 415, 135), over);
    }
    // The 16:9 picture fits the 480 x 320 view as 480 x 270 from y = 25. Samples every 8
    // pixels there, away from the labels: many colours (the test pattern), and many of them
    // changed between the two pictures half a second apart (its moving parts).
    std::set<int> colours;
    int samples = 0, changed = 0;
    for (int y = 32; y < 290; y += 8) {
        for (int x = 4; x < 476; x += 8) {
            if ((y >= 245 && x < 145) || (y >= 95 && y < 145 && x >= 295 && x < 425)) continue;
            const Rgb a = PixelAt(first.get(), x, y), b = PixelAt(second.get(), x, y);
            colours.insert(a.r << 16 | a.g << 8 | a.b);
            ++samples;
            changed += a != b ? 1 : 0;
        }
    }
    EXPECT_GT(colours.size(), 20u) << "a blank picture";
    EXPECT_GT(changed, samples / 20) << "the picture does not move";

    renderer.reset();  // gives the picture back to its view
    EXPECT_EQ(gtk_widget_get_parent(picture), nullptr);
    window.reset();
    app.reset();
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
}

// Iterates GLib in short steps until done() holds: a thread's end wakes nothing.
bool Poll(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        IterateFor(20ms);
    }
    return true;
}

// GStreamer names a streaming thread after its task ("queue0:src", "souphttpsrc0:sr",
// "task12") and runs it on a thread of GLib's shared pool, which keeps a few finished ones
// (with the name of their last task) for later work: a thread of a task that is still running
// is a task thread beyond those idle ones.
size_t TaskThreadsBeyondIdle() {
    size_t tasks = 0;
    for (const std::string& name : ThreadNames()) {
        const bool numbered =
            name.rfind("task", 0) == 0 && name.size() > 4 && std::isdigit(name[4]);
        if (name.find(':') != std::string::npos || numbered) ++tasks;
    }
    const size_t idle = g_thread_pool_get_num_unused_threads();
    return tasks > idle ? tasks - idle : 0;
}

TEST_F(GstMoviePlayerTest, NoPipelineThreadOutlivesItsPlayer) {
    // The threads GStreamer keeps for the whole process come with the first player.
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    log_.reset();
    player_.reset();
    ASSERT_TRUE(Poll([] { return TaskThreadsBeyondIdle() == 0; }, 10s));

    for (int round = 0; round < 2; ++round) {
        player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
        log_ = std::make_unique<MoviePlayerLog>(*player_);
        player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
        player_->Play();
        ASSERT_TRUE(Wait([&] { return Playing(); }));
        EXPECT_GT(TaskThreadsBeyondIdle(), 2u) << "no streaming threads while playing?";
        log_.reset();
        player_.reset();  // while playing
        EXPECT_TRUE(Poll([] { return TaskThreadsBeyondIdle() == 0; }, 10s))
            << "still there: " << ::testing::PrintToString(ThreadNames());
    }
    player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
    log_ = std::make_unique<MoviePlayerLog>(*player_);
}

// Calls each with every object of the iterator, then frees it.
void ForEachIn(GstIterator* iterator, const std::function<void(GstObject*)>& each) {
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(iterator, &item) == GST_ITERATOR_OK) {
        each(GST_OBJECT(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(iterator);
}

// Counts the GStreamer objects it watches that are still alive.
class AliveCount {
public:
    // obj and, when it is an element, its pads.
    void Watch(GstObject* obj) {
        ++alive_;
        g_object_weak_ref(G_OBJECT(obj), &AliveCount::Gone, this);
        if (GST_IS_ELEMENT(obj)) {
            ForEachIn(gst_element_iterate_pads(GST_ELEMENT(obj)),
                      [this](GstObject* pad) { Watch(pad); });
        }
    }
    // Every element inside bin, at any depth, with its pads.
    void WatchAllIn(GstElement* bin) {
        ForEachIn(gst_bin_iterate_recurse(GST_BIN(bin)),
                  [this](GstObject* element) { Watch(element); });
    }
    int Alive() const { return alive_; }

private:
    static void Gone(gpointer self, GObject*) { --static_cast<AliveCount*>(self)->alive_; }
    int alive_ = 0;
};

TEST_F(GstMoviePlayerTest, NothingOfAPlayedMovieOutlivesItsPlayer) {
    player_->SetContentUrl(origin_.Url("/v0/index.m3u8"));
    player_->Play();
    ASSERT_TRUE(Wait([&] { return Playing(); }));
    AliveCount pipeline;
    pipeline.Watch(GST_OBJECT(player_->Pipeline()));
    pipeline.WatchAllIn(player_->Pipeline());
    // The sound's and the picture's elements are there while the movie plays.
    EXPECT_GT(pipeline.Alive(), 30);
    player_->SetCurrentPlaybackTime(10);
    ASSERT_TRUE(Wait([&] { return log_->Finished(); }, 30s));
    contract::ExpectEnded(*log_, *player_);
    log_.reset();
    player_.reset();
    // The pipeline's own threads may let go of their last references a moment later.
    Wait([&] { return pipeline.Alive() == 0; }, 5s);
    EXPECT_EQ(pipeline.Alive(), 0) << "elements or pads of the played movie are still alive";
    player_ = std::make_unique<GstMoviePlayer>(RunLoop::Main(), NotificationCenter::Default());
    log_ = std::make_unique<MoviePlayerLog>(*player_);
}

}  // namespace
}  // namespace ns::desktop
