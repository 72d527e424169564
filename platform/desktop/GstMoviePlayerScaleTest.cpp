// The scaling modes as a person sees them: the 16:9 fixture movie in a 480 x 320 view. Fitted
// it is 480 x 270 from y = 25, with black bars above and below; filled with its shape kept
// (aspect fill) it is 569 x 320, its sides cut off, no bars; stretched (fill) it is 480 x 320.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/NativeView.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/media/testing/MoviePlayerContract.h"
#include "platform/ui/Application.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "tests/support/TestOrigin.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;

Pixbuf ScaledPicture(Renderer& renderer, const char* name) {
    DrawWatch drawn(renderer.Window());
    gtk_widget_queue_draw(renderer.Window());
    if (!drawn.WaitForDrawAfter(0, 2s)) return nullptr;
    IteratePending();
    Pixbuf shot = CaptureWindow(renderer.Window());
    std::string error;
    if (shot) {
        EXPECT_TRUE(SavePng(shot.get(), PicturePath(name), &error)) << error;
    }
    return shot;
}

bool NearBlack(const Rgb& c) { return c.r + c.g + c.b < 40; }

// Of the samples every 8 pixels across rows y0..y1, how many are not black.
int LitSamples(const GdkPixbuf* shot, int y0, int y1) {
    int lit = 0;
    for (int y = y0; y <= y1; y += 6) {
        for (int x = 4; x < 476; x += 8) lit += NearBlack(PixelAt(shot, x, y)) ? 0 : 1;
    }
    return lit;
}

// The size of the widget the movie's frames are drawn in (in the view's frame), which each
// frame of the movie draws whole.
GdkRectangle PictureWidgetSize(GstMoviePlayer& player) {
    auto* view = static_cast<NativeView*>(player.View().get());
    GList* children = gtk_container_get_children(GTK_CONTAINER(view->Widget()));
    GdkRectangle size{0, 0, 0, 0};
    if (children != nullptr) {
        size.width = gtk_widget_get_allocated_width(GTK_WIDGET(children->data));
        size.height = gtk_widget_get_allocated_height(GTK_WIDGET(children->data));
    }
    g_list_free(children);
    return size;
}

// Samples every 8 pixels across the whole view that differ between two pictures.
int DifferingSamples(const GdkPixbuf* a, const GdkPixbuf* b) {
    int n = 0;
    for (int y = 30; y < 290; y += 8) {
        for (int x = 4; x < 476; x += 8) {
            const Rgb p = PixelAt(a, x, y), q = PixelAt(b, x, y);
            n += (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 30) ? 1 : 0;
        }
    }
    return n;
}

TEST(GstMoviePlayerScaleTest, FitShowsBarsAspectFillCoversTheViewAndFillStretches) {
    ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
    RunLoop::Main().RunOnce(0ms);
    RunLoopSource source(RunLoop::Main());
    SvTestSupport::TestOrigin origin;
    contract::ServePlayerHls(origin);
    auto app = std::make_unique<ui::Application>();
    {
        GstMoviePlayer player(RunLoop::Main(), NotificationCenter::Default());
        auto window = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
        window->SetBackgroundColor(ui::Color::White());
        player.View()->SetFrame(ui::Rect(0, 0, 480, 320));
        window->AddSubview(player.View());
        window->MakeKeyAndVisible();
        auto renderer = std::make_unique<Renderer>(window);

        player.SetContentUrl(origin.Url("/v0/index.m3u8"));
        player.Play();
        ASSERT_TRUE(IterateUntil(
            [&] {
                return player.PlaybackState() == MoviePlaybackState::Playing &&
                       player.CurrentPlaybackTime() > 0.5;
            },
            20s));
        // A still picture: only the scaling changes between the pictures below.
        player.Pause();
        ASSERT_TRUE(IterateUntil(
            [&] { return player.PlaybackState() == MoviePlaybackState::Paused; }, 20s));

        player.SetScalingMode(MovieScalingMode::AspectFit);
        Pixbuf fit = ScaledPicture(*renderer, "GstMoviePlayerAspectFit.png");
        const GdkRectangle fitWidget = PictureWidgetSize(player);
        player.SetScalingMode(MovieScalingMode::AspectFill);
        Pixbuf fill = ScaledPicture(*renderer, "GstMoviePlayerAspectFill.png");
        const GdkRectangle fillWidget = PictureWidgetSize(player);
        player.SetScalingMode(MovieScalingMode::Fill);
        Pixbuf stretch = ScaledPicture(*renderer, "GstMoviePlayerFill.png");
        const GdkRectangle stretchWidget = PictureWidgetSize(player);
        ASSERT_TRUE(fit && fill && stretch);

        // Each frame of the movie redraws the picture's own rectangle (and two rows of pixels
        // above and below it, where its edges blend), not the bars about it (nor what lies
        // over them).
        EXPECT_EQ(fitWidget.width, 480);
        EXPECT_EQ(fitWidget.height, 270 + 4);
        EXPECT_EQ(fillWidget.width, 569);
        EXPECT_EQ(fillWidget.height, 320);
        EXPECT_EQ(stretchWidget.width, 480);
        EXPECT_EQ(stretchWidget.height, 320);

        // Fitted: the bars (y 0..24 and 295..319) are black, the picture between is not.
        EXPECT_EQ(LitSamples(fit.get(), 2, 20), 0);
        EXPECT_EQ(LitSamples(fit.get(), 299, 317), 0);
        EXPECT_GT(LitSamples(fit.get(), 40, 280), 500);
        // Aspect fill and stretch: the picture reaches the top and bottom edges.
        for (const GdkPixbuf* covered : {fill.get(), stretch.get()}) {
            EXPECT_GT(LitSamples(covered, 2, 20), 60);
            EXPECT_GT(LitSamples(covered, 299, 317), 60);
        }
        // Each mode is a picture of its own.
        EXPECT_GT(DifferingSamples(fit.get(), fill.get()), 200);
        EXPECT_GT(DifferingSamples(fill.get(), stretch.get()), 100);

        renderer.reset();
        window.reset();
    }
    app.reset();
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
}

}  // namespace
}  // namespace ns::desktop
