#ifndef PLATFORM_UI_DRIVER_H
#define PLATFORM_UI_DRIVER_H
// The test driver: a person's hands on a view tree. It finds views, and taps, types, swipes,
// scrolls, slides, answers alerts, turns the device and moves the application through its life
// cycle through the same model calls the desktop renderer makes for a person's input, and it
// runs ui::Loop() forward in time.
//
// Touches go where a finger would land: at a point of the view, converted to the root's
// coordinates and hit-tested from the root, so a view lying on top takes the touch. Before
// that the layout pass runs, so frames are those a person would see. A view that a finger
// cannot reach at all is not touched: one outside the root's tree, hidden, with alpha below
// 0.01 or user interaction off (itself or any view up to the root), or a disabled control;
// then nothing happens and the call answers false. A root window that is not visible yet is
// hidden like any view.
//
// Time: with the manual clock of ui::Loop() (a TestLoop's), Advance and WaitFor move that
// clock from one timer's due time to the next, so that timers set by other timers fire at
// their own times. Without one, WaitFor waits in real time and Advance refuses. Main thread
// only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/ManualClock.h"
#include "platform/ui/IndexPath.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/View.h"

namespace ui {

class ScrollView;
class Slider;
class TableView;
class WebView;

class Driver {
public:
    // root: the tree to drive; null means the application's key window at each call.
    // clock: the manual clock ui::Loop() runs on, if it runs on one; it must outlive the
    // driver.
    explicit Driver(View::Ptr root = nullptr, ns::ManualClock* clock = nullptr);

    // The tree driven now; null when there is none (no key window).
    View::Ptr Root() const;

    // --- finding (hidden views too: whether they take touches is the touch's business)
    // The first view with the identifier (depth first, subviews in order) that is a T; null
    // when there is none.
    template <typename T = View>
    std::shared_ptr<T> Find(const std::string& identifier) const {
        View::Ptr root = Root();
        return root ? std::dynamic_pointer_cast<T>(root->FindByIdentifier(identifier)) : nullptr;
    }
    // Every view that matches, depth first, subviews in order, the root included.
    std::vector<View::Ptr> FindAll(const std::function<bool(const View&)>& match) const;
    // Every view of that class (ClassName(); empty: any) that shows that text (TextOf; none:
    // any text or none), e.g. FindAll("Button", "OK").
    std::vector<View::Ptr> FindAll(const std::string& className,
                                   const std::optional<std::string>& text = std::nullopt) const;
    // The first of those that is a T.
    template <typename T = View>
    std::shared_ptr<T> FindWithText(const std::string& text,
                                    const std::string& className = std::string()) const {
        for (const View::Ptr& view : FindAll(className, text)) {
            if (auto typed = std::dynamic_pointer_cast<T>(view)) {
                return typed;
            }
        }
        return nullptr;
    }

    // --- touches
    // A touch down and up at the centre of the view's bounds, delivered to the view hit there.
    // True when it reached the view: the hit view is the view, lies inside it, or is the table
    // that takes the touches of its cells. A covered view answers false, and the view on top
    // got the touch.
    bool Tap(const View::Ptr& view);
    // The same for Find(identifier); false when there is none.
    bool Tap(const std::string& identifier);
    // A swipe where a finger lands on the view's centre (SwipeGestureRecognizer::Swipe on the
    // view hit there); true when a recogniser fired.
    bool Swipe(const View::Ptr& view, unsigned direction);
    // A finger drags the content by dy points (positive: on towards the end, the content
    // offset grows) and leaves the screen at `velocity` points per second in the same sense
    // (0: held still, no deceleration; a deceleration then runs on the loop's clock). False
    // when the scroll view cannot be reached at its centre or refuses the drag.
    bool ScrollTable(const std::shared_ptr<ScrollView>& scrollView, double dy, double velocity = 0);
    // A tap on the row's cell, at the centre of the part of the row on screen (or, when a view
    // covers that centre, at the first point across the row that is not covered), through the
    // table's touches; true when the row is selected then. False for a row not on screen.
    bool SelectRow(const std::shared_ptr<TableView>& table, const IndexPath& indexPath);
    // A finger takes the thumb and slides it to `value` (clamped to the range) and lets go:
    // the events of a touch (TouchDown, ValueChanged as the slider sends it, TouchUpInside).
    // False when the thumb cannot be reached or value is not a number.
    bool SetSlider(const std::shared_ptr<Slider>& slider, double value);

    // A click on the first link of the web view's page that matches (WebView::ClickLink), where
    // a finger on the web view's centre lands; false when the web view cannot be reached there
    // (covered, hidden, not interactive) or its page has no such link.
    bool ClickLink(const std::shared_ptr<WebView>& webView, const std::string& match);

    // --- keyboard: the first responder of the root's tree, a text field or a search bar
    // Types each character (code point) in turn through the field's InsertText; true when
    // every one was taken. False when no text input is first responder.
    bool Type(const std::string& text);
    // The Return key; the field's answer (false too when no text input is first responder).
    bool PressReturn();

    // --- alerts, device, application
    // A person chooses the button of the top visible alert; false without one or such a
    // button.
    bool DismissAlert(int buttonIndex);
    // Turns the device (UiDevice::Rotate); its answer.
    bool Rotate(DeviceOrientation orientation);
    void ResignActive();
    void EnterBackground();
    void EnterForeground();
    void BecomeActive();

    // --- time
    // Moves the manual clock on by `seconds`, firing every timer that falls due in between at
    // its own time; false (nothing happens) without a manual clock, for a negative time or one
    // over a year.
    bool Advance(double seconds);
    // Steps ui::Loop() until condition() holds (true) or `timeout` seconds have passed
    // (false); a year at most. On a manual clock those are the loop's seconds, moved as by
    // Advance; while transfers are in flight it first waits up to `timeout` real seconds for
    // them.
    bool WaitFor(const std::function<bool()>& condition, double timeout);

private:
    struct Touch {
        View::Ptr target;  // the view hit
        Point point;       // in its coordinates
    };
    // Where a finger touching `view` at `point` (its coordinates) lands; none when the view
    // cannot be reached (see the top of this file) or nothing is hit there.
    std::optional<Touch> Locate(const View::Ptr& view, const Point& point) const;
    // One step of the loop at the clock's time, moving it first to `when` if that is later.
    void StepAt(ns::RunLoop::TimePoint when);

    View::Ptr root_;
    ns::ManualClock* clock_;
};

}  // namespace ui

#endif  // PLATFORM_UI_DRIVER_H
