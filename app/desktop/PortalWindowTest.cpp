// The portal screen in a GTK window on the test's Xvfb, with the portal page in WebKit, against
// the demo portal in this process: signed in, the page read back from WebKit, the side menu
// opened, and the pictures kept beside the test program as portal.png and portal-menu.png.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/LoginUDID.h"
#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/ZULAppDelegate.h"
#include "app/ZULColor.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/net/CookieStorage.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

Rgb ToRgb(const ui::Color& color) {
    return Rgb{static_cast<int>(color.R() * 255 + 0.5), static_cast<int>(color.G() * 255 + 0.5),
               static_cast<int>(color.B() * 255 + 0.5)};
}

class PortalWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // WebKit's compositing can leave an X picture of the page blank for a while.
        setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
        // This device is registered already, so the sign-in leads straight to the portal.
        const std::string accounts = directory_.File("accounts.json");
        FILE* file = std::fopen(accounts.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        std::fprintf(
            file,
            R"({"accounts": [{"login": "demo@zul.test", "password": "demo", "devices": ["%s"]}]})",
            LoginUDID::sharedLoginUDID().getUDID().c_str());
        std::fclose(file);
        ZulPortal::PortalServer::Options options;
        options.dataFolder = SV_PORTAL_DATA_DIR;
        options.mktitle = SV_MKTITLE_PATH;
        options.accountsFile = accounts;
        portal_ = std::make_unique<ZulPortal::PortalServer>(options);

        WebKitWebViewBackend::Install();
        source_ = std::make_unique<RunLoopSource>(ns::RunLoop::Main());
        app_ = std::make_unique<ui::Application>();
        delegate_ = std::make_shared<ZULAppDelegate>(portal_->Address());
        app_->SetDelegate(delegate_);
        ASSERT_TRUE(app_->FinishLaunching());
        app_->BecomeActive();
        renderer_ = std::make_unique<Renderer>();
    }

    void TearDown() override {
        renderer_.reset();
        app_.reset();
        delegate_.reset();
        source_.reset();
        ui::WebView::SetBackendFactory(nullptr);
        ns::CookieStorage::Shared().DeleteAllCookies();
    }

    std::shared_ptr<MainViewController2> Portal() const {
        return std::dynamic_pointer_cast<MainViewController2>(
            delegate_->window()->RootViewController());
    }

    bool Settle() {
        IterateFor(50ms);
        DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        const bool ok = drawn.WaitForDrawAfter(0, 3s);
        IteratePending();
        return ok;
    }

    Rgb ColourAt(const GdkPixbuf* shot, const ui::View& view, const ui::Point& point) const {
        const ui::Point p = renderer_->ToWindow(view.ConvertPointTo(point, nullptr));
        return PixelAt(shot, static_cast<int>(p.x), static_cast<int>(p.y));
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-portal-window-"};
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<RunLoopSource> source_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> delegate_;
    std::unique_ptr<Renderer> renderer_;
};

TEST_F(PortalWindowTest, SignedInThePortalShowsInWebKitWithTheMenuOpen) {
    auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
        delegate_->window()->RootViewController());
    ASSERT_NE(nullptr, navigation);
    auto login = std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController());
    ASSERT_NE(nullptr, login);
    ASSERT_TRUE(Settle());
    login->emailTextField()->SetText("demo@zul.test");
    login->passwordlTextField()->SetText("demo");
    login->signInAction();
    login.reset();
    navigation.reset();
    ASSERT_TRUE(IterateUntil([&] { return Portal() != nullptr; }, 10s));
    auto portal = Portal();
    ASSERT_TRUE(IterateUntil([&] { return portal->contentLoadingView()->IsHidden(); }, 10s));

    // The page is WebKit's, and WebKit shows the portal's home page.
    auto web = portal->contentViewWebView();
    ASSERT_NE(nullptr, dynamic_cast<WebKitWebViewBackend*>(&web->Backend()));
    std::string path;
    bool answered = false;
    web->EvaluateJavaScript("document.location.pathname", [&](const std::string& result) {
        path = result;
        answered = true;
    });
    ASSERT_TRUE(IterateUntil([&] { return answered; }, 5s));
    EXPECT_EQ("/home", path);

    // The page faded in over half a second.
    IterateFor(600ms);
    ASSERT_TRUE(Settle());
    Pixbuf page = CaptureWindow(renderer_->Window());
    ASSERT_NE(nullptr, page);
    std::string error;
    EXPECT_TRUE(SavePng(page.get(), PicturePath("portal.png"), &error)) << error;

    ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
    IterateFor(700ms);
    ASSERT_TRUE(portal->isMenuVisible());
    ASSERT_TRUE(Settle());
    Pixbuf shot = CaptureWindow(renderer_->Window());
    ASSERT_NE(nullptr, shot);
    EXPECT_TRUE(SavePng(shot.get(), PicturePath("portal-menu.png"), &error)) << error;

    // Home is the selected row, Series the next one; the pane is 75 points at the right.
    auto table = portal->menuTableView();
    auto home = table->CellForRow(ui::IndexPath(0, 0));
    auto series = table->CellForRow(ui::IndexPath(0, 1));
    ASSERT_NE(nullptr, home);
    ASSERT_NE(nullptr, series);
    EXPECT_EQ(ToRgb(ZULColor::zulTableViewCellSelectedBackgroundColor()),
              ColourAt(shot.get(), *home, ui::Point(200, 6)));
    EXPECT_EQ(ToRgb(ZULColor::zulTableViewCellBackgroundColor()),
              ColourAt(shot.get(), *series, ui::Point(200, 6)));
    EXPECT_EQ(ui::Rect(320 - 75, 0, 320, 480), portal->contentView()->Frame());
}

}  // namespace
