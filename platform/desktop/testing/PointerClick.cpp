#include "platform/desktop/testing/PointerClick.h"

#include <X11/extensions/XTest.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"

namespace ns::desktop {

void ClickAt(GdkWindow* window, int x, int y) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    XTestFakeMotionEvent(xd, -1, ox + x, oy + y, CurrentTime);
    XTestFakeButtonEvent(xd, 1, True, CurrentTime);
    XTestFakeButtonEvent(xd, 1, False, CurrentTime);
    XFlush(xd);
    gdk_display_sync(display);
}

void WheelAt(GdkWindow* window, int x, int y, int notches) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    XTestFakeMotionEvent(xd, -1, ox + x, oy + y, CurrentTime);
    const unsigned button = notches > 0 ? 5 : 4;
    for (int i = 0; i < (notches > 0 ? notches : -notches); ++i) {
        XTestFakeButtonEvent(xd, button, True, CurrentTime);
        XTestFakeButtonEvent(xd, button, False, CurrentTime);
    }
    XFlush(xd);
    gdk_display_sync(display);
}

void PressKey(GdkWindow* window, unsigned keysym) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    const KeyCode code = XKeysymToKeycode(xd, keysym);
    XTestFakeKeyEvent(xd, code, True, CurrentTime);
    XTestFakeKeyEvent(xd, code, False, CurrentTime);
    XFlush(xd);
    gdk_display_sync(display);
}

void PressKeys(GdkWindow* window, std::initializer_list<unsigned> keysyms) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    std::vector<KeyCode> codes;
    for (unsigned keysym : keysyms) codes.push_back(XKeysymToKeycode(xd, keysym));
    for (KeyCode code : codes) XTestFakeKeyEvent(xd, code, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        XTestFakeKeyEvent(xd, *it, False, CurrentTime);
    }
    XFlush(xd);
    gdk_display_sync(display);
}

bool TypeKeys(GdkWindow* window, const std::string& text) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    const KeyCode shift = XKeysymToKeycode(xd, XK_Shift_L);
    std::vector<std::pair<KeyCode, bool>> keys;  // the key, and whether Shift is held
    for (char c : text) {
        // Printable ASCII characters are their own keysyms.
        const auto keysym = static_cast<KeySym>(static_cast<unsigned char>(c));
        const KeyCode code = keysym >= 0x20 && keysym < 0x7F ? XKeysymToKeycode(xd, keysym) : 0;
        if (code == 0) return false;
        keys.emplace_back(code, XkbKeycodeToKeysym(xd, code, 0, 0) != keysym);
    }
    for (const auto& [code, shifted] : keys) {
        if (shifted) XTestFakeKeyEvent(xd, shift, True, CurrentTime);
        XTestFakeKeyEvent(xd, code, True, CurrentTime);
        XTestFakeKeyEvent(xd, code, False, CurrentTime);
        if (shifted) XTestFakeKeyEvent(xd, shift, False, CurrentTime);
    }
    XFlush(xd);
    gdk_display_sync(display);
    return true;
}

void DragAt(GdkWindow* window, int fromX, int fromY, int toX, int toY, int steps,
            void (*between)(void*), void* data) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    auto send = [&] {
        XFlush(xd);
        gdk_display_sync(display);
        if (between != nullptr) between(data);
    };
    XTestFakeMotionEvent(xd, -1, ox + fromX, oy + fromY, CurrentTime);
    XTestFakeButtonEvent(xd, 1, True, CurrentTime);
    send();
    for (int i = 1; i <= steps; ++i) {
        XTestFakeMotionEvent(xd, -1, ox + fromX + (toX - fromX) * i / steps,
                             oy + fromY + (toY - fromY) * i / steps, CurrentTime);
        send();
    }
    XTestFakeButtonEvent(xd, 1, False, CurrentTime);
    send();
}

void ResizeWindowTo(GdkWindow* window, int width, int height) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    XResizeWindow(xd, gdk_x11_window_get_xid(gdk_window_get_toplevel(window)),
                  static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(xd);
    gdk_display_sync(display);
}

void CloseWindow(GdkWindow* window) {
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xd = gdk_x11_display_get_xdisplay(display);
    const Window target = gdk_x11_window_get_xid(gdk_window_get_toplevel(window));
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(xd, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(xd, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(xd, target, False, NoEventMask, &event);
    XFlush(xd);
    gdk_display_sync(display);
}

GdkWindow* ShownWindowOf(GdkDisplay* display, pid_t pid) {
    Display* xd = gdk_x11_display_get_xdisplay(display);
    const Atom pidAtom = XInternAtom(xd, "_NET_WM_PID", False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(xd, DefaultRootWindow(xd), &root, &parent, &children, &count)) return nullptr;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(xd, children[i], &attributes) ||
            attributes.map_state != IsViewable || attributes.c_class != InputOutput) {
            continue;
        }
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(xd, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &after, &data) == Success &&
            data != nullptr && format == 32 && items == 1 &&
            *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(pid)) {
            found = children[i];
        }
        if (data != nullptr) XFree(data);
    }
    if (children != nullptr) XFree(children);
    return found != 0 ? gdk_x11_window_foreign_new_for_display(display, found) : nullptr;
}

struct CoveringWindow::Client {
    Display* display = nullptr;
    Window window = 0;
};

CoveringWindow::CoveringWindow(GdkWindow* window, int x, int y, int width, int height,
                               unsigned colour)
    : client_(std::make_unique<Client>()) {
    int ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    client_->display = XOpenDisplay(gdk_display_get_name(gdk_window_get_display(window)));
    if (client_->display == nullptr) return;
    Display* xd = client_->display;
    // Override-redirect: placed where asked, on top, with or without a window manager (a
    // notification's popup is made so).
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = colour;
    client_->window =
        XCreateWindow(xd, DefaultRootWindow(xd), ox + x, oy + y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(xd, client_->window);
    XSync(xd, False);
}

CoveringWindow::~CoveringWindow() {
    if (client_->display == nullptr) return;
    XDestroyWindow(client_->display, client_->window);
    XSync(client_->display, False);
    XCloseDisplay(client_->display);
}

Rgb PixelAfterCovering(GtkWidget* window, GtkWidget* redrawn, int x, int y, int width, int height,
                       unsigned coverColour, std::chrono::milliseconds timeout) {
    const int midX = x + width / 2, midY = y + height / 2;
    const Rgb cover{static_cast<int>(coverColour >> 16 & 0xFF),
                    static_cast<int>(coverColour >> 8 & 0xFF),
                    static_cast<int>(coverColour & 0xFF)};
    std::optional<DrawWatch> drawn;
    {
        CoveringWindow covering(gtk_widget_get_window(window), x, y, width, height, coverColour);
        if (!WaitForPixel(window, midX, midY, cover, timeout)) return {-1, -1, -1};
        // Whatever was to be drawn while covered has been; the count starts as the cover goes.
        IteratePending();
        drawn.emplace(redrawn);
    }
    // The server's expose has reached this client before the first draw is waited for.
    gdk_display_sync(gtk_widget_get_display(window));
    if (!drawn->WaitForDrawAfter(0, timeout)) return {-1, -1, -1};
    return ScreenPixel(window, midX, midY);
}

}  // namespace ns::desktop
