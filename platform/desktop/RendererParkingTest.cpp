// A screen presented over one that shows a web page: the page's WebKit widget stays realized
// under it (taken out of its box, it would be realized again on the way back, and WebKit would
// take a new backing store each time), hidden so that it is neither drawn nor clicked, and is
// the very same widget again, placed at the window's new size, when the screen goes. A view
// back from parking is drawn in its new place among its siblings. Parked widgets do not pile
// up: they go when their view is freed, and beyond the most kept.

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/desktop/NativeView.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/net/URL.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace ns::desktop {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::seconds kWait(10);  // a passing step takes milliseconds

// How often GTK realized and unrealized a widget since the count began.
class RealizeCount {
public:
    explicit RealizeCount(GtkWidget* widget) : widget_(GTK_WIDGET(g_object_ref(widget))) {
        g_signal_connect(widget_, "realize", G_CALLBACK(+[](GtkWidget*, gpointer count) {
                             ++static_cast<RealizeCount*>(count)->realized;
                         }),
                         this);
        g_signal_connect(widget_, "unrealize", G_CALLBACK(+[](GtkWidget*, gpointer count) {
                             ++static_cast<RealizeCount*>(count)->unrealized;
                         }),
                         this);
    }
    ~RealizeCount() {
        g_signal_handlers_disconnect_by_data(widget_, this);
        g_object_unref(widget_);
    }
    RealizeCount(const RealizeCount&) = delete;
    RealizeCount& operator=(const RealizeCount&) = delete;

    int realized = 0;
    int unrealized = 0;

private:
    GtkWidget* widget_;
};

// Whether a widget has been finalized (its last reference gone).
class Finalized {
public:
    explicit Finalized(GtkWidget* widget) : object_(G_OBJECT(widget)) {
        g_object_weak_ref(object_, &Finalized::OnFinalized, this);
    }
    ~Finalized() {
        if (!gone_) g_object_weak_unref(object_, &Finalized::OnFinalized, this);
    }
    Finalized(const Finalized&) = delete;
    Finalized& operator=(const Finalized&) = delete;
    bool operator()() const { return gone_; }

private:
    static void OnFinalized(gpointer self, GObject*) {
        static_cast<Finalized*>(self)->gone_ = true;
    }
    GObject* object_;
    bool gone_ = false;
};

class RendererParkingTest : public ::testing::Test {
protected:
    // The page's frame in the portal's view, which fills the 480 x 320 window; the page grows
    // with its superview.
    const ui::Rect kWebFrame{40, 30, 200, 120};

    void SetUp() override {
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        app_ = std::make_unique<ui::Application>();
        WebKitWebViewBackend::Install();
        window_ = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
        window_->SetBackgroundColor(ui::Color::White());
        portal_ = std::make_shared<ui::ViewController>();
        web_ = std::make_shared<ui::WebView>(kWebFrame);
        web_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                  ui::Autoresizing::FlexibleHeight);
        portal_->GetView()->AddSubview(web_);
        window_->SetRootViewController(portal_);
        window_->MakeKeyAndVisible();
        renderer_ = std::make_unique<Renderer>(window_);

        // A page that counts the presses it is given.
        web_->LoadHtmlString(
            "<html><body style=\"margin:0; background:#2080E0\"><script>"
            "window.presses = 0;"
            "document.addEventListener('mousedown', function() { window.presses++; });"
            "</script></body></html>",
            *URL::Parse("http://127.0.0.1/"));
        ASSERT_TRUE(IterateUntil(
            [&] { return EvaluateInPage(*web_, "String(window.presses)", 1s) == "0"; }, kWait));
        widget_ = renderer_->NativeWidgetFor(*web_);
        ASSERT_NE(nullptr, widget_);
        ASSERT_TRUE(IterateUntil([&] { return gtk_widget_get_mapped(widget_); }, kWait));
    }

    void TearDown() override {
        renderer_.reset();
        cover_.reset();
        portal_.reset();
        web_.reset();
        window_.reset();
        app_.reset();
        ui::WebView::SetBackendFactory(nullptr);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    }

    // A screen of one button over the whole window, presented over the portal; it has come to
    // rest once the portal's view has left the window.
    bool Present() {
        cover_ = std::make_shared<ui::ViewController>();
        cover_->GetView()->SetBackgroundColor(ui::Color::Black());
        button_ = std::make_shared<ui::Button>(ui::Rect(0, 0, 480, 320), ui::ButtonType::Custom);
        button_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                     ui::Autoresizing::FlexibleHeight);
        button_->AddTarget(
            this, [this](ui::Control&) { ++buttonTaps_; }, ui::ControlEvent::TouchUpInside);
        cover_->GetView()->AddSubview(button_);
        if (!portal_->PresentViewController(cover_, false)) return false;
        return IterateUntil([&] { return portal_->GetView()->Superview() == nullptr; }, kWait) &&
               Settle();
    }
    bool Dismiss() {
        portal_->DismissViewController(false);
        return IterateUntil(
                   [&] {
                       return portal_->PresentedViewController() == nullptr &&
                              portal_->GetView()->Superview() != nullptr;
                   },
                   kWait) &&
               Settle();
    }

    // The renderer has taken the models' changes and the window has drawn them.
    bool Settle() {
        IteratePending();
        DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        const bool drew = drawn.WaitForDrawAfter(0, 3s);
        IteratePending();
        return drew;
    }

    // A person's click at a window pixel.
    void Click(int x, int y) { ClickAt(gtk_widget_get_window(renderer_->Window()), x, y); }
    // The page's count of the presses it was given.
    std::string Presses() { return EvaluateInPage(*web_, "String(window.presses)", kWait); }

    RunLoop loop_;  // on the real clock: WebKit answers over its own process
    ui::ScopedLoop scope_{loop_};
    RunLoopSource source_{loop_};
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::ViewController> portal_;
    std::shared_ptr<ui::WebView> web_;
    std::shared_ptr<ui::ViewController> cover_;
    std::shared_ptr<ui::Button> button_;
    int buttonTaps_ = 0;
    std::unique_ptr<Renderer> renderer_;
    GtkWidget* widget_ = nullptr;
};

TEST_F(RendererParkingTest, ThePageStaysRealizedUnderAScreenAndComesBackSizedToTheWindow) {
    RealizeCount count(widget_);

    ASSERT_TRUE(Present());
    // Under the screen: still realized, but not shown, so neither drawn nor given events.
    EXPECT_TRUE(gtk_widget_get_realized(widget_));
    EXPECT_FALSE(gtk_widget_get_mapped(widget_));
    EXPECT_FALSE(gtk_widget_is_drawable(widget_));
    EXPECT_EQ(nullptr, renderer_->NativeWidgetFor(*web_));
    EXPECT_EQ(nullptr, renderer_->WidgetFor(*web_));

    // The person makes the window 1.5 times as high and twice as wide meanwhile: 1.5 pixels per
    // point, the window 640 x 320 points.
    ResizeWindowTo(gtk_widget_get_window(renderer_->Window()), 960, 480);
    ASSERT_TRUE(IterateUntil([&] { return renderer_->Scale() == 1.5; }, kWait));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(gtk_widget_get_realized(widget_));
    EXPECT_FALSE(gtk_widget_get_mapped(widget_));

    ASSERT_TRUE(Dismiss());
    // The very same widget shows again, in the web view's box, never unrealized on the way.
    EXPECT_EQ(widget_, renderer_->NativeWidgetFor(*web_));
    EXPECT_EQ(renderer_->WidgetFor(*web_), gtk_widget_get_parent(widget_));
    EXPECT_TRUE(gtk_widget_get_realized(widget_));
    EXPECT_TRUE(gtk_widget_get_mapped(widget_));
    EXPECT_EQ(0, count.unrealized);
    EXPECT_EQ(0, count.realized);
    // At the window's new size: the page took the 160 points the window grew by, and its
    // widget has its frame in the window at 1.5 pixels per point.
    const ui::Rect inWindow = web_->ConvertRectTo(web_->Bounds(), nullptr);
    EXPECT_EQ(360, inWindow.Width());
    const int x = static_cast<int>(std::lround(inWindow.X() * 1.5));
    const int y = static_cast<int>(std::lround(inWindow.Y() * 1.5));
    const int width = static_cast<int>(std::lround(inWindow.MaxX() * 1.5)) - x;
    const int height = static_cast<int>(std::lround(inWindow.MaxY() * 1.5)) - y;
    GtkAllocation a{};
    ASSERT_TRUE(IterateUntil(
        [&] {
            gtk_widget_get_allocation(widget_, &a);
            return a.width == width && a.height == height;
        },
        3s))
        << a.x << "," << a.y << " " << a.width << " x " << a.height;
    EXPECT_EQ(x, a.x);
    EXPECT_EQ(y, a.y);
    EXPECT_DOUBLE_EQ(1.5, webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(widget_)));
    // The page lays itself out in the view's points.
    std::string pageWidth;
    IterateUntil(
        [&] {
            pageWidth = EvaluateInPage(*web_, "String(window.innerWidth)", kWait);
            return pageWidth == "360";
        },
        kWait);
    EXPECT_EQ("360", pageWidth);
}

TEST_F(RendererParkingTest, UnderAScreenThePageTakesNoClickAndAfterItThePageDoes) {
    ASSERT_TRUE(Present());
    // In the middle of where the page was: the screen's button takes the click, the page
    // hears nothing of it (given the time a press takes to reach the page's process).
    Click(140, 90);
    ASSERT_TRUE(IterateUntil([&] { return buttonTaps_ == 1; }, kWait));
    IterateFor(200ms);
    EXPECT_EQ("0", Presses());

    ASSERT_TRUE(Dismiss());
    // The press reaches the page's process over WebKit's channel, behind the pointer's move to
    // the click: on a loaded machine that takes longer than any fixed moment, so it is waited for.
    Click(140, 90);
    std::string presses;
    EXPECT_TRUE(IterateUntil(
        [&] {
            presses = Presses();
            return presses != "0";
        },
        kWait));
    EXPECT_EQ("1", presses);
    EXPECT_EQ(1, buttonTaps_);
}

TEST_F(RendererParkingTest, ParkedWidgetsGoWhenTheirViewIsFreedAndBeyondTheMostKept) {
    // Views that each hold a native widget, taken out of the portal one after another while
    // they live.
    std::vector<std::shared_ptr<ui::View>> holders;
    std::vector<GtkWidget*> widgets;
    std::vector<std::unique_ptr<Finalized>> finalized;
    for (size_t i = 0; i < Renderer::kMostParked + 1; ++i) {
        GtkWidget* widget = gtk_fixed_new();
        finalized.push_back(std::make_unique<Finalized>(widget));
        widgets.push_back(widget);
        auto holder = std::make_shared<ui::View>(ui::Rect(0, 0, 40, 40));
        holder->AddSubview(std::make_shared<NativeView>(widget, ui::Rect(0, 0, 40, 40)));
        portal_->GetView()->AddSubview(holder);
        holders.push_back(holder);
    }
    ASSERT_TRUE(Settle());
    for (GtkWidget* widget : widgets) ASSERT_TRUE(gtk_widget_get_realized(widget));
    for (const auto& holder : holders) {
        holder->RemoveFromSuperview();
        ASSERT_TRUE(Settle());
    }
    // The first one taken out went for real when one more than the most kept waited.
    EXPECT_FALSE(gtk_widget_get_realized(widgets[0]));
    EXPECT_EQ(nullptr, gtk_widget_get_parent(widgets[0]));
    for (size_t i = 1; i < widgets.size(); ++i) {
        EXPECT_TRUE(gtk_widget_get_realized(widgets[i])) << i;
    }

    // A view freed while parked: its widgets go, and with them the last reference to its
    // native widget.
    holders[1].reset();
    ASSERT_TRUE(IterateUntil([&] { return (*finalized[1])(); }, kWait));
    EXPECT_FALSE((*finalized[2])());

    // The one that went for real shows in new widgets when its view comes back.
    portal_->GetView()->AddSubview(holders[0]);
    ASSERT_TRUE(Settle());
    const ui::View& native = *holders[0]->Subviews().front();
    EXPECT_EQ(widgets[0], renderer_->NativeWidgetFor(native));
    EXPECT_TRUE(gtk_widget_get_mapped(widgets[0]));
}

// Another program's window passed over the page (a notification, a window dragged across): the
// page draws what it covered again, before a screen was presented over it and after the screen
// has gone, its widget parked meanwhile. Read back from the X server, as a person sees it.
TEST_F(RendererParkingTest, ThePageDrawsAgainWhatAnotherWindowCoveredBeforeAndAfterAScreen) {
    constexpr Rgb kPage{0x20, 0x80, 0xE0};
    // Inside the page, which lies at 40, 50 to 240, 170 of the window (under the status bar),
    // near its top: GTK drew the page's part of a partial redraw mirrored top to bottom.
    constexpr int kX = 60, kY = 55, kWidth = 120, kHeight = 40;
    auto passOver = [&] {
        GtkWidget* window = renderer_->Window();
        Rgb seen{};
        // A composited page's picture reaches the screen a while after the page is there.
        ASSERT_TRUE(WaitForPixel(window, kX + kWidth / 2, kY + kHeight / 2, kPage, kWait, &seen))
            << seen;
        const Rgb after =
            PixelAfterCovering(window, widget_, kX, kY, kWidth, kHeight, 0xE02030, kWait);
        EXPECT_TRUE(NearColour(kPage, after)) << after;
    };
    {
        SCOPED_TRACE("before a screen");
        passOver();
    }
    ASSERT_TRUE(Present());
    ASSERT_TRUE(Dismiss());
    {
        SCOPED_TRACE("after a screen");
        passOver();
    }
}

// A view back from parking above a sibling it used to lie under is drawn over that sibling.
TEST_F(RendererParkingTest, AViewBackFromParkingIsDrawnInItsNewPlaceAmongItsSiblings) {
    constexpr Rgb kRed{0xE0, 0x20, 0x30}, kGreen{0x20, 0xC0, 0x40};
    auto colour = [](const Rgb& c) { return ui::Color::FromRGB255(c.r, c.g, c.b); };
    // Two views that overlap from 300, 200 to 340, 240 in the window; the first holds a native
    // widget.
    auto holder = std::make_shared<ui::View>(ui::Rect(280, 180, 60, 60));
    holder->SetBackgroundColor(colour(kRed));
    holder->AddSubview(std::make_shared<NativeView>(gtk_fixed_new(), ui::Rect(0, 0, 10, 10)));
    auto sibling = std::make_shared<ui::View>(ui::Rect(300, 200, 60, 60));
    sibling->SetBackgroundColor(colour(kGreen));
    const auto& screen = portal_->GetView();
    screen->AddSubview(holder);
    screen->AddSubview(sibling);
    ASSERT_TRUE(Settle());
    const ui::Point overlap =
        renderer_->ToWindow(screen->ConvertPointTo(ui::Point(320, 220), nullptr));
    const int x = static_cast<int>(overlap.x), y = static_cast<int>(overlap.y);
    Pixbuf before = CaptureWindow(renderer_->Window());
    ASSERT_TRUE(before);
    ASSERT_EQ(kGreen, PixelAt(before.get(), x, y));

    holder->RemoveFromSuperview();
    ASSERT_TRUE(Settle());
    screen->AddSubview(holder);  // now over the sibling
    ASSERT_TRUE(Settle());
    Pixbuf after = CaptureWindow(renderer_->Window());
    ASSERT_TRUE(after);
    EXPECT_EQ(kRed, PixelAt(after.get(), x, y));
    EXPECT_EQ(kGreen, PixelAt(after.get(), x + 30, y + 30));  // the sibling alone
}

}  // namespace
}  // namespace ns::desktop
