#include "app/ZULRequest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/ZULAppDelegate.h"
#include "app/ZULCookies.h"
#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLConnection.h"
#include "platform/store/UserDefaults.h"
#include "portal/PortalServer.h"

namespace {

class ZULRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ns::CookieStorage::Shared().DeleteAllCookies();
        ns::Dictionary defaults;
        defaults.Set("UserAgent", "zul-pellun-native-ios");
        ns::UserDefaults::Standard().RegisterDefaults(defaults);
        ns::UserDefaults::Standard().RemoveObjectForKey("UserAgent");
    }
    void TearDown() override {
        ns::CookieStorage::Shared().DeleteAllCookies();
        ns::UserDefaults::Standard().RemoveObjectForKey("UserAgent");
    }

    // The header fields of the request named `name` in the order set.
    static std::vector<std::string> Named(const ns::URLRequest& request, const std::string& name) {
        std::vector<std::string> values;
        for (const auto& field : request.AllHTTPHeaderFields().Fields()) {
            if (ns::HTTPHeaderFields::NameEquals(field.first, name)) values.push_back(field.second);
        }
        return values;
    }
};

TEST_F(ZULRequestTest, WithoutCookiesCarriesOnlyTheUserAgent) {
    const ns::URLRequest request = ZULRequest::requestWithURL("http://127.0.0.1:9/home");
    EXPECT_EQ("http://127.0.0.1:9/home", request.GetURL().AbsoluteString());
    EXPECT_EQ(std::vector<std::string>{"zul-pellun-native-ios"}, Named(request, "User-Agent"));
    EXPECT_TRUE(Named(request, "Cookie").empty());
    EXPECT_EQ(1u, request.AllHTTPHeaderFields().Count());
}

TEST_F(ZULRequestTest, OneCookieHeaderOfEveryStoredCookieWhateverItsDomain) {
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    jar.SetCookie(ns::Cookie("ZULSESSION", "s1", "127.0.0.1"));
    jar.SetCookie(ns::Cookie("COMPANY_ID", "10157", ".zul.example"));
    jar.SetCookie(ns::Cookie("ID", "abc", "other.example", "/deep/path"));
    ASSERT_TRUE(ns::UserDefaults::Standard().SetObject("UserAgent", ns::Value("agent/9")));

    const ns::URLRequest request =
        ZULRequest::requestWithURL(ns::URL::Parse("http://127.0.0.1:9/x").value(),
                                   ns::URLRequest::CachePolicy::ReloadIgnoringLocalCacheData, 12);
    EXPECT_EQ(std::vector<std::string>{"ZULSESSION=s1; COMPANY_ID=10157; ID=abc"},
              Named(request, "Cookie"));
    EXPECT_EQ(std::vector<std::string>{"agent/9"}, Named(request, "User-Agent"));
    EXPECT_EQ(ns::URLRequest::CachePolicy::ReloadIgnoringLocalCacheData, request.GetCachePolicy());
    EXPECT_EQ(12, request.TimeoutInterval());
}

// A cookie the application stored by hand with a line break in it would make the connection
// refuse the whole request; it is left out and the rest go.
TEST_F(ZULRequestTest, LeavesOutACookieThatWouldBreakTheHeaderLine) {
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    jar.SetCookie(ns::Cookie("a", "1", "h"));
    jar.SetCookie(ns::Cookie("bad", "x\r\nInjected: yes", "h"));
    jar.SetCookie(ns::Cookie("b", "2", "h"));
    EXPECT_EQ(std::vector<std::string>{"a=1; b=2"},
              Named(ZULRequest::requestWithURL("http://h/"), "Cookie"));
}

TEST_F(ZULRequestTest, TextThatIsNoUrlGivesARequestWithoutOne) {
    const ns::URLRequest request = ZULRequest::requestWithURL("http://bad host/");
    EXPECT_EQ("", request.GetURL().AbsoluteString());
}

// On the wire, as the portal received it: the stored cookies of any domain in one line, and
// the application's agent instead of the transfer library's.
TEST_F(ZULRequestTest, PortalReceivesTheAgentAndOneCookieLine) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    ZulPortal::PortalServer portal(options);
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    jar.SetCookie(ns::Cookie("COMPANY_ID", "10157", "127.0.0.1"));
    jar.SetCookie(ns::Cookie("ID", "7", "elsewhere.example"));

    ns::RunLoop loop;
    auto connection =
        ns::URLConnection::Start(ZULRequest::requestWithURL(portal.Url("/home")), nullptr, loop);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!connection->IsFinished() && std::chrono::steady_clock::now() < deadline) {
        loop.RunOnce(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(connection->IsFinished());

    const std::vector<ZulPortal::HttpRequest> requests = portal.Requests();
    ASSERT_EQ(1u, requests.size());
    std::vector<std::string> cookieLines;
    std::vector<std::string> agents;
    for (const auto& field : requests[0].fields) {
        if (ns::HTTPHeaderFields::NameEquals(field.first, "Cookie"))
            cookieLines.push_back(field.second);
        if (ns::HTTPHeaderFields::NameEquals(field.first, "User-Agent"))
            agents.push_back(field.second);
    }
    EXPECT_EQ(std::vector<std::string>{"COMPANY_ID=10157; ID=7"}, cookieLines);
    EXPECT_EQ(std::vector<std::string>{"zul-pellun-native-ios"}, agents);
}

TEST(ZULCookiesTest, SignedInTakesBothCookiesByExactNameAndOnlyThePortals) {
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    const PortalOrigin portal("http://Portal.example:8080/home");
    auto secure = [](ns::Cookie cookie) {
        cookie.SetSecure(true);
        return cookie;
    };
    const struct {
        std::vector<ns::Cookie> cookies;
        bool signedIn;
    } cases[] = {
        {{}, false},
        {{ns::Cookie("COMPANY_ID", "1", "portal.example")}, false},
        {{ns::Cookie("ID", "1", "portal.example")}, false},
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"), ns::Cookie("ID", "1", "portal.example")},
         true},
        // Names compare exactly: neither case nor a longer name counts.
        {{ns::Cookie("company_id", "1", "portal.example"), ns::Cookie("ID", "1", "portal.example")},
         false},
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"), ns::Cookie("Id", "1", "portal.example")},
         false},
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"),
          ns::Cookie("USER_ID", "1", "portal.example")},
         false},
        // A domain the portal's host is under counts, the host in any case too.
        {{ns::Cookie("COMPANY_ID", "1", ".example"), ns::Cookie("ID", "1", "PORTAL.example")},
         true},
        // Another host's do not: a sibling, a host under the portal's, a name that only ends
        // like it.
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"), ns::Cookie("ID", "1", "other.example")},
         false},
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"),
          ns::Cookie("ID", "1", "a.portal.example")},
         false},
        {{ns::Cookie("COMPANY_ID", "1", "evilportal.example"),
          ns::Cookie("ID", "1", "portal.example")},
         false},
        // A secure cookie is never sent to a portal over http.
        {{ns::Cookie("COMPANY_ID", "1", "portal.example"),
          secure(ns::Cookie("ID", "1", "portal.example"))},
         false},
    };
    int n = 0;
    for (const auto& c : cases) {
        jar.DeleteAllCookies();
        for (const ns::Cookie& cookie : c.cookies) jar.SetCookie(cookie);
        EXPECT_EQ(c.signedIn, ZULCookies::hasUserSignedInCookies(portal)) << "case " << n++;
    }
    // A portal at an address: only that address's.
    jar.DeleteAllCookies();
    jar.SetCookie(ns::Cookie("COMPANY_ID", "1", "127.0.0.1"));
    jar.SetCookie(ns::Cookie("ID", "1", "127.0.0.2"));
    EXPECT_FALSE(ZULCookies::hasUserSignedInCookies(PortalOrigin("http://127.0.0.1:80/")));
    jar.SetCookie(ns::Cookie("ID", "1", "127.0.0.1"));
    EXPECT_TRUE(ZULCookies::hasUserSignedInCookies(PortalOrigin("http://127.0.0.1:80/")));
    // A portal URL that is none owns nothing.
    EXPECT_FALSE(ZULCookies::hasUserSignedInCookies(PortalOrigin("")));
    EXPECT_FALSE(ZULCookies::hasUserSignedInCookies(PortalOrigin("file:///home")));

    ZULCookies::deleteAllCookies();
    EXPECT_TRUE(jar.Cookies().empty());
    EXPECT_FALSE(ZULCookies::hasUserSignedInCookies(portal));
}

TEST(PortalOriginTest, HoldsOnlyTheSameSchemeHostAndPort) {
    const PortalOrigin portal("http://Portal.example:8080/home");
    const PortalOrigin implicitPort("https://portal.example/home");
    const struct {
        const PortalOrigin& origin;
        const char* url;
        bool holds;
    } cases[] = {
        {portal, "http://portal.example:8080/movies", true},
        {portal, "HTTP://PORTAL.EXAMPLE:8080/c/portal/login?x=1", true},
        {portal, "http://portal.example/movies", false},
        {portal, "http://portal.example:8081/movies", false},
        {portal, "https://portal.example:8080/movies", false},
        {portal, "http://other.example:8080/movies", false},
        {portal, "http://a.portal.example:8080/movies", false},
        {portal, "http://127.0.0.2:8080/movies", false},
        {portal, "file:///movies", false},
        {portal, "about:blank", false},
        {implicitPort, "https://portal.example:443/x", true},
        {implicitPort, "https://portal.example/x", true},
        {implicitPort, "http://portal.example:443/x", false},
        {PortalOrigin(""), "http://portal.example/", false},
        {PortalOrigin("not a url"), "http://portal.example/", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.holds, c.origin.Contains(*ns::URL::Parse(c.url))) << c.url;
    }
}

}  // namespace
