#ifndef PLATFORM_DESKTOP_WEBKIT_COOKIE_SYNC_H
#define PLATFORM_DESKTOP_WEBKIT_COOKIE_SYNC_H
// Keeps WebKit's cookie store (a WebKitCookieManager, which lives in WebKit's network process)
// and one of our cookie jars holding the same cookies, both ways.
//
// A sync reads every cookie WebKit has and the jar's, and sets each side to the merged set:
// a cookie is the same when its name, domain and path are; one that only one side changed (or
// made) since the last sync comes from that side, one that a side deleted since goes from the
// other, and when both changed the same cookie the newer change wins: the jar's time of it
// against the last change WebKit reported (its store says when, not which cookie). So a cookie
// a page deleted and the application then set anew natively is sent again. The first sync with
// a jar (or with another jar than the last one) takes the jar as it is: WebKit's store becomes
// a copy of it. So one WebKit store serves one jar at a time; the application has one, the
// shared one, and tests a jar per test.
//
// WebKit keeps its cookies in its network process, which it starts again when it ends (a crash,
// a kill): the new one's store is empty, and that is no deletion. So every store the sync writes
// also holds a marker, a cookie for a host under ".invalid" (which no name resolves to, and which
// no page can set, read or delete): a store without it is a new one, and the jar's cookies go
// back to it, with any the new store got meanwhile. A line is logged.
//
// Syncs run one after another; `done` runs on the GTK loop once the sync asked for has
// finished (after a failure of WebKit's too: the two sides are then as they were). GTK thread
// only. Every jar synced must outlive the object, and the object its syncs (the web views
// keep one for the life of the process).

#include <webkit2/webkit2.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"

namespace ns::desktop {

class WebKitCookieSync {
public:
    explicit WebKitCookieSync(WebKitCookieManager* manager);
    ~WebKitCookieSync();
    WebKitCookieSync(const WebKitCookieSync&) = delete;
    WebKitCookieSync& operator=(const WebKitCookieSync&) = delete;

    void Sync(CookieStorage& jar, std::function<void()> done);
    // Whether a sync is under way or waiting.
    bool Busy() const { return !queue_.empty(); }

    // The marker of a store the sync wrote (see above); never in a jar.
    static constexpr const char* kMarkerName = "store-marker";
    static constexpr const char* kMarkerDomain = "cookie-sync.invalid";
    static Cookie Marker();
    static bool IsMarker(const Cookie& cookie);

    // A cookie as both sides can tell it: WebKit's converted, or ours.
    static Cookie FromSoup(SoupCookie* cookie);
    // A new SoupCookie (the caller frees it).
    static SoupCookie* ToSoup(const Cookie& cookie);

private:
    struct Request {
        CookieStorage* jar;
        std::function<void()> done;
    };
    // What a cookie is, for telling a change: everything but the identity.
    static std::string Identity(const Cookie& cookie);
    static std::string State(const Cookie& cookie);

    void StartNext();
    void Merge(std::vector<Cookie> webkit);
    // Makes WebKit's store hold exactly `cookies` and the marker.
    void Replace(const CookieStorage& jar, const std::map<std::string, Cookie>& cookies);
    void Finish();
    static void OnAllCookies(GObject* source, GAsyncResult* result, gpointer self);
    static void OnReplaced(GObject* source, GAsyncResult* result, gpointer self);
    static void OnChanged(WebKitCookieManager* manager, gpointer self);

    WebKitCookieManager* manager_;
    std::deque<Request> queue_;
    // The cookies both sides held after the last sync, by identity, and with which jar.
    std::map<std::string, Cookie> baseline_;
    CookieStorage* baselineJar_ = nullptr;
    std::chrono::steady_clock::time_point baselineTime_{};  // when the baseline was taken
    bool writing_ = false;  // our own change to WebKit's store is under way
    // When WebKit's store last changed other than by a sync's own write.
    std::chrono::steady_clock::time_point webkitChanged_{};
    gulong changedHandler_ = 0;
};

}  // namespace ns::desktop

#endif
