#ifndef APP_DESKTOP_QPLAYERWINDOWTESTBASE_H
#define APP_DESKTOP_QPLAYERWINDOWTESTBASE_H
// The player screen's window tests' world: the demo portal and the engine on loopback ports of
// their own, the GStreamer player, a GTK window on the test's Xvfb that mirrors a root screen
// presenting the player screen as the portal does (on a pad held in landscape, or a phone), a
// delegate that records what the player screen reports, and what a test needs to drive and look
// at that window: real clicks through the X server, waiting until the screen is at rest,
// pictures of its drawing and the colour of a point of the screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/QPlayerDelegate.h"
#include "app/Qplayer.h"
#include "app/QplayerControls.h"
#include "app/SarvelonQueue.h"
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
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"
#include "tests/support/TestOrigin.h"

namespace QplayerWindowTesting {

using namespace ns::desktop;
using namespace std::chrono_literals;

class Delegate : public QPlayerDelegate {
public:
    void playbackDidStopOnError(int code, const std::string& text) override {
        calls.push_back("error " + std::to_string(code) + " " + text);
    }
    void playbackDidComplete() override { calls.push_back("complete"); }
    void disposeQPlayer() override { calls.push_back("dispose"); }
    std::vector<std::string> calls;
};

class QplayerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // This thread steps the main loop (inside GLib), so the default centre delivers here.
        ns::RunLoop::Main().RunOnce(0ms);
        source_ = std::make_unique<RunLoopSource>(ns::RunLoop::Main());
        ui::UiDevice::Current().SetIdiom(Idiom());
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        // No model of its own: the device reports the one its idiom stands for.
        ui::UiDevice::Current().SetModel("");
        portal_ = AppTestSupport::StartDemoPortal();
        ASSERT_NE(0, AppTestSupport::ResetEngineOnUnusedPort());
        GstMoviePlayer::Install();
        window_ = std::make_shared<ui::Window>(ui::Screen::Main().Bounds());
        root_ = std::make_shared<ui::ViewController>();
        window_->SetRootViewController(root_);
        window_->MakeKeyAndVisible();
        renderer_ = std::make_unique<Renderer>(window_);
    }

    void TearDown() override {
        if (player_ && player_->PresentingViewController()) player_->DismissViewController(false);
        // The dismissal stops the engine on the bridge's thread.
        AppTestSupport::IterateUntilTicking(
            [] {
                return !EngineRunning() && SarvelonQueue::Shared().IsIdle() &&
                       AppTestSupport::LoopIdle(ns::RunLoop::Main());
            },
            kWaitTimeout);
        player_.reset();
        renderer_.reset();
        window_.reset();
        root_.reset();
        ns::MoviePlayer::SetFactory(nullptr);
        source_.reset();
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    }

    virtual ui::UserInterfaceIdiom Idiom() const { return ui::UserInterfaceIdiom::Pad; }

    // Opens the portal's bars in the player and waits until they play.
    void StartPlaying() {
        player_ = Qplayer::initWithJSON(portal_->Url("/api/playback?id=102"), "device-1");
        player_->setDelegate(delegate_);
        ASSERT_TRUE(root_->PresentViewController(player_, false));
        ASSERT_TRUE(IterateUntil([&] { return Playing() || !delegate_->calls.empty(); }, 20s));
        ASSERT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    }

    // Chooses English subtitles in the chooser, as a person would, until a cue of the first ten
    // seconds shows, and holds it there with a pause.
    void ChooseEnglishUntilALine(ui::Driver& driver) {
        ASSERT_TRUE(driver.Tap("subtitleButton"));
        ASSERT_TRUE(AtRest());  // the chooser has slid up
        ASSERT_TRUE(driver.Tap(driver.FindWithText<ui::Button>("English", "Button")));
        ASSERT_TRUE(IterateUntil(
            [&] {
                const std::string text = SubtitleLabel()->Text();
                return !text.empty() && text != ".......";
            },
            15s))
            << "position " << player_->player()->CurrentPlaybackTime();
        player_->controls().onPause();
        ASSERT_TRUE(IterateUntil([&] { return !Playing(); }, kWaitTimeout));
    }

    static bool EngineRunning() {
        return SarvelonMediaKit::SViOsApiState::Instance().IsInitialized();
    }
    // The screen has come to rest: its fades and slides are over and their completions ran.
    bool AtRest() {
        return AppTestSupport::IterateUntilTicking([this] { return animations_.AtRest(); },
                                                   kWaitTimeout);
    }

    bool Playing() const {
        return player_->player() != nullptr &&
               player_->player()->PlaybackState() == ns::MoviePlaybackState::Playing;
    }
    bool Paused() const {
        return player_->player() != nullptr &&
               player_->player()->PlaybackState() == ns::MoviePlaybackState::Paused;
    }
    // The colour bars across the upper part of the screen: how many of seven samples, one in
    // each bar, are clearly coloured (none in a black picture).
    int ColouredBars(const GdkPixbuf* shot) const {
        const ui::Rect screen = window_->Bounds();
        return ns::desktop::ColouredBars([&](double fraction) {
            return At(shot, screen.Width() * fraction, screen.Height() * 0.35);
        });
    }
    std::shared_ptr<ui::Label> SubtitleLabel() const {
        return std::dynamic_pointer_cast<ui::Label>(window_->FindByIdentifier("subtitleView"));
    }

    // A real click on the view with the identifier, once the screen is at rest.
    void ClickOn(const std::string& identifier) {
        ASSERT_TRUE(AtRest());
        const std::shared_ptr<ui::View> view = window_->FindByIdentifier(identifier);
        ASSERT_NE(nullptr, view) << identifier;
        Click(*view);
    }

    // The window's picture of the screen at rest.
    Pixbuf Shot() {
        EXPECT_TRUE(AtRest());
        DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        EXPECT_TRUE(drawn.WaitForDrawAfter(0, 3s));
        IteratePending();
        return CaptureWindow(renderer_->Window());
    }
    // The window's pixel at a point of the root (the screen's points).
    Rgb At(const GdkPixbuf* shot, double x, double y) const {
        const ui::Point p = renderer_->ToWindow(ui::Point(x, y));
        return PixelAt(shot, static_cast<int>(p.x), static_cast<int>(p.y));
    }
    // Pixels of a view's frame (in the root) that differ clearly between two pictures.
    int Differing(const GdkPixbuf* a, const GdkPixbuf* b, const ui::View& view) const {
        const ui::Rect r = view.ConvertRectTo(view.Bounds(), nullptr);
        int n = 0;
        for (double y = r.MinY(); y < r.MaxY(); y += 1) {
            for (double x = r.MinX(); x < r.MaxX(); x += 1) {
                const Rgb p = At(a, x, y);
                const Rgb q = At(b, x, y);
                n += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 120;
            }
        }
        return n;
    }

    // Pixels of a view's frame that are near black in `a` but not in `b`: the subtitle's
    // shadow, over whatever the picture has there.
    int NewlyDark(const GdkPixbuf* a, const GdkPixbuf* b, const ui::View& view) const {
        auto dark = [](const Rgb& c) { return c.r < 64 && c.g < 64 && c.b < 64; };
        const ui::Rect r = view.ConvertRectTo(view.Bounds(), nullptr);
        int n = 0;
        for (double y = r.MinY(); y < r.MaxY(); y += 1) {
            for (double x = r.MinX(); x < r.MaxX(); x += 1) {
                n += dark(At(a, x, y)) && !dark(At(b, x, y));
            }
        }
        return n;
    }

    // A click at the middle of a view, through the X server.
    void Click(const ui::View& view) {
        const ui::Point p =
            renderer_->ToWindow(view.ConvertPointTo(view.Bounds().Center(), nullptr));
        ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(p.x),
                static_cast<int>(p.y));
    }

    // Presents the player for the title the origin serves at `path`, through playback
    // information the origin also serves; with English subtitles from `subtitlesPath` on the
    // origin when one is given.
    void PresentFromOrigin(SvTestSupport::TestOrigin& origin, const std::string& path,
                           const std::string& subtitlesPath = "") {
        const std::string subtitles =
            subtitlesPath.empty()
                ? ""
                : "\"subtitles\":{\"en\":{\"label\":\"English\",\"assets\":{\"TTML\":{"
                  "\"uri\":\"" +
                      origin.Url(subtitlesPath) + "\"}}}},";
        origin.Serve("/info",
                     "{\"subtitleLanguage\":\"en\",\"UILanguage\":\"en\",\"video\":{" + subtitles +
                         "\"mediaID\":\"102\",\"startPosition\":0,\"drm\":{\"deliveryUri\":\"" +
                         origin.Url(path) + "\"}}}");
        player_ = Qplayer::initWithJSON(origin.Url("/info?id=1"), "device-1");
        player_->setDelegate(delegate_);
        ASSERT_TRUE(root_->PresentViewController(player_, false));
    }

    // Only bounds a test that fails.
    static constexpr std::chrono::milliseconds kWaitTimeout{10000};

    AppTestSupport::AnimationWatch animations_;
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<RunLoopSource> source_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::ViewController> root_;
    std::unique_ptr<Renderer> renderer_;
    std::shared_ptr<Delegate> delegate_ = std::make_shared<Delegate>();
    std::shared_ptr<Qplayer> player_;
};

// On a phone the device reports the phone's model, so the player takes its small layout: the
// subtitle line sits on the bottom edge of the picture, not in the middle of it.
class QplayerPhoneWindowTest : public QplayerWindowTest {
protected:
    ui::UserInterfaceIdiom Idiom() const override { return ui::UserInterfaceIdiom::Phone; }
};

}  // namespace QplayerWindowTesting

#endif  // APP_DESKTOP_QPLAYERWINDOWTESTBASE_H
