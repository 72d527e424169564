#ifndef PLATFORM_UI_WEB_VIEW_BACKEND_H
#define PLATFORM_UI_WEB_VIEW_BACKEND_H
// The engine behind a ui::WebView. The model (WebView) is what the application talks to; it
// hands every load, history move and script to its backend and hears back through
// WebViewBackendClient. The headless backend loads with net::URLConnection and reads links with
// libxml2; the desktop installs a factory for its WebKit one (WebView::SetBackendFactory).
//
// A backend keeps the delegate contract of WebViewDelegate.h: it offers every main-frame
// navigation, redirect hops included, to ShouldStartLoad, and reports start, finish and failure
// of the loads it was allowed, never from inside one of the model's calls. It sends the
// environment's user agent with every request and keeps the environment's cookie store as the
// page's cookies in both directions (requests carry the store's cookies, not a Cookie field the
// request was built with; cookies responses and scripts set reach the store before
// DidFinishLoad).
//
// The web view may be destroyed from inside any client call (a delegate that drops it): a
// backend must not touch itself after a client call without checking that it still lives.

#include <functional>
#include <memory>
#include <string>

#include "platform/net/CookieStorage.h"
#include "platform/net/Error.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/WebViewDelegate.h"

namespace ui {

// Where a web view's pages get their user agent and cookies. Null members mean the process's
// own: the standard user defaults and the shared cookie store.
struct WebViewEnvironment {
    static constexpr const char* kUserAgentKey = "UserAgent";

    ns::CookieStorage* cookies = nullptr;
    ns::UserDefaults* defaults = nullptr;

    ns::CookieStorage& Cookies() const;
    // The "UserAgent" user default as it is now (read for every request, so a changed default
    // applies to the next one).
    std::string UserAgent() const;
};

// What a backend tells its web view; the model passes it on to the delegate.
class WebViewBackendClient {
public:
    virtual ~WebViewBackendClient() = default;
    virtual bool BackendShouldStartLoad(const ns::URLRequest& request,
                                        const WebViewNavigationAction& action) = 0;
    virtual void BackendDidStartLoad() = 0;
    virtual void BackendDidFinishLoad() = 0;
    virtual void BackendDidFailLoad(const ns::Error& error) = 0;
    // The page, the history or the loading flag changed (the renderer re-reads the model).
    virtual void BackendStateChanged() = 0;
};

class WebViewBackend {
public:
    // A script's result as text; "" when there is none (or no script engine).
    using ScriptCompletion = std::function<void(const std::string& result)>;

    virtual ~WebViewBackend() = default;

    virtual void LoadRequest(const ns::URLRequest& request) = 0;
    virtual void LoadHtmlString(const std::string& html, const ns::URL& baseUrl) = 0;
    virtual void Reload() = 0;
    // Stops the load under way (it fails with -999) and any navigation not yet offered.
    virtual void StopLoading() = 0;
    virtual bool IsLoading() const = 0;

    virtual bool CanGoBack() const = 0;
    virtual bool CanGoForward() const = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;

    // The request of the page shown: after a redirect its last hop; for an HTML string the
    // base URL. Empty before the first page. A navigation changes it when its response
    // arrives, so DidFinishLoad reads the new page's and a failure before that the old one's.
    virtual ns::URLRequest Request() const = 0;

    // Runs the script in the page; the completion (may be null) runs later on the toolkit
    // loop with the result ("" when the script fails or gives nothing), never from inside this
    // call, and not at all once the backend is gone.
    virtual void EvaluateJavaScript(const std::string& script, ScriptCompletion completion) = 0;

    // A person clicks the first link of the page whose href as written, whose URL resolved
    // against the page, or whose text (white space collapsed and trimmed) equals `match`. False
    // when the page has no such link as far as the backend can tell at once.
    virtual bool ClickLink(const std::string& match) = 0;
};

using WebViewBackendFactory = std::function<std::unique_ptr<WebViewBackend>(
    WebViewBackendClient& client, const WebViewEnvironment& environment)>;

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_BACKEND_H
