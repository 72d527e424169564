#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/net/HTTPHeaderFields.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(HTTPHeaderFields, SetReplacesInPlaceWithoutRegardToCase) {
    ns::HTTPHeaderFields headers;
    headers.Set("User-Agent", "one");
    headers.Set("Accept", "*/*");
    headers.Set("Cookie", "a=1");
    headers.Set("user-agent", "two");
    EXPECT_EQ(headers.Fields(),
              (Fields{{"User-Agent", "two"}, {"Accept", "*/*"}, {"Cookie", "a=1"}}));
    EXPECT_EQ(headers.Value("USER-AGENT"), "two");
    EXPECT_TRUE(headers.Contains("cookie"));
    EXPECT_FALSE(headers.Contains("Cookie2"));
    EXPECT_EQ(headers.Value("Missing"), "");

    headers.Remove("ACCEPT");
    EXPECT_EQ(headers.Fields(), (Fields{{"User-Agent", "two"}, {"Cookie", "a=1"}}));
}

TEST(HTTPHeaderFields, RepeatedFieldsStaySeparateUntilSet) {
    ns::HTTPHeaderFields headers;
    headers.Append("Set-Cookie", "a=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT");
    headers.Append("Content-Type", "text/html");
    headers.Append("set-cookie", "b=2");
    EXPECT_EQ(headers.Values("SET-COOKIE"),
              (std::vector<std::string>{"a=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT", "b=2"}));
    EXPECT_EQ(headers.Value("Set-Cookie"), "a=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT, b=2");
    headers.AddValue("Content-Type", "charset=x");
    EXPECT_EQ(headers.Value("content-type"), "text/html,charset=x");
    headers.AddValue("X-New", "1");
    headers.Set("Set-Cookie", "c=3");  // the first keeps its place, the second goes
    EXPECT_EQ(
        headers.Fields(),
        (Fields{{"Set-Cookie", "c=3"}, {"Content-Type", "text/html,charset=x"}, {"X-New", "1"}}));
    EXPECT_EQ(headers.Count(), 3u);
}

TEST(HTTPHeaderFields, NamesDifferingOnlyOutsideAsciiLettersAreDifferent) {
    EXPECT_TRUE(ns::HTTPHeaderFields::NameEquals("X-A_1", "x-a_1"));
    EXPECT_FALSE(ns::HTTPHeaderFields::NameEquals("X-A", "X-A "));
    EXPECT_FALSE(ns::HTTPHeaderFields::NameEquals("[", "{"));  // 0x5B vs 0x7B differ by 0x20
}

}  // namespace
