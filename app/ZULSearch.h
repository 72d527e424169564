#ifndef APP_ZULSEARCH_H
#define APP_ZULSEARCH_H
// One catalogue search at a time: the search text goes into the search URL it was made with
// (the configuration's "ZUL Search URL"), the answer is read as JSON and its "results" object
// handed to the delegate.
//
//   GET <search URL with the text in its "%@">     (no User-Agent or cookie headers added)
//   200 {"results": {"movies": [...], "episodes": [...], "series": [...]}}
//
// The text is percent-escaped alone, as UTF-8, with only letters, digits and "-._~" left as
// they are ("a b" -> "a%20b", "ś&" -> "%C5%9B%26"): a reserved character of the user's text
// would otherwise end the query value or start another one. The rest of the configured URL is
// sent as configured.
//
// A new search cancels the one under way. An answer that is not 200, not JSON, or larger than
// kMaxAnswerBytes ends the search with no results (the delegate hears a null result, so the
// table leaves its loading row); a transport failure (including the 30 s time-out) goes
// to zulSearchDidReceiveError. Connection callbacks arrive on the toolkit's loop. Main thread
// only.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "app/PendingConnection.h"
#include "platform/Value.h"
#include "platform/net/Error.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"

class ZULSearch;

class ZULSearchDelegate {
public:
    virtual ~ZULSearchDelegate() = default;
    // The answer's "results" object; null when the answer has none, does not parse or was not
    // a 200.
    virtual void zulSearchDidReceiveData(ZULSearch& search, const ns::Value* results) = 0;
    virtual void zulSearchDidReceiveError(ZULSearch& search, const ns::Error& error) = 0;
};

class ZULSearch : public ns::URLConnectionDelegate {
public:
    static constexpr double kTimeoutSeconds = 30;
    // A search answer lists a page of titles; anything near this is not one.
    static constexpr size_t kMaxAnswerBytes = 4 * 1024 * 1024;

    // searchURLFormat: the configured search URL, one "%@" for the text; one that is empty or
    // not http(s) fails every search with a bad-URL error.
    explicit ZULSearch(std::string searchURLFormat);
    // Clears the delegate and cancels the search.
    ~ZULSearch() override;
    ZULSearch(const ZULSearch&) = delete;
    ZULSearch& operator=(const ZULSearch&) = delete;

    // Not retained: the delegate outlives the search or clears itself first.
    ZULSearchDelegate* delegate() const { return delegate_; }
    void setDelegate(ZULSearchDelegate* delegate) { delegate_ = delegate; }

    bool isSearchInProgress() const { return isSearchInProgress_; }

    // Cancels any running search; starts a new one for a non-empty text.
    void searchForSearchText(const std::string& text);
    void cancelSearch();

    // The configured search URL (one "%@") with the escaped text in place of its first "%@".
    static std::string searchURLForText(const std::string& searchURLFormat,
                                        const std::string& text);

    // --- connection callbacks
    std::optional<ns::URLRequest> WillSendRequest(ns::URLConnection& connection,
                                                  const ns::URLRequest& request,
                                                  const ns::URLResponse& redirectResponse) override;
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidReceiveData(ns::URLConnection& connection, const std::string& data) override;
    void DidFinishLoading(ns::URLConnection& connection) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;

private:
    // Ends the search without results and tells the delegate so.
    void finishWithoutResults();
    // A URL that cannot be loaded fails as a connection would: a loop step later.
    void failLater(const ns::Error& error);

    const std::string searchURLFormat_;
    ZULSearchDelegate* delegate_ = nullptr;
    bool isSearchInProgress_ = false;
    PendingConnection connection_;
    // The received bytes; none until a 200 answer starts them.
    std::optional<std::string> data_;
};

#endif  // APP_ZULSEARCH_H
