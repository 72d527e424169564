#include "platform/desktop/testing/WebViewSnapshot.h"

#include <memory>
#include <optional>

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

}  // namespace

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
