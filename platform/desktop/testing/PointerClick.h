#ifndef PLATFORM_DESKTOP_TESTING_POINTER_CLICK_H
#define PLATFORM_DESKTOP_TESTING_POINTER_CLICK_H
// A click as a person makes one, through the X server's test extension (XTest): the pointer
// moves to a pixel of a window and the first button goes down and up there, so the server
// delivers the events to whichever window lies under the pointer, as for a real mouse. And
// another program's window passed over a window, as a person's desktop does.

#include <gtk/gtk.h>

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>

#include "platform/desktop/testing/WindowCapture.h"

namespace ns::desktop {

// (x, y): pixels of `window`. Returns once the server has taken the events.
void ClickAt(GdkWindow* window, int x, int y);
// The wheel turned `notches` notches at a pixel of `window`: positive brings later content in
// (the wheel's down button), negative earlier.
void WheelAt(GdkWindow* window, int x, int y, int notches);
// A key pressed and released on the keyboard; the server sends it to the window that has the
// input focus (the one under the pointer on a server without a window manager).
void PressKey(GdkWindow* window, unsigned keysym);
// Keys held together as a person presses a combination: each pressed in the order given and
// released in the reverse order ({GDK_KEY_Control_L, GDK_KEY_a} is Control+A).
void PressKeys(GdkWindow* window, std::initializer_list<unsigned> keysyms);
// Printable ASCII typed key by key on the server's keymap, with Shift held for a character on
// a key's shifted level. False (and nothing typed) when the keymap lacks a character.
bool TypeKeys(GdkWindow* window, const std::string& text);

// The window resized on the X server to width x height pixels, as a window manager does when
// a person drags its corner (the application hears it as a configure event).
void ResizeWindowTo(GdkWindow* window, int width, int height);

// The window closed as a window manager closes it when the person clicks the title bar's close
// button: a WM_DELETE_WINDOW message sent to the toplevel of `window` through the X server.
void CloseWindow(GdkWindow* window);

// The window another program shows on a display without a window manager: its top-level
// window that is mapped and carries the process id `pid` (_NET_WM_PID, which GDK sets), as a
// foreign GdkWindow the functions above take (the caller unrefs it); null while it has none.
GdkWindow* ShownWindowOf(GdkDisplay* display, pid_t pid);

// The first button pressed at `from`, the pointer moved to `to` in `steps` even steps, released
// there (pixels of `window`). `between` runs after each X event has reached the server, so the
// caller can let the application take it (a drag's moves are taken one by one).
void DragAt(GdkWindow* window, int fromX, int fromY, int toX, int toY, int steps,
            void (*between)(void*), void* data);

// A plain window of one colour, made by a client of its own (another program) and mapped over
// the rectangle (x, y, width, height) of `window` above every other window; it goes from the
// screen when the object goes, leaving that rectangle for `window` to draw again.
class CoveringWindow {
public:
    // colour: 0xRRGGBB (the test display's 24-bit true colour). Returns once the server has mapped
    // the window.
    CoveringWindow(GdkWindow* window, int x, int y, int width, int height, unsigned colour);
    ~CoveringWindow();
    CoveringWindow(const CoveringWindow&) = delete;
    CoveringWindow& operator=(const CoveringWindow&) = delete;

private:
    struct Client;
    std::unique_ptr<Client> client_;
};

// Another program's window of `coverColour` passed over the rectangle (x, y, width, height) of
// `window` and taken away again, and what a person then sees at the rectangle's middle: its
// colour on the screen once `redrawn` (a widget of the window) has drawn again, as the window
// answers the server's news that the rectangle is to be drawn again (not a later frame).
// {-1, -1, -1} when the cover did not show or nothing was drawn within `timeout`.
Rgb PixelAfterCovering(GtkWidget* window, GtkWidget* redrawn, int x, int y, int width, int height,
                       unsigned coverColour, std::chrono::milliseconds timeout);

}  // namespace ns::desktop

#endif
