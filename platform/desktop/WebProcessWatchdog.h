#ifndef PLATFORM_DESKTOP_WEB_PROCESS_WATCHDOG_H
#define PLATFORM_DESKTOP_WEB_PROCESS_WATCHDOG_H
// Ends the web process of a view that has stopped answering.
//
// A page's script that never returns (for (;;) {}) holds its web process at a full core, and
// every load asked of that process, the native menu's included, waits behind it for ever.
// WebKit says when a web process has not answered for a few seconds (the view's
// "is-web-process-responsive"); once it has not answered for UnresponsiveSeconds() more on the
// toolkit's loop, the watchdog ends it (WebKit then tells the view its process was ended) and
// logs a line. The process answering again in time stops the count.
//
// The time is a process-wide setting whose default, kUnresponsiveSeconds, is what the
// application runs with; window tests that go through the whole wait shorten it. GTK thread
// only.

#include <webkit2/webkit2.h>

#include "platform/desktop/LoopTimer.h"

namespace ns::desktop {

class WebProcessWatchdog {
public:
    static constexpr double kUnresponsiveSeconds = 10;

    static double UnresponsiveSeconds();
    // For the views whose count starts after the call.
    static void SetUnresponsiveSeconds(double seconds);

    explicit WebProcessWatchdog(WebKitWebView* view);
    ~WebProcessWatchdog();
    WebProcessWatchdog(const WebProcessWatchdog&) = delete;
    WebProcessWatchdog& operator=(const WebProcessWatchdog&) = delete;

    // WebKit says the view's process is not answering now.
    bool IsUnresponsive() const;
    // Asked as WebKit says the view's process ended: whether the watchdog ended it (once).
    bool TakeEnded();

private:
    static void OnResponsiveChanged(GObject* view, GParamSpec*, gpointer self);
    void EndProcess();

    WebKitWebView* view_;
    LoopTimer timer_;
    bool ended_ = false;
};

}  // namespace ns::desktop

#endif
