#include "platform/desktop/WebProcessWatchdog.h"

#include "platform/core/LogWriter.h"

namespace ns::desktop {

namespace {

double& UnresponsiveSetting() {
    static double seconds = WebProcessWatchdog::kUnresponsiveSeconds;
    return seconds;
}

}  // namespace

double WebProcessWatchdog::UnresponsiveSeconds() { return UnresponsiveSetting(); }

void WebProcessWatchdog::SetUnresponsiveSeconds(double seconds) { UnresponsiveSetting() = seconds; }

WebProcessWatchdog::WebProcessWatchdog(WebKitWebView* view) : view_(view) {
    g_signal_connect(view_, "notify::is-web-process-responsive", G_CALLBACK(OnResponsiveChanged),
                     this);
}

WebProcessWatchdog::~WebProcessWatchdog() {
    g_signal_handlers_disconnect_by_func(view_, reinterpret_cast<gpointer>(OnResponsiveChanged),
                                         this);
}

bool WebProcessWatchdog::IsUnresponsive() const {
    return !webkit_web_view_get_is_web_process_responsive(view_);
}

bool WebProcessWatchdog::TakeEnded() {
    const bool ended = ended_;
    ended_ = false;
    return ended;
}

void WebProcessWatchdog::OnResponsiveChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<WebProcessWatchdog*>(data);
    if (!self->IsUnresponsive()) {
        self->timer_.Cancel();
    } else if (!self->timer_.IsRunning()) {
        self->timer_.Start(UnresponsiveSeconds(), [self] { self->EndProcess(); });
    }
}

void WebProcessWatchdog::EndProcess() {
    if (!IsUnresponsive()) return;
    const char* uri = webkit_web_view_get_uri(view_);
    ns::Log("[WEB] web process of %s stopped answering for %g s: ending it",
            uri != nullptr ? uri : "nothing", UnresponsiveSeconds());
    ended_ = true;
    webkit_web_view_terminate_web_process(view_);
}

}  // namespace ns::desktop
