#ifndef PLATFORM_UI_KEYBOARD_H
#define PLATFORM_UI_KEYBOARD_H
// The on-screen keyboard: shown while the first responder of some view tree is a text input
// (Responder::ShowsKeyboard), hidden otherwise; handing first responder from one text input to
// another leaves it shown and posts nothing.
//
// Each change posts two notifications through ns::NotificationCenter::Default(), sender null:
// will-show then did-show, or will-hide then did-hide, one right after the other (the model
// has no slide of its own). Their user info:
//   kKeyboardFrameBeginKey, kKeyboardFrameEndKey: dictionaries {"x", "y", "width", "height"}
//       in screen points: showing, from just below the screen to its place at the bottom;
//       hiding, the other way round;
//   kKeyboardAnimationDurationKey: 0.25, the seconds an observer may animate along with it.
//
// The keyboard spans the screen's width (ScreenMetrics::Current()) along its bottom edge and is
// this high: phone portrait 216, phone landscape 162, pad portrait 264, pad landscape 352.
// Only a device with an on-screen keyboard has one to show: on a device without one (this
// platform's desktop window, and the default) nothing shows and nothing is posted, so no screen
// makes room for a keyboard that never comes. Tests stand in for a device with one through
// SetOnScreen(true).
// Main thread only.

#include "platform/ui/Geometry.h"
#include "platform/ui/ScreenMetrics.h"

namespace ui {

inline constexpr char kKeyboardWillShowNotification[] = "KeyboardWillShowNotification";
inline constexpr char kKeyboardDidShowNotification[] = "KeyboardDidShowNotification";
inline constexpr char kKeyboardWillHideNotification[] = "KeyboardWillHideNotification";
inline constexpr char kKeyboardDidHideNotification[] = "KeyboardDidHideNotification";
inline constexpr char kKeyboardFrameBeginKey[] = "KeyboardFrameBegin";
inline constexpr char kKeyboardFrameEndKey[] = "KeyboardFrameEnd";
inline constexpr char kKeyboardAnimationDurationKey[] = "KeyboardAnimationDuration";

class Keyboard {
public:
    // Whether the device has an on-screen keyboard at all; false until told otherwise.
    static bool IsOnScreen();
    // Turning it off while it shows hides it first (with its notifications).
    static void SetOnScreen(bool onScreen);

    static bool IsVisible();
    // Where the keyboard stands on the current screen while shown.
    static Rect Frame();
    // The same for given screen metrics.
    static Rect FrameFor(const ScreenMetrics& screen);
    // Called by the first-responder bookkeeping after each change; posts when it changes.
    // Without an on-screen keyboard it stays hidden and posts nothing.
    static void SetVisible(bool visible);
};

}  // namespace ui

#endif  // PLATFORM_UI_KEYBOARD_H
