// The player screen's scale-mode buttons and its layout when the device turns: which mode each
// press sets, what a turn does to the mode, and the small (iPhone) layout's compact bottom bar in
// portrait and full one in landscape. Every number expected here is typed by hand from the
// screen's design, not read from the code: scaling modes 1 (aspect fit) and 2 (aspect fill); the
// compact scrubber at x 66, 200 wide; the landscape one at x 102, y 22, 23 high; the compact
// layout 0.1 s after the turn.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/QplayerControls.h"
#include "app/QplayerTestFixture.h"
#include "app/testing/ScriptedMoviePlayer.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/Button.h"

namespace {

using QplayerTest::QplayerTestBase;

class QplayerControlsTest : public QplayerTestBase {
protected:
    // The portal's 20 s zoom (title 103), playing with four seconds read ahead, its title and
    // scale button faded in. The clock waits while the movie is read (real time), so that it
    // never outruns the reading: no stall, and so no second "playable" that plays again.
    void OpenPlaying() {
        bridge_->playbackUrlToHand = ClipPath("mandelbrot");
        Open(PlaybackUrl("103"));
        ASSERT_TRUE(WaitReal(
            [&] { return Playing() && (Movie()->LoadState() & ns::kLoadStatePlaythroughOK) != 0; },
            10));
        RunFor(0.5);
    }
    // The interface in landscape, as the fixture holds the device, whatever an earlier test
    // of this process left it in (the player screen in front turns every way).
    void TurnToLandscape() {
        ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::LandscapeLeft));
        RunFor(0.5);
    }
    int Mode() const { return static_cast<int>(Movie()->ScalingMode()); }
    bool Shown(const std::string& identifier) {
        auto view = driver_.Find(identifier);
        return view && !view->IsHidden();
    }
    ui::Rect Scrubber() { return driver_.Find("scrubber_ui")->Frame(); }
    // The bottom bar in full: both time labels and the subtitle button opaque, the button
    // enabled.
    bool FullBottomBar() {
        auto button = driver_.Find<ui::Button>("subtitleButton");
        return driver_.Find("progressTimeDisplay")->Alpha() == 1 &&
               driver_.Find("remainingTimeDisplay")->Alpha() == 1 && button->Alpha() == 1 &&
               button->IsEnabled();
    }
    // The compact one: the labels and the subtitle button transparent, the button disabled.
    bool CompactBottomBar() {
        auto button = driver_.Find<ui::Button>("subtitleButton");
        return driver_.Find("progressTimeDisplay")->Alpha() == 0 &&
               driver_.Find("remainingTimeDisplay")->Alpha() == 0 && button->Alpha() == 0 &&
               !button->IsEnabled();
    }
};

// The fixture's tablet, held in landscape: the large layout.
TEST_F(QplayerControlsTest, EachPressSetsTheOtherModeAndPortraitFitsUntilLandscapeAgain) {
    ASSERT_NO_FATAL_FAILURE(OpenPlaying());
    ASSERT_NO_FATAL_FAILURE(TurnToLandscape());
    EXPECT_EQ(1, Mode());
    EXPECT_TRUE(Shown("scaleModeButton"));
    EXPECT_FALSE(Shown("scaleModeExitButton"));

    // Fit -> fill: the exit button takes the scale button's place.
    ASSERT_TRUE(driver_.Tap("scaleModeButton"));
    EXPECT_EQ(2, Mode());
    EXPECT_FALSE(Shown("scaleModeButton"));
    EXPECT_TRUE(Shown("scaleModeExitButton"));
    EXPECT_EQ(1, LogCount("[Q] 2"));
    // Fill -> fit, and back.
    ASSERT_TRUE(driver_.Tap("scaleModeExitButton"));
    EXPECT_EQ(1, Mode());
    EXPECT_TRUE(Shown("scaleModeButton"));
    EXPECT_FALSE(Shown("scaleModeExitButton"));
    EXPECT_EQ(1, LogCount("[Q] 1"));
    ASSERT_TRUE(driver_.Tap("scaleModeButton"));
    EXPECT_EQ(2, Mode());

    // Portrait fits the movie and offers the scale button; the large layout keeps its full
    // bottom bar.
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::Portrait));
    EXPECT_EQ(1, Mode());
    EXPECT_TRUE(Shown("scaleModeButton"));
    EXPECT_FALSE(Shown("scaleModeExitButton"));
    RunFor(0.5);
    EXPECT_TRUE(FullBottomBar());
    EXPECT_NE(66, Scrubber().X());

    // Landscape brings the chosen fill back (the buttons stay as portrait left them) ...
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::LandscapeLeft));
    EXPECT_EQ(2, Mode());
    EXPECT_TRUE(Shown("scaleModeButton"));
    // ... and a press decides by the movie's mode, not by the button: fill -> fit.
    ASSERT_TRUE(driver_.Tap("scaleModeButton"));
    EXPECT_EQ(1, Mode());
    EXPECT_TRUE(Shown("scaleModeButton"));
    EXPECT_FALSE(Shown("scaleModeExitButton"));
    RunFor(1);  // the turn ends within the test
}

// The window made taller and shorter during a playback, with the volume panel and the
// chooser each hidden or shown: a hidden panel lies wholly below the screen's bottom edge at
// every size; a shown one keeps its place above that edge (the volume panel's top 246 points
// above it, its end on the bottom bar's top, the chooser's bottom 52); and each hides and shows
// again at the new size.
TEST_F(QplayerControlsTest, PanelsKeepTheirPlaceFromTheBottomEdgeAtEverySize) {
    ASSERT_NO_FATAL_FAILURE(OpenPlaying());
    ASSERT_NO_FATAL_FAILURE(TurnToLandscape());
    // Paused, so that the 20 s movie does not end (and close the screen) within the test.
    ASSERT_TRUE(driver_.Tap("pauseButton"));
    const ui::Rect start = window_->Frame();
    const QplayerControls& controls = player_->controls();
    const std::shared_ptr<ui::View> volume = driver_.Find("volumeView");
    const std::shared_ptr<ui::View> chooser = driver_.Find("subtitleChooserView");
    const auto resize = [&](double height) {
        window_->SetFrame(ui::Rect(start.X(), start.Y(), start.Width(), height));
        window_->LayoutControllerViews();
        ui::RunLayoutPass();
        RunFor(0.5);
        ASSERT_DOUBLE_EQ(height, player_->GetView()->Bounds().Height());
    };
    const auto expectPlaces = [&](const std::string& when) {
        SCOPED_TRACE(when);
        const double h = player_->GetView()->Bounds().Height();
        if (controls.showingVolumeSlider()) {
            EXPECT_DOUBLE_EQ(h - 246, volume->Frame().Y());
            // Down to the bottom bar's top (66 points up), not over the bar.
            EXPECT_NEAR(h - 66, volume->Frame().MaxY(), 1e-9);
            EXPECT_DOUBLE_EQ(1, volume->Alpha());
        } else {
            EXPECT_GE(volume->Frame().Y(), h);
        }
        if (controls.isSubtitleChooser()) {
            EXPECT_DOUBLE_EQ(h - 52, chooser->Frame().MaxY());
        } else {
            EXPECT_GE(chooser->Frame().Y(), h);
        }
    };
    struct Row {
        bool volumeShown;
        bool chooserShown;
    };
    for (const Row row : {Row{false, false}, Row{true, false}, Row{false, true}, Row{true, true}}) {
        SCOPED_TRACE(std::string("volume ") + (row.volumeShown ? "shown" : "hidden") +
                     ", chooser " + (row.chooserShown ? "shown" : "hidden"));
        if (row.volumeShown) {
            ASSERT_TRUE(driver_.Tap("audioButton"));
        }
        if (row.chooserShown) {
            ASSERT_TRUE(driver_.Tap("subtitleButton"));
        }
        RunFor(0.5);
        ASSERT_EQ(row.volumeShown, controls.showingVolumeSlider());
        ASSERT_EQ(row.chooserShown, controls.isSubtitleChooser());
        for (const double height :
             {start.Height() + 130, start.Height() - 100, start.Height() + 300, start.Height()}) {
            ASSERT_NO_FATAL_FAILURE(resize(height));
            expectPlaces("at height " + std::to_string(height));
        }
        // Toggled at a new size, each goes to that size's place.
        ASSERT_NO_FATAL_FAILURE(resize(start.Height() + 130));
        ASSERT_TRUE(driver_.Tap("audioButton"));
        ASSERT_TRUE(driver_.Tap("subtitleButton"));
        RunFor(0.5);
        ASSERT_NE(row.volumeShown, controls.showingVolumeSlider());
        ASSERT_NE(row.chooserShown, controls.isSubtitleChooser());
        expectPlaces("toggled when taller");
        ASSERT_NO_FATAL_FAILURE(resize(start.Height()));
        expectPlaces("toggled, back to the start");
        // A tap on the picture hides both.
        ASSERT_TRUE(driver_.Tap("playerHit"));
        RunFor(0.5);
        ASSERT_FALSE(controls.showingVolumeSlider());
        ASSERT_FALSE(controls.isSubtitleChooser());
        expectPlaces("after a tap");
        if (!controls.showingControls()) {
            ASSERT_TRUE(driver_.Tap("playerHit"));
        }
        RunFor(0.5);
    }
}

// The controls can outlive their screen (a callback under way holds them). A screen let go
// without ever being shown takes its movie player with it: the controls' buttons then drive
// no movie at all, not the one that is gone.
TEST_F(QplayerControlsTest, ControlsLeftBehindByTheirScreenDriveNoMovie) {
    struct CountingMovie : AppTestSupport::ScriptedMoviePlayer {
        explicit CountingMovie(int& plays) : plays_(plays) {}
        void Play() override {
            ++plays_;
            ScriptedMoviePlayer::Play();
        }
        int& plays_;
    };
    int plays = 0;
    bool made = false;
    ns::MoviePlayer::SetFactory([&]() -> std::unique_ptr<ns::MoviePlayer> {
        made = true;
        return std::make_unique<CountingMovie>(plays);
    });
    std::shared_ptr<Qplayer> screen = Qplayer::initWithJSON(PlaybackUrl("103"), "device-1");
    screen->setDelegate(delegate_);
    ASSERT_TRUE(WaitReal([&] { return made; }, 10));
    ASSERT_NE(nullptr, screen->player());
    const std::shared_ptr<QplayerControls> controls = screen->controls().shared_from_this();
    controls->onPlay();
    ASSERT_EQ(1, plays);

    screen.reset();
    controls->onPlay();
    controls->changeScaleMode();
    EXPECT_EQ(1, plays);
}

class QplayerPhoneControlsTest : public QplayerControlsTest {
protected:
    void SetUp() override {
        QplayerControlsTest::SetUp();
        ui::UiDevice& device = ui::UiDevice::Current();
        device.SetIdiom(ui::UserInterfaceIdiom::Phone);
        device.SetModel("iPhone");
        window_->SetFrame(ui::Screen::Main().Bounds());
    }
};

TEST_F(QplayerPhoneControlsTest, PortraitCompactsTheBottomBarAndLandscapeRestoresIt) {
    ASSERT_NO_FATAL_FAILURE(OpenPlaying());
    ASSERT_NO_FATAL_FAILURE(TurnToLandscape());
    EXPECT_TRUE(FullBottomBar());
    const ui::Rect landscape = Scrubber();
    EXPECT_EQ(102, landscape.X());
    EXPECT_EQ(22, landscape.Y());
    EXPECT_EQ(23, landscape.Height());

    // Portrait: 0.1 s later the labels and subtitle buttons go and the scrubber narrows to
    // x 66, 200 wide, its y and height kept.
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::Portrait));
    RunFor(0.05, 0.05);
    EXPECT_TRUE(FullBottomBar());
    RunFor(0.1, 0.05);
    EXPECT_TRUE(CompactBottomBar());
    EXPECT_EQ(ui::Rect(66, 22, 200, 23), Scrubber());
    RunFor(1);
    EXPECT_EQ(ui::Rect(66, 22, 200, 23), Scrubber());
    EXPECT_TRUE(CompactBottomBar());

    // Landscape from portrait: everything back at once, the scrubber at x 102, y 22, 23 high
    // and 22 wide, widened by the turn to what it was before.
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::LandscapeLeft));
    EXPECT_TRUE(FullBottomBar());
    EXPECT_EQ(landscape, Scrubber());
    RunFor(1);
    EXPECT_TRUE(FullBottomBar());
    EXPECT_EQ(landscape, Scrubber());
}

// A phone lying face up when playback starts: a screen narrower than high counts as portrait
// (compact), a wider one as landscape (full).
TEST_F(QplayerPhoneControlsTest, LyingFaceUpTheScreensShapeDecides) {
    for (const bool portraitShaped : {true, false}) {
        SCOPED_TRACE(portraitShaped ? "portrait-shaped" : "landscape-shaped");
        ASSERT_TRUE(driver_.Rotate(portraitShaped ? ui::DeviceOrientation::Portrait
                                                  : ui::DeviceOrientation::LandscapeLeft));
        ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::FaceUp));
        ASSERT_NO_FATAL_FAILURE(OpenPlaying());
        const ui::Rect bounds = player_->GetView()->Bounds();
        ASSERT_EQ(portraitShaped, bounds.Width() < bounds.Height());
        if (portraitShaped) {
            EXPECT_TRUE(CompactBottomBar());
            EXPECT_EQ(66, Scrubber().X());
            EXPECT_EQ(200, Scrubber().Width());
        } else {
            EXPECT_TRUE(FullBottomBar());
            EXPECT_EQ(102, Scrubber().X());
        }
        // Back to landscape while the player screen (which turns every way) is in front: the
        // fixture's root screen alone does not turn there, and the interface is left as found.
        ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::LandscapeLeft));
        RunFor(1);
        player_->DismissViewController(false);
        loop_.Step();
        player_.reset();
    }
}

}  // namespace
