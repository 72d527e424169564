#ifndef PLATFORM_NET_COOKIE_STORAGE_H
#define PLATFORM_NET_COOKIE_STORAGE_H
// The cookie jar: cookies in the order they were first created, an accept policy, the cookies
// a request for a URL carries, and what a response's Set-Cookie fields store. Shared() is the
// process-wide jar the application and URL connections use; tests make jars of their own with
// a clock they set. Any thread; no callback runs under its lock.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"

namespace ns {

class CookieStorage {
public:
    enum class AcceptPolicy {
        Always = 0,
        Never = 1,
        OnlyFromMainDocumentDomain = 2,
    };
    using NowFunction = std::function<Cookie::TimePoint()>;

    // Bounds that keep a server from growing the jar without end: the oldest cookies of a
    // domain, then of the jar, make room for new ones.
    static constexpr size_t kMaxCookies = 3000;
    static constexpr size_t kMaxCookiesPerDomain = 50;

    // A null clock reads the system clock.
    explicit CookieStorage(NowFunction now = nullptr);
    CookieStorage(const CookieStorage&) = delete;
    CookieStorage& operator=(const CookieStorage&) = delete;

    // Made on first use and never destroyed, so no work at exit meets a destroyed jar.
    static CookieStorage& Shared();

    AcceptPolicy GetAcceptPolicy() const;
    void SetAcceptPolicy(AcceptPolicy policy);

    // Stores the cookie (replacing one of the same name, domain and path, which keeps its
    // place in the creation order); an expired cookie deletes its stored twin instead. The
    // never policy stores nothing.
    void SetCookie(const Cookie& cookie);
    // Stores each cookie the response's Set-Cookie fields set for `url`, as the policy allows:
    // with OnlyFromMainDocumentDomain a cookie is taken only when it would be sent to the main
    // document's host or belongs under it. An empty main document URL means `url` itself.
    void SetCookiesFromResponse(const HTTPHeaderFields& headers, const URL& url,
                                const URL& mainDocumentURL);

    // Every live cookie, in creation order.
    std::vector<Cookie> Cookies() const;
    // The live cookies a request for the URL carries, in creation order.
    std::vector<Cookie> CookiesForURL(const URL& url) const;
    void DeleteCookie(const Cookie& cookie);
    void DeleteAllCookies();

    // When a cookie of this name, domain and path was last set or deleted here, on the
    // monotonic clock (not the jar's, which tests move): another store kept in step with this
    // one tells by it whose change is the newer. None when it never changed here.
    using ChangeTime = std::chrono::steady_clock::time_point;
    std::optional<ChangeTime> LastChange(const Cookie& cookie) const;

private:
    static std::string ChangeKey(const Cookie& cookie);
    void NoteChangeLocked(const Cookie& cookie);

    void StoreLocked(const Cookie& cookie, Cookie::TimePoint now);
    void DropExpiredLocked(Cookie::TimePoint now);

    NowFunction now_;
    mutable std::mutex mutex_;  // guards everything below
    AcceptPolicy policy_ = AcceptPolicy::Always;
    std::vector<Cookie> cookies_;                // creation order
    std::map<std::string, ChangeTime> changed_;  // by ChangeKey, deletions too
};

}  // namespace ns

#endif
