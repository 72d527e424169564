#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/ManualClock.h"
#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionTestFixture.h"
#include "tests/support/ChildDescriptors.h"
#include "tests/support/TestOrigin.h"

namespace {

using namespace URLConnectionTesting;

// RFC 7617's example credential: "Aladdin" / "open sesame".
const char kAladdin[] = "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==";

TEST_F(URLConnectionTest, HeadersGoOnTheWireInInsertionOrder) {
    origin_.Serve("/page", "hello");
    jar_.SetCookie(ns::Cookie("stored", "1", "127.0.0.1"));
    ns::URLRequest request = Request("/page");
    request.SetValue("1", "X-First");
    request.SetValue("pl,en-US;q=0.8,en;q=0.6", "Accept-Language");
    request.SetValue("keep-alive", "Connection");
    request.SetValue("3", "x-third");
    request.SetValue("http://ref.example/", "Referer");
    std::shared_ptr<URLConnection> connection = Start(request);
    EXPECT_TRUE(recorder_.events.empty());  // nothing happens before the loop runs
    RunToEnd();

    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    EXPECT_EQ(recorder_.body, "hello");
    EXPECT_TRUE(connection->IsFinished());
    const std::vector<TestOrigin::Request> seen = origin_.Requests();
    ASSERT_EQ(seen.size(), 1u);
    const std::string& head = seen[0].head;
    size_t last = 0;
    for (const char* line :
         {"\r\nX-First: 1\r\n", "\r\nAccept-Language: pl,en-US;q=0.8,en;q=0.6\r\n",
          "\r\nConnection: keep-alive\r\n", "\r\nx-third: 3\r\n",
          "\r\nReferer: http://ref.example/\r\n", "\r\nCookie: stored=1\r\n"}) {
        const size_t at = (head + "\r\n").find(line);
        ASSERT_NE(at, std::string::npos) << line << " in\n" << head;
        EXPECT_GT(at, last) << line;
        last = at;
    }
    EXPECT_EQ(head.find("Expect"), std::string::npos);
}

TEST_F(URLConnectionTest, PostRedirectedBy302BecomesGetCarryingTheNewCookie) {
    TestOrigin::Fault login;
    login.status = 302;
    login.location = "/home";
    login.headers = {
        {"DEVICE_LOGIN_STATUS", "0"}, {"DEVICE_MAX_SLOTS", "3"}, {"Set-Cookie", "ID=abc; Path=/"}};
    origin_.SetFault("/login", login);
    origin_.Serve("/home", "welcome");
    ns::URLRequest request = Request("/login");
    request.SetHTTPMethod("POST");
    request.SetValue("application/x-www-form-urlencoded", "Content-Type");
    request.SetHTTPBody("_58_login=a%40b&sign_in=Sign+in");
    Start(request);
    RunToEnd();

    EXPECT_EQ(recorder_.events, (Events{"redirect 302", "response 200", "data", "finish"}));
    ASSERT_EQ(recorder_.redirectResponses.size(), 1u);
    const ns::URLResponse& redirect = recorder_.redirectResponses[0];
    EXPECT_EQ(redirect.ValueForHTTPHeaderField("device_login_status"), "0");
    EXPECT_EQ(redirect.ValueForHTTPHeaderField("DEVICE_MAX_SLOTS"), "3");
    EXPECT_EQ(redirect.ValueForHTTPHeaderField("Set-Cookie"), "ID=abc; Path=/");
    EXPECT_EQ(redirect.GetURL().AbsoluteString(), origin_.Url("/login"));
    const ns::URLRequest& next = recorder_.redirectRequests[0];
    EXPECT_EQ(next.HTTPMethod(), "GET");
    EXPECT_EQ(next.HTTPBody(), "");
    EXPECT_EQ(next.GetURL().AbsoluteString(), origin_.Url("/home"));
    EXPECT_EQ(recorder_.response->GetURL().AbsoluteString(), origin_.Url("/home"));
    EXPECT_EQ(recorder_.body, "welcome");

    const std::vector<TestOrigin::Request> seen = origin_.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].body, "_58_login=a%40b&sign_in=Sign+in");
    EXPECT_EQ(seen[0].headers.count("cookie"), 0u);
    EXPECT_EQ(seen[1].method, "GET");
    EXPECT_EQ(seen[1].path, "/home");
    EXPECT_EQ(seen[1].headers.count("cookie") == 1 ? seen[1].headers.at("cookie") : "", "ID=abc");
    EXPECT_EQ(seen[1].headers.count("content-type"), 0u);
    EXPECT_EQ(seen[1].body, "");
    ASSERT_EQ(jar_.Cookies().size(), 1u);
    EXPECT_EQ(jar_.Cookies()[0].Name(), "ID");
}

// Each redirect status, to the same origin, to another host (127.0.0.2) and to the same host on
// another port: the method and body the next hop carries, or the load failing before anything
// reaches the other origin when a 307 or 308 would post there again. A hop to another origin
// carries neither the Cookie nor the Authorization field the request was given.
TEST_F(URLConnectionTest, EachRedirectStatusKeepsOrChangesTheMethodAsHttpSays) {
    TestOrigin otherHost("127.0.0.2");
    TestOrigin otherPort;
    enum Target { kSame, kOtherHost, kOtherPort };
    struct Case {
        int status;
        const char* method;
        const char* body;
        Target target;
        const char* sent;  // the method the target receives; null: the load fails, none does
    };
    const Case cases[] = {
        {301, "POST", "k=v", kSame, "GET"},        {302, "POST", "k=v", kSame, "GET"},
        {303, "POST", "k=v", kSame, "GET"},        {307, "POST", "k=v", kSame, "POST"},
        {308, "POST", "k=v", kSame, "POST"},       {307, "POST", "k=v", kOtherHost, nullptr},
        {308, "POST", "k=v", kOtherHost, nullptr}, {307, "POST", "k=v", kOtherPort, nullptr},
        {308, "PUT", "", kOtherHost, nullptr},     {307, "GET", "", kOtherHost, "GET"},
        {302, "POST", "k=v", kOtherHost, "GET"},   {303, "PUT", "k=v", kOtherPort, "GET"},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.status << " " << c.method << " to " << c.target);
        TestOrigin& target = c.target == kSame        ? origin_
                             : c.target == kOtherHost ? otherHost
                                                      : otherPort;
        const std::string targetPath = "/target" + std::to_string(++row);
        target.Serve(targetPath, "t");
        const std::string path = "/moved" + std::to_string(row);
        TestOrigin::Fault fault;
        fault.status = c.status;
        fault.location = target.Url(targetPath);  // absolute this time
        origin_.SetFault(path, fault);
        Recorder recorder;
        ns::URLRequest request = Request(path);
        request.SetHTTPMethod(c.method);
        request.SetHTTPBody(c.body);
        request.SetHTTPShouldHandleCookies(false);
        request.SetValue("ID=1", "Cookie");
        request.SetValue(kAladdin, "Authorization");
        URLConnection::Start(request, &recorder, loop_, jar_);
        ASSERT_TRUE(loop_.RunUntil([&] { return recorder.ended; }, std::chrono::seconds(10)));
        const std::vector<TestOrigin::Request> hops = target.Requests();
        if (c.sent == nullptr) {
            EXPECT_EQ(recorder.events, (Events{"fail -1011"}));
            ASSERT_TRUE(recorder.error);
            EXPECT_EQ(recorder.error->FailingURL(), origin_.Url(path));
            EXPECT_TRUE(hops.empty());
            continue;
        }
        EXPECT_EQ(recorder.events, (Events{"redirect " + std::to_string(c.status), "response 200",
                                           "data", "finish"}));
        ASSERT_FALSE(hops.empty());
        const TestOrigin::Request& hop = hops.back();
        EXPECT_EQ(hop.path, targetPath);
        EXPECT_EQ(hop.method, c.sent);
        EXPECT_EQ(hop.body, std::string(c.sent) == "GET" ? "" : c.body);
        const bool sameOrigin = c.target == kSame;
        EXPECT_EQ(hop.headers.count("cookie"), sameOrigin ? 1u : 0u);
        EXPECT_EQ(hop.headers.count("authorization"), sameOrigin ? 1u : 0u);
    }
}

TEST_F(URLConnectionTest, DeclinedRedirectDeliversTheRedirectResponseAndItsBody) {
    TestOrigin::Fault fault;
    fault.status = 302;
    fault.location = "/elsewhere";
    origin_.SetFault("/r", fault);
    recorder_.onRedirect = [](URLConnection&, const ns::URLRequest&) {
        return std::optional<ns::URLRequest>();
    };
    Start(Request("/r"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"redirect 302", "response 302", "data", "finish"}));
    EXPECT_EQ(recorder_.body, "Found\n");
    EXPECT_EQ(origin_.Requests().size(), 1u);
}

TEST_F(URLConnectionTest, RedirectLoopFailsAfterTheLimit) {
    TestOrigin::Fault fault;
    fault.status = 302;
    fault.location = "/loop";
    origin_.SetFault("/loop", fault);
    Start(Request("/loop"));
    RunToEnd();
    Events expected(URLConnection::kMaxRedirects, "redirect 302");
    expected.push_back("fail -1007");
    EXPECT_EQ(recorder_.events, expected);
}

TEST_F(URLConnectionTest, BasicChallengeAnsweredWithACredentialSucceedsOnRetry) {
    TestOrigin::Fault fault;
    fault.authorization = kAladdin;
    fault.realm = "Portal";
    origin_.SetFault("/thumb.jpg", fault);
    origin_.Serve("/thumb.jpg", "JPEG");
    recorder_.onChallenge = [](URLConnection& c, const ns::AuthenticationChallenge&) {
        c.UseCredential(ns::URLCredential("Aladdin", "open sesame"));
    };
    Start(Request("/thumb.jpg"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"challenge", "response 200", "data", "finish"}));
    EXPECT_EQ(recorder_.body, "JPEG");
    const ns::AuthenticationChallenge& challenge = recorder_.challenges.at(0);
    EXPECT_EQ(challenge.GetProtectionSpace().realm, "Portal");
    EXPECT_EQ(challenge.GetProtectionSpace().host, "127.0.0.1");
    EXPECT_EQ(challenge.GetProtectionSpace().port, origin_.Port());
    EXPECT_EQ(challenge.GetProtectionSpace().authenticationMethod,
              std::string("NSURLAuthenticationMethodHTTPBasic"));
    EXPECT_EQ(challenge.PreviousFailureCount(), 0);
    EXPECT_EQ(challenge.FailureResponse().StatusCode(), 401);
    const std::vector<TestOrigin::Request> seen = origin_.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].headers.count("authorization"), 0u);
    EXPECT_EQ(seen[1].headers.at("authorization"), kAladdin);
}

TEST_F(URLConnectionTest, CancellingTheChallengeFails) {
    TestOrigin::Fault fault;
    fault.authorization = kAladdin;
    origin_.SetFault("/private", fault);
    origin_.Serve("/private", "secret");
    recorder_.onChallenge = [](URLConnection& c, const ns::AuthenticationChallenge&) {
        c.CancelAuthenticationChallenge();
    };
    Start(Request("/private"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"challenge", "fail -1012"}));
    EXPECT_EQ(recorder_.body, "");
    EXPECT_EQ(origin_.Requests().size(), 1u);
}

// A delegate that answers every challenge with a credential, and a second host (127.0.0.2)
// that wants one. The credential goes to the origin the load started at, at most once, and
// never to the other host, whether the load is redirected there before or after the first
// origin took it; one bound to another origin goes nowhere else.
TEST_F(URLConnectionTest, ChallengeIsAnsweredOnlyForTheStartingOriginAndAtMostOnce) {
    TestOrigin other("127.0.0.2");
    const char kWrong[] = "Basic QWxhZGRpbjp3cm9uZw==";  // "Aladdin" / "wrong"
    struct Case {
        const char* name;
        std::string user, password;
        std::optional<std::string> boundTo;  // the credential's origin (a URL there)
        bool firstWantsCredential;           // the first origin challenges /p
        const char* redirectTo;              // /p redirects there (null: answers 200)
        Events events;
        std::vector<std::string> firstAuthorizations;  // of each request, in order
        std::vector<std::string> otherAuthorizations;
    };
    const std::string here = origin_.Url("/");
    const std::string there = other.Url("/");
    const Case cases[] = {
        {"wrong credential: one retry, then the 401",
         "Aladdin",
         "wrong",
         std::nullopt,
         true,
         nullptr,
         {"challenge", "response 401", "data", "finish"},
         {"", kWrong},
         {}},
        {"redirected to a host that challenges",
         "Aladdin",
         "open sesame",
         std::nullopt,
         false,
         "/steal",
         {"redirect 302", "response 401", "data", "finish"},
         {""},
         {""}},
        {"redirected there after the credential was taken",
         "Aladdin",
         "open sesame",
         std::nullopt,
         true,
         "/steal",
         {"challenge", "redirect 302", "response 401", "data", "finish"},
         {"", kAladdin},
         {""}},
        {"bound to the other host",
         "Aladdin",
         "open sesame",
         there,
         true,
         nullptr,
         {"challenge", "response 401", "data", "finish"},
         {""},
         {}},
        {"bound to this origin",
         "Aladdin",
         "open sesame",
         here,
         true,
         nullptr,
         {"challenge", "response 200", "data", "finish"},
         {"", kAladdin},
         {}},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/p" + std::to_string(++row);
        const std::string steal = "/steal" + std::to_string(row);
        origin_.Serve(path, "page");
        TestOrigin::Fault fault;
        if (c.firstWantsCredential) fault.authorization = kAladdin;
        if (c.redirectTo != nullptr) {
            fault.status = 302;
            fault.location = other.Url(steal);
        }
        origin_.SetFault(path, fault);
        TestOrigin::Fault wants;
        wants.authorization = kAladdin;
        other.SetFault(steal, wants);
        other.Serve(steal, "stolen");

        Recorder recorder;
        recorder.onChallenge = [&c](URLConnection& connection, const ns::AuthenticationChallenge&) {
            ns::URLCredential credential(c.user, c.password);
            if (c.boundTo) credential.BindToOrigin(ns::URL::Parse(*c.boundTo).value());
            connection.UseCredential(credential);
        };
        const size_t firstBefore = origin_.Requests().size();
        const size_t otherBefore = other.Requests().size();
        URLConnection::Start(Request(path), &recorder, loop_, jar_);
        ASSERT_TRUE(loop_.RunUntil([&] { return recorder.ended; }, std::chrono::seconds(10)));
        EXPECT_EQ(recorder.events, c.events);
        const auto authorizations = [](const std::vector<TestOrigin::Request>& requests,
                                       size_t from) {
            std::vector<std::string> values;
            for (size_t i = from; i < requests.size(); ++i) {
                const auto field = requests[i].headers.find("authorization");
                values.push_back(field == requests[i].headers.end() ? "" : field->second);
            }
            return values;
        };
        EXPECT_EQ(authorizations(origin_.Requests(), firstBefore), c.firstAuthorizations);
        EXPECT_EQ(authorizations(other.Requests(), otherBefore), c.otherAuthorizations);
    }
}

TEST_F(URLConnectionTest, WithoutACredentialThe401IsTheResponse) {
    TestOrigin::Fault fault;
    fault.authorization = kAladdin;
    origin_.SetFault("/private", fault);
    Start(Request("/private"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"challenge", "response 401", "data", "finish"}));
    EXPECT_EQ(recorder_.body, "Unauthorized\n");
    EXPECT_EQ(recorder_.response->ValueForHTTPHeaderField("www-authenticate"),
              "Basic realm=\"origin\"");
}

TEST_F(URLConnectionTest, HeadDelayedPastTheTimeoutFailsAsTimedOut) {
    TestOrigin::Fault fault;
    fault.headDelayMs = 3000;
    origin_.SetFault("/slow", fault);
    origin_.Serve("/slow", "late");
    ns::URLRequest request = Request("/slow");
    request.SetTimeoutInterval(0.3);
    Start(request);
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"fail -1001"}));
    EXPECT_EQ(recorder_.error->Domain(), "NSURLErrorDomain");
    EXPECT_EQ(recorder_.error->FailingURL(), origin_.Url("/slow"));
}

// What this process held before any test ran, passed on by whoever started it.
const std::map<int, std::string> kDescriptorsGivenAtStart = SvTestSupport::OpenDescriptors();

// The application starts programs (a web view's processes) while it loads: none of them keeps
// the connection to the origin or the loop's own descriptors.
TEST_F(URLConnectionTest, AChildStartedDuringALoadHoldsNoneOfTheLoadsDescriptors) {
    origin_.Serve("/big", Pattern(1 << 20));
    bool connected = false;
    std::vector<std::string> passed;
    recorder_.onResponse = [&](URLConnection&) {
        connected = SvTestSupport::HoldsTcpSocket([&](const SvTestSupport::TcpSocket& s) {
            return !s.listening && s.remotePort == origin_.Port();
        });
        passed = SvTestSupport::DescriptorsPassedToAChild(kDescriptorsGivenAtStart);
    };
    Start(Request("/big"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    EXPECT_TRUE(connected) << "the load's connection was open as the child started";
    EXPECT_TRUE(passed.empty()) << ::testing::PrintToString(passed);
}

TEST_F(URLConnectionTest, CancelInsideTheResponseCallbackEndsAllCallbacks) {
    origin_.Serve("/big", Pattern(1 << 20));
    recorder_.onResponse = [](URLConnection& c) { c.Cancel(); };
    std::shared_ptr<URLConnection> connection = Start(Request("/big"));
    ASSERT_TRUE(
        loop_.RunUntil([this] { return !recorder_.events.empty(); }, std::chrono::seconds(10)));
    Settle();
    EXPECT_EQ(recorder_.events, (Events{"response 200"}));
    EXPECT_TRUE(connection->IsFinished());
    connection->Cancel();  // a second cancel does nothing
    EXPECT_EQ(loop_.TransferCount(), 0u);
}

TEST_F(URLConnectionTest, CancelAndReleaseInsideTheDataCallback) {
    origin_.Serve("/big", Pattern(1 << 20));
    std::shared_ptr<URLConnection> connection = Start(Request("/big"));
    recorder_.onData = [&connection](URLConnection& c) {
        c.Cancel();
        connection.reset();  // the last reference goes while the callback runs
    };
    ASSERT_TRUE(loop_.RunUntil([&] { return connection == nullptr; }, std::chrono::seconds(10)));
    Settle();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data"}));
    EXPECT_LT(recorder_.body.size(), size_t{1} << 20);
}

TEST_F(URLConnectionTest, LargeBodyArrivesWholeAndInOrder) {
    const std::string bytes = Pattern(3 << 20);
    origin_.Serve("/title", bytes);
    Start(Request("/title"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    EXPECT_EQ(recorder_.response->ExpectedContentLength(), static_cast<int64_t>(bytes.size()));
    EXPECT_TRUE(recorder_.body == bytes);
}

// A maximum body size: a body exactly that long arrives whole; one byte longer stops the load
// with the exceeds-maximum error, the delegate handed no more than the maximum. The maximum is
// set right after the start or, as a delegate that caps only the answers it keeps does, once
// the response is there.
TEST_F(URLConnectionTest, BodyOneByteOverTheMaximumFailsAndOneAtItArrives) {
    // Longer than what is held back for the delegate at once: the body comes in pieces.
    const std::string bytes = Pattern(URLConnection::kMaxPendingBytes + 1000);
    origin_.Serve("/capped", bytes);
    struct Case {
        size_t maximum;
        bool setOnResponse;
        bool fails;
    };
    for (const Case& c : {Case{bytes.size(), false, false}, Case{bytes.size() - 1, false, true},
                          Case{bytes.size(), true, false}, Case{bytes.size() - 1, true, true}}) {
        SCOPED_TRACE("maximum " + std::to_string(c.maximum) +
                     (c.setOnResponse ? " set on the response" : " set at the start"));
        recorder_ = Recorder();
        std::shared_ptr<URLConnection> connection = Start(Request("/capped"));
        if (c.setOnResponse) {
            recorder_.onResponse = [&c](URLConnection& loading) {
                loading.SetMaximumBodyBytes(c.maximum);
            };
        } else {
            connection->SetMaximumBodyBytes(c.maximum);
        }
        RunToEnd();
        if (!c.fails) {
            EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
            EXPECT_TRUE(recorder_.body == bytes);
            continue;
        }
        ASSERT_GE(recorder_.events.size(), 2u);
        EXPECT_EQ(recorder_.events.front(), "response 200");
        EXPECT_EQ(recorder_.events.back(), "fail -1103");
        ASSERT_TRUE(recorder_.error.has_value());
        EXPECT_EQ(std::string(ns::Error::kURLErrorDomain), recorder_.error->Domain());
        EXPECT_EQ(origin_.Url("/capped"), recorder_.error->FailingURL());
        EXPECT_LE(recorder_.body.size(), c.maximum);
        EXPECT_TRUE(recorder_.body == bytes.substr(0, recorder_.body.size()));
    }
}

// A body that never ends, of the final answer or of a redirect that is read only to be dropped,
// ends the load at the maximum instead of reading for ever; the redirect is not followed. A
// redirect's body is cut off also without a maximum.
TEST_F(URLConnectionTest, EndlessBodyOfAnAnswerOrOfARedirectFailsAtTheMaximum) {
    constexpr size_t kMaximum = 1 << 20;
    origin_.Serve("/after", "never asked for");
    TestOrigin::Fault endless;
    endless.endless = true;
    origin_.Serve("/endless", "abc");
    origin_.SetFault("/endless", endless);
    TestOrigin::Fault redirect = endless;
    redirect.status = 302;
    redirect.location = origin_.Url("/after");
    origin_.SetFault("/redirect", redirect);
    struct Case {
        const char* path;
        Events events;
    };
    for (const Case& c : {Case{"/endless", {"response 200", "data", "fail -1103"}},
                          Case{"/redirect", {"fail -1103"}}}) {
        SCOPED_TRACE(c.path);
        recorder_ = Recorder();
        Start(Request(c.path))->SetMaximumBodyBytes(kMaximum);
        RunToEnd();
        EXPECT_EQ(recorder_.events, c.events);
        EXPECT_LE(recorder_.body.size(), kMaximum);
        ASSERT_TRUE(recorder_.error.has_value());
        EXPECT_EQ(origin_.Url(c.path), recorder_.error->FailingURL());
    }
    recorder_ = Recorder();
    Start(Request("/redirect"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, Events{"fail -1103"});
    EXPECT_EQ(0, origin_.AnswersBegun("/after"));
}

// Bytes that are no HTTP answer at all (no status line) are the server's fault, not the URL's:
// libcurl reads them as HTTP/0.9, which it refuses as an unsupported protocol.
TEST_F(URLConnectionTest, AnswerThatIsNotHttpIsABadServerResponse) {
    TestOrigin::Fault garbage;
    garbage.rawAnswer = Pattern(3000);
    origin_.SetFault("/garbage", garbage);
    TestOrigin::Fault text;
    text.rawAnswer = "<html>hello</html>\r\n";
    origin_.SetFault("/text", text);
    for (const char* path : {"/garbage", "/text"}) {
        SCOPED_TRACE(path);
        recorder_ = Recorder();
        Start(Request(path));
        RunToEnd();
        EXPECT_EQ(recorder_.events, Events{"fail -1011"});
        ASSERT_TRUE(recorder_.error.has_value());
        EXPECT_EQ("bad server response", recorder_.error->LocalizedDescription());
    }
}

TEST_F(URLConnectionTest, ConnectionLostMidBodyFailsAfterTheDataReceived) {
    const std::string bytes = Pattern(100000);
    origin_.Serve("/cut", bytes);
    TestOrigin::Fault fault;
    fault.dropAfter = 1000;
    origin_.SetFault("/cut", fault);
    Start(Request("/cut"));
    RunToEnd();
    ASSERT_GE(recorder_.events.size(), 2u);
    EXPECT_EQ(recorder_.events.front(), "response 200");
    EXPECT_EQ(recorder_.events.back(), "fail -1005");
    EXPECT_LE(recorder_.body.size(), 1000u);
    EXPECT_EQ(recorder_.body, bytes.substr(0, recorder_.body.size()));
}

TEST_F(URLConnectionTest, UnreachableAndUnsupportedUrlsFail) {
    // A port nobody listens on: bind one, note it, close it.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    URLConnection::Start(ns::URLRequest(ns::URL::Parse(closed).value()), &recorder_, loop_, jar_);
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"fail -1004"}));

    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {"ftp://127.0.0.1/file", "fail -1002"}, {"relative/path", "fail -1000"}}) {
        Recorder recorder;
        URLConnection::Start(ns::URLRequest(ns::URL::Parse(c.first).value()), &recorder, loop_,
                             jar_);
        EXPECT_TRUE(recorder.events.empty());
        ASSERT_TRUE(loop_.RunUntil([&] { return recorder.ended; }, std::chrono::seconds(5)));
        EXPECT_EQ(recorder.events, Events{c.second}) << c.first;
    }
}

TEST_F(URLConnectionTest, UnsendableMethodOrHeaderFailsBeforeAnythingGoesOut) {
    origin_.Serve("/page", "hello");
    struct Case {
        const char* what;
        std::string method;
        std::string name;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"CRLF in a value", "GET", "X-A", "1\r\nX-Injected: yes"},
        {"bare LF in a value", "GET", "X-A", "1\nX-Injected: yes"},
        {"bare CR in a value", "GET", "X-A", "1\rX-Injected: yes"},
        {"NUL in a value", "GET", "X-A", std::string("1\0X-Injected: yes", 17)},
        {"colon in a name", "GET", "X-A: 1\r\nX-Injected", "yes"},
        {"space in a name", "GET", "X A", "1"},
        {"request line rewritten by the method",
         "GET /other HTTP/1.1\r\nX-Injected: m\r\nX-Pad:", "X-A", "1"},
        {"space in a method", "PUT /x", "X-A", "1"},
        {"empty method", "", "X-A", "1"},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        ns::URLRequest request = Request("/page");
        request.SetHTTPMethod(c.method);
        request.SetValue(c.value, c.name);
        URLConnection::Start(request, &recorder, loop_, jar_);
        ASSERT_TRUE(loop_.RunUntil([&] { return recorder.ended; }, std::chrono::seconds(5)))
            << c.what;
        EXPECT_EQ(recorder.events, Events{"fail -1000"}) << c.what;
        EXPECT_EQ(recorder.error->FailingURL(), origin_.Url("/page")) << c.what;
    }
    Settle();
    // Not one byte of any of them reached the origin.
    EXPECT_EQ(origin_.ConnectionCount(), 0u);
    EXPECT_TRUE(origin_.Requests().empty());

    // Unusual but lawful text still goes out as given.
    ns::URLRequest request = Request("/page");
    request.SetHTTPMethod("M-SEARCH");
    request.SetValue("tab\there, \"quoted\" \x7f\xc3\xa9", "X-Odd!#$%&'*+.^_`|~");
    Start(request);
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    const std::vector<TestOrigin::Request> seen = origin_.Requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "M-SEARCH");
    EXPECT_NE((seen[0].head + "\r\n")
                  .find("\r\nX-Odd!#$%&'*+.^_`|~: tab\there, \"quoted\" \x7f\xc3\xa9\r\n"),
              std::string::npos)
        << seen[0].head;
}

TEST_F(URLConnectionTest, StoredCookieThatCannotBeSentIsLeftOut) {
    origin_.Serve("/page", "hello");
    jar_.SetCookie(ns::Cookie("bad", "1\r\nX-Injected: yes", "127.0.0.1"));
    jar_.SetCookie(ns::Cookie("good", "2", "127.0.0.1"));
    Start(Request("/page"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    const std::string head = origin_.Requests().at(0).head;
    EXPECT_EQ(head.find("X-Injected"), std::string::npos) << head;
    EXPECT_NE((head + "\r\n").find("\r\nCookie: good=2\r\n"), std::string::npos) << head;
}

TEST_F(URLConnectionTest, FoldedHeadLinesJoinAndAHeadPastTheCapFails) {
    std::string folded = "a";
    for (int i = 0; i < 100; ++i) folded += "\r\n b";
    TestOrigin::Fault some;
    some.headers = {{"X-Fold", folded}, {"X-After", "z"}};
    origin_.SetFault("/some", some);
    origin_.Serve("/some", "ok");
    Start(Request("/some"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"response 200", "data", "finish"}));
    std::string joined = "a";
    for (int i = 0; i < 100; ++i) joined += " b";
    EXPECT_EQ(recorder_.response->ValueForHTTPHeaderField("X-Fold"), joined);
    EXPECT_EQ(recorder_.response->ValueForHTTPHeaderField("X-After"), "z");

    // 70,000 folded lines (280,000 bytes of head) are refused as a bad response.
    std::string flood = "a";
    for (int i = 0; i < 70000; ++i) flood += "\r\n b";
    TestOrigin::Fault many;
    many.headers = {{"X-Fold", flood}};
    origin_.SetFault("/many", many);
    origin_.Serve("/many", "never seen");
    Recorder recorder;
    URLConnection::Start(Request("/many"), &recorder, loop_, jar_);
    ASSERT_TRUE(loop_.RunUntil([&] { return recorder.ended; }, std::chrono::seconds(10)));
    EXPECT_EQ(recorder.events, Events{"fail -1011"});
    EXPECT_EQ(recorder.body, "");
}

size_t CancelOtherOnFirstData(char*, size_t size, size_t count, void* user) {
    auto* other = static_cast<std::shared_ptr<URLConnection>*>(user);
    if (*other) {
        (*other)->Cancel();
        other->reset();  // freed here, inside libcurl moving the transfers
    }
    return size * count;
}

TEST_F(URLConnectionTest, ConnectionCancelledAndFreedInsideAnotherTransfersCallback) {
    origin_.Serve("/a", Pattern(1 << 20));
    origin_.Serve("/b", Pattern(1 << 20));
    TestOrigin::Fault stall;
    stall.stallAfter = 1000;
    stall.stallMs = 1000;
    origin_.SetFault("/b", stall);
    std::shared_ptr<URLConnection> other = Start(Request("/b"));
    loop_.RunUntil([this] { return !recorder_.events.empty(); }, std::chrono::seconds(10));

    // A transfer of the test's own on the same loop, whose first body bytes cancel the other.
    CURL* easy = curl_easy_init();
    ASSERT_NE(easy, nullptr);
    const std::string url = origin_.Url("/a");
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CancelOtherOnFirstData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &other);
    std::optional<CURLcode> result;
    loop_.AddTransfer(easy, [&result](CURLcode code) { result = code; });
    ASSERT_TRUE(loop_.RunUntil([&] { return result.has_value(); }, std::chrono::seconds(10)));
    Settle();
    curl_easy_cleanup(easy);
    EXPECT_EQ(*result, CURLE_OK);
    EXPECT_EQ(other, nullptr);
    EXPECT_FALSE(recorder_.ended);  // no callback after the cancel
    EXPECT_EQ(loop_.TransferCount(), 0u);
}

TEST_F(URLConnectionTest, LoopDestroyedBeforeAReleasedHandleIsFreed) {
    origin_.Serve("/big", Pattern(1 << 20));
    TestOrigin::Fault stall;
    stall.stallAfter = 1000;
    stall.stallMs = 1000;
    origin_.SetFault("/big", stall);
    Recorder recorder;
    {
        ns::RunLoop loop;
        std::shared_ptr<URLConnection> connection =
            URLConnection::Start(Request("/big"), &recorder, loop, jar_);
        ASSERT_TRUE(
            loop.RunUntil([&] { return !recorder.events.empty(); }, std::chrono::seconds(10)));
        connection->Cancel();
        connection.reset();
        // The loop goes without another step: the leak checker sees the handle freed with it.
    }
    ASSERT_FALSE(recorder.events.empty());
    EXPECT_EQ(recorder.events.front(), "response 200");
    EXPECT_FALSE(recorder.ended);  // nothing after the cancel
}

TEST_F(URLConnectionTest, NeverPolicyStoresNoCookieAndSendsNone) {
    jar_.SetAcceptPolicy(ns::CookieStorage::AcceptPolicy::Never);
    TestOrigin::Fault fault;
    fault.status = 302;
    fault.location = "/home";
    fault.headers = {{"Set-Cookie", "ID=abc"}};
    origin_.SetFault("/login", fault);
    origin_.Serve("/home", "welcome");
    Start(Request("/login"));
    RunToEnd();
    EXPECT_EQ(recorder_.events, (Events{"redirect 302", "response 200", "data", "finish"}));
    EXPECT_TRUE(jar_.Cookies().empty());
    EXPECT_EQ(origin_.Requests().at(1).headers.count("cookie"), 0u);
}

}  // namespace
