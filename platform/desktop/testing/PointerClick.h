#ifndef PLATFORM_DESKTOP_TESTING_POINTER_CLICK_H
#define PLATFORM_DESKTOP_TESTING_POINTER_CLICK_H
// A click as a person makes one, through the X server's test extension (XTest): the pointer
// moves to a pixel of a window and the first button goes down and up there, so the server
// delivers the events to whichever window lies under the pointer, as for a real mouse.

#include <gdk/gdk.h>

namespace ns::desktop {

// (x, y): pixels of `window`. Returns once the server has taken the events.
void ClickAt(GdkWindow* window, int x, int y);
// The wheel turned `notches` notches at a pixel of `window`: positive brings later content in
// (the wheel's down button), negative earlier.
void WheelAt(GdkWindow* window, int x, int y, int notches);
// A key pressed and released on the keyboard; the server sends it to the window that has the
// input focus (the one under the pointer on a server without a window manager).
void PressKey(GdkWindow* window, unsigned keysym);

// The window resized on the X server to width x height pixels, as a window manager does when
// a person drags its corner (the application hears it as a configure event).
void ResizeWindowTo(GdkWindow* window, int width, int height);

// The first button pressed at `from`, the pointer moved to `to` in `steps` even steps, released
// there (pixels of `window`). `between` runs after each X event has reached the server, so the
// caller can let the application take it (a drag's moves are taken one by one).
void DragAt(GdkWindow* window, int fromX, int fromY, int toX, int toY, int steps,
            void (*between)(void*), void* data);

}  // namespace ns::desktop

#endif
