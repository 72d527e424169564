#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"

namespace {

using ns::Cookie;
using ns::CookieStorage;
using ns::URL;
using Clock = std::chrono::system_clock;

URL U(const std::string& text) { return URL::Parse(text).value(); }

// A jar whose clock the test moves.
struct Jar {
    Cookie::TimePoint now = Cookie::TimePoint(std::chrono::seconds(1700000000));
    CookieStorage storage{[this] { return now; }};

    void Receive(const std::string& url, const std::vector<std::string>& setCookies,
                 const std::string& mainDocument = "") {
        ns::HTTPHeaderFields headers;
        for (const std::string& value : setCookies) headers.Append("Set-Cookie", value);
        storage.SetCookiesFromResponse(headers, U(url),
                                       mainDocument.empty() ? URL() : U(mainDocument));
    }
    std::string HeaderFor(const std::string& url) {
        return Cookie::RequestHeaderValue(storage.CookiesForURL(U(url)));
    }
};

// Seconds since 1970 by the C library's own calendar, an oracle independent of the parser.
int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<int64_t>(timegm(&t));
}

int64_t Seconds(const std::optional<Cookie::TimePoint>& t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t->time_since_epoch()).count();
}

TEST(CookieStorage, DomainMatching) {
    Jar jar;
    jar.Receive("http://www.example.com/", {"d=1; Domain=.Example.COM", "h=2"});
    EXPECT_EQ(jar.HeaderFor("http://www.example.com/"), "d=1; h=2");
    EXPECT_EQ(jar.HeaderFor("http://example.com/"), "d=1");
    EXPECT_EQ(jar.HeaderFor("http://a.b.example.com/x"), "d=1");
    EXPECT_EQ(jar.HeaderFor("http://sub.www.example.com/"), "d=1");  // host-only stays put
    EXPECT_EQ(jar.HeaderFor("http://badexample.com/"), "");
    EXPECT_EQ(jar.HeaderFor("http://example.com.evil.net/"), "");
    std::vector<Cookie> all = jar.storage.Cookies();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Domain(), ".example.com");
    EXPECT_EQ(all[1].Domain(), "www.example.com");
    EXPECT_TRUE(all[1].IsHostOnly());

    // A host may not set cookies for another site, for a bare top-level name, or for a name
    // above an IP address.
    jar.Receive("http://www.example.com/",
                {"x=1; Domain=other.com", "y=1; Domain=com", "z=1; Domain=sub.www.example.com"});
    jar.Receive("http://10.0.0.1/", {"ip=1; Domain=0.0.1"});
    jar.Receive("http://127.0.0.1/", {"lo=1; Domain=127.0.0.1"});
    EXPECT_EQ(jar.storage.Cookies().size(), 3u);
    EXPECT_EQ(jar.HeaderFor("http://127.0.0.1/"), "lo=1");
}

TEST(CookieStorage, PathMatchingAndTheDefaultPath) {
    Jar jar;
    jar.Receive("http://h/", {"p=1; Path=/docs", "q=2; Path=/docs/", "bad=3; Path=relative"});
    jar.Receive("http://h/a/b/c", {"d=4"});
    // A path that does not start with '/' is replaced by the request's directory ("/"), so
    // "bad" goes everywhere on the host.
    EXPECT_EQ(jar.HeaderFor("http://h/docs"), "p=1; bad=3");
    EXPECT_EQ(jar.HeaderFor("http://h/docs/"), "p=1; q=2; bad=3");
    EXPECT_EQ(jar.HeaderFor("http://h/docs/web/page"), "p=1; q=2; bad=3");
    EXPECT_EQ(jar.HeaderFor("http://h/docsx"), "bad=3");
    EXPECT_EQ(jar.HeaderFor("http://h/"), "bad=3");
    EXPECT_EQ(jar.HeaderFor("http://h/a/b"), "bad=3; d=4");
    EXPECT_EQ(jar.HeaderFor("http://h/a/bc"), "bad=3");
    EXPECT_EQ(jar.storage.Cookies().back().Path(), "/a/b");
}

TEST(CookieStorage, HeaderListsCookiesInCreationOrderAcrossReplacements) {
    Jar jar;
    jar.Receive("http://h/", {"a=1"});
    jar.Receive("http://h/", {"b=2"});
    EXPECT_EQ(jar.HeaderFor("http://h/"), "a=1; b=2");
    jar.Receive("http://h/", {"a=3"});  // replaces a, which keeps its place
    EXPECT_EQ(jar.HeaderFor("http://h/"), "a=3; b=2");
    // Same name, other path: a cookie of its own.
    jar.Receive("http://h/", {"a=4; Path=/x"});
    EXPECT_EQ(jar.HeaderFor("http://h/x/y"), "a=3; b=2; a=4");
    EXPECT_EQ(Cookie::RequestHeaderValue({}), "");
}

TEST(CookieStorage, MaxAgeAndExpiresDecideTheLifetime) {
    Jar jar;
    jar.Receive("http://h/", {"a=1; Max-Age=60", "b=2",
                              "c=3; Expires=Thu, 01 Jan 2099 00:00:00 GMT", "e=5; Max-Age=0"});
    EXPECT_EQ(jar.HeaderFor("http://h/"), "a=1; b=2; c=3");
    EXPECT_TRUE(jar.storage.Cookies()[1].IsSessionOnly());
    EXPECT_EQ(Seconds(jar.storage.Cookies()[0].ExpiresDate()), 1700000060);
    EXPECT_EQ(Seconds(jar.storage.Cookies()[2].ExpiresDate()), Utc(2099, 1, 1, 0, 0, 0));

    jar.Receive("http://h/", {"b=x; Max-Age=0"});  // deletes b
    EXPECT_EQ(jar.HeaderFor("http://h/"), "a=1; c=3");
    jar.Receive("http://h/", {"c=x; Expires=Thu, 01 Jan 1970 00:00:01 GMT"});  // deletes c
    EXPECT_EQ(jar.HeaderFor("http://h/"), "a=1");
    jar.now += std::chrono::seconds(60);  // a lived its 60 seconds
    EXPECT_EQ(jar.HeaderFor("http://h/"), "");
    EXPECT_TRUE(jar.storage.Cookies().empty());

    // Max-Age wins over Expires whichever comes first; a negative age expires at once; a
    // malformed one is ignored.
    jar.Receive("http://h/",
                {"m=1; Max-Age=10; Expires=Thu, 01 Jan 1970 00:00:01 GMT",
                 "n=1; Expires=Thu, 01 Jan 1970 00:00:01 GMT; Max-Age=10", "o=1; Max-Age=-5",
                 "p=1; Max-Age=1x", "q=1; Max-Age=99999999999999999999999"});
    EXPECT_EQ(jar.HeaderFor("http://h/"), "m=1; n=1; p=1; q=1");
    EXPECT_TRUE(jar.storage.Cookies()[2].IsSessionOnly());
}

TEST(CookieStorage, MaxAgeCountsLeadingZerosAsNothing) {
    Jar jar;  // its clock reads 1700000000
    // Padded with zeros past ten digits, an age still means its value: 60 s, 1147280895 s, and
    // zero (which deletes the cookie it names).
    jar.Receive("http://h/", {"a=1; Max-Age=000000000060", "b=1; Max-Age=01147280895", "z=1",
                              "z=2; Max-Age=000000000000"});
    const std::vector<Cookie> kept = jar.storage.Cookies();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(Seconds(kept[0].ExpiresDate()), 1700000000 + 60);
    EXPECT_EQ(Seconds(kept[1].ExpiresDate()), int64_t{1700000000} + 1147280895);
    // A long age is still capped, not wrapped: 10^20 s ends after the ten-digit cap.
    jar.Receive("http://h/", {"c=1; Max-Age=100000000000000000000"});
    EXPECT_EQ(Seconds(jar.storage.Cookies()[2].ExpiresDate()), int64_t{1700000000} + 9999999999);
}

TEST(CookieStorage, SecureAndHttpOnly) {
    Jar jar;
    jar.Receive("https://h/", {"s=1; Secure; HttpOnly", "t=2"});
    EXPECT_EQ(jar.HeaderFor("https://h/"), "s=1; t=2");
    EXPECT_EQ(jar.HeaderFor("http://h/"), "t=2");
    EXPECT_TRUE(jar.storage.Cookies()[0].IsSecure());
    EXPECT_TRUE(jar.storage.Cookies()[0].IsHTTPOnly());
    EXPECT_FALSE(jar.storage.Cookies()[1].IsHTTPOnly());
}

TEST(CookieStorage, PoliciesDecideWhatIsStored) {
    Jar jar;
    jar.storage.SetAcceptPolicy(CookieStorage::AcceptPolicy::Never);
    jar.Receive("http://h/", {"a=1"});
    jar.storage.SetCookie(Cookie("b", "2", "h"));
    EXPECT_TRUE(jar.storage.Cookies().empty());

    jar.storage.SetAcceptPolicy(CookieStorage::AcceptPolicy::OnlyFromMainDocumentDomain);
    const std::string main = "http://portal.example.com/page";
    jar.Receive("http://ads.other.net/pixel", {"third=1"}, main);
    jar.Receive("http://cdn.example.com/x", {"cdn=1"}, main);  // only sent to cdn: refused
    jar.Receive("http://cdn.example.com/x", {"shared=1; Domain=example.com"}, main);
    jar.Receive("http://portal.example.com/y", {"own=1"}, main);
    jar.Receive("http://img.portal.example.com/y", {"under=1"}, main);
    jar.Receive("http://portal.example.com/z", {"self=1"});  // no main document: itself
    std::vector<std::string> names;
    for (const Cookie& c : jar.storage.Cookies()) names.push_back(c.Name());
    EXPECT_EQ(names, (std::vector<std::string>{"shared", "own", "under", "self"}));

    jar.storage.SetAcceptPolicy(CookieStorage::AcceptPolicy::Always);
    jar.storage.SetCookie(Cookie("b", "2", "h"));
    EXPECT_EQ(jar.HeaderFor("http://h/"), "b=2");
    jar.storage.DeleteCookie(Cookie("b", "other value", "h"));
    EXPECT_EQ(jar.HeaderFor("http://h/"), "");
    jar.storage.DeleteAllCookies();
    EXPECT_TRUE(jar.storage.Cookies().empty());
}

TEST(CookieStorage, MalformedCookiesAreRefusedAndTheJarStaysBounded) {
    Jar jar;
    jar.Receive("http://h/",
                {"noequals", "=v", " = v", "a\x01=1", "b=\x7f", std::string(5000, 'n') + "=1"});
    jar.Receive("file:///tmp/x", {"f=1"});  // no host to send it to
    EXPECT_TRUE(jar.storage.Cookies().empty());
    jar.Receive("http://h/", {" spaced = value with spaces ; path=/"});
    EXPECT_EQ(jar.HeaderFor("http://h/"), "spaced=value with spaces");
    jar.storage.DeleteAllCookies();

    for (size_t i = 0; i < CookieStorage::kMaxCookiesPerDomain + 10; ++i) {
        jar.Receive("http://h/", {"c" + std::to_string(i) + "=1"});
    }
    std::vector<Cookie> kept = jar.storage.Cookies();
    ASSERT_EQ(kept.size(), CookieStorage::kMaxCookiesPerDomain);
    EXPECT_EQ(kept.front().Name(), "c10");  // the oldest made room
}

TEST(Cookie, DatesReadTheWayServersWriteThem) {
    const int64_t expected = Utc(1994, 11, 6, 8, 49, 37);
    EXPECT_EQ(Seconds(Cookie::ParseDate("Sun, 06 Nov 1994 08:49:37 GMT")), expected);
    EXPECT_EQ(Seconds(Cookie::ParseDate("Sunday, 06-Nov-94 08:49:37 GMT")), expected);
    EXPECT_EQ(Seconds(Cookie::ParseDate("Sun Nov  6 08:49:37 1994")), expected);
    EXPECT_EQ(Seconds(Cookie::ParseDate("Wed, 29-Feb-2040 23:59:59 GMT")),
              Utc(2040, 2, 29, 23, 59, 59));
    EXPECT_EQ(Seconds(Cookie::ParseDate("1 jan 70 0:0:0")), 0);
    EXPECT_EQ(Seconds(Cookie::ParseDate("Fri, 31 Dec 9999 23:59:59 GMT")),
              Utc(9999, 12, 31, 23, 59, 59));
    for (const char* bad : {"", "Sun, 06 Nov 1994", "Fri, 30 Feb 2024 10:00:00 GMT",
                            "Thu, 29 Feb 2100 00:00:00 GMT", "Sun, 06 Nov 1600 08:49:37 GMT",
                            "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 32 Nov 1994 08:49:37 GMT",
                            "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 06 Nov 12345 08:49:37 GMT"}) {
        EXPECT_FALSE(Cookie::ParseDate(bad).has_value()) << bad;
    }
}

TEST(Cookie, MatchingRulesOnTheirOwn) {
    EXPECT_TRUE(Cookie::DomainMatches("WWW.Example.com", "example.COM"));
    EXPECT_FALSE(Cookie::DomainMatches("example.com", "www.example.com"));
    EXPECT_FALSE(Cookie::DomainMatches("1.2.3.4", "2.3.4"));
    EXPECT_TRUE(Cookie::PathMatches("", "/"));
    EXPECT_TRUE(Cookie::PathMatches("/a/b", "/a"));
    EXPECT_FALSE(Cookie::PathMatches("/ab", "/a"));
    EXPECT_FALSE(Cookie::PathMatches("/", "/a"));
    const Cookie byHand("n", "v", ".Example.com", "");
    EXPECT_EQ(byHand.Domain(), ".example.com");
    EXPECT_EQ(byHand.Path(), "/");
    EXPECT_TRUE(
        byHand.MatchesURL(U("http://x.example.com/any"),
                          std::chrono::time_point_cast<std::chrono::seconds>(Clock::now())));
}

TEST(CookieStorage, EverySetAndDeleteOfACookieIsStampedOnTheMonotonicClock) {
    Jar jar;
    const Cookie id("ID", "1", "example.com");
    EXPECT_FALSE(jar.storage.LastChange(id).has_value());

    const auto beforeSet = std::chrono::steady_clock::now();
    jar.storage.SetCookie(id);
    const auto set = jar.storage.LastChange(id);
    ASSERT_TRUE(set.has_value());
    EXPECT_GE(*set, beforeSet);
    EXPECT_LE(*set, std::chrono::steady_clock::now());
    // Another cookie's change is its own.
    EXPECT_FALSE(jar.storage.LastChange(Cookie("ID", "1", "other.example")).has_value());

    // Set again with the same value: still a change, and a later one.
    const auto beforeAgain = std::chrono::steady_clock::now();
    jar.storage.SetCookie(id);
    EXPECT_GE(*jar.storage.LastChange(id), beforeAgain);

    // Deleted, expired by a response, or gone with all the others: each is stamped too.
    const auto beforeDelete = std::chrono::steady_clock::now();
    jar.storage.DeleteCookie(id);
    EXPECT_GE(*jar.storage.LastChange(id), beforeDelete);
    EXPECT_TRUE(jar.storage.Cookies().empty());

    jar.Receive("http://example.com/", {"ID=2"});
    const auto beforeExpiry = std::chrono::steady_clock::now();
    jar.Receive("http://example.com/", {"ID=; Max-Age=0"});
    EXPECT_GE(*jar.storage.LastChange(id), beforeExpiry);
    EXPECT_TRUE(jar.storage.Cookies().empty());

    jar.storage.SetCookie(id);
    const auto beforeAll = std::chrono::steady_clock::now();
    jar.storage.DeleteAllCookies();
    EXPECT_GE(*jar.storage.LastChange(id), beforeAll);
}

}  // namespace
