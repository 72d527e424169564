#include "platform/net/CookieStorage.h"

#include <algorithm>
#include <utility>

namespace ns {

CookieStorage::CookieStorage(NowFunction now) : now_(std::move(now)) {
    if (!now_) {
        now_ = [] {
            return std::chrono::time_point_cast<std::chrono::seconds>(
                std::chrono::system_clock::now());
        };
    }
}

CookieStorage& CookieStorage::Shared() {
    static CookieStorage* shared = new CookieStorage();
    return *shared;
}

CookieStorage::AcceptPolicy CookieStorage::GetAcceptPolicy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return policy_;
}

void CookieStorage::SetAcceptPolicy(AcceptPolicy policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    policy_ = policy;
}

void CookieStorage::SetCookie(const Cookie& cookie) {
    const Cookie::TimePoint now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    if (policy_ == AcceptPolicy::Never) return;
    StoreLocked(cookie, now);
}

void CookieStorage::SetCookiesFromResponse(const HTTPHeaderFields& headers, const URL& url,
                                           const URL& mainDocumentURL) {
    const Cookie::TimePoint now = now_();
    const std::vector<std::string> values = headers.Values("Set-Cookie");
    if (values.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (policy_ == AcceptPolicy::Never) return;
    const std::string mainHost =
        mainDocumentURL.Host().empty() ? url.Host() : mainDocumentURL.Host();
    for (const std::string& value : values) {
        std::optional<Cookie> cookie = Cookie::FromSetCookie(value, url, now);
        if (!cookie) continue;
        if (policy_ == AcceptPolicy::OnlyFromMainDocumentDomain) {
            const bool sentToMain = cookie->IsHostOnly()
                                        ? Cookie::DomainMatches(mainHost, cookie->DomainName()) &&
                                              cookie->DomainName().size() == mainHost.size()
                                        : Cookie::DomainMatches(mainHost, cookie->DomainName());
            const bool underMain = Cookie::DomainMatches(cookie->DomainName(), mainHost);
            if (!sentToMain && !underMain) continue;
        }
        StoreLocked(*cookie, now);
    }
}

void CookieStorage::StoreLocked(const Cookie& cookie, Cookie::TimePoint now) {
    std::vector<Cookie>::iterator twin =
        std::find_if(cookies_.begin(), cookies_.end(),
                     [&cookie](const Cookie& stored) { return stored.SameIdentity(cookie); });
    if (cookie.IsExpired(now)) {
        if (twin != cookies_.end()) {
            cookies_.erase(twin);
            NoteChangeLocked(cookie);
        }
        return;
    }
    NoteChangeLocked(cookie);
    if (twin != cookies_.end()) {
        *twin = cookie;
        return;
    }
    DropExpiredLocked(now);
    size_t sameDomain = 0;
    for (const Cookie& stored : cookies_) {
        if (stored.DomainName() == cookie.DomainName()) ++sameDomain;
    }
    if (sameDomain >= kMaxCookiesPerDomain) {
        cookies_.erase(std::find_if(cookies_.begin(), cookies_.end(), [&cookie](const Cookie& c) {
            return c.DomainName() == cookie.DomainName();
        }));
    }
    if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
    cookies_.push_back(cookie);
}

void CookieStorage::DropExpiredLocked(Cookie::TimePoint now) {
    cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                  [now](const Cookie& c) { return c.IsExpired(now); }),
                   cookies_.end());
}

std::vector<Cookie> CookieStorage::Cookies() const {
    const Cookie::TimePoint now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Cookie> live;
    for (const Cookie& cookie : cookies_) {
        if (!cookie.IsExpired(now)) live.push_back(cookie);
    }
    return live;
}

std::vector<Cookie> CookieStorage::CookiesForURL(const URL& url) const {
    const Cookie::TimePoint now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Cookie> matching;
    for (const Cookie& cookie : cookies_) {
        if (cookie.MatchesURL(url, now)) matching.push_back(cookie);
    }
    return matching;
}

void CookieStorage::DeleteCookie(const Cookie& cookie) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Cookie& c : cookies_) {
        if (c.SameIdentity(cookie)) NoteChangeLocked(c);
    }
    cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                  [&cookie](const Cookie& c) { return c.SameIdentity(cookie); }),
                   cookies_.end());
}

void CookieStorage::DeleteAllCookies() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Cookie& c : cookies_) NoteChangeLocked(c);
    cookies_.clear();
}

std::string CookieStorage::ChangeKey(const Cookie& cookie) {
    return cookie.Name() + '\n' + cookie.Domain() + '\n' + cookie.Path();
}

void CookieStorage::NoteChangeLocked(const Cookie& cookie) {
    changed_[ChangeKey(cookie)] = std::chrono::steady_clock::now();
}

std::optional<CookieStorage::ChangeTime> CookieStorage::LastChange(const Cookie& cookie) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = changed_.find(ChangeKey(cookie));
    if (found == changed_.end()) return std::nullopt;
    return found->second;
}

}  // namespace ns
