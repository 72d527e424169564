#ifndef PLATFORM_NET_COOKIE_H
#define PLATFORM_NET_COOKIE_H
// One HTTP cookie (RFC 6265): name, value, the domain and path it is sent to, its expiry (none
// for a cookie that lives as long as the session), Secure and HttpOnly. FromSetCookie() reads a
// Set-Cookie field value the way RFC 6265 section 5.2 and 5.3 tell a user agent to, and
// refuses a cookie that the answering host may not set.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/URL.h"

namespace ns {

class Cookie {
public:
    // Whole seconds: cookie dates run to the year 9999, past what nanoseconds can hold.
    using TimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::seconds>;

    // Name and value together longer than this are refused.
    static constexpr size_t kMaxNameValueBytes = 4096;

    // A cookie made by hand. A domain beginning with '.' is sent to the domain and every host
    // under it; any other domain only to that exact host. An empty path means "/".
    Cookie(std::string name, std::string value, const std::string& domain, std::string path = "/");

    // Nothing when the value is malformed or the URL's host may not set the cookie.
    static std::optional<Cookie> FromSetCookie(const std::string& setCookie, const URL& url,
                                               TimePoint now);
    // The "Cookie" request header value for these cookies in the order given ("a=1; b=2");
    // empty for none.
    static std::string RequestHeaderValue(const std::vector<Cookie>& cookies);
    // RFC 6265 section 5.1.1 (the forgiving reading of "Expires"); nothing when no date.
    static std::optional<TimePoint> ParseDate(const std::string& text);
    // RFC 6265 section 5.1.3: the host is the domain or a name under it (never an IP address).
    static bool DomainMatches(const std::string& host, const std::string& domain);
    // RFC 6265 section 5.1.4.
    static bool PathMatches(const std::string& requestPath, const std::string& cookiePath);

    const std::string& Name() const { return name_; }
    const std::string& Value() const { return value_; }
    // As the platform shows it: ".example.com" for a domain cookie, the host for a host-only one.
    std::string Domain() const { return hostOnly_ ? domain_ : "." + domain_; }
    // The domain in lower case without a leading dot.
    const std::string& DomainName() const { return domain_; }
    bool IsHostOnly() const { return hostOnly_; }
    const std::string& Path() const { return path_; }
    const std::optional<TimePoint>& ExpiresDate() const { return expires_; }
    bool IsSessionOnly() const { return !expires_.has_value(); }
    bool IsSecure() const { return secure_; }
    bool IsHTTPOnly() const { return httpOnly_; }

    void SetExpiresDate(std::optional<TimePoint> expires) { expires_ = expires; }
    void SetSecure(bool secure) { secure_ = secure; }
    void SetHTTPOnly(bool httpOnly) { httpOnly_ = httpOnly; }

    bool IsExpired(TimePoint now) const { return expires_ && *expires_ <= now; }
    // Whether a request for the URL at `now` carries this cookie.
    bool MatchesURL(const URL& url, TimePoint now) const;
    // Same name, domain and path: a newer cookie of the same identity replaces the older.
    bool SameIdentity(const Cookie& other) const;

private:
    Cookie() = default;

    std::string name_;
    std::string value_;
    std::string domain_;
    bool hostOnly_ = true;
    std::string path_ = "/";
    std::optional<TimePoint> expires_;
    bool secure_ = false;
    bool httpOnly_ = false;
};

}  // namespace ns

#endif
