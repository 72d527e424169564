#ifndef PLATFORM_DESKTOP_WEBKIT_WEB_VIEW_BACKEND_H
#define PLATFORM_DESKTOP_WEBKIT_WEB_VIEW_BACKEND_H
// The web view's engine in the window: a WebKitWebView (WebKitGTK 4.1) behind ui::WebView.
//
// Navigations. Every main-frame navigation reaches WebKit's "decide-policy" and is offered to
// the delegate with WebKit's navigation type (link 0, form 1, back/forward 2, reload 3, form
// again 4, other 5); a redirect hop arrives with its navigation's type and a redirect flag and
// is offered as other (5). WebKit's user-gesture flag goes with each (a redirect hop keeps its
// navigation's). A custom scheme arrives there like any link; a refusal ignores the
// navigation, so nothing loads. An allowed new navigation waits until WebKit's cookie store
// has the jar's cookies; a refused redirect hop ends its load without a word (WebKit fails it
// with a policy error that is ours, not the delegate's news). The load a newer one replaces,
// or that StopLoading stops, fails with WebKit's cancel code, told as ns::Error::kCancelled
// (-999); other failures are told with the platform's URL error code nearest to WebKit's.
// WebKit's own error pages never show. WebKitGTK 4.1 does not say which frame a navigation is
// for, so a page's frames (iframes) are offered like the main frame; they report no start or
// finish of their own.
//
// Cookies. One WebKit context (ephemeral: nothing is written to disk) serves every web view of
// the process; its cookie store and the environment's jar are kept in step by
// WebKitCookieSync: before an allowed new navigation goes out, and before a finished load is
// told (so the cookies the page's responses and scripts set are in the jar by then).
//
// History is WebKitHistory: WebKit's items, and HTML strings shown again from their text. A
// response WebKit cannot show is not downloaded: its load fails (unsupported URL).
//
// The model's own loads go out as GET with the request's header fields (WebKit's request takes
// no method or body of ours); Cookie and User-Agent fields come from the jar and the default.
//
// The user agent is the environment's "UserAgent" default, read into WebKit's settings before
// each navigation the model starts (and each the page starts, for the next request). Scripts
// run with webkit_web_view_evaluate_javascript; a result that is not a string is given as
// JavaScript's own text of it, undefined and null as "". ClickLink runs a small script that
// clicks the first matching link; it can tell at once only whether there is a page.
//
// When WebKit's web process ends (it crashed, or used more memory than it may) the page is
// gone and the view shows nothing: that is told as a failed load (of the page being loaded,
// else of the page shown), with the platform's connection-lost code and a text that says the
// page's process ended and why, so the delegate shows its own page as for any failure. A line
// is logged. WebKit starts a new web process for the next load or reload.
//
// A page cannot keep the person. Its script dialogs are the application's alerts
// (WebKitScriptDialogs); a web process that stops answering is ended (WebProcessWatchdog) and
// told as above. A load the model starts while the page holds a dialog open, or while its
// process is not answering, ends that process first without a word (the page is being left):
// the load goes in a new one. A navigation the page starts on its own (no person's gesture,
// not a redirect, not the model's) is ignored at once while another such waits for the
// delegate's answer; past 50 of them within a second the page's process is ended (WebKit's
// messages for them alone kept the window from drawing) and told as above. Every load has a
// deadline on the toolkit's loop from its start: the time-out of the model's request, for a load
// the page starts the default request time-out (60 s). Past it the load stops and fails as timed
// out (ns::Error::kTimedOut).
//
// Everything the delegate hears goes through one queue, told from a GLib idle step in the order
// WebKit gave it (a finish waits there for its cookies), never from inside a model call; the
// web view may be destroyed from inside any delegate call. GTK thread only.

#include <webkit2/webkit2.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/LoopTimer.h"
#include "platform/desktop/WebKitHistory.h"
#include "platform/desktop/WebKitScriptDialogs.h"
#include "platform/desktop/WebProcessWatchdog.h"
#include "platform/ui/WebViewBackend.h"

namespace ns::desktop {

class WebKitWebViewBackend : public ui::WebViewBackend {
public:
    // Makes WebKit the engine of web views made from now on, and lets renderers show each such
    // view's WebKitWebView inside the view's box. Needs GTK initialised; the factory makes no
    // backend (so the web view falls back to the headless one) when there is no display.
    static void Install();
    static ui::WebViewBackendFactory Factory();
    // The longest any page load may take before it fails as timed out, whatever its request
    // asks (a minute, as the sign-in); for the loads that start after the call.
    static double LongestLoadSeconds();
    static void SetLongestLoadSeconds(double seconds);

    WebKitWebViewBackend(ui::WebViewBackendClient& client,
                         const ui::WebViewEnvironment& environment);
    ~WebKitWebViewBackend() override;

    // The widget (a WebKitWebView), owned by the backend.
    GtkWidget* Widget() const { return GTK_WIDGET(view_); }
    WebKitWebView* View() const { return view_; }

    void LoadRequest(const ns::URLRequest& request) override;
    void LoadHtmlString(const std::string& html, const ns::URL& baseUrl) override;
    void Reload() override;
    void StopLoading() override;
    bool IsLoading() const override { return loading_; }
    bool CanGoBack() const override { return history_.CanGoBack(); }
    bool CanGoForward() const override { return history_.CanGoForward(); }
    void GoBack() override;
    void GoForward() override;
    ns::URLRequest Request() const override { return committed_; }
    void EvaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    bool ClickLink(const std::string& match) override;

    // WebKit's error as the platform's (the URL is the one that failed).
    static ns::Error PlatformError(const GError* error, const std::string& url);
    // The failure of the page at `url` whose web process ended for `reason`.
    static ns::Error ProcessEndedError(WebKitWebProcessTerminationReason reason,
                                       const std::string& url);

private:
    // What the page a navigation shows is in the history.
    struct Move {
        enum class Kind {
            New,         // a new page after the one shown
            NewHtml,     // a new page from an HTML string
            Entry,       // an entry of ours again (an HTML string's, shown by loading it)
            WebKitItem,  // WebKit's own back-forward move: the entry holding its item
            Reload,      // the page shown again
        };
        Kind kind = Kind::New;
        size_t target = 0;  // Entry
        std::string html;   // NewHtml
        std::string url;    // NewHtml, Entry: the base URL the offer names
        ui::WebViewNavigationType type = ui::WebViewNavigationType::Other;
    };
    // One thing to tell the delegate, in WebKit's order.
    struct Report {
        // End: the load ended without a word (a refused redirect hop).
        enum class Kind { Offer, Start, Finish, Fail, End, Changed };
        Kind kind = Kind::Changed;
        bool ready = true;
        WebKitPolicyDecision* decision = nullptr;  // Offer: referenced until answered
        bool redirect = false;
        ui::WebViewNavigationType type = ui::WebViewNavigationType::Other;
        bool userGesture = false;
        ns::URLRequest request;
        ns::Error error;
        uint64_t serial = 0;
        std::optional<Move> move;  // Offer: an HTML string load of ours
        bool ours = false;         // Offer: a load the model started
        bool pageStarted = false;  // Offer: the page's own, with no person's gesture
    };
    static constexpr int kMaxPageOffersPerSecond = 50;

    // Shows the history entry at `index` again, with the navigation type given.
    void Go(size_t index, ui::WebViewNavigationType type);
    void LoadHtml(const std::string& html, const std::string& url, Move move);
    // Marks the finish `serial` ready once the page's cookies are in the jar.
    void SyncBeforeFinish(uint64_t serial);
    // The history after a commit of the navigation allowed last.
    void Committed();
    // The user agent default into WebKit's settings (when it changed).
    void ApplyUserAgent();
    void Queue(Report report);
    void ScheduleFlush();
    // Tells what is ready at the head of the queue; stops when the backend is gone.
    void Flush();
    // Tells one report; false when the backend is gone after it.
    bool Tell(Report& report);
    // Lets an allowed navigation go once WebKit has the jar's cookies.
    void Allow(WebKitPolicyDecision* decision);
    ns::URLRequest Offered(WebKitURIRequest* request) const;
    // Whether the offer is the load the model started last (taken once).
    bool TakeOwnOffer(const Report& report);
    // Whether a navigation the page started on its own is offered; else it is ignored at once.
    bool AdmitPageStarted();
    // Drops navigations that are waiting for an answer or for the cookies.
    void DropWaiting();
    // Before a load of the model's: ends the page's process when the page would hold it.
    void LeavePage();
    // The load under way has taken too long: it stops and fails as timed out.
    void OnLoadDeadline();

    static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                 GError* error, gpointer self);
    static void OnWebProcessTerminated(WebKitWebView* view,
                                       WebKitWebProcessTerminationReason reason, gpointer self);
    static gboolean OnFlush(gpointer self);
    // The page started navigations past the rate: its process is ended.
    static gboolean OnFlood(gpointer self);
    static void OnScriptDone(GObject* source, GAsyncResult* result, gpointer call);

    ui::WebViewBackendClient& client_;
    ui::WebViewEnvironment environment_;
    WebKitWebView* view_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    // Async work holds it weakly: expired means the backend is gone.
    std::shared_ptr<char> alive_;
    std::deque<Report> queue_;
    guint flushSource_ = 0;
    // Navigations allowed and waiting for the cookies; bumped by StopLoading to drop them.
    uint64_t allowGeneration_ = 0;
    uint64_t finishSerial_ = 0;
    std::string userAgent_;
    bool userAgentSet_ = false;
    ns::URLRequest committed_;
    WebKitHistory history_;
    // Our HTML string load that WebKit has still to offer.
    std::optional<Move> htmlMove_;
    // What the navigation allowed last shows once it commits.
    std::optional<Move> allowed_;
    bool loading_ = false;
    // The load under way failed (WebKit still ends it with a finished event).
    bool failed_ = false;
    // The load under way ends because a redirect hop was refused: its failure is not told.
    bool refusedHop_ = false;
    // The web process ended and that was told as the failure: WebKit's own end of the load
    // under way (if it gives one) is not told again. Cleared when a load starts.
    bool processEnded_ = false;
    // Our reload of the page whose process ended, still to be offered.
    bool reloadAfterEnd_ = false;
    std::shared_ptr<WebKitScriptDialogs> dialogs_;
    std::unique_ptr<WebProcessWatchdog> watchdog_;
    // The deadline of the load under way, and the time-out of the next load to start.
    LoopTimer loadDeadline_;
    double nextTimeout_ = ns::URLRequest::kDefaultTimeoutSeconds;
    // Where the navigation allowed last goes (after its redirects so far).
    std::string loadingUrl_;
    // The load under way passed its deadline and that was told as its failure: WebKit's own
    // end of it is not told again. Cleared when a load starts.
    bool timedOut_ = false;
    // LeavePage is ending the page's process: that end is not told.
    bool leaving_ = false;
    // The model's load still to be offered: its URL, or a history move (reload, back, forward).
    std::optional<std::string> ownUrl_;
    bool ownHistoryMove_ = false;
    // The page's own navigations offered in the second from pageOfferWindow_ (microseconds).
    gint64 pageOfferWindow_ = 0;
    int pageOffers_ = 0;
    guint endSource_ = 0;
    // The process was ended for that: its end is told so.
    bool floodEnded_ = false;
};

}  // namespace ns::desktop

#endif
