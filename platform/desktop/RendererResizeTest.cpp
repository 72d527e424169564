// A window the person resizes scales everything it shows alike: as many pixels per point as fit
// the screen in the window, the application's window taking the rest of the width or height as
// points of its own (its views that stretch fill it: no black band at the sides), and a web
// page zoomed to the same scale.
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <chrono>

#include "platform/desktop/RendererTestScene.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/net/URL.h"
#include "platform/ui/WebView.h"

namespace ns::desktop::testing {
namespace {

constexpr Rgb kBarColour{0x3A, 0x50, 0x70};
constexpr Rgb kPageColour{0xE8, 0xE0, 0xC8};
bool NearBlackPixel(const Rgb& c) { return c.r + c.g + c.b < 40; }
// Whether the first or the last column of the picture has a near-black pixel (every fourth row).
bool BlackAtTheSides(const GdkPixbuf* p) {
    const int right = gdk_pixbuf_get_width(p) - 1;
    for (int y = 0; y < gdk_pixbuf_get_height(p); y += 4) {
        if (NearBlackPixel(PixelAt(p, 0, y)) || NearBlackPixel(PixelAt(p, right, y))) return true;
    }
    return false;
}

class RendererResizeTest : public RendererScene {
protected:
    void SetUp() override {
        RendererScene::SetUp();
        WebKitWebViewBackend::Install();
        for (const ui::View::Ptr& v : window->Subviews()) v->SetHidden(true);
        // A bar across the top and a page under it, both stretching with the window.
        bar = std::make_shared<ui::View>(ui::Rect(0, 0, 480, 44));
        bar->SetBackgroundColor(ToColor(kBarColour));
        bar->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
        window->AddSubview(bar);
        page = std::make_shared<ui::View>(ui::Rect(0, 44, 480, 276));
        page->SetBackgroundColor(ToColor(kPageColour));
        page->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                  ui::Autoresizing::FlexibleHeight);
        window->AddSubview(page);
        web = std::make_shared<ui::WebView>(ui::Rect(0, 0, 240, 120));
        web->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
        page->AddSubview(web);
        ASSERT_TRUE(Settle());
    }

    void TearDown() override {
        web.reset();
        RendererScene::TearDown();
    }

    // The window resized on the X server, as a window manager does for the person's drag.
    bool ResizeTo(int width, int height, double scale) {
        ResizeWindowTo(Gdk(), width, height);
        const bool resized = IterateUntil(
            [&] {
                GtkAllocation a;
                gtk_widget_get_allocation(renderer->Window(), &a);
                return a.width == width && a.height == height && renderer->Scale() == scale;
            },
            std::chrono::seconds(3));
        return Settle() && resized;
    }

    // The page's width in its own (CSS) pixels once it has taken the widget's size.
    std::string PageWidth(const std::string& expected) {
        std::string width;
        IterateUntil(
            [&] {
                width = EvaluateInPage(*web, "String(window.innerWidth)", std::chrono::seconds(5));
                return width == expected;
            },
            std::chrono::seconds(5));
        return width;
    }

    double Zoom() {
        GtkWidget* widget = renderer->NativeWidgetFor(*web);
        return widget != nullptr ? webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(widget)) : -1;
    }

    std::shared_ptr<ui::View> bar, page;
    std::shared_ptr<ui::WebView> web;
};

TEST_F(RendererResizeTest, AWiderWindowScalesTheBarsAndThePageAndLeavesNoBand) {
    EXPECT_EQ(renderer->Scale(), 1);
    EXPECT_EQ(Zoom(), 1);
    web->LoadHtmlString("<html><body style='margin:0'>page</body></html>",
                        *URL::Parse("http://127.0.0.1/"));
    EXPECT_EQ(PageWidth("240"), "240");

    // 1.5 times as high and twice as wide: 1.5 pixels per point, 640 x 320 points.
    ASSERT_TRUE(ResizeTo(960, 480, 1.5));
    EXPECT_DOUBLE_EQ(renderer->Scale(), 1.5);
    EXPECT_EQ(window->Frame(), ui::Rect(0, 0, 640, 320));
    EXPECT_EQ(bar->Frame(), ui::Rect(0, 0, 640, 44));
    EXPECT_DOUBLE_EQ(Zoom(), 1.5);
    // WebKit's process paints the grown view in its own time, after the widget took the new
    // size (until then the view's new part is black): the picture is taken again until the
    // sides show no black, for 10 s at most.
    Pixbuf shot;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);;) {
        shot = Shot("RendererResizedWide.png");
        if (!shot || !BlackAtTheSides(shot.get()) || std::chrono::steady_clock::now() > until) {
            break;
        }
    }
    ASSERT_TRUE(shot);
    const GdkPixbuf* p = shot.get();
    EXPECT_EQ(gdk_pixbuf_get_width(p), 960);
    // The bar spans the whole width, 44 points = 66 pixels high; nothing at the sides is black.
    for (int x : {0, 1, 480, 958, 959}) {
        EXPECT_EQ(PixelAt(p, x, 10), kBarColour) << x;
        EXPECT_EQ(PixelAt(p, x, 65), kBarColour) << x;
    }
    // Under the web view (600 pixels from the left, 180 high) the page shows to the edges.
    EXPECT_EQ(PixelAt(p, 959, 67), kPageColour);
    EXPECT_EQ(PixelAt(p, 0, 479), kPageColour);
    EXPECT_EQ(PixelAt(p, 959, 479), kPageColour);
    for (int y = 0; y < 480; y += 4) {
        EXPECT_FALSE(NearBlackPixel(PixelAt(p, 0, y))) << y;
        EXPECT_FALSE(NearBlackPixel(PixelAt(p, 959, y))) << y;
    }
    // The web view took the 160 points the page grew by: 400 points, 600 pixels.
    EXPECT_EQ(web->Frame(), ui::Rect(0, 0, 400, 120));
    GtkAllocation a;
    gtk_widget_get_allocation(renderer->NativeWidgetFor(*web), &a);
    EXPECT_EQ(a.width, 600);
    EXPECT_EQ(a.height, 180);
    // The page lays itself out in the view's points, as the bars do: 600 pixels are 400 of its
    // own.
    EXPECT_EQ(PageWidth("400"), "400");
}

TEST_F(RendererResizeTest, ATallerWindowScalesByItsWidthAndBackToTheScreen) {
    ASSERT_TRUE(ResizeTo(720, 720, 1.5));
    EXPECT_DOUBLE_EQ(renderer->Scale(), 1.5);
    EXPECT_EQ(window->Frame(), ui::Rect(0, 0, 480, 480));
    EXPECT_DOUBLE_EQ(Zoom(), 1.5);
    Pixbuf shot = Shot("RendererResizedTall.png");
    ASSERT_TRUE(shot);
    // The page reaches the bottom: no band under it.
    EXPECT_EQ(PixelAt(shot.get(), 700, 719), kPageColour);
    EXPECT_EQ(PixelAt(shot.get(), 10, 719), kPageColour);

    ASSERT_TRUE(ResizeTo(480, 320, 1));
    EXPECT_EQ(renderer->Scale(), 1);
    EXPECT_EQ(window->Frame(), ui::Rect(0, 0, 480, 320));
    EXPECT_EQ(bar->Frame(), ui::Rect(0, 0, 480, 44));
    EXPECT_EQ(Zoom(), 1);
}

}  // namespace
}  // namespace ns::desktop::testing
