#include "app/ZULRequest.h"

#include <optional>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/WebViewBackend.h"

namespace ZULRequest {

namespace {

// A CR, LF or NUL would end the header line early; the connection refuses such a request
// outright, so one odd cookie must not take every request down with it.
bool BreaksLine(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

ns::URLRequest requestWithURL(const ns::URL& url, ns::URLRequest::CachePolicy cachePolicy,
                              double timeoutInterval) {
    ns::URLRequest request(url, cachePolicy, timeoutInterval);
    // The user agent the application sets at start-up, under the key its web views read too.
    request.SetValue(
        ns::UserDefaults::Standard().StringForKey(ui::WebViewEnvironment::kUserAgentKey),
        "User-Agent");
    std::vector<ns::Cookie> cookies;
    for (const ns::Cookie& cookie : ns::CookieStorage::Shared().Cookies()) {
        if (!BreaksLine(cookie.Name()) && !BreaksLine(cookie.Value())) {
            cookies.push_back(cookie);
        }
    }
    // An empty value sets no field.
    request.SetValue(ns::Cookie::RequestHeaderValue(cookies), "Cookie");
    return request;
}

ns::URLRequest requestWithURL(const std::string& url, ns::URLRequest::CachePolicy cachePolicy,
                              double timeoutInterval) {
    const std::optional<ns::URL> parsed = ns::URL::Parse(url);
    return requestWithURL(parsed ? *parsed : ns::URL(), cachePolicy, timeoutInterval);
}

}  // namespace ZULRequest
