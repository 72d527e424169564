#ifndef APP_ZULREQUEST_H
#define APP_ZULREQUEST_H
// Every request the application makes is built here, so that each carries the application's
// "User-Agent" (the "UserAgent" user default) and the "Cookie" header of every cookie in the
// shared storage, whatever its domain (no "Cookie" header when there are none).

#include <string>

#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"

namespace ZULRequest {

ns::URLRequest requestWithURL(
    const ns::URL& url,
    ns::URLRequest::CachePolicy cachePolicy = ns::URLRequest::CachePolicy::UseProtocolCachePolicy,
    double timeoutInterval = ns::URLRequest::kDefaultTimeoutSeconds);

// The same for a URL text; text that is not a URL gives a request without a URL, which fails
// when it is loaded.
ns::URLRequest requestWithURL(
    const std::string& url,
    ns::URLRequest::CachePolicy cachePolicy = ns::URLRequest::CachePolicy::UseProtocolCachePolicy,
    double timeoutInterval = ns::URLRequest::kDefaultTimeoutSeconds);

}  // namespace ZULRequest

#endif  // APP_ZULREQUEST_H
