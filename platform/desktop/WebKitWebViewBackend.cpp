#include "platform/desktop/WebKitWebViewBackend.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/core/LogWriter.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/WebKitCookieSync.h"
#include "platform/desktop/WebProcessMemoryGuard.h"
#include "platform/ui/WebView.h"

namespace ns::desktop {

namespace {

// The one WebKit context of the process and the sync of its cookie store; made with the first
// web view and kept for the life of the process (its network process ends with ours).
struct Engine {
    WebKitWebContext* context;
    WebKitCookieSync* cookies;
};

// What WebKit's processes may use: a page whose pictures decode to gigabytes has its process
// ended (and the view fails its page) instead of taking all of the machine's memory. A portal
// page's web process takes about 0.2 to 0.3 GB; WebKit releases caches from a third of the
// limit, harder from half, and ends the process past the limit, checking every 30 s. Each check
// reads the process's whole memory map, 5 to 12 ms of a web process's time: at one a second it
// kept a still page's processes awake. WebProcessMemoryGuard holds the hard bound at every
// speed; WebKit's checks only end what creeps past this lower limit.
constexpr guint kProcessMemoryLimitMb = 1024;
constexpr double kProcessMemoryPollSeconds = 30.0;

WebKitMemoryPressureSettings* ProcessMemorySettings() {
    WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(settings, kProcessMemoryLimitMb);
    webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(settings, kProcessMemoryPollSeconds);
    return settings;
}

Engine& SharedEngine() {
    static Engine* engine = [] {
        WebKitMemoryPressureSettings* memory = ProcessMemorySettings();
        // Before the context: the settings reach the network processes started after this.
        webkit_website_data_manager_set_memory_pressure_settings(memory);
        WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
        auto* context =
            WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                            "memory-pressure-settings", memory, nullptr));
        g_object_unref(data);
        webkit_memory_pressure_settings_free(memory);
        WebProcessMemoryGuard::Start();
        // Emitted as WebKit starts each web process: the guard looks for it at once.
        g_signal_connect(
            context, "initialize-web-extensions",
            G_CALLBACK(+[](WebKitWebContext*, gpointer) { WebProcessMemoryGuard::WatchClosely(); }),
            nullptr);
        WebKitCookieManager* manager = webkit_website_data_manager_get_cookie_manager(
            webkit_web_context_get_website_data_manager(context));
        return new Engine{context, new WebKitCookieSync(manager)};
    }();
    return *engine;
}

ui::WebViewNavigationType NavigationType(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED: return ui::WebViewNavigationType::LinkClicked;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED: return ui::WebViewNavigationType::FormSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: return ui::WebViewNavigationType::BackForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD: return ui::WebViewNavigationType::Reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return ui::WebViewNavigationType::FormResubmitted;
        default: return ui::WebViewNavigationType::Other;
    }
}

bool IsOwnRefusal(const GError* error) {
    return g_error_matches(error, WEBKIT_POLICY_ERROR,
                           WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
           g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
}

ns::URL ParsedOrEmpty(const char* text) {
    std::optional<ns::URL> url = ns::URL::Parse(text != nullptr ? text : "");
    return url ? *url : ns::URL();
}

// The text as a JavaScript string literal.
std::string ScriptString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            g_snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    // U+2028 and U+2029 pass: they may stand inside a string literal since ES2019.
    return out + "\"";
}

// Clicks the first link whose href as written, resolved URL or collapsed and trimmed text is
// the match, as a person's click would (the page's handlers run, then the navigation).
const char* kClickLinkScript =
    "(function (m) {"
    "  var links = document.querySelectorAll('a[href], area[href]');"
    "  for (var i = 0; i < links.length; i++) {"
    "    var a = links[i];"
    "    var text = (a.textContent || '').replace(/\\s+/g, ' ').trim();"
    "    if (a.getAttribute('href') === m || a.href === m || text === m) {"
    "      a.click(); return true;"
    "    }"
    "  }"
    "  return false;"
    "})";

struct ScriptCall {
    std::weak_ptr<char> alive;
    ui::WebViewBackend::ScriptCompletion completion;
};

}  // namespace

void WebKitWebViewBackend::Install() {
    ui::WebView::SetBackendFactory(Factory());
    static bool hosted = false;
    if (hosted) return;
    hosted = true;
    Renderer::AddNativeWidgetHost(
        [](ui::View& view) -> GtkWidget* {
            auto* web = dynamic_cast<ui::WebView*>(&view);
            if (web == nullptr) return nullptr;
            auto* backend = dynamic_cast<WebKitWebViewBackend*>(&web->Backend());
            return backend != nullptr ? backend->Widget() : nullptr;
        },
        // The page grows with the window as the bars around it do: one CSS pixel per point.
        [](GtkWidget* widget, double scale) {
            if (WEBKIT_IS_WEB_VIEW(widget)) {
                webkit_web_view_set_zoom_level(WEBKIT_WEB_VIEW(widget), scale);
            }
        });
}

ui::WebViewBackendFactory WebKitWebViewBackend::Factory() {
    return [](ui::WebViewBackendClient& client, const ui::WebViewEnvironment& environment) {
        std::unique_ptr<ui::WebViewBackend> backend;
        if (gdk_display_get_default() != nullptr) {
            backend = std::make_unique<WebKitWebViewBackend>(client, environment);
        }
        return backend;
    };
}

WebKitWebViewBackend::WebKitWebViewBackend(ui::WebViewBackendClient& client,
                                           const ui::WebViewEnvironment& environment)
    : client_(client),
      environment_(environment),
      cancellable_(g_cancellable_new()),
      alive_(std::make_shared<char>(0)) {
    view_ = WEBKIT_WEB_VIEW(
        g_object_ref_sink(webkit_web_view_new_with_context(SharedEngine().context)));
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
    dialogs_ = WebKitScriptDialogs::Attach(view_);
    watchdog_ = std::make_unique<WebProcessWatchdog>(view_);
    ApplyUserAgent();
}

WebKitWebViewBackend::~WebKitWebViewBackend() {
    alive_.reset();
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (flushSource_ != 0) g_source_remove(flushSource_);
    if (endSource_ != 0) g_source_remove(endSource_);
    DropWaiting();
    loadDeadline_.Cancel();
    dialogs_->Detach();
    watchdog_.reset();
    g_signal_handlers_disconnect_by_data(view_, this);
    gtk_widget_destroy(GTK_WIDGET(view_));
    g_object_unref(view_);
}

void WebKitWebViewBackend::ApplyUserAgent() {
    const std::string agent = environment_.UserAgent();
    if (userAgentSet_ && agent == userAgent_) return;
    userAgent_ = agent;
    userAgentSet_ = true;
    webkit_settings_set_user_agent(webkit_web_view_get_settings(view_),
                                   agent.empty() ? nullptr : agent.c_str());
}

namespace {
double& LongestLoadSetting() {
    static double seconds = ns::URLRequest::kDefaultTimeoutSeconds;
    return seconds;
}
}  // namespace

double WebKitWebViewBackend::LongestLoadSeconds() { return LongestLoadSetting(); }

void WebKitWebViewBackend::SetLongestLoadSeconds(double seconds) { LongestLoadSetting() = seconds; }

void WebKitWebViewBackend::LoadRequest(const ns::URLRequest& request) {
    LeavePage();
    nextTimeout_ = request.TimeoutInterval();
    ApplyUserAgent();
    reloadAfterEnd_ = false;
    ownUrl_ = request.GetURL().AbsoluteString();
    WebKitURIRequest* r = webkit_uri_request_new(request.GetURL().AbsoluteString().c_str());
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(r)) {
        for (const auto& [name, value] : request.AllHTTPHeaderFields().Fields()) {
            // The jar gives the cookies and the default the agent.
            if (g_ascii_strcasecmp(name.c_str(), "Cookie") == 0 ||
                g_ascii_strcasecmp(name.c_str(), "User-Agent") == 0) {
                continue;
            }
            soup_message_headers_replace(headers, name.c_str(), value.c_str());
        }
    }
    webkit_web_view_load_request(view_, r);
    g_object_unref(r);
}

void WebKitWebViewBackend::LoadHtmlString(const std::string& html, const ns::URL& baseUrl) {
    Move move;
    move.kind = Move::Kind::NewHtml;
    move.html = html;
    LoadHtml(html, baseUrl.IsAbsolute() ? baseUrl.AbsoluteString() : "about:blank", move);
}

void WebKitWebViewBackend::LoadHtml(const std::string& html, const std::string& url, Move move) {
    LeavePage();
    nextTimeout_ = ns::URLRequest::kDefaultTimeoutSeconds;
    ApplyUserAgent();
    move.url = url;
    htmlMove_ = std::move(move);
    reloadAfterEnd_ = false;
    webkit_web_view_load_html(view_, html.c_str(), url.c_str());
}

void WebKitWebViewBackend::Reload() {
    if (history_.Empty()) return;
    Go(history_.Index(), ui::WebViewNavigationType::Reload);
}

void WebKitWebViewBackend::StopLoading() {
    ++allowGeneration_;
    htmlMove_.reset();
    reloadAfterEnd_ = false;
    DropWaiting();
    webkit_web_view_stop_loading(view_);
}

void WebKitWebViewBackend::GoBack() {
    if (history_.CanGoBack()) Go(history_.Index() - 1, ui::WebViewNavigationType::BackForward);
}

void WebKitWebViewBackend::GoForward() {
    if (history_.CanGoForward()) Go(history_.Index() + 1, ui::WebViewNavigationType::BackForward);
}

void WebKitWebViewBackend::Go(size_t index, ui::WebViewNavigationType type) {
    const WebKitHistory::Entry& entry = history_.At(index);
    if (entry.html) {
        Move move;
        move.kind = Move::Kind::Entry;
        move.target = index;
        move.type = type;
        LoadHtml(*entry.html, entry.url, move);
        return;
    }
    LeavePage();
    nextTimeout_ = ns::URLRequest::kDefaultTimeoutSeconds;
    ApplyUserAgent();
    ownHistoryMove_ = true;
    if (type == ui::WebViewNavigationType::Reload) {
        reloadAfterEnd_ = processEnded_;
        webkit_web_view_reload(view_);
    } else if (entry.item != nullptr) {
        webkit_web_view_go_to_back_forward_list_item(view_, entry.item);
    }
}

void WebKitWebViewBackend::Committed() {
    const char* uri = webkit_web_view_get_uri(view_);
    committed_ = ns::URLRequest(ParsedOrEmpty(uri));
    Move move = allowed_.value_or(Move());
    allowed_.reset();
    WebKitBackForwardListItem* item =
        webkit_back_forward_list_get_current_item(webkit_web_view_get_back_forward_list(view_));
    WebKitHistory::Entry entry;
    entry.url = uri != nullptr ? uri : "";
    switch (move.kind) {
        case Move::Kind::NewHtml:
            entry.html = std::move(move.html);
            history_.Push(std::move(entry));
            return;
        case Move::Kind::Entry:
            if (history_.MoveTo(move.target)) return;
            break;
        case Move::Kind::WebKitItem:
            if (std::optional<size_t> found = history_.Find(item)) {
                history_.MoveTo(*found);
                return;
            }
            break;
        case Move::Kind::Reload:
            if (!history_.Empty()) return;
            break;
        case Move::Kind::New: break;
    }
    entry.item = item;
    history_.Push(std::move(entry));
}

void WebKitWebViewBackend::EvaluateJavaScript(const std::string& script,
                                              ScriptCompletion completion) {
    webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, cancellable_, &OnScriptDone,
                                        new ScriptCall{alive_, std::move(completion)});
}

void WebKitWebViewBackend::OnScriptDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ScriptCall> call(static_cast<ScriptCall*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    std::string text;
    if (value != nullptr) {
        if (!jsc_value_is_undefined(value) && !jsc_value_is_null(value)) {
            char* s = jsc_value_to_string(value);
            if (s != nullptr) text = s;
            g_free(s);
        }
        g_object_unref(value);
    }
    if (error != nullptr) g_error_free(error);
    if (call->alive.expired() || !call->completion) return;
    call->completion(text);
}

bool WebKitWebViewBackend::ClickLink(const std::string& match) {
    if (committed_.GetURL().AbsoluteString().empty()) return false;
    ApplyUserAgent();
    const std::string script = std::string(kClickLinkScript) + "(" + ScriptString(match) + ");";
    webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, cancellable_, &OnScriptDone,
                                        new ScriptCall{alive_, nullptr});
    return true;
}

ns::Error WebKitWebViewBackend::PlatformError(const GError* error, const std::string& url) {
    long code = ns::Error::kCannotConnectToHost;
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) {
        code = ns::Error::kCancelled;
    } else if (g_error_matches(error, WEBKIT_NETWORK_ERROR,
                               WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL) ||
               (error != nullptr && error->domain == WEBKIT_POLICY_ERROR)) {
        code = ns::Error::kUnsupportedURL;
    } else if (error != nullptr && error->domain == G_RESOLVER_ERROR) {
        code = ns::Error::kCannotFindHost;
    } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
        code = ns::Error::kTimedOut;
    } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED) ||
               g_error_matches(error, G_IO_ERROR, G_IO_ERROR_BROKEN_PIPE) ||
               g_error_matches(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT)) {
        code = ns::Error::kNetworkConnectionLost;
    } else if (g_error_matches(error, SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS)) {
        code = ns::Error::kHTTPTooManyRedirects;
    } else if (error != nullptr && error->domain == SOUP_SESSION_ERROR) {
        code = ns::Error::kBadServerResponse;
    }
    return ns::Error::URLError(code, url);
}

ns::URLRequest WebKitWebViewBackend::Offered(WebKitURIRequest* request) const {
    ns::URLRequest offered(ParsedOrEmpty(webkit_uri_request_get_uri(request)));
    if (const char* method = webkit_uri_request_get_http_method(request)) {
        offered.SetHTTPMethod(method);
    }
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
        SoupMessageHeadersIter iter;
        soup_message_headers_iter_init(&iter, headers);
        const char* name = nullptr;
        const char* value = nullptr;
        while (soup_message_headers_iter_next(&iter, &name, &value)) {
            if (g_ascii_strcasecmp(name, "Cookie") != 0) offered.AddValue(value, name);
        }
    }
    offered.SetValue(environment_.UserAgent(), "User-Agent");
    offered.SetMainDocumentURL(offered.GetURL());
    return offered;
}

// --- what WebKit tells

gboolean WebKitWebViewBackend::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                              WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(
                    WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            Report report;
            report.kind = Report::Kind::Offer;
            report.decision = WEBKIT_POLICY_DECISION(g_object_ref(decision));
            report.redirect = webkit_navigation_action_is_redirect(action);
            report.userGesture = webkit_navigation_action_is_user_gesture(action);
            report.type =
                report.redirect
                    ? ui::WebViewNavigationType::Other
                    : NavigationType(webkit_navigation_action_get_navigation_type(action));
            report.request = self->Offered(webkit_navigation_action_get_request(action));
            // Our own HTML string load: WebKit offers it as "other" with its base URL.
            if (self->htmlMove_ && !report.redirect &&
                report.request.GetURL().AbsoluteString() == self->htmlMove_->url) {
                report.type = self->htmlMove_->type;
                report.move = std::move(self->htmlMove_);
                self->htmlMove_.reset();
                report.ours = true;
            }
            // A reload after the web process ended: WebKit loads the page anew in a new
            // process and offers it as "other"; it is still our reload.
            if (self->reloadAfterEnd_ && !report.redirect) {
                report.type = ui::WebViewNavigationType::Reload;
                self->reloadAfterEnd_ = false;
                report.ours = true;
            }
            if (!report.redirect && !report.ours) report.ours = self->TakeOwnOffer(report);
            report.pageStarted = !report.redirect && !report.ours && !report.userGesture;
            if (report.pageStarted && !self->AdmitPageStarted()) {
                webkit_policy_decision_ignore(report.decision);
                g_object_unref(report.decision);
                return TRUE;
            }
            self->Queue(std::move(report));
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
            // The application has no other windows to open.
            webkit_policy_decision_ignore(decision);
            return TRUE;
        case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
            // What the view cannot show is not downloaded either: the load fails.
            if (!webkit_response_policy_decision_is_mime_type_supported(
                    WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
                webkit_policy_decision_ignore(decision);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

void WebKitWebViewBackend::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    switch (event) {
        case WEBKIT_LOAD_STARTED: {
            self->failed_ = false;
            self->processEnded_ = false;
            self->timedOut_ = false;
            self->loadDeadline_.Start(std::min(self->nextTimeout_, LongestLoadSeconds()),
                                      [self] { self->OnLoadDeadline(); });
            self->nextTimeout_ = ns::URLRequest::kDefaultTimeoutSeconds;
            Report report;
            report.kind = Report::Kind::Start;
            self->Queue(std::move(report));
            break;
        }
        case WEBKIT_LOAD_REDIRECTED: break;
        case WEBKIT_LOAD_COMMITTED:
            self->Committed();
            self->Queue(Report());
            break;
        case WEBKIT_LOAD_FINISHED: {
            self->loadDeadline_.Cancel();
            if (self->failed_) {
                self->failed_ = false;
                break;
            }
            // Told once the page's cookies are in the jar.
            Report report;
            report.kind = Report::Kind::Finish;
            report.ready = false;
            report.serial = ++self->finishSerial_;
            self->Queue(std::move(report));
            self->SyncBeforeFinish(self->finishSerial_);
            break;
        }
    }
}

void WebKitWebViewBackend::SyncBeforeFinish(uint64_t serial) {
    // The page's scripts hand the cookies they set to WebKit's network process on their own
    // channel, which may not have been read yet when the cookie manager is asked. Reading
    // document.cookie goes down that channel after them and waits for the answer, so once this
    // script is back the network process holds them.
    auto call = new ScriptCall{
        alive_, [this, serial](const std::string&) {
            std::weak_ptr<char> alive = alive_;
            SharedEngine().cookies->Sync(environment_.Cookies(), [this, alive, serial] {
                if (alive.expired()) return;
                for (Report& r : queue_) {
                    if (r.kind == Report::Kind::Finish && r.serial == serial) r.ready = true;
                }
                ScheduleFlush();
            });
        }};
    static const char kCookieRead[] = "void document.cookie;";
    webkit_web_view_evaluate_javascript(view_, kCookieRead, -1, nullptr, nullptr, cancellable_,
                                        &OnScriptDone, call);
}

gboolean WebKitWebViewBackend::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri,
                                            GError* error, gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    self->failed_ = true;
    self->loadDeadline_.Cancel();
    // The process's end, or the deadline, was the load's failure, told already.
    if (self->processEnded_ || self->timedOut_) return TRUE;
    Report report;
    if (self->refusedHop_ && IsOwnRefusal(error)) {
        self->refusedHop_ = false;
        report.kind = Report::Kind::End;
    } else {
        report.kind = Report::Kind::Fail;
        report.error = PlatformError(error, uri != nullptr ? uri : "");
    }
    self->Queue(std::move(report));
    return TRUE;  // no error page of WebKit's
}

void WebKitWebViewBackend::OnWebProcessTerminated(WebKitWebView* view,
                                                  WebKitWebProcessTerminationReason reason,
                                                  gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    const char* uri = webkit_web_view_get_uri(view);
    self->loadDeadline_.Cancel();
    self->dialogs_->CloseAll();
    if (self->leaving_) {
        ns::Log("[WEB] web process of %s ended to leave it", uri != nullptr ? uri : "nothing");
        self->failed_ = true;
        self->processEnded_ = true;
        return;
    }
    // The guard's end of a process that took too much memory reaches WebKit as a crash.
    if (reason == WEBKIT_WEB_PROCESS_CRASHED && WebProcessMemoryGuard::EndedTheCrashedProcess()) {
        reason = WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT;
    }
    Report report;
    report.kind = Report::Kind::Fail;
    report.error = ProcessEndedError(reason, uri != nullptr ? uri : "");
    if (self->watchdog_->TakeEnded()) {
        report.error = ns::Error(ns::Error::kURLErrorDomain, ns::Error::kNetworkConnectionLost,
                                 "The web page's process ended: it stopped answering.",
                                 report.error.FailingURL());
    } else if (self->floodEnded_) {
        report.error = ns::Error(ns::Error::kURLErrorDomain, ns::Error::kNetworkConnectionLost,
                                 "The web page's process ended: it started navigations without "
                                 "end.",
                                 report.error.FailingURL());
    }
    self->floodEnded_ = false;
    ns::Log("[WEB] web process ended while showing %s: %s", uri != nullptr ? uri : "nothing",
            report.error.LocalizedDescription().c_str());
    // The page is gone, whether a load was under way or not; whatever WebKit still says of
    // that load is not a page of ours.
    self->failed_ = true;
    self->processEnded_ = true;
    self->Queue(std::move(report));
}

ns::Error WebKitWebViewBackend::ProcessEndedError(WebKitWebProcessTerminationReason reason,
                                                  const std::string& url) {
    const char* why = "it crashed";
    switch (reason) {
        case WEBKIT_WEB_PROCESS_CRASHED: break;
        case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT: why = "it exceeded its memory limit"; break;
        case WEBKIT_WEB_PROCESS_TERMINATED_BY_API: why = "the application ended it"; break;
    }
    // The page's content is lost as a connection is: the code the platform has for that.
    return ns::Error(ns::Error::kURLErrorDomain, ns::Error::kNetworkConnectionLost,
                     std::string("The web page's process ended: ") + why + ".", url);
}

void WebKitWebViewBackend::LeavePage() {
    // A page whose script waits in a dialog, or never returns, would keep the load waiting
    // behind it for ever.
    const bool held = dialogs_->CloseAll();
    if (!held && !watchdog_->IsUnresponsive()) return;
    // WebKit tells of the end before this returns.
    leaving_ = true;
    webkit_web_view_terminate_web_process(view_);
    leaving_ = false;
}

void WebKitWebViewBackend::OnLoadDeadline() {
    // The view names a page it navigates to itself only once that commits.
    const char* uri = loadingUrl_.empty() ? webkit_web_view_get_uri(view_) : loadingUrl_.c_str();
    Report report;
    report.kind = Report::Kind::Fail;
    report.error = ns::Error::URLError(ns::Error::kTimedOut, uri != nullptr ? uri : "");
    ns::Log("[WEB] page load of %s timed out", uri != nullptr ? uri : "nothing");
    failed_ = true;
    timedOut_ = true;
    Queue(std::move(report));
    webkit_web_view_stop_loading(view_);
}

bool WebKitWebViewBackend::TakeOwnOffer(const Report& report) {
    if (ownUrl_ && report.request.GetURL().AbsoluteString() == *ownUrl_) {
        ownUrl_.reset();
        return true;
    }
    if (ownHistoryMove_ && (report.type == ui::WebViewNavigationType::Reload ||
                            report.type == ui::WebViewNavigationType::BackForward)) {
        ownHistoryMove_ = false;
        return true;
    }
    return false;
}

bool WebKitWebViewBackend::AdmitPageStarted() {
    // A page's script can follow thousands of links a second. One of its offers waits for the
    // delegate's answer at a time; the rest are ignored at once.
    const gint64 now = g_get_monotonic_time();
    if (now - pageOfferWindow_ >= G_USEC_PER_SEC) {
        pageOfferWindow_ = now;
        pageOffers_ = 0;
    }
    // Even ignored at once, WebKit's messages for them keep the loop from drawing the window
    // (they come at a higher priority than drawing): past a rate no page needs, its process
    // is ended as one that stops answering is, and the failure shows.
    if (++pageOffers_ > kMaxPageOffersPerSecond && endSource_ == 0 && !floodEnded_) {
        ns::Log("[WEB] the page started more than %d navigations within a second: ending it",
                kMaxPageOffersPerSecond);
        endSource_ = g_idle_add_full(G_PRIORITY_HIGH, &OnFlood, this, nullptr);
    }
    if (pageOffers_ > kMaxPageOffersPerSecond) return false;
    for (const Report& r : queue_) {
        if (r.kind == Report::Kind::Offer && r.pageStarted) return false;
    }
    return true;
}

gboolean WebKitWebViewBackend::OnFlood(gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    self->endSource_ = 0;
    self->floodEnded_ = true;
    webkit_web_view_terminate_web_process(self->view_);
    return G_SOURCE_REMOVE;
}

// --- telling the delegate

void WebKitWebViewBackend::Queue(Report report) {
    queue_.push_back(std::move(report));
    ScheduleFlush();
}

void WebKitWebViewBackend::ScheduleFlush() {
    if (flushSource_ == 0) {
        flushSource_ = g_idle_add_full(G_PRIORITY_DEFAULT, &OnFlush, this, nullptr);
    }
}

gboolean WebKitWebViewBackend::OnFlush(gpointer data) {
    auto* self = static_cast<WebKitWebViewBackend*>(data);
    self->flushSource_ = 0;
    self->Flush();
    return G_SOURCE_REMOVE;
}

void WebKitWebViewBackend::Flush() {
    while (!queue_.empty() && queue_.front().ready) {
        Report report = std::move(queue_.front());
        queue_.pop_front();
        if (!Tell(report)) return;
    }
}

bool WebKitWebViewBackend::Tell(Report& report) {
    std::weak_ptr<char> alive = alive_;
    switch (report.kind) {
        case Report::Kind::Offer: {
            WebKitPolicyDecision* decision = report.decision;
            const bool allowed =
                client_.BackendShouldStartLoad(report.request, {report.type, report.userGesture});
            if (alive.expired() || !allowed) {
                if (!alive.expired() && report.redirect) refusedHop_ = true;
                webkit_policy_decision_ignore(decision);
                g_object_unref(decision);
                return !alive.expired();
            }
            loadingUrl_ = report.request.GetURL().AbsoluteString();
            if (report.redirect) {
                webkit_policy_decision_use(decision);
                g_object_unref(decision);
                return true;
            }
            if (report.move) {
                allowed_ = std::move(report.move);
            } else {
                allowed_ = Move();
                if (report.type == ui::WebViewNavigationType::BackForward) {
                    allowed_->kind = Move::Kind::WebKitItem;
                } else if (report.type == ui::WebViewNavigationType::Reload) {
                    allowed_->kind = Move::Kind::Reload;
                }
            }
            ApplyUserAgent();
            Allow(decision);
            return true;
        }
        case Report::Kind::Start:
            loading_ = true;
            client_.BackendDidStartLoad();
            break;
        case Report::Kind::Finish:
            loading_ = false;
            client_.BackendDidFinishLoad();
            break;
        case Report::Kind::Fail:
            loading_ = false;
            client_.BackendDidFailLoad(report.error);
            break;
        case Report::Kind::End:
            loading_ = false;
            client_.BackendStateChanged();
            break;
        case Report::Kind::Changed: client_.BackendStateChanged(); break;
    }
    return !alive.expired();
}

void WebKitWebViewBackend::Allow(WebKitPolicyDecision* decision) {
    const uint64_t generation = allowGeneration_;
    std::weak_ptr<char> alive = alive_;
    SharedEngine().cookies->Sync(environment_.Cookies(), [this, alive, generation, decision] {
        if (alive.expired() || generation != allowGeneration_) {
            webkit_policy_decision_ignore(decision);
        } else {
            webkit_policy_decision_use(decision);
        }
        g_object_unref(decision);
    });
}

void WebKitWebViewBackend::DropWaiting() {
    for (Report& report : queue_) {
        if (report.decision != nullptr) {
            webkit_policy_decision_ignore(report.decision);
            g_object_unref(report.decision);
            report.decision = nullptr;
        }
    }
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [](const Report& r) { return r.kind == Report::Kind::Offer; }),
                 queue_.end());
}

}  // namespace ns::desktop
