#include "platform/desktop/WebKitCookieSync.h"

#include <utility>

#include "platform/core/LogWriter.h"

namespace ns::desktop {

WebKitCookieSync::WebKitCookieSync(WebKitCookieManager* manager)
    : manager_(WEBKIT_COOKIE_MANAGER(g_object_ref(manager))) {
    changedHandler_ =
        g_signal_connect(manager_, "changed", G_CALLBACK(&WebKitCookieSync::OnChanged), this);
}

WebKitCookieSync::~WebKitCookieSync() {
    g_signal_handler_disconnect(manager_, changedHandler_);
    g_object_unref(manager_);
}

void WebKitCookieSync::OnChanged(WebKitCookieManager*, gpointer data) {
    auto* self = static_cast<WebKitCookieSync*>(data);
    if (!self->writing_) self->webkitChanged_ = std::chrono::steady_clock::now();
}

Cookie WebKitCookieSync::FromSoup(SoupCookie* soup) {
    const char* path = soup_cookie_get_path(soup);
    Cookie cookie(soup_cookie_get_name(soup), soup_cookie_get_value(soup),
                  soup_cookie_get_domain(soup), path != nullptr ? path : "/");
    if (GDateTime* expires = soup_cookie_get_expires(soup)) {
        cookie.SetExpiresDate(
            Cookie::TimePoint(std::chrono::seconds(g_date_time_to_unix(expires))));
    }
    cookie.SetSecure(soup_cookie_get_secure(soup));
    cookie.SetHTTPOnly(soup_cookie_get_http_only(soup));
    return cookie;
}

SoupCookie* WebKitCookieSync::ToSoup(const Cookie& cookie) {
    SoupCookie* soup = soup_cookie_new(cookie.Name().c_str(), cookie.Value().c_str(),
                                       cookie.Domain().c_str(), cookie.Path().c_str(), -1);
    if (cookie.ExpiresDate()) {
        GDateTime* expires =
            g_date_time_new_from_unix_utc(cookie.ExpiresDate()->time_since_epoch().count());
        if (expires != nullptr) {
            soup_cookie_set_expires(soup, expires);
            g_date_time_unref(expires);
        }
    }
    soup_cookie_set_secure(soup, cookie.IsSecure());
    soup_cookie_set_http_only(soup, cookie.IsHTTPOnly());
    // Our jar has no same-site rule; "none" would make WebKit drop a cookie that is not secure.
    soup_cookie_set_same_site_policy(soup, SOUP_SAME_SITE_POLICY_LAX);
    return soup;
}

Cookie WebKitCookieSync::Marker() { return Cookie(kMarkerName, "1", kMarkerDomain); }

bool WebKitCookieSync::IsMarker(const Cookie& cookie) {
    return cookie.Name() == kMarkerName && cookie.DomainName() == kMarkerDomain;
}

std::string WebKitCookieSync::Identity(const Cookie& cookie) {
    return cookie.Name() + '\n' + cookie.Domain() + '\n' + cookie.Path();
}

std::string WebKitCookieSync::State(const Cookie& cookie) {
    std::string state = cookie.Value() + '\n';
    state += cookie.ExpiresDate() ? std::to_string(cookie.ExpiresDate()->time_since_epoch().count())
                                  : "session";
    state += cookie.IsSecure() ? " secure" : "";
    state += cookie.IsHTTPOnly() ? " httponly" : "";
    return state;
}

void WebKitCookieSync::Sync(CookieStorage& jar, std::function<void()> done) {
    queue_.push_back({&jar, std::move(done)});
    if (queue_.size() == 1) StartNext();
}

void WebKitCookieSync::StartNext() {
    if (queue_.empty()) return;
    webkit_cookie_manager_get_all_cookies(manager_, nullptr, &WebKitCookieSync::OnAllCookies, this);
}

void WebKitCookieSync::OnAllCookies(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<WebKitCookieSync*>(data);
    GError* error = nullptr;
    GList* list =
        webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
    if (error != nullptr) {
        g_error_free(error);
        self->Finish();
        return;
    }
    std::vector<Cookie> cookies;
    for (GList* item = list; item != nullptr; item = item->next) {
        cookies.push_back(FromSoup(static_cast<SoupCookie*>(item->data)));
    }
    g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
    self->Merge(std::move(cookies));
}

void WebKitCookieSync::Merge(std::vector<Cookie> webkitCookies) {
    CookieStorage& jar = *queue_.front().jar;
    std::map<std::string, Cookie> webkit, ours;
    bool marked = false;
    for (Cookie& c : webkitCookies) {
        if (IsMarker(c)) {
            marked = true;
        } else {
            webkit.emplace(Identity(c), std::move(c));
        }
    }
    for (Cookie& c : jar.Cookies()) ours.emplace(Identity(c), std::move(c));
    if (baselineJar_ != &jar) {
        // A jar WebKit has not seen is the truth: WebKit's store becomes a copy of it.
        baselineJar_ = &jar;
        baseline_ = ours;
        baselineTime_ = std::chrono::steady_clock::now();
        Replace(jar, ours);
        return;
    }
    if (!marked) {
        // Only a new store lacks the marker: WebKit started its network process again (the
        // old one crashed or was killed) and the cookies went with it. What is missing was
        // not deleted: the jar's cookies go back, and any the new store got since stay.
        ns::Log("[WEB] WebKit's cookie store was started anew: the jar's %u cookies go back",
                ours.size());
        std::map<std::string, Cookie> merged = ours;
        for (const auto& [key, c] : webkit) {
            merged.insert_or_assign(key, c);
            auto mine = ours.find(key);
            if (mine == ours.end() || State(mine->second) != State(c)) jar.SetCookie(c);
        }
        baseline_ = merged;
        baselineTime_ = std::chrono::steady_clock::now();
        Replace(jar, merged);
        return;
    }

    auto changed = [&](const std::map<std::string, Cookie>& side, const std::string& key) {
        auto was = baseline_.find(key);
        auto is = side.find(key);
        if (was == baseline_.end() || is == side.end())
            return was != baseline_.end() || is != side.end();
        return State(was->second) != State(is->second);
    };
    // The jar tells a cookie set again with the value it had (a new sign-in's company id) by
    // its time: that is a change too, and one that may be newer than WebKit's deletion.
    auto oursChanged = [&](const std::string& key) {
        if (changed(ours, key)) return true;
        auto found = ours.find(key);
        if (found == ours.end()) return false;
        std::optional<CookieStorage::ChangeTime> when = jar.LastChange(found->second);
        return when && *when > baselineTime_;
    };
    std::map<std::string, Cookie> merged;
    std::map<std::string, bool> keys;
    for (const auto& [key, c] : webkit) keys[key] = true;
    for (const auto& [key, c] : ours) keys[key] = true;
    for (const auto& [key, c] : baseline_) keys[key] = true;
    // Whether the jar's change to the cookie came after WebKit's last one.
    auto oursNewer = [&](const std::string& key) {
        const std::map<std::string, Cookie>* sides[] = {&ours, &webkit, &baseline_};
        for (const auto* side : sides) {
            auto found = side->find(key);
            if (found == side->end()) continue;
            std::optional<CookieStorage::ChangeTime> when = jar.LastChange(found->second);
            return when && *when > webkitChanged_;
        }
        return false;
    };
    for (const auto& [key, unused] : keys) {
        // The side that changed the cookie wins; when both did, the newer change.
        const bool webkitChanged = changed(webkit, key);
        const bool takeWebKit = webkitChanged && !(oursChanged(key) && oursNewer(key));
        const std::map<std::string, Cookie>& from = takeWebKit ? webkit : ours;
        auto found = from.find(key);
        if (found != from.end()) merged.emplace(key, found->second);
    }

    // Our side: cookies WebKit made or changed are stored, those it dropped deleted.
    for (const auto& [key, c] : ours) {
        if (merged.count(key) == 0) jar.DeleteCookie(c);
    }
    for (const auto& [key, c] : merged) {
        auto mine = ours.find(key);
        if (mine == ours.end() || State(mine->second) != State(c)) jar.SetCookie(c);
    }
    baseline_ = merged;
    baselineTime_ = std::chrono::steady_clock::now();

    bool same = merged.size() == webkit.size();
    for (auto m = merged.begin(), w = webkit.begin(); same && m != merged.end(); ++m, ++w) {
        same = m->first == w->first && State(m->second) == State(w->second);
    }
    if (same) {
        Finish();
        return;
    }
    Replace(jar, merged);
}

void WebKitCookieSync::Replace(const CookieStorage& jar,
                               const std::map<std::string, Cookie>& cookies) {
    // In the jar's order of creation, which WebKit keeps as its own (it sends cookies of one
    // path in that order); any the jar would not take come last, and the marker after them
    // (so the list is never empty: WebKit replaces with nothing only one cookie at a time).
    GList* list = nullptr;
    std::map<std::string, bool> listed;
    for (const Cookie& c : jar.Cookies()) {
        const std::string key = Identity(c);
        auto found = cookies.find(key);
        if (found == cookies.end() || listed[key]) continue;
        listed[key] = true;
        list = g_list_prepend(list, ToSoup(found->second));
    }
    for (const auto& [key, c] : cookies) {
        if (!listed[key]) list = g_list_prepend(list, ToSoup(c));
    }
    list = g_list_prepend(list, ToSoup(Marker()));
    list = g_list_reverse(list);
    writing_ = true;
    webkit_cookie_manager_replace_cookies(manager_, list, nullptr, &WebKitCookieSync::OnReplaced,
                                          this);
    g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
}

void WebKitCookieSync::OnReplaced(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<WebKitCookieSync*>(data);
    GError* error = nullptr;
    webkit_cookie_manager_replace_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
    self->writing_ = false;
    if (error != nullptr) {
        // WebKit kept what it had: the next sync compares against that again.
        g_error_free(error);
        self->baselineJar_ = nullptr;
    }
    self->Finish();
}

void WebKitCookieSync::Finish() {
    std::function<void()> done = std::move(queue_.front().done);
    queue_.pop_front();
    StartNext();
    if (done) done();
}

}  // namespace ns::desktop
