// The cookie sync between our jar and a WebKit store of its own, with nothing else syncing: a
// bare web view loads pages from a loopback origin, whose request log tells what WebKit sent.
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop/WebKitCookieSync.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URL.h"
#include "tests/support/TestOrigin.h"

namespace ns::desktop {
namespace {

constexpr std::chrono::milliseconds kSyncWait{10000};

class CookieSyncPage : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = webkit_web_context_new_ephemeral();
        manager_ = webkit_web_context_get_cookie_manager(context_);
        g_signal_connect(manager_, "changed", G_CALLBACK(+[](WebKitCookieManager*, gpointer data) {
                             ++*static_cast<int*>(data);
                         }),
                         &changes_);
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context_));
        g_object_ref_sink(view_);
        g_signal_connect(view_, "load-changed",
                         G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                             if (event == WEBKIT_LOAD_FINISHED) ++*static_cast<int*>(data);
                         }),
                         &finished_);
        sync_ = std::make_unique<WebKitCookieSync>(manager_);
    }
    void TearDown() override {
        sync_.reset();
        g_signal_handlers_disconnect_by_data(manager_, &changes_);
        g_object_unref(view_);
        g_object_unref(context_);
    }

    void Serve(const std::string& path, const std::string& html,
               std::vector<std::pair<std::string, std::string>> headers = {}) {
        SvTestSupport::TestOrigin::Fault fault;
        fault.headers = std::move(headers);
        fault.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        origin_.SetFault(path, fault);
        origin_.Serve(path, html);
    }
    bool Load(const std::string& path) {
        const int before = finished_;
        webkit_web_view_load_uri(view_, origin_.Url(path).c_str());
        return IterateUntil([&] { return finished_ > before; }, kSyncWait);
    }
    bool SyncNow() {
        bool done = false;
        sync_->Sync(jar_, [&] { done = true; });
        return IterateUntil([&] { return done; }, kSyncWait);
    }
    // "name=value" of each cookie in WebKit's store for a host that exists (the sync keeps a
    // marker of its own under ".invalid").
    std::vector<std::string> WebKitCookies() {
        struct Answer {
            bool done = false;
            std::vector<std::string> cookies;
        } answer;
        webkit_cookie_manager_get_all_cookies(
            manager_, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* a = static_cast<Answer*>(data);
                GList* list = webkit_cookie_manager_get_all_cookies_finish(
                    WEBKIT_COOKIE_MANAGER(source), result, nullptr);
                for (GList* item = list; item != nullptr; item = item->next) {
                    auto* c = static_cast<SoupCookie*>(item->data);
                    const std::string domain = soup_cookie_get_domain(c);
                    if (domain.size() >= 8 && domain.substr(domain.size() - 8) == ".invalid") {
                        continue;
                    }
                    a->cookies.push_back(std::string(soup_cookie_get_name(c)) + "=" +
                                         soup_cookie_get_value(c));
                }
                g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
                a->done = true;
            },
            &answer);
        IterateUntil([&] { return answer.done; }, kSyncWait);
        return answer.cookies;
    }
    std::vector<std::string> JarCookies() const {
        std::vector<std::string> out;
        for (const Cookie& c : jar_.Cookies()) out.push_back(c.Name() + "=" + c.Value());
        return out;
    }
    std::string LastCookieHeader() const {
        const auto requests = origin_.Requests();
        if (requests.empty()) return "(no request)";
        auto found = requests.back().headers.find("cookie");
        return found != requests.back().headers.end() ? found->second : "";
    }

    SvTestSupport::TestOrigin origin_;
    CookieStorage jar_;
    WebKitWebContext* context_ = nullptr;
    WebKitCookieManager* manager_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::unique_ptr<WebKitCookieSync> sync_;
    int changes_ = 0;
    int finished_ = 0;
};

TEST_F(CookieSyncPage, CookiesSetNativelyAfterThePageDeletedThemAreSentByWebKit) {
    Serve("/forget",
          "<html><body><script>"
          "document.cookie = 'ID=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/';"
          "document.cookie = 'CO=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/';"
          "</script></body></html>");
    Serve("/next", "<html><body>Next</body></html>");
    const std::string host = URL::Parse(origin_.Url("/"))->Host();
    jar_.SetCookie(Cookie("ID", "old", host));
    jar_.SetCookie(Cookie("CO", "7", host));
    ASSERT_TRUE(SyncNow());
    ASSERT_EQ(WebKitCookies(), (std::vector<std::string>{"ID=old", "CO=7"}));

    // The page deletes both, and no sync runs before the native side sets them anew: ID with
    // a new value, CO with the value it had.
    const int changesBefore = changes_;
    ASSERT_TRUE(Load("/forget"));
    ASSERT_TRUE(IterateUntil([&] { return changes_ > changesBefore && WebKitCookies().empty(); },
                             kSyncWait));
    jar_.SetCookie(Cookie("ID", "new", host));
    jar_.SetCookie(Cookie("CO", "7", host));

    ASSERT_TRUE(SyncNow());
    EXPECT_EQ(JarCookies(), (std::vector<std::string>{"ID=new", "CO=7"}));
    ASSERT_TRUE(Load("/next"));
    EXPECT_EQ(LastCookieHeader(), "ID=new; CO=7");
}

TEST_F(CookieSyncPage, ACookieAResponseSetAfterTheJarDeletedItIsKeptInTheJar) {
    Serve("/again", "<html><body>Again</body></html>", {{"Set-Cookie", "ID=page; Path=/"}});
    Serve("/next", "<html><body>Next</body></html>");
    const std::string host = URL::Parse(origin_.Url("/"))->Host();
    jar_.SetCookie(Cookie("ID", "old", host));
    ASSERT_TRUE(SyncNow());

    // The jar deletes it, then the page's response sets it anew before any sync.
    for (const Cookie& c : jar_.Cookies()) jar_.DeleteCookie(c);
    const int changesBefore = changes_;
    ASSERT_TRUE(Load("/again"));
    ASSERT_TRUE(IterateUntil([&] { return changes_ > changesBefore; }, kSyncWait));
    EXPECT_EQ(origin_.Requests().back().headers.count("cookie"), 1u);  // still sent "old"

    ASSERT_TRUE(SyncNow());
    EXPECT_EQ(JarCookies(), std::vector<std::string>{"ID=page"});
    ASSERT_TRUE(Load("/next"));
    EXPECT_EQ(LastCookieHeader(), "ID=page");
}

}  // namespace
}  // namespace ns::desktop
