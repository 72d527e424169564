#include "platform/desktop/testing/MainContextWait.h"

#include <glib.h>

#include <algorithm>
#include <climits>

namespace ns::desktop {

bool IterateUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // A timeout source ends the last blocking iteration; GLib reads the monotonic clock.
    bool expired = false;
    const auto ms = std::min<long long>(std::max<long long>(timeout.count(), 0), UINT_MAX);
    GSource* guard = g_timeout_source_new(static_cast<guint>(ms));
    g_source_set_callback(
        guard,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(guard, nullptr);
    bool result = false;
    for (;;) {
        if (done()) {
            result = true;
            break;
        }
        if (expired) break;
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_destroy(guard);
    g_source_unref(guard);
    return result;
}

void IterateFor(std::chrono::milliseconds time) {
    IterateUntil([] { return false; }, time);
}

void IteratePending() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

}  // namespace ns::desktop
