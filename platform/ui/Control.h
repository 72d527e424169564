#ifndef PLATFORM_UI_CONTROL_H
#define PLATFORM_UI_CONTROL_H
// The base of views that turn touches into actions: enabled, selected and highlighted states,
// and targets (an owner, an action, the events it wants).
//
// Touches: TouchesBegan highlights and sends TouchDown; TouchesMoved follows the finger in and
// out (highlighted while inside; TouchDragInside / TouchDragOutside); TouchesEnded sends
// TouchUpInside when it ends inside the bounds and TouchUpOutside otherwise; TouchesCancelled
// sends TouchCancel. A disabled control ignores touches, also a touch that began before it
// was disabled. SendActionsForEvents itself, like the platform's, fires whatever the state.

#include <functional>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

// Event bits (the platform's values).
namespace ControlEvent {
constexpr unsigned TouchDown = 1u << 0;
constexpr unsigned TouchDownRepeat = 1u << 1;
constexpr unsigned TouchDragInside = 1u << 2;
constexpr unsigned TouchDragOutside = 1u << 3;
constexpr unsigned TouchDragEnter = 1u << 4;
constexpr unsigned TouchDragExit = 1u << 5;
constexpr unsigned TouchUpInside = 1u << 6;
constexpr unsigned TouchUpOutside = 1u << 7;
constexpr unsigned TouchCancel = 1u << 8;
constexpr unsigned ValueChanged = 1u << 12;
constexpr unsigned EditingDidBegin = 1u << 16;
constexpr unsigned EditingChanged = 1u << 17;
constexpr unsigned EditingDidEnd = 1u << 18;
constexpr unsigned EditingDidEndOnExit = 1u << 19;
constexpr unsigned AllTouchEvents = 0x00000FFFu;
constexpr unsigned AllEditingEvents = 0x000F0000u;
constexpr unsigned AllEvents = 0xFFFFFFFFu;
}  // namespace ControlEvent

// State bits (the platform's values); Normal is no bit.
namespace ControlState {
constexpr unsigned Normal = 0;
constexpr unsigned Highlighted = 1u << 0;
constexpr unsigned Disabled = 1u << 1;
constexpr unsigned Selected = 1u << 2;
}  // namespace ControlState

class Control : public View {
public:
    using Action = std::function<void(Control& sender)>;

    explicit Control(const Rect& frame = Rect());
    const char* ClassName() const override { return "Control"; }

    bool IsEnabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool IsSelected() const { return selected_; }
    void SetSelected(bool selected);
    bool IsHighlighted() const { return highlighted_; }
    void SetHighlighted(bool highlighted);
    // The ControlState bits of the three flags.
    unsigned State() const;

    // Adds an action for the events; owner (any pointer, may be null) identifies it for
    // RemoveTarget. Actions run in the order added.
    void AddTarget(const void* owner, Action action, unsigned events);
    // Removes owner's actions for those events (an action left with no events goes); a null
    // owner removes every target's.
    void RemoveTarget(const void* owner, unsigned events = ControlEvent::AllEvents);
    // The events some target listens for.
    unsigned AllControlEvents() const;
    // Runs every action that wants one of the events.
    void SendActionsForEvents(unsigned events);

    void TouchesBegan(const Point& point) override;
    void TouchesMoved(const Point& point) override;
    void TouchesEnded(const Point& point) override;
    void TouchesCancelled() override;
    bool IsTracking() const { return tracking_; }

protected:
    // After enabled, selected or highlighted changed (subclasses refresh what they show).
    virtual void StateDidChange() {}

private:
    struct Target {
        const void* owner;
        std::shared_ptr<Action> action;
        unsigned events;
    };

    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
    bool inside_ = false;
    std::vector<Target> targets_;
};

}  // namespace ui

#endif  // PLATFORM_UI_CONTROL_H
