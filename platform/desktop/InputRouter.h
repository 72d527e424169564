#ifndef PLATFORM_DESKTOP_INPUT_ROUTER_H
#define PLATFORM_DESKTOP_INPUT_ROUTER_H
// A person's mouse and keyboard turned into the calls a finger and a keyboard make on the view
// models, the same calls the test driver makes. Points are in the root view's coordinates;
// times are the events' milliseconds.
//
// A press hit-tests the root (after the layout pass) and begins a touch on the view hit. While
// the button is down, the pointer moving further than kSlop decides what the press is:
//   - on a slider, always the slider's touch (the thumb follows);
//   - along an axis that a scroll view at or above the view hit can scroll: a drag of that
//     scroll view (the touch is cancelled; BeginDrag, DragBy with the pointer's movement,
//     EndDrag at the release with the pointer's speed over its last kVelocityWindowMs);
//   - else on any other control, the control's touch (moves, then the end where it is);
//   - else a swipe: at the release, when the pointer went at least kSwipeMinimum along the
//     axis, SwipeGestureRecognizer::Swipe on the view hit, in the pointer's direction.
// A press that stays within kSlop is a tap: the touch ends where the pointer is released.
//
// The wheel drags the scroll view under the pointer that scrolls along the wheel's axis by
// kWheelStep points a notch: the first notch begins a drag, EndWheel ends it without speed
// (the caller ends it once the wheel has rested).
//
// Keys go to the first responder of the root's tree when it is a text field or a search bar:
// characters through InsertText, Backspace and Delete through DeleteBackward and DeleteForward,
// the caret keys through MoveCaret, Return through PressReturn. Select all, copy, cut and paste
// are the field's edit-menu actions: each happens only when the field's CanPerformAction offers
// it (a password field refuses them). Tab and Shift+Tab move editing to the next or previous
// text input of the tree (in the order its views are drawn, wrapping around), skipping those
// that are hidden, transparent or disabled.
// A tap that ends inside the text of the field it made first responder puts the caret where the
// caret locator (set by the renderer, which knows the drawn glyphs) says; without one, or when
// it has no answer, the caret stays at the end.
// Main thread only.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Geometry.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

namespace ns::desktop {

class InputRouter {
public:
    // Points a pointer may move before a press stops being a tap.
    static constexpr double kSlop = 10;
    // Points along its axis a drag needs to be a swipe.
    static constexpr double kSwipeMinimum = 30;
    // Points one wheel notch moves the content.
    static constexpr double kWheelStep = 40;
    // The speed at a release is measured over this much of the pointer's last movement.
    static constexpr uint32_t kVelocityWindowMs = 100;

    // root() names the tree at each event (null: nothing to touch).
    explicit InputRouter(std::function<ui::View::Ptr()> root);

    void Press(const ui::Point& point, uint32_t timeMs);
    void Move(const ui::Point& point, uint32_t timeMs);
    void Release(const ui::Point& point, uint32_t timeMs);
    // The press ends without an action (the window lost the pointer).
    void Cancel();
    bool IsPressed() const { return gesture_ != nullptr; }

    // Notches (fractions for smooth wheels) along x and y; positive y brings later content in.
    // False when nothing under the pointer scrolls that way.
    bool Wheel(const ui::Point& point, double dx, double dy);
    void EndWheel();
    bool InWheel() const { return wheelView_ != nullptr; }

    // The text input typed into now; null when there is none.
    std::shared_ptr<ui::TextField> FocusedField() const;
    // Each returns false when no text input is first responder (the key is not taken).
    bool TypeText(const std::string& text);
    bool Backspace();
    bool Delete();
    bool Return();
    bool MoveCaret(ui::CaretMovement movement, bool extend);
    bool SelectAll();
    // The text to put on the clipboard: none when no field is editing or it refuses the action.
    // Cut removes the selection through the field's delegate as Backspace does.
    std::optional<std::string> Copy();
    std::optional<std::string> Cut();
    // Pastes into `field` when it is still editing and offers paste: line breaks and tabs
    // become spaces and other control characters go (the field holds one line). A text longer
    // than kMaxPaste bytes is refused whole (the entry could not show it, and the window would
    // stall laying it out). Answers whether the text changed.
    static constexpr size_t kMaxPaste = 65535;
    static bool PasteInto(ui::TextField& field, const std::string& text);
    // Editing moves to the next (or previous) text input; false when none is editing.
    bool Tab(bool backwards);

    // Code-point index of the caret for a point in the field's bounds; none: no answer.
    using CaretLocator =
        std::function<std::optional<size_t>(const ui::TextField& field, const ui::Point& point)>;
    void SetCaretLocator(CaretLocator locator) { caretLocator_ = std::move(locator); }

private:
    enum class Mode { Undecided, Touch, Scroll, Swipe };
    struct Sample {
        ui::Point point;
        uint32_t time;
    };
    struct Gesture {
        ui::View::Ptr hit;  // the view the press hit; null: nothing
        ui::Point start;
        ui::Point last;
        Mode mode = Mode::Undecided;
        bool horizontal = false;
        std::shared_ptr<ui::ScrollView> scrollView;
        std::deque<Sample> samples;
    };

    ui::Point InHit(const ui::View& hit, const ui::Point& point) const;
    void Decide(const ui::Point& point);
    void PlaceCaret(const ui::View::Ptr& hit, const ui::Point& point);
    static ui::Point ReleaseVelocity(const Gesture& g, const ui::Point& point, uint32_t timeMs);
    static std::shared_ptr<ui::ScrollView> ScrollerFor(const ui::View::Ptr& view, bool horizontal);

    std::function<ui::View::Ptr()> root_;
    std::unique_ptr<Gesture> gesture_;
    std::shared_ptr<ui::ScrollView> wheelView_;
    CaretLocator caretLocator_;
};

}  // namespace ns::desktop

#endif
