#include "platform/desktop/testing/DrawWatch.h"

#include "platform/desktop/testing/MainContextWait.h"

namespace ns::desktop {

DrawWatch::DrawWatch(GtkWidget* widget) : widget_(widget) {
    // Held so that a widget destroyed first does not leave the handler id dangling.
    g_object_ref(widget_);
    handler_ = g_signal_connect_after(widget_, "draw", G_CALLBACK(OnDraw), this);
}

DrawWatch::~DrawWatch() {
    // Destroying the widget (gtk_widget_destroy) already took its handlers away.
    if (g_signal_handler_is_connected(widget_, handler_)) {
        g_signal_handler_disconnect(widget_, handler_);
    }
    g_object_unref(widget_);
}

bool DrawWatch::WaitForDrawAfter(int seen, std::chrono::milliseconds timeout) {
    return IterateUntil([&] { return count_ > seen; }, timeout);
}

gboolean DrawWatch::OnDraw(GtkWidget*, cairo_t*, gpointer self) {
    auto* watch = static_cast<DrawWatch*>(self);
    if (!watch->first_) watch->first_ = std::chrono::steady_clock::now();
    ++watch->count_;
    return FALSE;
}

}  // namespace ns::desktop
