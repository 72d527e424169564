#include "platform/ui/Application.h"

#include <algorithm>

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Loop.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {

const char* const kApplicationDidBecomeActiveNotification = "ui.Application.DidBecomeActive";
const char* const kApplicationWillResignActiveNotification = "ui.Application.WillResignActive";
const char* const kApplicationDidEnterBackgroundNotification = "ui.Application.DidEnterBackground";
const char* const kApplicationWillEnterForegroundNotification =
    "ui.Application.WillEnterForeground";
const char* const kApplicationWillTerminateNotification = "ui.Application.WillTerminate";

namespace {

Application* g_current = nullptr;  // the last application made that still lives

InterfaceOrientation StartOrientation() {
    InterfaceOrientation o = InterfaceOrientation::Portrait;
    InterfaceOrientationFor(UiDevice::Current().Orientation(), &o);
    return o;
}

}  // namespace

Application::Application() : previous_(g_current), installed_(true) {
    g_current = this;
    orientation_ = StartOrientation();
}

Application::Application(DefaultTag) { orientation_ = StartOrientation(); }

Application::~Application() {
    if (pendingRotation_ && pendingRotation_->timer != 0) {
        pendingRotation_->loop->CancelTimer(pendingRotation_->timer);
    }
    if (installed_ && g_current == this) {
        g_current = previous_;
    }
}

Application& Application::Shared() {
    if (g_current != nullptr) {
        return *g_current;
    }
    static Application* fallback = new Application(DefaultTag{});  // never destroyed
    return *fallback;
}

void Application::SetDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
}

// --- life cycle

void Application::Post(const char* name) { ns::NotificationCenter::Default().Post(name, this); }

bool Application::FinishLaunching(const ns::Value& options) {
    return delegate_ ? delegate_->DidFinishLaunching(options) : true;
}

void Application::BecomeActive() {
    if (state_ == ApplicationState::Active || terminating_) {
        return;
    }
    if (state_ == ApplicationState::Background) {
        EnterForeground();  // ends by becoming active
        return;
    }
    state_ = ApplicationState::Active;
    Changed();
    if (delegate_) {
        delegate_->DidBecomeActive();
    }
    Post(kApplicationDidBecomeActiveNotification);
}

void Application::ResignActive() {
    if (state_ != ApplicationState::Active) {
        return;
    }
    state_ = ApplicationState::Inactive;
    Changed();
    if (delegate_) {
        delegate_->WillResignActive();
    }
    Post(kApplicationWillResignActiveNotification);
}

void Application::EnterBackground() {
    if (state_ == ApplicationState::Background || terminating_) {
        return;
    }
    ResignActive();
    state_ = ApplicationState::Background;
    Changed();
    if (delegate_) {
        delegate_->DidEnterBackground();
    }
    Post(kApplicationDidEnterBackgroundNotification);
}

void Application::EnterForeground() {
    if (state_ != ApplicationState::Background || terminating_) {
        return;
    }
    state_ = ApplicationState::Inactive;
    Changed();
    if (delegate_) {
        delegate_->WillEnterForeground();
    }
    Post(kApplicationWillEnterForegroundNotification);
    BecomeActive();
}

void Application::Terminate(int exitCode) {
    if (terminating_) {
        return;
    }
    ResignActive();
    terminating_ = true;
    exitCode_ = exitCode;
    Changed();
    if (delegate_) {
        delegate_->WillTerminate();
    }
    Post(kApplicationWillTerminateNotification);
    Loop().Stop();
}

bool Application::OpenURL(const std::string& url) {
    return delegate_ ? delegate_->HandleOpenURL(url) : false;
}

// --- status bar and indicator

void Application::SetStatusBarHidden(bool hidden, bool animated) {
    if (hidden == statusBarHidden_) {
        return;
    }
    statusBarHidden_ = hidden;
    statusBarAnimated_ = animated;
    Changed();
    for (const std::shared_ptr<Window>& w : Windows()) {
        w->LayoutControllerViews();
    }
}

void Application::SetStatusBarStyle(StatusBarStyle style, bool animated) {
    if (style == statusBarStyle_) {
        return;
    }
    statusBarStyle_ = style;
    statusBarAnimated_ = animated;
    Changed();
}

Rect Application::StatusBarFrame() const {
    if (statusBarHidden_) {
        return Rect();
    }
    return Rect(0, 0, Screen::Main().Bounds().Width(), kStatusBarHeight);
}

void Application::SetNetworkActivityIndicatorVisible(bool visible) {
    if (visible == networkActivityIndicatorVisible_) {
        return;
    }
    networkActivityIndicatorVisible_ = visible;
    Changed();
}

// --- windows

std::vector<std::shared_ptr<Window>> Application::Windows() const {
    std::vector<std::shared_ptr<Window>> out;
    for (const auto& weak : windows_) {
        if (auto w = weak.lock()) {
            out.push_back(std::move(w));
        }
    }
    return out;
}

void Application::AddWindow(const std::shared_ptr<Window>& window) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                  [](const std::weak_ptr<Window>& w) { return w.expired(); }),
                   windows_.end());
    for (const auto& weak : windows_) {
        if (weak.lock() == window) {
            return;
        }
    }
    windows_.push_back(window);
    Changed();
}

void Application::SetKeyWindow(const std::shared_ptr<Window>& window) {
    if (keyWindow_.lock() == window) {
        return;
    }
    keyWindow_ = window;
    Changed();
}

// --- interface orientation

bool Application::RotateInterface(InterfaceOrientation orientation) {
    if (orientation == orientation_) {
        return true;
    }
    FinishRotation();  // the did-rotate calls of a rotation still running come first
    if (std::shared_ptr<Window> key = KeyWindow()) {
        ViewController::Ptr top = key->TopViewController();
        if (top && !top->ShouldAutorotateToInterfaceOrientation(orientation)) {
            return false;
        }
    }
    const InterfaceOrientation from = orientation_;
    // Between the two portrait or the two landscape orientations the interface turns half
    // round.
    const double duration =
        IsLandscape(from) == IsLandscape(orientation) ? 2 * kRotationDuration : kRotationDuration;
    std::vector<std::shared_ptr<Window>> windows;
    std::vector<ViewController::Ptr> targets;
    for (const std::shared_ptr<Window>& w : Windows()) {
        if (w->IsHidden()) {
            continue;
        }
        windows.push_back(w);
        if (ViewController::Ptr top = w->TopViewController()) {
            targets.push_back(top);
        }
    }
    for (const ViewController::Ptr& vc : targets) {
        vc->SendWillRotate(orientation, duration);
    }
    orientation_ = orientation;
    Changed();
    const Rect screen = Screen::Main().Bounds();
    Animate(
        duration, 0, AnimationOptions::None,
        [&] {
            for (const std::shared_ptr<Window>& w : windows) {
                w->SetFrame(screen);
                w->LayoutControllerViews();
            }
            for (const ViewController::Ptr& vc : targets) {
                vc->SendWillAnimateRotation(orientation, duration);
            }
        },
        nullptr);
    PendingRotation pending;
    pending.from = from;
    for (const ViewController::Ptr& vc : targets) {
        pending.controllers.push_back(vc);
    }
    pending.loop = &Loop();
    pendingRotation_ = std::move(pending);
    pendingRotation_->timer =
        pendingRotation_->loop->AfterDelay(SecondsToDuration(duration), [this] {
            if (pendingRotation_) {
                pendingRotation_->timer = 0;
            }
            FinishRotation();
        });
    return true;
}

void Application::FinishRotation() {
    if (!pendingRotation_) {
        return;
    }
    PendingRotation pending = std::move(*pendingRotation_);
    pendingRotation_.reset();
    if (pending.timer != 0) {
        pending.loop->CancelTimer(pending.timer);
    }
    for (const auto& weak : pending.controllers) {
        if (ViewController::Ptr vc = weak.lock()) {
            vc->SendDidRotate(pending.from);
        }
    }
}

}  // namespace ui
