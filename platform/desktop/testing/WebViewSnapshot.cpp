#include "platform/desktop/testing/WebViewSnapshot.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop/testing/MainContextWait.h"

namespace ns::desktop {

namespace {

struct Shot {
    bool done = false;
    cairo_surface_t* surface = nullptr;
    ~Shot() {
        if (surface != nullptr) cairo_surface_destroy(surface);
    }
};

void OnSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
    // The waiter may have given up: it left the shot to this callback.
    auto* shot = static_cast<std::shared_ptr<Shot>*>(data);
    (*shot)->surface =
        webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
    (*shot)->done = true;
    delete shot;
}

void CollectWebViews(GtkWidget* widget, gpointer views) {
    if (WEBKIT_IS_WEB_VIEW(widget)) {
        if (gtk_widget_is_drawable(widget)) {
            static_cast<std::vector<GtkWidget*>*>(views)->push_back(widget);
        }
    } else if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(GTK_CONTAINER(widget), &CollectWebViews, views);
    }
}

// A web view's snapshot, and where it lies in the window.
struct Expected {
    Pixbuf snapshot;
    int x = 0, y = 0;
};

// Whether the window's picture shows nearly every expected pixel inside it, on a grid.
bool Shows(const GdkPixbuf* picture, const Expected& expected) {
    constexpr int kStep = 4, kLevels = 24, kMostAmissPerCent = 5;
    const int width = gdk_pixbuf_get_width(expected.snapshot.get());
    const int height = gdk_pixbuf_get_height(expected.snapshot.get());
    long compared = 0, amiss = 0;
    for (int y = 0; y < height; y += kStep) {
        for (int x = 0; x < width; x += kStep) {
            const Rgb shown = PixelAt(picture, expected.x + x, expected.y + y);
            if (shown.r < 0) continue;  // outside the window
            const Rgb want = PixelAt(expected.snapshot.get(), x, y);
            ++compared;
            amiss += std::abs(shown.r - want.r) > kLevels || std::abs(shown.g - want.g) > kLevels ||
                     std::abs(shown.b - want.b) > kLevels;
        }
    }
    return amiss * 100 <= compared * kMostAmissPerCent;
}

}  // namespace

bool WaitUntilWebViewsShow(GtkWidget* window, std::chrono::milliseconds timeout) {
    using namespace std::chrono_literals;
    const auto end = std::chrono::steady_clock::now() + timeout;
    auto left = [&] {
        return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                                 end - std::chrono::steady_clock::now()));
    };
    // What reaches the screen causes no event here: look again every few milliseconds.
    const guint tick = g_timeout_add(
        20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool shown = false;
    // A page that changed after its snapshot is snapped again after a while.
    while (!shown && left() > 0ms) {
        std::vector<GtkWidget*> views;
        CollectWebViews(window, &views);
        std::vector<Expected> expected;
        for (GtkWidget* view : views) {
            Expected e;
            e.snapshot = SnapshotWebView(WEBKIT_WEB_VIEW(view), left());
            if (e.snapshot && gtk_widget_translate_coordinates(view, window, 0, 0, &e.x, &e.y)) {
                expected.push_back(std::move(e));
            }
        }
        shown =
            expected.size() == views.size() && IterateUntil(
                                                   [&] {
                                                       Pixbuf picture = CaptureWindow(window);
                                                       if (!picture) return false;
                                                       for (const Expected& e : expected) {
                                                           if (!Shows(picture.get(), e))
                                                               return false;
                                                       }
                                                       return true;
                                                   },
                                                   std::min(left(), std::chrono::milliseconds(1s)));
    }
    g_source_remove(tick);
    return shown;
}

Pixbuf SnapshotWebView(WebKitWebView* view, std::chrono::milliseconds timeout) {
    auto shot = std::make_shared<Shot>();
    webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                                 nullptr, &OnSnapshot, new std::shared_ptr<Shot>(shot));
    if (!IterateUntil([&] { return shot->done; }, timeout) || shot->surface == nullptr) {
        return nullptr;
    }
    cairo_surface_t* surface = shot->surface;
    shot->surface = nullptr;
    Pixbuf picture(gdk_pixbuf_get_from_surface(surface, 0, 0,
                                               cairo_image_surface_get_width(surface),
                                               cairo_image_surface_get_height(surface)));
    cairo_surface_destroy(surface);
    return picture;
}

std::string EvaluateInPage(ui::WebView& web, const std::string& script,
                           std::chrono::milliseconds timeout) {
    // Shared with the completion, which may come after the wait gave up.
    auto answer = std::make_shared<std::optional<std::string>>();
    web.EvaluateJavaScript(script, [answer](const std::string& result) { *answer = result; });
    IterateUntil([&] { return answer->has_value(); }, timeout);
    return answer->value_or("");
}

}  // namespace ns::desktop
