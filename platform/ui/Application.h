#ifndef PLATFORM_UI_APPLICATION_H
#define PLATFORM_UI_APPLICATION_H
// The application object: its delegate, life-cycle state, status bar, network-activity
// indicator, windows and interface orientation.
//
// Shared() is the application that was made last and still lives (ApplicationMain makes one;
// tests make their own on the stack, and the previous one comes back when it goes), or else a
// process-wide one made on first use and never destroyed.
//
// Life cycle: an application starts inactive. BecomeActive, ResignActive, EnterBackground and
// EnterForeground move it between active, inactive and background as the platform does: each
// tells the delegate and then posts its notification through ns::NotificationCenter::Default()
// with the application as sender, and each does nothing when the application is already where
// it would lead (no second notification for the same change). Entering the background from
// active resigns first; entering the foreground ends inactive, then becomes active. Terminate
// tells the delegate and posts its notification once, and stops ui::Loop().
//
// Every property change bumps Revision() so that a renderer can follow. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/UiDevice.h"

namespace ui {

class ViewController;
class Window;

extern const char* const kApplicationDidBecomeActiveNotification;
extern const char* const kApplicationWillResignActiveNotification;
extern const char* const kApplicationDidEnterBackgroundNotification;
extern const char* const kApplicationWillEnterForegroundNotification;
extern const char* const kApplicationWillTerminateNotification;

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

// The platform's numbering.
enum class StatusBarStyle { Default = 0, BlackTranslucent = 1, BlackOpaque = 2 };

// How long the interface takes to turn a quarter; half a turn takes twice as long.
constexpr double kRotationDuration = 0.3;

class Application {
public:
    // Becomes Shared() for its lifetime. Its interface orientation starts as the device is
    // held (portrait when the device reports none of the four).
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application& Shared();

    const std::shared_ptr<ApplicationDelegate>& Delegate() const { return delegate_; }
    void SetDelegate(std::shared_ptr<ApplicationDelegate> delegate);

    // --- life cycle
    ApplicationState State() const { return state_; }
    // Asks the delegate's DidFinishLaunching and returns its answer (true without a delegate).
    bool FinishLaunching(const ns::Value& options = ns::Value());
    void BecomeActive();
    void ResignActive();
    void EnterBackground();
    void EnterForeground();
    // The first call tells the delegate and posts the notification (active applications
    // resign first), keeps the exit code and stops ui::Loop(); later calls do nothing.
    void Terminate(int exitCode = 0);
    bool IsTerminating() const { return terminating_; }
    int ExitCode() const { return exitCode_; }
    // Hands a URL to the delegate; false without a delegate.
    bool OpenURL(const std::string& url);

    // --- status bar and indicator
    bool IsStatusBarHidden() const { return statusBarHidden_; }
    // The windows frame their controllers' views again when the bar comes or goes.
    void SetStatusBarHidden(bool hidden, bool animated = false);
    StatusBarStyle GetStatusBarStyle() const { return statusBarStyle_; }
    void SetStatusBarStyle(StatusBarStyle style, bool animated = false);
    // Whether the last change of either was asked to be animated (for the renderer).
    bool StatusBarChangeAnimated() const { return statusBarAnimated_; }
    // The bar's frame on the screen; empty while it is hidden.
    Rect StatusBarFrame() const;
    bool IsNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
    void SetNetworkActivityIndicatorVisible(bool visible);

    // --- windows
    // Windows that were made visible and still live, in the order they first were.
    std::vector<std::shared_ptr<Window>> Windows() const;
    std::shared_ptr<Window> KeyWindow() const { return keyWindow_.lock(); }
    // Window::MakeKeyAndVisible calls these.
    void AddWindow(const std::shared_ptr<Window>& window);
    void SetKeyWindow(const std::shared_ptr<Window>& window);

    // --- interface orientation
    InterfaceOrientation StatusBarOrientation() const { return orientation_; }
    // Turns the interface (UiDevice::Rotate calls it). The controller the user sees in the key
    // window is asked first (ShouldAutorotateToInterfaceOrientation); a refusal stops there
    // (false). Otherwise the visible controller of each window gets, in this order:
    // WillRotateToInterfaceOrientation; then, inside an animation block of the rotation's
    // duration after the windows took the screen's new size, WillAnimateRotation...; and
    // DidRotateFromInterfaceOrientation when that duration has passed on ui::Loop() (at once
    // when another rotation starts before). The same orientation again does nothing (true).
    bool RotateInterface(InterfaceOrientation orientation);

    uint64_t Revision() const { return revision_; }

private:
    struct DefaultTag {};
    explicit Application(DefaultTag);
    void Changed() { ++revision_; }
    void Post(const char* name);
    void FinishRotation();

    Application* previous_ = nullptr;
    bool installed_ = false;

    std::shared_ptr<ApplicationDelegate> delegate_;
    ApplicationState state_ = ApplicationState::Inactive;
    bool terminating_ = false;
    int exitCode_ = 0;

    bool statusBarHidden_ = false;
    StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
    bool statusBarAnimated_ = false;
    bool networkActivityIndicatorVisible_ = false;

    std::vector<std::weak_ptr<Window>> windows_;
    std::weak_ptr<Window> keyWindow_;

    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
    // The rotation whose did-rotate calls are still to come.
    struct PendingRotation {
        InterfaceOrientation from;
        std::vector<std::weak_ptr<ViewController>> controllers;
        uint64_t timer = 0;
        ns::RunLoop* loop = nullptr;  // the toolkit loop the timer is on
    };
    std::optional<PendingRotation> pendingRotation_;

    uint64_t revision_ = 0;
};

}  // namespace ui

#endif  // PLATFORM_UI_APPLICATION_H
