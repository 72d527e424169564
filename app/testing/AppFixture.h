#ifndef APP_TESTING_APPFIXTURE_H
#define APP_TESTING_APPFIXTURE_H
// Header-only: what every test world of the application's screens starts from. A manual-clock
// loop installed as the toolkit's loop and a driver on the application's key window; this
// thread stepping the main loop, so the default centre delivers (keyboard, life cycle) at once;
// what the application keeps between launches emptied (the sign-in kept in the user defaults,
// the cookies) and the alert and animation logs started afresh; the log lines of the test; and,
// when a test asks, the demo portal and the application launched against an address. Each
// world adds its own device, screens and servers.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LoginViewController.h"
#include "app/SarvelonQueue.h"
#include "app/ZULAppDelegate.h"
#include "app/testing/AnimationWatch.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/LogCapture.h"
#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/Bundle.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/AlertLog.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/TestLoop.h"
#include "portal/PortalServer.h"

namespace AppTestSupport {

// Round trips on the loopback take milliseconds; this is the most any wait may take, in the
// loop's seconds or in real ones. It only bounds a test that fails.
constexpr double kTimeout = 10;

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        // A sign-in kept by an earlier test would fill the form and change what a launch does.
        ns::UserDefaults& defaults = ns::UserDefaults::Standard();
        defaults.RemoveObjectForKey(LoginViewController::kUserLoginKey);
        defaults.RemoveObjectForKey(LoginViewController::kUserPasswordKey);
        ASSERT_TRUE(defaults.Synchronize());
        ui::AlertLog::Clear();
        ui::AnimationLog::Clear();
    }

    // Alerts are process-wide: one left shown would take the next test's touches.
    void TearDown() override {
        DismissAlerts();
        CloseApplication();
        ns::CookieStorage::Shared().DeleteAllCookies();
        // A closed player screen's engine stop runs on the bridge's thread: done before the
        // next test's engine or bridge comes.
        EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        DrainMain();
    }

    static void DismissAlerts() {
        for (const ui::AlertView::Ptr& alert : ui::AlertView::VisibleAlerts()) {
            alert->DismissWithClickedButtonIndex(0, false);
        }
    }

    // The demo portal in this process (its built-in accounts unless a file names others).
    void StartPortal(const std::string& accountsFile = std::string()) {
        portal_ = StartDemoPortal(accountsFile);
    }

    // The application launched with "ZUL Address" = address, reading its configuration from
    // `bundle` (null: the program's own). Launching reads the configuration and empties the
    // thumbnail cache, as every start does. The application of an earlier launch goes first:
    // applications stack, and the one made last must be the first to go.
    void StartApplication(const std::string& address, const ns::Bundle* bundle = nullptr) {
        CloseApplication();
        app_ = std::make_unique<ui::Application>();
        appDelegate_ = std::make_shared<ZULAppDelegate>(address, bundle);
        app_->SetDelegate(appDelegate_);
        ASSERT_TRUE(app_->FinishLaunching());
    }
    void CloseApplication() {
        app_.reset();
        appDelegate_.reset();
    }

    // Steps the loops without moving the clock until condition() holds (true) or `seconds` of
    // real time have passed (false): for what other threads do (the servers' answers, the movie
    // reader). The main loop is drained as well, since the bridge's events wait there.
    bool WaitReal(const std::function<bool()>& condition, double seconds = kTimeout) {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (std::chrono::steady_clock::now() < end) {
            DrainMain();
            loop_.Loop().RunOnce(std::chrono::milliseconds(5));
            if (condition()) return true;
        }
        return condition();
    }
    // Waits until the engine's bridge has done what the screens asked of it on its own thread
    // and its answers have been handled here (true), or `seconds` passed (false).
    bool WaitForEngine(double seconds = kTimeout) {
        return WaitReal(
            [] {
                return SarvelonQueue::Shared().IsIdle() &&
                       AppTestSupport::LoopIdle(ns::RunLoop::Main());
            },
            seconds);
    }
    static void DrainMain() {
        for (int i = 0; i < 3; ++i) ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
    }
    // The toolkit's loop has nothing left to do at the clock's time: no transfer in flight,
    // nothing posted, no timer due. Whatever was started has come back and been handled.
    bool LoopIdle() { return AppTestSupport::LoopIdle(loop_.Loop()); }

    // The messages of the test's log lines (without "Process[pid:tid] "), in order.
    std::vector<std::string> Logs() const { return logCapture_.Messages(""); }
    // The messages that begin with prefix ("[UDID]"), in order.
    std::vector<std::string> Messages(const std::string& prefix) const {
        return logCapture_.Messages(prefix);
    }
    int LogCount(const std::string& message) const {
        int n = 0;
        for (const std::string& line : Logs()) n += line == message;
        return n;
    }
    int LogsContaining(const std::string& text) const {
        int n = 0;
        for (const std::string& line : Logs()) n += line.find(text) != std::string::npos;
        return n;
    }

    // First, so that it is the last to go: lines logged while the rest goes are still taken.
    LogCapture logCapture_;
    ui::TestLoop loop_;
    // The application's key window unless a world points it at a tree of its own.
    ui::Driver driver_{nullptr, &loop_.Clock()};
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> appDelegate_;
};

}  // namespace AppTestSupport

#endif  // APP_TESTING_APPFIXTURE_H
