#include "platform/ui/Application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/ui/ApplicationMain.h"
#include "platform/ui/ControllerTestSupport.h"

namespace ui {
namespace {

using Calls = std::vector<std::string>;

class RecordingDelegate : public ApplicationDelegate {
public:
    explicit RecordingDelegate(std::shared_ptr<Calls> calls) : calls_(std::move(calls)) {}
    std::function<void()> onLaunch;

    bool DidFinishLaunching(const ns::Value& options) override {
        calls_->push_back(options.IsDictionary() ? "didFinishLaunching({})" : "didFinishLaunching");
        if (onLaunch) {
            onLaunch();
        }
        return true;
    }
    void DidBecomeActive() override { calls_->push_back("didBecomeActive"); }
    void WillResignActive() override { calls_->push_back("willResignActive"); }
    void DidEnterBackground() override { calls_->push_back("didEnterBackground"); }
    void WillEnterForeground() override { calls_->push_back("willEnterForeground"); }
    void WillTerminate() override { calls_->push_back("willTerminate"); }
    bool HandleOpenURL(const std::string& url) override {
        calls_->push_back("open " + url);
        return url.rfind("zul:", 0) == 0;
    }

private:
    std::shared_ptr<Calls> calls_;
};

class ApplicationTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        // This thread steps the main loop, so the default centre delivers at once.
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        app_->SetDelegate(std::make_shared<RecordingDelegate>(calls_));
        for (const char* name :
             {kApplicationDidBecomeActiveNotification, kApplicationWillResignActiveNotification,
              kApplicationDidEnterBackgroundNotification,
              kApplicationWillEnterForegroundNotification, kApplicationWillTerminateNotification}) {
            tokens_.push_back(ns::NotificationCenter::Default().AddObserver(
                name, [this](const ns::Notification& n) { posted_.push_back(n.name); },
                app_.get()));
        }
    }
    void TearDown() override {
        for (uint64_t token : tokens_) {
            ns::NotificationCenter::Default().RemoveObserver(token);
        }
        ControllerTest::TearDown();
    }
    // Delegate calls and notifications so far, emptied.
    Calls TakeCalls() {
        Calls out;
        out.swap(*calls_);
        return out;
    }
    Calls TakePosted() {
        Calls out;
        out.swap(posted_);
        return out;
    }

    std::shared_ptr<Calls> calls_ = std::make_shared<Calls>();
    Calls posted_;
    std::vector<uint64_t> tokens_;
};

TEST_F(ApplicationTest, ResignActivePostsItsNotificationAndTellsTheDelegateOnce) {
    EXPECT_EQ(app_->State(), ApplicationState::Inactive);
    app_->ResignActive();  // not active yet: nothing to resign
    EXPECT_TRUE(TakePosted().empty());
    app_->BecomeActive();
    EXPECT_EQ(TakeCalls(), (Calls{"didBecomeActive"}));
    EXPECT_EQ(TakePosted(), (Calls{kApplicationDidBecomeActiveNotification}));

    app_->ResignActive();
    EXPECT_EQ(app_->State(), ApplicationState::Inactive);
    EXPECT_EQ(TakeCalls(), (Calls{"willResignActive"}));
    EXPECT_EQ(TakePosted(), (Calls{kApplicationWillResignActiveNotification}));
    app_->ResignActive();
    EXPECT_TRUE(TakeCalls().empty());
    EXPECT_TRUE(TakePosted().empty());
}

TEST_F(ApplicationTest, BackgroundAndForegroundPassThroughInactive) {
    app_->BecomeActive();
    TakeCalls();
    TakePosted();
    app_->EnterBackground();
    EXPECT_EQ(app_->State(), ApplicationState::Background);
    EXPECT_EQ(TakeCalls(), (Calls{"willResignActive", "didEnterBackground"}));
    EXPECT_EQ(TakePosted(), (Calls{kApplicationWillResignActiveNotification,
                                   kApplicationDidEnterBackgroundNotification}));
    app_->EnterForeground();
    EXPECT_EQ(app_->State(), ApplicationState::Active);
    EXPECT_EQ(TakeCalls(), (Calls{"willEnterForeground", "didBecomeActive"}));
    EXPECT_EQ(TakePosted(), (Calls{kApplicationWillEnterForegroundNotification,
                                   kApplicationDidBecomeActiveNotification}));
    app_->EnterForeground();  // already there
    EXPECT_TRUE(TakePosted().empty());
}

TEST_F(ApplicationTest, TerminateHappensOnceAndURLsGoToTheDelegate) {
    EXPECT_TRUE(app_->OpenURL("zul://title/42"));
    EXPECT_FALSE(app_->OpenURL("http://elsewhere/"));
    EXPECT_EQ(TakeCalls(), (Calls{"open zul://title/42", "open http://elsewhere/"}));

    app_->BecomeActive();
    TakeCalls();
    TakePosted();
    app_->Terminate(4);
    app_->Terminate(5);
    EXPECT_TRUE(app_->IsTerminating());
    EXPECT_EQ(app_->ExitCode(), 4);
    EXPECT_EQ(TakeCalls(), (Calls{"willResignActive", "willTerminate"}));
    EXPECT_EQ(TakePosted(), (Calls{kApplicationWillResignActiveNotification,
                                   kApplicationWillTerminateNotification}));
    app_->BecomeActive();  // a terminating application stays where it is
    EXPECT_TRUE(TakeCalls().empty());
}

TEST_F(ApplicationTest, StatusBarAndIndicatorChangesAreSeenByRevision) {
    const uint64_t before = app_->Revision();
    app_->SetNetworkActivityIndicatorVisible(true);
    app_->SetStatusBarStyle(StatusBarStyle::BlackOpaque, false);
    EXPECT_TRUE(app_->IsNetworkActivityIndicatorVisible());
    EXPECT_EQ(static_cast<int>(app_->GetStatusBarStyle()), 2);
    EXPECT_EQ(app_->Revision(), before + 2);
    app_->SetNetworkActivityIndicatorVisible(true);  // no change
    EXPECT_EQ(app_->Revision(), before + 2);
}

TEST(ApplicationMainTest, LaunchesActivatesAndRunsUntilTerminated) {
    TestLoop loop;
    auto calls = std::make_shared<Calls>();
    Application* seen = nullptr;
    int code = ApplicationMain(0, nullptr, [&] {
        auto d = std::make_shared<RecordingDelegate>(calls);
        d->onLaunch = [&] {
            seen = &Application::Shared();
            // Terminates from the loop, once it runs.
            Loop().Post([] { Application::Shared().Terminate(3); });
        };
        return d;
    });
    EXPECT_EQ(code, 3);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(*calls, (Calls{"didFinishLaunching({})", "didBecomeActive", "willResignActive",
                             "willTerminate"}));
    // The application ApplicationMain made is gone; Shared() is another one now.
    EXPECT_NE(&Application::Shared(), seen);
}

TEST(ApplicationMainTest, ATerminateDuringLaunchEndsAtOnceAndNoDelegateIsAFailure) {
    TestLoop loop;
    auto calls = std::make_shared<Calls>();
    int code = ApplicationMain(0, nullptr, [&] {
        auto d = std::make_shared<RecordingDelegate>(calls);
        d->onLaunch = [] { Application::Shared().Terminate(0); };
        return d;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(*calls, (Calls{"didFinishLaunching({})", "willTerminate"}));

    std::vector<std::string> lines;
    ns::LogWriter::Shared().SetSink([&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(ApplicationMain(0, nullptr, [] { return nullptr; }), 1);
    EXPECT_EQ(ApplicationMain(0, nullptr, nullptr), 1);
    ns::LogWriter::Shared().SetSink(nullptr);
    EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
}  // namespace ui
