#ifndef PLATFORM_NET_URL_REQUEST_H
#define PLATFORM_NET_URL_REQUEST_H
// One HTTP request as the application builds it: URL, method, header fields in the order they
// were set, body and the time-out (the longest the whole load may take, redirects included,
// before it fails with the timed-out error).

#include <string>

#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

class URLRequest {
public:
    enum class CachePolicy {
        UseProtocolCachePolicy = 0,
        ReloadIgnoringLocalCacheData = 1,
        ReturnCacheDataElseLoad = 2,
        ReturnCacheDataDontLoad = 3,
    };

    static constexpr double kDefaultTimeoutSeconds = 60.0;

    URLRequest() = default;
    explicit URLRequest(URL url, CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy,
                        double timeoutSeconds = kDefaultTimeoutSeconds);

    const URL& GetURL() const { return url_; }
    void SetURL(const URL& url) { url_ = url; }
    // The document the request belongs to; the cookie policy that accepts only cookies of the
    // main document's domain compares against it. Empty (no host) means the request itself.
    const URL& MainDocumentURL() const { return mainDocumentURL_; }
    void SetMainDocumentURL(const URL& url) { mainDocumentURL_ = url; }

    // "GET" unless set; kept as given (methods are case-sensitive).
    const std::string& HTTPMethod() const { return method_; }
    void SetHTTPMethod(const std::string& method) { method_ = method; }

    const HTTPHeaderFields& AllHTTPHeaderFields() const { return headers_; }
    // Sets (replaces) a field; an empty value removes it, as the platform's request does.
    void SetValue(const std::string& value, const std::string& field);
    // Adds to a field with "," or creates it.
    void AddValue(const std::string& value, const std::string& field);
    // The field's value, or "" when it is absent (names compare without case).
    std::string ValueForHTTPHeaderField(const std::string& field) const;
    void RemoveHTTPHeaderField(const std::string& field) { headers_.Remove(field); }

    const std::string& HTTPBody() const { return body_; }
    void SetHTTPBody(const std::string& body) { body_ = body; }

    double TimeoutInterval() const { return timeoutSeconds_; }
    // A time-out that is not positive (or not a number) becomes the default.
    void SetTimeoutInterval(double seconds);
    CachePolicy GetCachePolicy() const { return cachePolicy_; }
    void SetCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }

    // Whether the connection adds stored cookies and stores the cookies the server sets.
    bool HTTPShouldHandleCookies() const { return handleCookies_; }
    void SetHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }

private:
    URL url_;
    URL mainDocumentURL_;
    std::string method_ = "GET";
    HTTPHeaderFields headers_;
    std::string body_;
    double timeoutSeconds_ = kDefaultTimeoutSeconds;
    CachePolicy cachePolicy_ = CachePolicy::UseProtocolCachePolicy;
    bool handleCookies_ = true;
};

}  // namespace ns

#endif
