#ifndef APP_DESKTOP_APPWINDOWTESTBASE_H
#define APP_DESKTOP_APPWINDOWTESTBASE_H
// The application's window tests' world: the demo portal in this process, the application
// started against it as `zul` starts it (the models' loop inside GLib), the GTK window that
// mirrors its models, and what a test needs to look at that window: waiting until the screen is
// at rest and the window has drawn it, pictures of it kept beside the test program, and the
// colour of a view's point.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/ZULAppDelegate.h"
#include "app/desktop/TickingWait.h"
#include "app/testing/AnimationWatch.h"
#include "app/testing/DemoPortal.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/net/CookieStorage.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "portal/PortalServer.h"

class AppWindowTestBase : public ::testing::Test {
protected:
    // The application made and launched against the portal (or the portal `address`), no
    // window shown yet.
    void StartApplication(const std::string& address = std::string()) {
        source_ = std::make_unique<ns::desktop::RunLoopSource>(ns::RunLoop::Main());
        app_ = std::make_unique<ui::Application>();
        delegate_ =
            std::make_shared<ZULAppDelegate>(address.empty() ? portal_->Address() : address);
        app_->SetDelegate(delegate_);
        ASSERT_TRUE(app_->FinishLaunching());
    }
    // The application started, active, and shown in its window.
    void Launch(const std::string& address = std::string()) {
        ASSERT_NO_FATAL_FAILURE(StartApplication(address));
        app_->BecomeActive();
        renderer_ = std::make_unique<ns::desktop::Renderer>();
    }
    // The window, the application and its loop's source go, in that order; no cookie stays.
    void Close() {
        renderer_.reset();
        app_.reset();
        delegate_.reset();
        source_.reset();
        ns::CookieStorage::Shared().DeleteAllCookies();
    }
    static void DismissAlerts() {
        for (const ui::AlertView::Ptr& alert : ui::AlertView::VisibleAlerts()) {
            alert->DismissWithClickedButtonIndex(0, false);
        }
    }

    // Waits until the screen has come to rest: its animations over, their completions run,
    // nothing in flight or due on the models' loop (AnimationWatch).
    bool WaitUntilAtRest() {
        return AppTestSupport::IterateUntilTicking([this] { return animations_.AtRest(); },
                                                   kRestTimeout);
    }
    // Waits until the models' loop has nothing left to do now (what a closing started has run).
    static bool WaitUntilLoopIdle() {
        return ns::desktop::IterateUntil(
            [] { return AppTestSupport::LoopIdle(ns::RunLoop::Main()); }, kRestTimeout);
    }
    // The screen at rest, then drawn by the window.
    bool Settle() {
        using namespace std::chrono_literals;
        const bool atRest = WaitUntilAtRest();
        ns::desktop::DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        const bool drew = drawn.WaitForDrawAfter(0, 3s);
        ns::desktop::IteratePending();
        return atRest && drew;
    }
    // The window's picture once its web pages have reached the screen, kept beside the test
    // program as `name`.
    ns::desktop::Pixbuf Capture(const std::string& name) {
        EXPECT_TRUE(ns::desktop::WaitUntilWebViewsShow(renderer_->Window(), kRestTimeout))
            << "the web page did not reach the screen in " << name;
        ns::desktop::Pixbuf shot = ns::desktop::CaptureWindow(renderer_->Window());
        std::string error;
        if (shot) {
            EXPECT_TRUE(ns::desktop::SavePng(shot.get(), ns::desktop::PicturePath(name), &error))
                << error;
        }
        return shot;
    }
    // The window's picture once it has settled.
    ns::desktop::Pixbuf Shot(const std::string& name) {
        EXPECT_TRUE(Settle());
        return Capture(name);
    }
    // The window pixel at a point of a view.
    ui::Point Pixel(const ui::View& view, const ui::Point& point) const {
        return renderer_->ToWindow(view.ConvertPointTo(point, nullptr));
    }
    ns::desktop::Rgb ColourAt(const GdkPixbuf* shot, const ui::View& view,
                              const ui::Point& point) const {
        const ui::Point p = Pixel(view, point);
        return ns::desktop::PixelAt(shot, static_cast<int>(p.x), static_cast<int>(p.y));
    }

    // Only bounds a test that fails.
    static constexpr std::chrono::milliseconds kRestTimeout{10000};

    AppTestSupport::AnimationWatch animations_;
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<ns::desktop::RunLoopSource> source_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> delegate_;
    std::unique_ptr<ns::desktop::Renderer> renderer_;
};

#endif  // APP_DESKTOP_APPWINDOWTESTBASE_H
