#ifndef APP_LOGINTESTFIXTURE_H
#define APP_LOGINTESTFIXTURE_H
// The sign-in tests' world: the demo portal on a loopback port of its own, the application
// launched against it on a manual-clock loop (a portrait phone named "Ann & Bob=1", an
// "iPhone" on system "6.1"), its log lines, and a driver on its key window.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/ZULAppDelegate.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/SignInScreen.h"
#include "platform/core/LogWriter.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/AlertLog.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"

namespace LoginTest {

// Sign-in goes through two round trips on the loopback; far more than they take.
constexpr double kTimeout = 10;

class LoginTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        // This thread steps the main loop, so the default centre delivers (keyboard, life
        // cycle) at once.
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        ui::UiDevice& device = ui::UiDevice::Current();
        device.SetIdiom(ui::UserInterfaceIdiom::Phone);
        device.SetOrientation(ui::DeviceOrientation::Portrait);
        device.SetName("Ann & Bob=1");
        device.SetModel("iPhone");
        device.SetSystemVersion("6.1");
        ns::LogWriter::Shared().SetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logs_.push_back(line);
        });
        ns::UserDefaults& defaults = ns::UserDefaults::Standard();
        defaults.RemoveObjectForKey(LoginViewController::kUserLoginKey);
        defaults.RemoveObjectForKey(LoginViewController::kUserPasswordKey);
        ASSERT_TRUE(defaults.Synchronize());
        ui::AlertLog::Clear();
        ui::AnimationLog::Clear();
    }

    void TearDown() override {
        for (const ui::AlertView::Ptr& alert : ui::AlertView::VisibleAlerts()) {
            alert->DismissWithClickedButtonIndex(0, false);
        }
        app_.reset();
        delegate_.reset();
        ns::LogWriter::Shared().SetSink(nullptr);
        ns::CookieStorage::Shared().DeleteAllCookies();
    }

    void StartPortal(const std::string& accountsFile = std::string()) {
        portal_ = AppTestSupport::StartDemoPortal(accountsFile);
    }

    // Launches the application against the portal: the sign-in screen at the window's root.
    void Launch() {
        // The application of an earlier launch goes first: applications stack, and the one
        // made last must be the first to go.
        delegate_.reset();
        app_.reset();
        app_ = std::make_unique<ui::Application>();
        delegate_ = std::make_shared<ZULAppDelegate>(portal_->Address());
        app_->SetDelegate(delegate_);
        ASSERT_TRUE(app_->FinishLaunching());
        app_->BecomeActive();
        ASSERT_NE(nullptr, Login());
    }

    std::shared_ptr<LoginViewController> Login() const {
        return AppTestSupport::SignInScreen(*delegate_);
    }
    // The sign-in screen is no longer shown (the portal is).
    bool LeftSignIn() const { return Login() == nullptr; }

    // Types into each field as a person would: a tap, then the keys.
    void Fill(const std::string& email, const std::string& password) {
        ASSERT_TRUE(driver_.Tap("emailTextField"));
        if (!email.empty()) {
            ASSERT_TRUE(driver_.Type(email));
        }
        ASSERT_TRUE(driver_.Tap("passwordlTextField"));
        if (!password.empty()) {
            ASSERT_TRUE(driver_.Type(password));
        }
    }

    // Fills the form, taps the button and waits for an alert or the portal.
    bool SignIn(const std::string& email, const std::string& password) {
        Fill(email, password);
        if (!driver_.Tap("signInButton")) return false;
        return driver_.WaitFor(
            [this] { return ui::AlertView::TopVisibleAlert() != nullptr || LeftSignIn(); },
            kTimeout);
    }

    // The form is usable again: fields shown and enabled, the spinner gone.
    void ExpectFormBack() {
        auto login = Login();
        ASSERT_NE(nullptr, login);
        // The form comes back inside a 0.25 s animation block.
        driver_.Advance(0.3);
        EXPECT_TRUE(login->emailTextField()->IsEnabled());
        EXPECT_TRUE(login->passwordlTextField()->IsEnabled());
        EXPECT_TRUE(login->signInButton()->IsEnabled());
        EXPECT_EQ(1.0, login->emailTextField()->Alpha());
        EXPECT_EQ(1.0, login->passwordlTextField()->Alpha());
        EXPECT_EQ(0.0, login->loadingView()->Alpha());
        EXPECT_FALSE(login->loadingView()->isSpinning());
    }

    std::string TopAlertTitle() const {
        ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
        return alert ? alert->Title() : std::string("(none)");
    }

    std::vector<std::string> Logs() {
        std::lock_guard<std::mutex> lock(logMutex_);
        return logs_;
    }
    int LogsContaining(const std::string& text) {
        int n = 0;
        for (const std::string& line : Logs()) n += line.find(text) != std::string::npos;
        return n;
    }

    ui::TestLoop loop_;
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> delegate_;
    ui::Driver driver_{nullptr, &loop_.Clock()};
    std::mutex logMutex_;
    std::vector<std::string> logs_;
};

}  // namespace LoginTest

#endif  // APP_LOGINTESTFIXTURE_H
