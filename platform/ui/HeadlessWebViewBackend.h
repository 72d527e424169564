#ifndef PLATFORM_UI_HEADLESS_WEB_VIEW_BACKEND_H
#define PLATFORM_UI_HEADLESS_WEB_VIEW_BACKEND_H
// The web view's engine for tests and scripts: no rendering and no script engine.
//
// It loads the main document only, through ns::URLConnection on the toolkit loop and the
// environment's cookie store, one redirect hop at a time, each hop offered to the delegate (as
// Other, with the user gesture of the navigation it belongs to) before it is sent. The page's
// request carries the environment's user agent and the store's cookies for its URL (a Cookie field
// the request was built with is dropped: it may be stale, or hold cookies of other sites). An HTML
// page's links are read with HtmlLinkParser; ClickLink follows one as a person would. Scripts are
// only logged (by the web view); their result is "".
//
// A page's bytes are held in memory up to kMaxPageBytes: a larger page (announced or not)
// fails with ns::Error::kDataLengthExceedsMaximum. History keeps the latest kMaxHistory pages;
// an HTML string's entry keeps its text, so going back to it shows it again without the
// network. Every delegate call comes from a closure posted to the toolkit loop.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/ui/HtmlLinkParser.h"
#include "platform/ui/WebViewBackend.h"

namespace ui {

class HeadlessWebViewBackend : public WebViewBackend, private ns::URLConnectionDelegate {
public:
    static constexpr size_t kMaxPageBytes = 8 * 1024 * 1024;
    static constexpr size_t kMaxHistory = 100;
    HeadlessWebViewBackend(WebViewBackendClient& client, const WebViewEnvironment& environment);
    ~HeadlessWebViewBackend() override;

    void LoadRequest(const ns::URLRequest& request) override;
    void LoadHtmlString(const std::string& html, const ns::URL& baseUrl) override;
    void Reload() override;
    void StopLoading() override;
    bool IsLoading() const override { return loading_.has_value(); }
    bool CanGoBack() const override { return index_ > 0; }
    bool CanGoForward() const override { return index_ + 1 < history_.size(); }
    void GoBack() override { OfferLater(HistoryMove(-1)); }
    void GoForward() override { OfferLater(HistoryMove(+1)); }
    ns::URLRequest Request() const override;
    void EvaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    bool ClickLink(const std::string& match) override;

    // The links of the page shown, in document order.
    const std::vector<HtmlLink>& Links() const { return links_; }

private:
    struct Entry {
        ns::URLRequest request;
        std::optional<std::string> html;  // an HTML string's text
    };
    struct Navigation {
        enum class Kind { New, Reload, History };
        Kind kind = Kind::New;
        Entry entry;    // New: what to load
        int delta = 0;  // History: -1 back, +1 forward
        WebViewNavigationAction action;
    };
    // A load that was allowed and is under way.
    struct Load {
        Navigation navigation;
        uint64_t serial;
        bool committed = false;
    };

    static Navigation HistoryMove(int delta);
    // Posts the navigation; it is offered to the delegate on a later step unless StopLoading
    // comes first.
    void OfferLater(Navigation navigation);
    void Offer(Navigation navigation);
    // The request as it goes out: user agent, no Cookie field (the store gives the cookies),
    // the page itself as the main document.
    ns::URLRequest Prepared(const ns::URLRequest& request) const;
    // Stops the load under way without a word; false when there was none.
    bool Abandon();
    // Puts the load's page into the history as the page shown.
    void Commit(const Entry& entry);
    // Ends the load under way and reports the failure; false when the backend is gone after.
    void Fail(const ns::Error& error);
    void FinishHtml(uint64_t serial);

    // ns::URLConnectionDelegate
    std::optional<ns::URLRequest> WillSendRequest(ns::URLConnection& connection,
                                                  const ns::URLRequest& request,
                                                  const ns::URLResponse& redirectResponse) override;
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

    WebViewBackendClient& client_;
    WebViewEnvironment environment_;
    ns::RunLoop& loop_;
    // Posted closures and code after a client call hold it weakly: expired means the backend
    // is gone.
    std::shared_ptr<char> alive_;
    // Bumped by StopLoading: navigations posted before it are dropped.
    uint64_t stopGeneration_ = 0;
    uint64_t loadSerial_ = 0;

    std::vector<Entry> history_;
    size_t index_ = 0;  // of the page shown; meaningless while history_ is empty
    std::optional<Load> loading_;
    std::shared_ptr<ns::URLConnection> connection_;
    std::string mimeType_;
    std::string body_;
    std::vector<HtmlLink> links_;
};

}  // namespace ui

#endif  // PLATFORM_UI_HEADLESS_WEB_VIEW_BACKEND_H
