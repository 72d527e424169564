#ifndef APP_DESKTOP_TICKINGWAIT_H
#define APP_DESKTOP_TICKINGWAIT_H
// Header-only, for the application's window tests: waiting on the GTK thread for a condition
// that nothing announces to GLib, such as the end of an animation (a moment in time) or a flag
// that another thread sets without posting. A tick wakes the main context every few
// milliseconds while the wait lasts, so the condition is seen soon after it holds rather than
// at the next event or the time-out.

#include <glib.h>

#include <chrono>
#include <functional>

#include "platform/desktop/testing/MainContextWait.h"

namespace AppTestSupport {

// Iterates GLib's main context until done() holds (true) or `timeout` has passed (false).
inline bool IterateUntilTicking(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    constexpr guint kTickMs = 10;
    const guint tick = g_timeout_add(
        kTickMs, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    const bool held = ns::desktop::IterateUntil(done, timeout);
    g_source_remove(tick);
    return held;
}

}  // namespace AppTestSupport

#endif  // APP_DESKTOP_TICKINGWAIT_H
