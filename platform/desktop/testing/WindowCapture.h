#ifndef PLATFORM_DESKTOP_TESTING_WINDOW_CAPTURE_H
#define PLATFORM_DESKTOP_TESTING_WINDOW_CAPTURE_H
// Pictures of what a shown window drew, read back from the X server, for tests that check
// pixels and keep a PNG to look at.

#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ns::desktop {

struct PixbufUnref {
    void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufUnref>;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};
std::ostream& operator<<(std::ostream& out, const Rgb& c);

// The window's client area as it is on the display now, after the server has taken every
// request sent so far. Wait for the window's draw first (DrawWatch). Null when the widget has
// no visible window.
Pixbuf CaptureWindow(GtkWidget* window);
// The colour at (x, y); {-1, -1, -1} outside the picture.
Rgb PixelAt(const GdkPixbuf* picture, int x, int y);
// The colour a person sees at the window's pixel (x, y): read back from the X server's screen,
// another client's window over this one included, after the server has taken every request
// sent so far; {-1, -1, -1} when the window is not shown.
Rgb ScreenPixel(GtkWidget* window, int x, int y);
// Iterates GLib's main context until ScreenPixel(window, x, y) is `colour` give or take a few
// levels per channel (true) or `timeout` has passed (false). What the server shows can change
// without an event here (a composited web view's frame, another client's window), so it is
// read again every few milliseconds. `seen` receives the last colour read.
bool WaitForPixel(GtkWidget* window, int x, int y, const Rgb& colour,
                  std::chrono::milliseconds timeout, Rgb* seen = nullptr);
// Whether two colours are the same give or take a few levels per channel (rounding in a page's
// and the server's colour paths).
bool NearColour(const Rgb& a, const Rgb& b);
// How many of a test movie's seven colour bars are clearly coloured (none in a black or grey
// picture): one sample in the middle of each bar, `at(fraction)` giving the colour at that
// fraction (0 to 1) of the row across the bars.
int ColouredBars(const std::function<Rgb(double fraction)>& at);
// The picture's red, green and blue bytes per pixel, rows from the top, without padding.
std::vector<uint8_t> RgbBytes(const GdkPixbuf* picture);
// Where a test keeps a picture named `name`: beside the running program (in the build folder).
std::string PicturePath(const std::string& name);
// Writes a PNG; on failure returns false and says why in `error`.
bool SavePng(const GdkPixbuf* picture, const std::string& path, std::string* error);

}  // namespace ns::desktop

#endif
