#ifndef PLATFORM_UI_WINDOW_H
#define PLATFORM_UI_WINDOW_H
// The window: the root of a view tree on the screen, showing its root view controller's view
// and the views of the controllers presented over it (each a direct subview, framed by
// ContentFrameFor).
//
// A window starts hidden. MakeKeyAndVisible shows it, makes it the application's key window
// and sends the appear calls to its root controller. Replacing the root controller while the
// window is visible sends the old one (and everything it presents, topmost first) the disappear
// calls and the new one the appear calls; the window then drops the old one, which is freed
// unless someone else holds it. Make windows with std::make_shared. Main thread only.

#include <memory>
#include <vector>

#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"

namespace ui {

class Window : public View {
public:
    explicit Window(const Rect& frame = Rect());

    const char* ClassName() const override { return "Window"; }
    bool IsWindow() const override { return true; }

    const ViewController::Ptr& RootViewController() const { return root_; }
    void SetRootViewController(const ViewController::Ptr& controller);

    void MakeKeyAndVisible();
    bool IsKeyWindow() const;

    // The frame a controller's view gets in this window: the bounds, less the status bar at
    // the top while the application shows it and the controller does not want full-screen
    // layout.
    Rect ContentFrameFor(const ViewController& controller) const;
    // Frames the root's view and the presented controllers' views again (after the window's
    // size or the status bar changed).
    void LayoutControllerViews();
    // The root controller, then each controller presented over it, bottom up.
    std::vector<ViewController::Ptr> PresentationChain() const;
    // The last of the chain: the controller the user sees; null without a root.
    ViewController::Ptr TopViewController() const;

private:
    ViewController::Ptr root_;
};

}  // namespace ui

#endif  // PLATFORM_UI_WINDOW_H
