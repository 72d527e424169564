#include "app/ZULSearch.h"

#include <utility>

#include "json/KvJsonParser.h"
#include "platform/core/LogWriter.h"
#include "platform/net/PercentEscape.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

ZULSearch::ZULSearch(std::string searchURLFormat) : searchURLFormat_(std::move(searchURLFormat)) {}

ZULSearch::~ZULSearch() {
    delegate_ = nullptr;
    cancelSearch();
}

std::string ZULSearch::searchURLForText(const std::string& searchURLFormat,
                                        const std::string& text) {
    const std::string escaped = ns::PercentEscape::EscapeComponent(text);
    std::string url = searchURLFormat;
    const size_t placeholder = url.find("%@");
    // A configured URL without the placeholder is sent as it is, as a format without a
    // conversion ignores its argument.
    if (placeholder != std::string::npos) url.replace(placeholder, 2, escaped);
    return url;
}

void ZULSearch::searchForSearchText(const std::string& text) {
    ns::Log("[S] searchForString:%@", text);
    cancelSearch();
    if (text.empty()) return;
    isSearchInProgress_ = true;

    const std::string urlText = searchURLForText(searchURLFormat_, text);
    const std::optional<ns::URL> url = ns::URL::Parse(urlText);
    if (!url || !url->IsHTTP()) {
        failLater(ns::Error::URLError(ns::Error::kBadURL, urlText));
        return;
    }
    ns::URLRequest request(*url, ns::URLRequest::CachePolicy::UseProtocolCachePolicy,
                           kTimeoutSeconds);
    connection_.Start(request, this);
}

void ZULSearch::cancelSearch() {
    isSearchInProgress_ = false;
    connection_.Cancel();
    data_.reset();
}

void ZULSearch::failLater(const ns::Error& error) {
    connection_.FailLater([this, error] {
        isSearchInProgress_ = false;
        ns::Log("[S] connection didFailWithError:%@", error.ToString());
        if (delegate_) delegate_->zulSearchDidReceiveError(*this, error);
    });
}

void ZULSearch::finishWithoutResults() {
    cancelSearch();
    if (delegate_) delegate_->zulSearchDidReceiveData(*this, nullptr);
}

std::optional<ns::URLRequest> ZULSearch::WillSendRequest(
    ns::URLConnection& /*connection*/, const ns::URLRequest& request,
    const ns::URLResponse& /*redirectResponse*/) {
    ns::Log("[S] connection willSendRequest");
    return request;
}

void ZULSearch::DidReceiveResponse(ns::URLConnection& connection, const ns::URLResponse& response) {
    ns::Log("[S] connection didReceiveResponse code:%d", response.StatusCode());
    if (response.StatusCode() == 200) {
        data_ = std::string();
        // A longer answer fails the load (DidFailWithError).
        connection.SetMaximumBodyBytes(kMaxAnswerBytes);
        return;
    }
    // The search is over: the table must leave its loading row for the "no results" one.
    finishWithoutResults();
}

void ZULSearch::DidReceiveData(ns::URLConnection& /*connection*/, const std::string& data) {
    ns::Log("[S] connection didReceiveData");
    if (!data_) return;
    data_->append(data);
}

void ZULSearch::DidFinishLoading(ns::URLConnection& /*connection*/) {
    isSearchInProgress_ = false;
    connection_.Forget();
    const std::string data = data_ ? *data_ : std::string();
    data_.reset();
    KvJsonParser parser;
    const std::optional<ns::Value> answer = parser.objectWithData(data.data(), data.size());
    ns::Log("[S] connection connectionDidFinishLoading:%@", answer ? *answer : ns::Value());
    const ns::Value* results = answer ? answer->Find("results") : nullptr;
    if (delegate_) delegate_->zulSearchDidReceiveData(*this, results);
}

void ZULSearch::DidFailWithError(ns::URLConnection& /*connection*/, const ns::Error& error) {
    if (error.GetCode() == ns::Error::kDataLengthExceedsMaximum) {
        // Too large for a search answer: over without results, as an answer that is none.
        finishWithoutResults();
        return;
    }
    ns::Log("[S] connection didFailWithError:%@", error.ToString());
    isSearchInProgress_ = false;
    connection_.Forget();
    data_.reset();
    if (delegate_) delegate_->zulSearchDidReceiveError(*this, error);
}
