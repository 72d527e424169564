#include "platform/ui/HeadlessWebViewBackend.h"

#include <utility>

#include "platform/ui/Loop.h"

namespace ui {

namespace {

// What a page without a base URL of its own is shown as.
ns::URL BlankURL() { return *ns::URL::Parse("about:blank"); }

bool IsHtml(const std::string& mimeType) {
    return mimeType.empty() || mimeType == "text/html" || mimeType == "application/xhtml+xml";
}

ns::Error TooLarge(const ns::URL& url) {
    return ns::Error(ns::Error::kURLErrorDomain, ns::Error::kDataLengthExceedsMaximum,
                     "The page is larger than the web view takes (" +
                         std::to_string(HeadlessWebViewBackend::kMaxPageBytes) + " bytes).",
                     url.AbsoluteString());
}

}  // namespace

HeadlessWebViewBackend::HeadlessWebViewBackend(WebViewBackendClient& client,
                                               const WebViewEnvironment& environment)
    : client_(client),
      environment_(environment),
      loop_(Loop()),
      alive_(std::make_shared<char>(0)) {}

HeadlessWebViewBackend::~HeadlessWebViewBackend() {
    if (connection_) connection_->Cancel();
}

HeadlessWebViewBackend::Navigation HeadlessWebViewBackend::HistoryMove(int delta) {
    Navigation navigation;
    navigation.kind = Navigation::Kind::History;
    navigation.delta = delta;
    navigation.action.type = WebViewNavigationType::BackForward;
    return navigation;
}

void HeadlessWebViewBackend::LoadRequest(const ns::URLRequest& request) {
    Navigation navigation;
    navigation.entry.request = request;
    OfferLater(std::move(navigation));
}

void HeadlessWebViewBackend::LoadHtmlString(const std::string& html, const ns::URL& baseUrl) {
    Navigation navigation;
    navigation.entry.request = ns::URLRequest(baseUrl.IsAbsolute() ? baseUrl : BlankURL());
    navigation.entry.html = html;
    OfferLater(std::move(navigation));
}

void HeadlessWebViewBackend::Reload() {
    Navigation navigation;
    navigation.kind = Navigation::Kind::Reload;
    navigation.action.type = WebViewNavigationType::Reload;
    OfferLater(std::move(navigation));
}

void HeadlessWebViewBackend::StopLoading() {
    ++stopGeneration_;
    if (!loading_) return;
    const ns::URL url = loading_->navigation.entry.request.GetURL();
    Abandon();
    client_.BackendStateChanged();
    // Told on the next step, like every delegate call.
    std::weak_ptr<char> alive = alive_;
    loop_.Post([this, alive, url] {
        if (!alive.expired())
            client_.BackendDidFailLoad(
                ns::Error::URLError(ns::Error::kCancelled, url.AbsoluteString()));
    });
}

ns::URLRequest HeadlessWebViewBackend::Request() const {
    return history_.empty() ? ns::URLRequest() : history_[index_].request;
}

void HeadlessWebViewBackend::EvaluateJavaScript(const std::string& /*script*/,
                                                ScriptCompletion completion) {
    // no script engine: the web view has logged it
    if (!completion) return;
    std::weak_ptr<char> alive = alive_;
    loop_.Post([alive, completion = std::move(completion)] {
        if (!alive.expired()) completion(std::string());
    });
}

bool HeadlessWebViewBackend::ClickLink(const std::string& match) {
    for (const HtmlLink& link : links_) {
        if (link.href == match || link.url.AbsoluteString() == match || link.text == match) {
            Navigation navigation;
            navigation.entry.request = ns::URLRequest(link.url);
            navigation.action.type = WebViewNavigationType::LinkClicked;
            navigation.action.userGesture = true;
            OfferLater(std::move(navigation));
            return true;
        }
    }
    return false;
}

void HeadlessWebViewBackend::OfferLater(Navigation navigation) {
    std::weak_ptr<char> alive = alive_;
    const uint64_t generation = stopGeneration_;
    loop_.Post([this, alive, generation, navigation = std::move(navigation)]() mutable {
        if (!alive.expired() && generation == stopGeneration_) Offer(std::move(navigation));
    });
}

void HeadlessWebViewBackend::Offer(Navigation navigation) {
    // Reload and history moves load a page of the history as it is now.
    if (navigation.kind != Navigation::Kind::New) {
        if (history_.empty()) return;
        const long target = static_cast<long>(index_) + navigation.delta;
        if (target < 0 || target >= static_cast<long>(history_.size())) return;
        navigation.entry = history_[static_cast<size_t>(target)];
        navigation.delta = static_cast<int>(target);  // from here on: the entry's index
    }
    std::weak_ptr<char> alive = alive_;
    const bool allowed =
        client_.BackendShouldStartLoad(Prepared(navigation.entry.request), navigation.action);
    if (alive.expired() || !allowed) return;

    if (loading_) {
        const ns::URL url = loading_->navigation.entry.request.GetURL();
        Abandon();
        client_.BackendDidFailLoad(
            ns::Error::URLError(ns::Error::kCancelled, url.AbsoluteString()));
        if (alive.expired()) return;
    }
    const uint64_t serial = ++loadSerial_;
    loading_ = Load{navigation, serial};
    client_.BackendDidStartLoad();
    // The delegate may have stopped this load, or gone with the web view.
    if (alive.expired() || !loading_ || loading_->serial != serial) return;
    if (navigation.entry.html) {
        loop_.Post([this, alive, serial] {
            if (!alive.expired()) FinishHtml(serial);
        });
        return;
    }
    mimeType_.clear();
    body_.clear();
    connection_ = ns::URLConnection::Start(Prepared(navigation.entry.request), this, loop_,
                                           environment_.Cookies());
}

ns::URLRequest HeadlessWebViewBackend::Prepared(const ns::URLRequest& request) const {
    ns::URLRequest prepared = request;
    prepared.SetValue(environment_.UserAgent(), "User-Agent");  // empty: none
    prepared.RemoveHTTPHeaderField("Cookie");
    prepared.SetHTTPShouldHandleCookies(true);
    prepared.SetMainDocumentURL(request.GetURL());
    return prepared;
}

bool HeadlessWebViewBackend::Abandon() {
    if (!loading_) return false;
    loading_.reset();
    if (connection_) {
        connection_->Cancel();
        connection_.reset();
    }
    body_.clear();
    return true;
}

void HeadlessWebViewBackend::Commit(const Entry& entry) {
    const Navigation& navigation = loading_->navigation;
    loading_->committed = true;
    links_.clear();
    if (navigation.kind == Navigation::Kind::New || history_.empty()) {
        if (!history_.empty()) history_.resize(index_ + 1);  // the forward list goes
        history_.push_back(entry);
        if (history_.size() > kMaxHistory) history_.erase(history_.begin());
        index_ = history_.size() - 1;
    } else {
        // Reload and history moves: the entry they loaded, which may have moved or gone
        // since (then the page is a new one after the page shown).
        const size_t target = static_cast<size_t>(navigation.delta);
        if (target < history_.size()) {
            index_ = target;
            history_[index_] = entry;
        } else {
            history_.resize(index_ + 1);
            history_.push_back(entry);
            index_ = history_.size() - 1;
        }
    }
    client_.BackendStateChanged();
}

void HeadlessWebViewBackend::Fail(const ns::Error& error) {
    Abandon();
    client_.BackendStateChanged();
    client_.BackendDidFailLoad(error);
}

void HeadlessWebViewBackend::FinishHtml(uint64_t serial) {
    if (!loading_ || loading_->serial != serial) return;
    const Entry entry = loading_->navigation.entry;
    Commit(entry);
    links_ = HtmlLinkParser::Parse(*entry.html, entry.request.GetURL());
    loading_.reset();
    client_.BackendDidFinishLoad();
}

std::optional<ns::URLRequest> HeadlessWebViewBackend::WillSendRequest(
    ns::URLConnection& /*connection*/, const ns::URLRequest& request,
    const ns::URLResponse& /*redirectResponse*/) {
    const ns::URLRequest next = Prepared(request);
    const uint64_t serial = loading_ ? loading_->serial : 0;
    WebViewNavigationAction hop;
    hop.userGesture = loading_ && loading_->navigation.action.userGesture;
    std::weak_ptr<char> alive = alive_;
    const bool allowed = client_.BackendShouldStartLoad(next, hop);
    if (alive.expired()) return std::nullopt;  // the connection was cancelled with us
    if (!loading_ || loading_->serial != serial) return std::nullopt;  // stopped meanwhile
    if (!allowed) {
        // A refused hop ends the load silently: the delegate that refused knows.
        Abandon();
        client_.BackendStateChanged();
        return std::nullopt;
    }
    return next;
}

void HeadlessWebViewBackend::DidReceiveResponse(ns::URLConnection& connection,
                                                const ns::URLResponse& response) {
    if (!loading_) return;
    if (response.ExpectedContentLength() > static_cast<int64_t>(kMaxPageBytes)) {
        Fail(TooLarge(response.GetURL()));
        return;
    }
    Entry entry;
    entry.request = connection.CurrentRequest();
    mimeType_ = response.MIMEType();
    Commit(entry);
}

void HeadlessWebViewBackend::DidReceiveData(ns::URLConnection& connection,
                                            const std::string& data) {
    if (!loading_) return;
    if (data.size() > kMaxPageBytes - body_.size()) {
        Fail(TooLarge(connection.CurrentRequest().GetURL()));
        return;
    }
    body_ += data;
}

void HeadlessWebViewBackend::DidFinishLoading(ns::URLConnection& connection) {
    if (!loading_) return;
    if (IsHtml(mimeType_))
        links_ = HtmlLinkParser::Parse(body_, connection.CurrentRequest().GetURL());
    body_.clear();
    body_.shrink_to_fit();
    loading_.reset();
    connection_.reset();
    client_.BackendDidFinishLoad();
}

void HeadlessWebViewBackend::DidFailWithError(ns::URLConnection& /*connection*/,
                                              const ns::Error& error) {
    if (!loading_) return;
    loading_.reset();
    connection_.reset();
    body_.clear();
    client_.BackendStateChanged();
    client_.BackendDidFailLoad(error);
}

}  // namespace ui
