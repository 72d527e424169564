#ifndef PLATFORM_UI_NAVIGATION_CONTROLLER_H
#define PLATFORM_UI_NAVIGATION_CONTROLLER_H
// A container that shows a stack of controllers under a navigation bar: the top controller's
// view fills the rest of the container. The bar is a plain view until the navigation bar's code
// puts its own in the slot (SetNavigationBar); it is 44 points high, 32 in landscape on a
// phone, and spans the container's width.
//
// Pushing and popping swap the views at once; while the container has appeared the controller
// that leaves gets the disappear calls and the one that comes the appear calls (with the
// animated flag as given). Appearance and rotation calls to the container go on to the top
// controller, and the top controller decides which orientations the container supports.
// Main thread only.

#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

namespace ui {

constexpr double kNavigationBarHeight = 44;
constexpr double kNavigationBarLandscapePhoneHeight = 32;

class NavigationController : public ViewController {
public:
    // root may be null (an empty stack).
    explicit NavigationController(const ViewController::Ptr& root);

    const char* ClassName() const override { return "NavigationController"; }

    // Bottom first.
    const std::vector<ViewController::Ptr>& ViewControllers() const { return stack_; }
    ViewController::Ptr TopViewController() const;
    // False (with a log line) for a null controller or one that already has a place (in a
    // container, presented, or a window's root).
    bool PushViewController(const ViewController::Ptr& controller, bool animated);
    // The controller taken off; null when only the root (or nothing) is left.
    ViewController::Ptr PopViewController(bool animated);
    // The controllers taken off, bottom first.
    std::vector<ViewController::Ptr> PopToRootViewController(bool animated);

    // The bar view (made with the container's view).
    std::shared_ptr<View> NavigationBar();
    // Puts another view in the bar's slot; it takes the slot's frame. Null is ignored.
    void SetNavigationBar(const std::shared_ptr<View>& bar);
    bool IsNavigationBarHidden() const { return barHidden_; }
    void SetNavigationBarHidden(bool hidden, bool animated = false);

    bool ShouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) override;
    void WillAnimateRotationToInterfaceOrientation(InterfaceOrientation orientation,
                                                   double duration) override;

protected:
    void LoadView() override;
    ViewController::Ptr ForwardingChild() const override { return TopViewController(); }

private:
    // Frames the bar and the top view for the container's bounds and orientation.
    void LayoutBarAndTop();
    // Shows `incoming` instead of `outgoing` (either may be null).
    void Swap(const ViewController::Ptr& outgoing, const ViewController::Ptr& incoming,
              bool animated);

    std::vector<ViewController::Ptr> stack_;
    std::shared_ptr<View> bar_;
    bool barHidden_ = false;
};

}  // namespace ui

#endif  // PLATFORM_UI_NAVIGATION_CONTROLLER_H
