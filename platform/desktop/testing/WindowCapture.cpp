#include "platform/desktop/testing/WindowCapture.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/desktop/testing/MainContextWait.h"

namespace ns::desktop {

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Pixbuf CaptureWindow(GtkWidget* window) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (gdkWindow == nullptr || !gtk_widget_get_mapped(window)) return nullptr;
    gdk_display_sync(gdk_window_get_display(gdkWindow));
    int width = gdk_window_get_width(gdkWindow);
    int height = gdk_window_get_height(gdkWindow);
    return Pixbuf(gdk_pixbuf_get_from_window(gdkWindow, 0, 0, width, height));
}

Rgb PixelAt(const GdkPixbuf* picture, int x, int y) {
    if (picture == nullptr || x < 0 || y < 0 || x >= gdk_pixbuf_get_width(picture) ||
        y >= gdk_pixbuf_get_height(picture)) {
        return {-1, -1, -1};
    }
    const guchar* pixels = gdk_pixbuf_read_pixels(picture);
    const guchar* p =
        pixels + y * gdk_pixbuf_get_rowstride(picture) + x * gdk_pixbuf_get_n_channels(picture);
    return {p[0], p[1], p[2]};
}

Rgb ScreenPixel(GtkWidget* window, int x, int y) {
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    if (gdkWindow == nullptr || !gtk_widget_get_mapped(window)) return {-1, -1, -1};
    int ox = 0, oy = 0;
    gdk_window_get_origin(gdkWindow, &ox, &oy);
    gdk_display_sync(gdk_window_get_display(gdkWindow));
    GdkWindow* root = gdk_screen_get_root_window(gdk_window_get_screen(gdkWindow));
    Pixbuf pixel(gdk_pixbuf_get_from_window(root, ox + x, oy + y, 1, 1));
    return PixelAt(pixel.get(), 0, 0);
}

int ColouredBars(const std::function<Rgb(double fraction)>& at) {
    constexpr int kBars = 7;
    // A bar's channels lie far apart; black, white and grey have them together.
    constexpr int kColoured = 100;
    int coloured = 0;
    for (int i = 0; i < kBars; ++i) {
        const Rgb c = at((i + 0.5) / kBars);
        coloured += std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > kColoured;
    }
    return coloured;
}

bool NearColour(const Rgb& a, const Rgb& b) {
    constexpr int kLevels = 8;
    return std::abs(a.r - b.r) <= kLevels && std::abs(a.g - b.g) <= kLevels &&
           std::abs(a.b - b.b) <= kLevels;
}

bool WaitForPixel(GtkWidget* window, int x, int y, const Rgb& colour,
                  std::chrono::milliseconds timeout, Rgb* seen) {
    constexpr guint kReadEveryMs = 20;
    const guint tick = g_timeout_add(
        kReadEveryMs, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    Rgb last{-1, -1, -1};
    const bool matched = IterateUntil(
        [&] {
            last = ScreenPixel(window, x, y);
            return NearColour(last, colour);
        },
        timeout);
    g_source_remove(tick);
    if (seen != nullptr) *seen = last;
    return matched;
}

std::vector<uint8_t> RgbBytes(const GdkPixbuf* picture) {
    std::vector<uint8_t> bytes;
    if (picture == nullptr) return bytes;
    const int width = gdk_pixbuf_get_width(picture), height = gdk_pixbuf_get_height(picture);
    const int stride = gdk_pixbuf_get_rowstride(picture);
    const int channels = gdk_pixbuf_get_n_channels(picture);
    const guchar* pixels = gdk_pixbuf_read_pixels(picture);
    bytes.reserve(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const guchar* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x)
            bytes.insert(bytes.end(), row + x * channels, row + x * channels + 3);
    }
    return bytes;
}

std::string PicturePath(const std::string& name) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return name;
    std::string dir(exe, static_cast<size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + name;
}

bool SavePng(const GdkPixbuf* picture, const std::string& path, std::string* error) {
    GError* failure = nullptr;
    if (gdk_pixbuf_save(const_cast<GdkPixbuf*>(picture), path.c_str(), "png", &failure, nullptr)) {
        return true;
    }
    if (error != nullptr) *error = path + ": " + (failure ? failure->message : "not written");
    if (failure) g_error_free(failure);
    return false;
}

}  // namespace ns::desktop
