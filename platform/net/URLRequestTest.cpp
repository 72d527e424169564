#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/net/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace {

TEST(URLRequest, DefaultsAndHeaderEditing) {
    ns::URLRequest request(ns::URL::Parse("http://h/login").value());
    EXPECT_EQ(request.HTTPMethod(), "GET");
    EXPECT_EQ(request.TimeoutInterval(), 60.0);
    EXPECT_TRUE(request.HTTPShouldHandleCookies());
    request.SetValue("keep-alive", "Connection");
    request.SetValue("x", "Referer");
    request.SetValue("y", "referer");
    request.AddValue("gzip", "Accept-Encoding");
    request.AddValue("br", "accept-encoding");
    EXPECT_EQ(request.ValueForHTTPHeaderField("REFERER"), "y");
    EXPECT_EQ(request.ValueForHTTPHeaderField("Accept-Encoding"), "gzip,br");
    request.SetValue("", "Connection");  // an empty value removes the field
    ASSERT_EQ(request.AllHTTPHeaderFields().Count(), 2u);
    EXPECT_EQ(request.AllHTTPHeaderFields().Fields()[0].first, "Referer");

    request.SetTimeoutInterval(20);
    EXPECT_EQ(request.TimeoutInterval(), 20.0);
    request.SetTimeoutInterval(-1);
    EXPECT_EQ(request.TimeoutInterval(), 60.0);
    request.SetTimeoutInterval(std::nan(""));
    EXPECT_EQ(request.TimeoutInterval(), 60.0);
    ns::URLRequest bounded(ns::URL(), ns::URLRequest::CachePolicy::ReloadIgnoringLocalCacheData, 0);
    EXPECT_EQ(bounded.TimeoutInterval(), 60.0);
}

TEST(URLResponse, LengthAndTypeFromTheHead) {
    ns::HTTPHeaderFields headers;
    headers.Append("Content-Type", " Text/HTML ; charset=utf-8");
    headers.Append("Content-Length", "1234");
    ns::URLResponse response(ns::URL::Parse("http://h/").value(), 200, headers);
    EXPECT_TRUE(response.IsHTTP());
    EXPECT_EQ(response.MIMEType(), "text/html");
    EXPECT_EQ(response.ExpectedContentLength(), 1234);
    EXPECT_EQ(response.ValueForHTTPHeaderField("content-length"), "1234");

    for (const char* bad : {"", "-1", "12a", "99999999999999999999"}) {
        ns::HTTPHeaderFields h;
        h.Append("Content-Length", bad);
        EXPECT_EQ(ns::URLResponse(ns::URL(), 200, h).ExpectedContentLength(), -1) << bad;
    }
    ns::HTTPHeaderFields twice;  // two different lengths: none is believed
    twice.Append("Content-Length", "1");
    twice.Append("Content-Length", "2");
    EXPECT_EQ(ns::URLResponse(ns::URL(), 200, twice).ExpectedContentLength(), -1);
    EXPECT_EQ(ns::URLResponse().MIMEType(), "");
    EXPECT_FALSE(ns::URLResponse().IsHTTP());
}

TEST(Error, UrlErrorsCarryThePlatformDomainAndCodes) {
    const ns::Error timedOut = ns::Error::URLError(ns::Error::kTimedOut, "http://h/");
    EXPECT_EQ(timedOut.Domain(), "NSURLErrorDomain");
    EXPECT_EQ(timedOut.GetCode(), -1001);
    EXPECT_EQ(timedOut.FailingURL(), "http://h/");
    EXPECT_EQ(timedOut.ToString(), "Error Domain=NSURLErrorDomain Code=-1001 \"" +
                                       timedOut.LocalizedDescription() + "\"");
    EXPECT_EQ(ns::Error::kCancelled, -999);
    EXPECT_EQ(ns::Error::kCannotFindHost, -1003);
    EXPECT_EQ(ns::Error::kCannotConnectToHost, -1004);
    EXPECT_EQ(ns::Error::kNetworkConnectionLost, -1005);
    EXPECT_EQ(ns::Error::kBadServerResponse, -1011);
    EXPECT_EQ(ns::Error::kUserCancelledAuthentication, -1012);
    // Each code has its own description.
    EXPECT_NE(ns::Error::URLError(-1004).LocalizedDescription(),
              ns::Error::URLError(-1005).LocalizedDescription());
}

}  // namespace
