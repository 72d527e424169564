#include "engine/input/CurlHTTPClientInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/input/TransportTestSupport.h"
#include "tests/support/TestOrigin.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

using SvTestSupport::TestOrigin;

// The Range header value the origin logged for the request i (empty: no header).
std::string RangeOf(const TestOrigin::Request& request) {
    std::map<std::string, std::string>::const_iterator it = request.headers.find("range");
    return it == request.headers.end() ? std::string() : it->second;
}

TEST(CurlHTTPClientInterfaceRequest, RangeHeadersFollowTheRequestedRange) {
    TestOrigin origin;
    const std::string source = PatternBytes(5000);
    origin.Serve("/r", source);
    struct Case {
        uint64_t start, end;
        const char* range;  // expected header value, "" for none
        std::string bytes;  // expected body
    } cases[] = {
        {0, 0, "", source},
        {100, 200, "bytes=100-199", source.substr(100, 100)},
        {100, 0, "bytes=100-", source.substr(100)},
        {0, 50, "bytes=0-49", source.substr(0, 50)},
    };
    for (const Case& c : cases) {
        TransportRecorder recorder(MakeTransport(origin.Url("/r")));
        ASSERT_TRUE(recorder.Fetch(c.start, c.end)) << c.start << "-" << c.end;
        EXPECT_FALSE(recorder.Failed());
        EXPECT_EQ(recorder.Bytes(), c.bytes) << c.start << "-" << c.end;
    }
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i].method, "GET");
        EXPECT_EQ(RangeOf(requests[i]), cases[i].range) << requests[i].head;
    }
}

TEST(CurlHTTPClientInterfaceRequest, EmptyOrReversedRangeSendsNothing) {
    TestOrigin origin;
    origin.Serve("/r", PatternBytes(1000));
    {
        TransportRecorder empty(MakeTransport(origin.Url("/r")));
        ASSERT_TRUE(empty.Fetch(300, 300));
        EXPECT_FALSE(empty.Failed());  // nothing asked, nothing delivered
        EXPECT_TRUE(empty.Bytes().empty());
        EXPECT_TRUE(empty.ErrorCodes().empty());
    }
    {
        TransportRecorder reversed(MakeTransport(origin.Url("/r")));
        ASSERT_TRUE(reversed.Fetch(300, 200));
        EXPECT_TRUE(reversed.Failed());
        ASSERT_EQ(reversed.ErrorCodes().size(), 1u);
        EXPECT_EQ(reversed.ErrorCodes()[0], 1010);
        EXPECT_TRUE(reversed.Bytes().empty());
    }
    EXPECT_TRUE(origin.Requests().empty());
}

TEST(CurlHTTPClientInterfaceRequest, ParametersJoinTheQueryEscapedForAGet) {
    TestOrigin origin;
    origin.Serve("/q", "ok");
    const std::map<std::string, std::string> parameters = {{"b", "x y"}, {"c&", "\xc3\xa9/"}};
    TransportRecorder recorder(MakeTransport(origin.Url("/q?a=1"), &parameters));
    ASSERT_TRUE(recorder.Fetch(0, 0));
    ASSERT_EQ(origin.Requests().size(), 1u);
    // Names in ascending order; every byte outside A-Z a-z 0-9 - . _ ~ as %XX.
    EXPECT_EQ(origin.Requests()[0].target, "/q?a=1&b=x%20y&c%26=%C3%A9%2F");
    EXPECT_EQ(recorder.Bytes(), "ok");
}

TEST(CurlHTTPClientInterfaceRequest, BodyOrPostFlagMakesAFormPost) {
    TestOrigin origin;
    origin.Serve("/form", "done");
    const std::map<std::string, std::string> parameters = {{"k", "v w"}};
    {
        // A body goes as it is, to the bare address; the parameters are not sent.
        TransportRecorder recorder(
            MakeTransport(origin.Url("/form?x=1"), &parameters, "user=a&p=b"));
        ASSERT_TRUE(recorder.Fetch(0, 0));
        EXPECT_EQ(recorder.Bytes(), "done");
    }
    {
        // No body but the POST flag: the query (unescaped) becomes the body.
        TransportRecorder recorder(MakeTransport(origin.Url("/form?x=1"), &parameters));
        recorder.Transport().SetPost(true);
        ASSERT_TRUE(recorder.Fetch(0, 0));
    }
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/form");
    EXPECT_EQ(requests[0].body, "user=a&p=b");
    EXPECT_EQ(requests[0].headers.at("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].headers.count("expect"), 0u);
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/form");
    EXPECT_EQ(requests[1].body, "x=1&k=v w");
}

TEST(CurlHTTPClientInterfaceRequest, RedirectIsFollowedWithTheRangeKept) {
    TestOrigin origin;
    const std::string source = PatternBytes(4000, 7);
    origin.Serve("/new", source);
    TestOrigin::Fault moved;
    moved.status = 302;
    moved.location = "/new";
    origin.SetFault("/old", moved);
    TransportRecorder recorder(MakeTransport(origin.Url("/old")));
    ASSERT_TRUE(recorder.Fetch(100, 200));
    EXPECT_FALSE(recorder.Failed());
    EXPECT_EQ(recorder.Bytes(), source.substr(100, 100));
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/old");
    EXPECT_EQ(requests[1].path, "/new");
    EXPECT_EQ(RangeOf(requests[0]), "bytes=100-199");
    EXPECT_EQ(RangeOf(requests[1]), "bytes=100-199");
    // The redirect's own head said nothing about the resource's size.
    EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{4000});
}

TEST(CurlHTTPClientInterfaceResponse, EndPositionFromContentRangeTotalOrLength) {
    TestOrigin origin;
    origin.Serve("/known", PatternBytes(5000));
    origin.Serve("/unknown", PatternBytes(5000));
    TestOrigin::Fault star;
    star.totalUnknown = true;
    origin.SetFault("/unknown", star);
    {
        TransportRecorder recorder(MakeTransport(origin.Url("/known")));
        ASSERT_TRUE(recorder.Fetch(100, 200));
        // "Content-Range: bytes 100-199/5000": the resource's size.
        EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{5000});
    }
    {
        TransportRecorder recorder(MakeTransport(origin.Url("/unknown")));
        ASSERT_TRUE(recorder.Fetch(100, 200));
        // "bytes 100-199/*": only the Content-Length of the answer, 100.
        EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{100});
        EXPECT_EQ(recorder.Bytes().size(), 100u);
    }
}

TEST(CurlHTTPClientInterfaceResponse, ErrorStatusIsPublishedWithNoData) {
    TestOrigin origin;  // serves nothing: every path is 404
    TransportRecorder recorder(MakeTransport(origin.Url("/missing")));
    ASSERT_TRUE(recorder.Fetch(0, 0));
    EXPECT_EQ(recorder.ErrorCodes(), std::vector<SVStatus>{404});
    EXPECT_EQ(recorder.ErrorTexts(), std::vector<std::string>{"HTTP Error 404"});
    EXPECT_TRUE(recorder.ErrorBeforeDone());
    EXPECT_TRUE(recorder.Bytes().empty());
    EXPECT_TRUE(recorder.Ends().empty());
    EXPECT_TRUE(recorder.Failed());
    EXPECT_EQ(recorder.DoneCount(), 1);
}

TEST(CurlHTTPClientInterfaceResponse, ResetMidBodyIsAReceiveErrorThenDone) {
    TestOrigin origin;
    const std::string source = PatternBytes(200000, 3);
    origin.Serve("/drop", source);
    origin.Serve("/drop-open", source);
    TestOrigin::Fault drop;
    drop.dropAfter = 70000;
    origin.SetFault("/drop", drop);
    // Without a length only the kind of close tells a cut from the end: a reset must not pass
    // for a complete body.
    drop.noContentLength = true;
    origin.SetFault("/drop-open", drop);
    // The stream error code and the receive failure with the system's text for a reset by
    // the peer.
    const std::string expected =
        std::string("CFStream error: Recv failure: ") + std::strerror(ECONNRESET);
    for (const char* path : {"/drop", "/drop-open"}) {
        TransportRecorder recorder(MakeTransport(origin.Url(path)));
        ASSERT_TRUE(recorder.Fetch(0, 0)) << path;
        EXPECT_EQ(recorder.ErrorCodes(), std::vector<SVStatus>{1010}) << path;
        EXPECT_EQ(recorder.ErrorTexts(), std::vector<std::string>{expected}) << path;
        EXPECT_TRUE(recorder.ErrorBeforeDone()) << path;
        EXPECT_TRUE(recorder.Failed()) << path;
        EXPECT_EQ(recorder.DoneCount(), 1) << path;
        // What came before the reset is the start of the resource, nothing after it.
        const std::string bytes = recorder.Bytes();
        EXPECT_LE(bytes.size(), 70000u) << path;
        EXPECT_EQ(bytes, source.substr(0, bytes.size())) << path;
    }
}

TEST(CurlHTTPClientInterfaceResponse, ServerIgnoringRangeStillGivesTheRange) {
    TestOrigin origin;
    const std::string source = PatternBytes(300000, 5);
    origin.Serve("/all", source);
    TestOrigin::Fault ignore;
    ignore.ignoreRange = true;
    origin.SetFault("/all", ignore);
    {
        TransportRecorder recorder(MakeTransport(origin.Url("/all")));
        ASSERT_TRUE(recorder.Fetch(100000, 100100));
        EXPECT_FALSE(recorder.Failed());
        EXPECT_EQ(recorder.Bytes(), source.substr(100000, 100));
    }
    {
        TransportRecorder recorder(MakeTransport(origin.Url("/all")), false);
        ASSERT_TRUE(recorder.Fetch(70000, 0));
        EXPECT_FALSE(recorder.Failed());
        EXPECT_EQ(recorder.Bytes(), source.substr(70000));
        // Content-Length of the whole answer: the resource's size.
        EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{300000});
    }
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RangeOf(requests[0]), "bytes=100000-100099");
}

TEST(CurlHTTPClientInterfaceResponse, BodyWithoutLengthEndsAtCloseAndSurvivesAStall) {
    TestOrigin origin;
    const std::string source = PatternBytes(150000, 9);
    origin.Serve("/open", source);
    TestOrigin::Fault fault;
    fault.noContentLength = true;
    fault.stallAfter = 60000;
    fault.stallMs = 300;
    origin.SetFault("/open", fault);
    TransportRecorder recorder(MakeTransport(origin.Url("/open")));
    ASSERT_TRUE(recorder.Fetch(0, 0));
    EXPECT_FALSE(recorder.Failed());
    EXPECT_EQ(recorder.Bytes(), source);
    EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{0});
    for (size_t size : recorder.Deliveries()) EXPECT_LE(size, 65536u);
}

TEST(CurlHTTPClientInterfaceBackPressure, NoAllowanceReportsIdleAndDeliversNothing) {
    TestOrigin origin;
    const std::string source = PatternBytes(400000, 11);
    origin.Serve("/big", source);
    TransportRecorder recorder(MakeTransport(origin.Url("/big")));
    recorder.Transport().DoSetMaxDownloadAmount(0);
    recorder.Transport().StartDownload(0, 0);
    ASSERT_TRUE(recorder.WaitIdle(1));
    ASSERT_TRUE(DownloadThreadTurnedTwice());
    EXPECT_TRUE(recorder.Bytes().empty());
    EXPECT_EQ(recorder.DoneCount(), 0);
    EXPECT_EQ(recorder.Ends(), std::vector<unsigned long long>{400000});
    // At or below the resume threshold (65536 by default) nothing moves.
    recorder.Transport().DoSetMaxDownloadAmount(65536);
    ASSERT_TRUE(DownloadThreadTurnedTwice());
    EXPECT_TRUE(recorder.Bytes().empty());
    recorder.Transport().DoSetMaxDownloadAmount(HTTPClientInterface::kUnlimited);
    ASSERT_TRUE(recorder.WaitDone());
    EXPECT_EQ(recorder.Bytes(), source);
}

TEST(CurlHTTPClientInterfaceBackPressure, DeliveriesNeverExceedTheAllowancesGranted) {
    TestOrigin origin;
    const std::string source = PatternBytes(3000000, 13);
    origin.Serve("/big", source);
    const uint64_t start = 12345;
    const uint64_t end = 2900001;
    TransportRecorder recorder(MakeTransport(origin.Url("/big")));
    std::atomic<uint64_t> granted(0);
    std::atomic<bool> exceeded(false);
    recorder.SetDataHook([&](size_t total) {
        if (total > granted.load()) exceeded = true;
    });
    // Grants of 100000 bytes (above the resume threshold), each once the last one is used up.
    const uint32_t grant = 100000;
    recorder.Transport().DoSetMaxDownloadAmount(0);
    recorder.Transport().StartDownload(start, end);
    int idle = 0;
    while (recorder.DoneCount() == 0) {
        ASSERT_TRUE(recorder.WaitIdle(idle + 1));
        if (recorder.DoneCount() != 0) break;
        idle = recorder.IdleReports();
        granted += grant;
        recorder.Transport().DoSetMaxDownloadAmount(grant);
    }
    EXPECT_FALSE(exceeded.load());
    EXPECT_FALSE(recorder.Failed());
    EXPECT_LE(recorder.Bytes().size(), granted.load());
    EXPECT_EQ(recorder.Bytes(), source.substr(start, end - start));
    EXPECT_GE(recorder.IdleReports(), static_cast<int>((end - start) / grant));
}

TEST(CurlHTTPClientInterfaceClose, CloseRightAfterStartDeliversNothingAndFinishes) {
    TestOrigin origin;
    origin.Serve("/slow", PatternBytes(1000));
    TestOrigin::Fault slow;
    slow.headDelayMs = 300;
    origin.SetFault("/slow", slow);
    std::atomic<int> calls(0);
    boost::shared_ptr<HTTPClientInterface> transport = MakeTransport(origin.Url("/slow"));
    transport->SetDoneHandler([&calls](bool) { ++calls; });
    transport->SetDataHandler([&calls](const signed char*, unsigned int) {
        ++calls;
        return true;
    });
    transport->StartDownload(0, 0);
    transport->AbortDownload();
    transport->Close();
    EXPECT_TRUE(transport->IsClosed());
    // Once the close has run on the download thread the transfer is gone: no handler of it can
    // run any more, whenever the delayed answer would have come.
    ASSERT_TRUE(DownloadThreadTurnedTwice());
    EXPECT_EQ(calls.load(), 0);
    // A second start on a closed transport asks nothing. A download started after it, on the
    // same thread and to the same origin, is the sentinel: once it is done, a request the
    // second start had made would have reached the origin before it.
    transport->StartDownload(0, 0);
    origin.Serve("/sentinel", PatternBytes(10));
    TransportRecorder sentinel(MakeTransport(origin.Url("/sentinel")));
    ASSERT_TRUE(sentinel.Fetch(0, 0));
    size_t asked = 0, sentinels = 0;
    for (const TestOrigin::Request& request : origin.Requests()) {
        asked += request.path == "/slow";
        sentinels += request.path == "/sentinel";
    }
    EXPECT_EQ(1u, sentinels);
    EXPECT_LE(asked, 1u) << "the first start may have asked once, the second never";
    EXPECT_EQ(calls.load(), 0);
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
