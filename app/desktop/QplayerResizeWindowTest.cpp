// The player screen on a phone in a window that a person resizes during playback, and its
// subtitle line over the controls: the window is resized on the X server, the panels opened and
// closed with real clicks, and what the window drew is looked at in its pictures (kept beside
// the test program).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/desktop/QplayerWindowTestBase.h"

namespace {

using namespace QplayerWindowTesting;

// The chooser's panel colour (red 28, green 39, blue 43).
bool ChooserColour(const Rgb& c) {
    return std::abs(c.r - 28) <= 6 && std::abs(c.g - 39) <= 6 && std::abs(c.b - 43) <= 6;
}

class QplayerResizeWindowTest : public QplayerPhoneWindowTest {
protected:
    // The window resized on the X server, as a window manager does for a person's drag, until
    // the screen's points fill it and it is at rest. A phone's screen is 480 x 320 points.
    bool ResizeTo(int width, int height) {
        ResizeWindowTo(gtk_widget_get_window(renderer_->Window()), width, height);
        const double scale = std::min(width / 480.0, height / 320.0);
        const bool resized = AppTestSupport::IterateUntilTicking(
            [&] {
                GtkAllocation a;
                gtk_widget_get_allocation(renderer_->Window(), &a);
                return a.width == width && a.height == height &&
                       std::abs(window_->Bounds().Height() - height / scale) < 0.01;
            },
            kWaitTimeout);
        return AtRest() && resized;
    }
    // Pixels of the chooser's panel colour in the picture.
    int ChooserPixels(const GdkPixbuf* shot) const {
        int n = 0;
        for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y) {
            for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
                n += ChooserColour(PixelAt(shot, x, y));
            }
        }
        return n;
    }
    ui::Rect FrameOf(const std::string& identifier) const {
        const std::shared_ptr<ui::View> view = window_->FindByIdentifier(identifier);
        return view ? view->ConvertRectTo(view->Bounds(), nullptr) : ui::Rect();
    }
    // Both panels where they belong for the window's height h now, in the model and in the
    // picture: hidden, wholly below the screen (the volume panel also transparent) and none of
    // the chooser's colour drawn; shown, the volume panel's top 246 points above the bottom
    // edge and its end on the bottom bar, the chooser's bottom 52, the chooser drawn.
    void ExpectPanelsInPlace(const std::string& when) {
        SCOPED_TRACE(when);
        const QplayerControls& controls = player_->controls();
        const double h = window_->Bounds().Height();
        const ui::Rect volume = FrameOf("volumeView");
        const ui::Rect chooser = FrameOf("subtitleChooserView");
        Pixbuf shot = Shot();
        ASSERT_NE(nullptr, shot);
        if (controls.showingVolumeSlider()) {
            EXPECT_DOUBLE_EQ(h - 246, volume.Y());
            // It ends where the bottom bar begins, its slider inside it.
            EXPECT_NEAR(FrameOf("controls").Y(), volume.MaxY(), 1e-9);
            const ui::Rect slider = FrameOf("volumeSlider");
            EXPECT_GE(slider.Y(), volume.Y());
            EXPECT_LE(slider.MaxY(), volume.MaxY());
        } else {
            EXPECT_GE(volume.Y(), h);
            EXPECT_EQ(0, window_->FindByIdentifier("volumeView")->Alpha());
        }
        if (controls.isSubtitleChooser()) {
            EXPECT_DOUBLE_EQ(h - 52, chooser.MaxY());
            EXPECT_GT(ChooserPixels(shot.get()), 2000);
        } else {
            EXPECT_GE(chooser.Y(), h);
            EXPECT_LT(ChooserPixels(shot.get()), 20);
        }
        std::string error;
        EXPECT_TRUE(SavePng(shot.get(), PicturePath("qplayer-resized-" + when + ".png"), &error))
            << error;
    }
};

// Taller and shorter (the width kept, 1.875 pixels a point) with both panels hidden, then with
// both shown; at the taller size the chooser's None closes both, and a click on the picture
// the volume panel opened again, each gone from the window.
TEST_F(QplayerResizeWindowTest, HiddenPanelsStayBelowTheScreenAndShownOnesKeepTheirPlace) {
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    // Paused: the 12 s title would end within the test.
    ASSERT_NO_FATAL_FAILURE(ClickOn("pauseButton"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return Paused(); }, kWaitTimeout));
    ASSERT_TRUE(ResizeTo(900, 640));
    const QplayerControls& controls = player_->controls();
    for (const bool shown : {false, true}) {
        const std::string state = shown ? "shown" : "hidden";
        if (shown) {
            ASSERT_NO_FATAL_FAILURE(ClickOn("audioButton"));
            ASSERT_NO_FATAL_FAILURE(ClickOn("subtitleButton"));
            ASSERT_TRUE(AppTestSupport::IterateUntilTicking(
                [&] { return controls.showingVolumeSlider() && controls.isSubtitleChooser(); },
                kWaitTimeout));
        }
        for (const int height : {770, 560, 640}) {
            ASSERT_TRUE(ResizeTo(900, height)) << height;
            ASSERT_NO_FATAL_FAILURE(ExpectPanelsInPlace(state + "-" + std::to_string(height)));
        }
    }

    ASSERT_TRUE(ResizeTo(900, 770));
    ASSERT_NO_FATAL_FAILURE(ExpectPanelsInPlace("shown-770-again"));
    ui::Driver driver(window_);
    const auto none = driver.FindWithText<ui::Button>("None", "Button");
    ASSERT_NE(nullptr, none);
    ASSERT_TRUE(AtRest());
    Click(*none);
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return !controls.isSubtitleChooser(); },
                                                    kWaitTimeout));
    // A choice closes both panels.
    EXPECT_FALSE(controls.showingVolumeSlider());
    ASSERT_NO_FATAL_FAILURE(ExpectPanelsInPlace("after-none-770"));
    ASSERT_NO_FATAL_FAILURE(ClickOn("audioButton"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return controls.showingVolumeSlider(); },
                                                    kWaitTimeout));
    ASSERT_NO_FATAL_FAILURE(ExpectPanelsInPlace("volume-770"));
    ASSERT_NO_FATAL_FAILURE(ClickOn("playerHit"));
    ASSERT_TRUE(AppTestSupport::IterateUntilTicking([&] { return !controls.showingVolumeSlider(); },
                                                    kWaitTimeout));
    ASSERT_NO_FATAL_FAILURE(ExpectPanelsInPlace("after-tap-770"));
}

// On a phone the subtitle line lies across the bottom bar. While the controls show, as they do
// after Play, a cue is drawn over the bar: its white glyphs and their dark shadow are in the
// window's picture where the line and the bar meet, and go with the cue.
TEST_F(QplayerResizeWindowTest, ACueIsDrawnOverTheBottomBarWhileTheControlsShow) {
    ui::Driver driver(window_);
    ASSERT_NO_FATAL_FAILURE(StartPlaying());
    ASSERT_NO_FATAL_FAILURE(ChooseEnglishUntilALine(driver));
    ASSERT_TRUE(player_->controls().showingControls());
    const std::string line = SubtitleLabel()->Text();
    Pixbuf withCue = Shot();
    ASSERT_NE(nullptr, withCue);
    std::string error;
    EXPECT_TRUE(SavePng(withCue.get(), PicturePath("qplayer-phone-cue-over-bar.png"), &error))
        << error;

    ASSERT_TRUE(driver.Tap("subtitleButtonON"));
    ASSERT_TRUE(AtRest());
    ASSERT_TRUE(driver.Tap(driver.FindWithText<ui::Button>("None", "Button")));
    ASSERT_TRUE(player_->controls().showingControls());
    Pixbuf without = Shot();
    ASSERT_NE(nullptr, without);

    // Where the line and the bar meet, left of the subtitle buttons (whose title changes with
    // the choice): white there only with the cue, and dark only with it.
    const ui::Rect bar = FrameOf("controls");
    const ui::Rect label = FrameOf("subtitleView");
    ASSERT_GT(label.MaxY(), bar.MinY()) << "the line does not meet the bar";
    const double top = std::max(label.MinY(), bar.MinY());
    const ui::Rect both(label.MinX(), top, FrameOf("subtitleButtonON").MinX() - label.MinX(),
                        std::min(label.MaxY(), bar.MaxY()) - top);
    const auto white = [](const Rgb& c) { return c.r >= 200 && c.g >= 200 && c.b >= 200; };
    const auto dark = [](const Rgb& c) { return c.r < 40 && c.g < 40 && c.b < 40; };
    int whiteGlyphs = 0;
    int shadow = 0;
    for (double y = both.MinY(); y < both.MaxY(); y += 1) {
        for (double x = both.MinX(); x < both.MaxX(); x += 1) {
            const Rgb p = At(withCue.get(), x, y);
            const Rgb q = At(without.get(), x, y);
            whiteGlyphs += white(p) && !white(q);
            shadow += dark(p) && !dark(q);
        }
    }
    EXPECT_GT(whiteGlyphs, 200) << "\"" << line << "\"";
    EXPECT_GT(shadow, 20) << "\"" << line << "\"";

    player_->DismissViewController(false);
    EXPECT_TRUE(AppTestSupport::IterateUntilTicking([] { return !EngineRunning(); }, kWaitTimeout));
}

}  // namespace
