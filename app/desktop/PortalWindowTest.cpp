// The portal screen in a GTK window on the test's Xvfb, with the portal page in WebKit, against
// the demo portal in this process: signed in, the page read back from WebKit, the side menu
// opened, and the pictures kept beside the test program as portal.png and portal-menu.png; a
// web process that dies shows the error page, and a menu choice brings the portal back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/LoginViewController.h"
#include "app/MainViewController2.h"
#include "app/ZULColor.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

Rgb ToRgb(const ui::Color& color) {
    return Rgb{static_cast<int>(color.R() * 255 + 0.5), static_cast<int>(color.G() * 255 + 0.5),
               static_cast<int>(color.B() * 255 + 0.5)};
}

class PortalWindowTest : public AppWindowTestBase {
protected:
    void SetUp() override {
        // WebKit's compositing can leave an X picture of the page blank for a while.
        setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
        // This device is registered already, so the sign-in leads straight to the portal.
        const std::string accounts = directory_.File("accounts.json");
        ASSERT_TRUE(AppTestSupport::WriteAccountsWithThisDevice(accounts));
        portal_ = AppTestSupport::StartDemoPortal(accounts);

        WebKitWebViewBackend::Install();
        Launch();
    }

    void TearDown() override {
        Close();
        ui::WebView::SetBackendFactory(nullptr);
    }

    std::shared_ptr<MainViewController2> Portal() const {
        return std::dynamic_pointer_cast<MainViewController2>(
            delegate_->window()->RootViewController());
    }

    // The page's answer to a script ("" when none came).
    static std::string Eval(ui::WebView& web, const std::string& script) {
        std::string result;
        bool answered = false;
        web.EvaluateJavaScript(script, [&](const std::string& r) {
            result = r;
            answered = true;
        });
        IterateUntil([&] { return answered; }, 10s);
        return result;
    }

    // Signs in as the demo subscriber; the portal's first page is there when this returns.
    void SignIn() {
        auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(
            delegate_->window()->RootViewController());
        ASSERT_NE(nullptr, navigation);
        auto login =
            std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController());
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
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-portal-window-"};
};

TEST_F(PortalWindowTest, SignedInThePortalShowsInWebKitWithTheMenuOpen) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto portal = Portal();

    // The page is WebKit's, and WebKit shows the portal's home page.
    auto web = portal->contentViewWebView();
    ASSERT_NE(nullptr, dynamic_cast<WebKitWebViewBackend*>(&web->Backend()));
    std::string path;
    bool answered = false;
    web->EvaluateJavaScript("document.location.pathname", [&](const std::string& result) {
        path = result;
        answered = true;
    });
    ASSERT_TRUE(IterateUntil([&] { return answered; }, 10s));
    EXPECT_EQ("/home", path);

    // The page has faded in (over half a second) once the screen is at rest.
    ASSERT_TRUE(Settle());
    EXPECT_EQ(1.0, web->Alpha());
    Pixbuf page = Capture("portal.png");
    ASSERT_NE(nullptr, page);

    ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
    ASSERT_TRUE(IterateUntil([&] { return portal->isMenuVisible(); }, kRestTimeout));
    // The menu has slid open.
    ASSERT_TRUE(Settle());
    Pixbuf shot = Capture("portal-menu.png");
    ASSERT_NE(nullptr, shot);

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

TEST_F(PortalWindowTest, AWebProcessThatEndsShowsTheErrorPageAndAMenuChoiceBringsThePortalBack) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    auto* backend = dynamic_cast<WebKitWebViewBackend*>(&web->Backend());
    ASSERT_NE(nullptr, backend);
    ASSERT_TRUE(IterateUntil([&] { return !web->IsLoading(); }, 10s));
    ASSERT_EQ("/home", Eval(*web, "document.location.pathname"));

    // The page's process goes; the pane shows the error page with the reason in its text.
    webkit_web_view_terminate_web_process(backend->View());
    ASSERT_TRUE(IterateUntil(
        [&] {
            return !web->IsLoading() &&
                   web->Request().GetURL().LastPathComponent() == "WebError.html";
        },
        10s));
    ASSERT_TRUE(portal->contentViewWebViewLastError().has_value());
    EXPECT_EQ(ns::Error::kNetworkConnectionLost, portal->contentViewWebViewLastError()->GetCode());
    EXPECT_NE(std::string::npos,
              Eval(*web, "document.body.textContent")
                  .find("The web page's process ended: the application ended it."));
    EXPECT_EQ(portal, Portal());

    // Home from the menu shows the portal again, in a new process.
    ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
    ASSERT_TRUE(IterateUntil([&] { return portal->isMenuVisible(); }, kRestTimeout));
    ASSERT_TRUE(WaitUntilAtRest());
    ui::Driver driver(delegate_->window());
    ASSERT_TRUE(driver.SelectRow(portal->menuTableView(), ui::IndexPath(0, 0)));
    ASSERT_TRUE(IterateUntil(
        [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/home"; }, 10s));
    EXPECT_EQ("/home", Eval(*web, "document.location.pathname"));
}

}  // namespace
