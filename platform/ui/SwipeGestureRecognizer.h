#ifndef PLATFORM_UI_SWIPE_GESTURE_RECOGNIZER_H
#define PLATFORM_UI_SWIPE_GESTURE_RECOGNIZER_H
// A swipe recogniser: the directions it recognises (right unless set), enabled, and actions.
// It is attached to one view (AddTo; the view keeps it, as the platform's views keep theirs;
// attaching it elsewhere moves it) and fires when a swipe reaches that view.
//
// Swipe(view, direction) is the swipe the test driver and the renderer deliver to the view a
// touch lands on (normally a hit-test result). The swipe goes up the chain as touches do: the
// view's own recognisers first (in the order attached), then its superview's, and so on; the
// first recogniser that is enabled and whose directions include `direction` fires, alone, as
// one recogniser wins a touch on the platform. Firing runs its actions in the order added with
// the recogniser as sender (its Direction() is the one configured, not the swipe's).
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

// The platform's direction bits.
namespace SwipeDirection {
constexpr unsigned Right = 1u << 0;
constexpr unsigned Left = 1u << 1;
constexpr unsigned Up = 1u << 2;
constexpr unsigned Down = 1u << 3;
}  // namespace SwipeDirection

class SwipeGestureRecognizer : public std::enable_shared_from_this<SwipeGestureRecognizer> {
public:
    using Ptr = std::shared_ptr<SwipeGestureRecognizer>;
    using Action = std::function<void(SwipeGestureRecognizer& sender)>;

    SwipeGestureRecognizer() = default;
    SwipeGestureRecognizer(const void* owner, Action action);
    SwipeGestureRecognizer(const SwipeGestureRecognizer&) = delete;
    SwipeGestureRecognizer& operator=(const SwipeGestureRecognizer&) = delete;

    unsigned Direction() const { return direction_; }
    void SetDirection(unsigned direction) { direction_ = direction; }
    bool IsEnabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

    // owner (any pointer, may be null) identifies the action for RemoveTarget; a null owner
    // there removes every action.
    void AddTarget(const void* owner, Action action);
    void RemoveTarget(const void* owner);

    // The view it is attached to; null when none (or it is gone).
    View::Ptr GetView() const { return view_.lock(); }

    // Attaching and detaching (the platform's addGestureRecognizer / removeGestureRecognizer).
    static void AddTo(const View::Ptr& view, const Ptr& recognizer);
    static void RemoveFrom(const View::Ptr& view, const Ptr& recognizer);
    // The recognisers attached to view, in the order attached.
    static std::vector<Ptr> RecognizersOf(const View& view);
    // Delivers a swipe (see above); true when a recogniser fired.
    static bool Swipe(View& view, unsigned direction);

private:
    struct Target {
        const void* owner;
        std::shared_ptr<Action> action;
    };
    void Fire();

    unsigned direction_ = SwipeDirection::Right;
    bool enabled_ = true;
    std::vector<Target> targets_;
    std::weak_ptr<View> view_;
};

}  // namespace ui

#endif  // PLATFORM_UI_SWIPE_GESTURE_RECOGNIZER_H
