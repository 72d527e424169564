// What the URL loading tests share: a delegate that records every call, the fixture with its
// loopback origin, loop and cookie jar, and a repeatable byte pattern. A test file takes them,
// and the names they use, with `using namespace URLConnectionTesting`.
#ifndef PLATFORM_NET_URLCONNECTIONTESTFIXTURE_H
#define PLATFORM_NET_URLCONNECTIONTESTFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLConnection.h"
#include "tests/support/TestOrigin.h"

namespace URLConnectionTesting {

using ns::URLConnection;
using SvTestSupport::TestOrigin;
using Events = std::vector<std::string>;

struct Recorder : ns::URLConnectionDelegate {
    Events events;
    std::vector<ns::URLResponse> redirectResponses;
    std::vector<ns::URLRequest> redirectRequests;
    std::vector<ns::AuthenticationChallenge> challenges;
    std::optional<ns::URLResponse> response;
    std::string body;
    std::optional<ns::Error> error;
    bool ended = false;

    std::function<std::optional<ns::URLRequest>(URLConnection&, const ns::URLRequest&)> onRedirect;
    std::function<void(URLConnection&, const ns::AuthenticationChallenge&)> onChallenge;
    std::function<void(URLConnection&)> onResponse;
    std::function<void(URLConnection&)> onData;

    std::optional<ns::URLRequest> WillSendRequest(URLConnection& c, const ns::URLRequest& request,
                                                  const ns::URLResponse& redirect) override {
        events.push_back("redirect " + std::to_string(redirect.StatusCode()));
        redirectResponses.push_back(redirect);
        redirectRequests.push_back(request);
        return onRedirect ? onRedirect(c, request) : std::optional<ns::URLRequest>(request);
    }
    void WillSendRequestForAuthenticationChallenge(
        URLConnection& c, const ns::AuthenticationChallenge& challenge) override {
        events.push_back("challenge");
        challenges.push_back(challenge);
        if (onChallenge) {
            onChallenge(c, challenge);
        } else {
            ns::URLConnectionDelegate::WillSendRequestForAuthenticationChallenge(c, challenge);
        }
    }
    void DidReceiveResponse(URLConnection& c, const ns::URLResponse& r) override {
        events.push_back("response " + std::to_string(r.StatusCode()));
        response = r;
        if (onResponse) onResponse(c);
    }
    void DidReceiveData(URLConnection& c, const std::string& data) override {
        if (events.empty() || events.back() != "data") events.push_back("data");
        body += data;
        if (onData) onData(c);
    }
    void DidFinishLoading(URLConnection&) override {
        events.push_back("finish");
        ended = true;
    }
    void DidFailWithError(URLConnection&, const ns::Error& e) override {
        events.push_back("fail " + std::to_string(e.GetCode()));
        error = e;
        ended = true;
    }
};

class URLConnectionTest : public ::testing::Test {
protected:
    ns::URLRequest Request(const std::string& path) {
        return ns::URLRequest(ns::URL::Parse(origin_.Url(path)).value());
    }
    std::shared_ptr<URLConnection> Start(const ns::URLRequest& request) {
        return URLConnection::Start(request, &recorder_, loop_, jar_);
    }
    // Runs the loop until the load ends, then a little longer so that a callback that should
    // not come has its chance to.
    void RunToEnd() {
        ASSERT_TRUE(loop_.RunUntil([this] { return recorder_.ended; }, std::chrono::seconds(10)));
        Settle();
    }
    void Settle() {
        loop_.RunUntil([] { return false; }, std::chrono::milliseconds(200));
    }

    TestOrigin origin_;
    ns::RunLoop loop_;
    ns::CookieStorage jar_;
    Recorder recorder_;
};

inline std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

}  // namespace URLConnectionTesting

#endif  // PLATFORM_NET_URLCONNECTIONTESTFIXTURE_H
