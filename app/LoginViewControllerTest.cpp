// Sign-in against the demo portal: what goes on the wire (read back from the portal's request
// log, header order included, and decoded by the portal's own form parser), and what each of
// the portal's answers leads to.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/LoginTestFixture.h"
#include "app/LoginUDID.h"
#include "app/testing/AppTestSupport.h"
#include "portal/FormData.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"

namespace LoginTest {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

class LoginViewControllerTest : public LoginTestBase {
protected:
    // A portal whose only accounts are those of `json`.
    void StartPortalWithAccounts(const std::string& json) {
        const std::string path = directory_.File("accounts.json");
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        std::fputs(json.c_str(), file);
        std::fclose(file);
        StartPortal(path);
    }

    // "METHOD path" of each request the portal received.
    std::vector<std::string> Trail() const {
        std::vector<std::string> trail;
        for (const ZulPortal::HttpRequest& r : portal_->Requests()) {
            trail.push_back(r.method + " " + r.path);
        }
        return trail;
    }
    std::vector<ZulPortal::HttpRequest> Posts() const {
        std::vector<ZulPortal::HttpRequest> posts;
        for (const ZulPortal::HttpRequest& r : portal_->Requests()) {
            if (r.method == "POST") posts.push_back(r);
        }
        return posts;
    }

    // The application launched against an origin in the portal's place: its home page answers
    // 200 without cookies, and its sign-in form a redirect to `next` carrying `headers` and no
    // cookie; `next` answers `nextStatus` (0: 200, a page).
    void LaunchAgainstOrigin(const Fields& headers, const std::string& next, int nextStatus) {
        origin_.Serve("/home", "home");
        SvTestSupport::TestOrigin::Fault form;
        form.status = 302;
        form.location = origin_.Url(next);
        form.headers = headers;
        origin_.SetFault("/c/portal/login", form);
        if (nextStatus != 0) {
            SvTestSupport::TestOrigin::Fault answer;
            answer.status = nextStatus;
            origin_.SetFault(next, answer);
        }
        ASSERT_NO_FATAL_FAILURE(
            StartApplication(origin_.Url("").substr(std::string("http://").size())));
        app_->BecomeActive();
        ASSERT_NE(nullptr, Login());
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-login-test-"};
    SvTestSupport::TestOrigin origin_;
};

TEST_F(LoginViewControllerTest, SignInSendsTheCookieGetThenTheEscapedFormWithItsHeadersInOrder) {
    StartPortalWithAccounts(
        R"({"accounts": [{"login": "a+b@c.pl", "password": "x&y", "slots": 3}]})");
    Launch();
    ASSERT_TRUE(SignIn("a+b@c.pl", "x&y"));

    // The home page for the cookies, the form, and the redirect the form's answer asks for.
    EXPECT_EQ((std::vector<std::string>{"GET /home", "POST /c/portal/login", "GET /home"}),
              Trail());
    const std::vector<ZulPortal::HttpRequest> posts = Posts();
    ASSERT_EQ(1u, posts.size());
    const ZulPortal::HttpRequest& post = posts[0];

    // The form's seven headers, in this order, among the others.
    const std::set<std::string> seven = {"Accept-Language", "Accept-Charset", "Connection",
                                         "Cache-Control",   "Content-Type",   "Accept",
                                         "Referer"};
    Fields formHeaders;
    for (const auto& field : post.fields) {
        if (seven.count(field.first)) formHeaders.push_back(field);
    }
    const std::string home = "http://" + portal_->Address() + "/home";
    EXPECT_EQ((Fields{{"Accept-Language", "pl,en-US;q=0.8,en;q=0.6"},
                      {"Accept-Charset", "ISO-8859-2,utf-8;q=0.7,*;q=0.3"},
                      {"Connection", "keep-alive"},
                      {"Cache-Control", "max-age=0"},
                      {"Content-Type", "application/x-www-form-urlencoded"},
                      {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
                      {"Referer", home}}),
              formHeaders);
    // Every request of the application carries its user agent and the stored cookies: here
    // the session cookie the home page set.
    EXPECT_EQ("zul-pellun-native-ios", post.Header("user-agent"));
    EXPECT_EQ(0u, post.Header("cookie").find("ZULSESSION="));

    // The body, escaped by hand: "+" %2B, "@" %40, "&" %26, "=" %3D, "," %2C, " " %20.
    const std::string udid = LoginUDID::sharedLoginUDID().getUDID();
    ASSERT_EQ(36u, udid.size());
    EXPECT_EQ("_58_redirect=&_58_login=a%2Bb%40c.pl&_58_password=x%26y&_58_did=" + udid +
                  "&_58_dinfo=Ann%20%26%20Bob%3D1%2C%20iPhone%206.1&sign_in=Sign+in",
              post.body);
    // The portal reads back exactly what the person and the device gave.
    ZulPortal::FormData form;
    ASSERT_TRUE(ZulPortal::FormData::Parse(post.body, form));
    EXPECT_EQ("a+b@c.pl", form.Get("_58_login"));
    EXPECT_EQ("x&y", form.Get("_58_password"));
    EXPECT_EQ("Ann & Bob=1, iPhone 6.1", form.Get("_58_dinfo"));
    EXPECT_EQ("Sign in", form.Get("sign_in"));
}

TEST_F(LoginViewControllerTest, NewDeviceReachesThePortalOnlyWhenTheAlertIsDismissed) {
    StartPortal();
    Launch();
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("Device added", TopAlertTitle());
    EXPECT_EQ(LoginViewController::kDeviceAddedAlertTag, ui::AlertView::TopVisibleAlert()->Tag());
    // The redirect's headers: status 0, code 1 (added), 2 of 3 slots left.
    EXPECT_EQ(1, LogsContaining("[LVC] login connection connectionDidFinishLoading userSignedIn:1 "
                                "status:0 statusCode:1 freeSlots:2 maxSlots:3"));
    // Signed in: the credentials are kept.
    EXPECT_EQ("demo@zul.test",
              ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
    EXPECT_EQ("demo",
              ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserPasswordKey));

    driver_.Advance(5);
    EXPECT_FALSE(LeftSignIn());
    ASSERT_TRUE(driver_.DismissAlert(0));
    ASSERT_TRUE(LeftSignIn());
    EXPECT_STREQ("MainViewController2", appDelegate_->window()->RootViewController()->ClassName());

    // The next start finds the credentials in the form; the device is known now, so the
    // portal comes at once, without an alert.
    const size_t alerts = ui::AlertLog::Entries().size();
    Launch();
    EXPECT_EQ("demo@zul.test", Login()->emailTextField()->Text());
    EXPECT_EQ("demo", Login()->passwordlTextField()->Text());
    ASSERT_TRUE(driver_.Tap("signInButton"));
    ASSERT_TRUE(driver_.WaitFor([this] { return LeftSignIn(); }, kTimeout));
    EXPECT_EQ(alerts, ui::AlertLog::Entries().size());
}

TEST_F(LoginViewControllerTest, EachRefusalShowsItsAlertEmptiesTheCookiesAndBringsTheFormBack) {
    struct Case {
        const char* email;
        const char* password;
        const char* title;
    };
    StartPortal();
    for (const Case& c : {
             Case{"full@zul.test", "full", "No free device slot"},
             Case{"maintenance@zul.test", "maintenance", "Service unavailable"},
             Case{"demo@zul.test", "wrong", "Sign-in failed"},
             // The cookies came but no status header: refused all the same, and the code 1
             // (a new device) of that refusal reads as "no free slot".
             Case{"nostatus@zul.test", "nostatus", "No free device slot"},
         }) {
        SCOPED_TRACE(c.email);
        Launch();
        ASSERT_TRUE(SignIn(c.email, c.password));
        EXPECT_EQ(c.title, TopAlertTitle());
        EXPECT_TRUE(ns::CookieStorage::Shared().Cookies().empty());
        EXPECT_FALSE(LeftSignIn());
        ExpectFormBack();
        // Refused credentials are not kept.
        EXPECT_EQ("",
                  ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
        ASSERT_TRUE(driver_.DismissAlert(0));
        EXPECT_FALSE(LeftSignIn());
    }
    // The maintenance refusal came to its alert through the final 503: its code is 3.
    EXPECT_EQ(1, LogsContaining("userSignedIn:0 status:1 statusCode:3 freeSlots:3 maxSlots:3"));
}

// The 503 is looked at before the status code: a refusal with code 1 (no free slot) whose
// redirect ends in a 503 is the service being unavailable.
TEST_F(LoginViewControllerTest, AFinal503ShowsServiceUnavailableEvenWithStatusCodeOne) {
    ASSERT_NO_FATAL_FAILURE(LaunchAgainstOrigin({{"DEVICE_LOGIN_STATUS", "1"},
                                                 {"DEVICE_LOGIN_STATUS_CODE", "1"},
                                                 {"DEVICE_FREE_SLOTS", "0"},
                                                 {"DEVICE_MAX_SLOTS", "3"}},
                                                "/c/portal/maintenance", 503));
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("Service unavailable", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("userSignedIn:0 status:1 statusCode:1 freeSlots:0 maxSlots:3"));
    EXPECT_EQ(1, LogsContaining("statusCode:503"));
    EXPECT_FALSE(LeftSignIn());
}

// Status 0 alone does not sign in: the sign-in cookies must be there too. Refused with code 0:
// the bad-credentials alert, and the portal is not shown.
TEST_F(LoginViewControllerTest, StatusZeroWithoutTheSignInCookiesIsARefusal) {
    ASSERT_NO_FATAL_FAILURE(LaunchAgainstOrigin({{"DEVICE_LOGIN_STATUS", "0"},
                                                 {"DEVICE_LOGIN_STATUS_CODE", "0"},
                                                 {"DEVICE_FREE_SLOTS", "2"},
                                                 {"DEVICE_MAX_SLOTS", "3"}},
                                                "/home", 0));
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("Sign-in failed", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("userSignedIn:0 status:0 statusCode:0 freeSlots:2 maxSlots:3"));
    EXPECT_FALSE(LeftSignIn());
    EXPECT_EQ("", ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
    ASSERT_TRUE(driver_.DismissAlert(0));
    driver_.Advance(1);
    EXPECT_FALSE(LeftSignIn());
}

TEST_F(LoginViewControllerTest, EmptyFreeSlotsHeaderLeavesTheCountAndMaxSlotsAreRecorded) {
    StartPortal();
    Launch();
    ASSERT_TRUE(SignIn("emptyslots@zul.test", "emptyslots"));
    EXPECT_EQ("Device added", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("userSignedIn:1 status:0 statusCode:1 freeSlots:0 maxSlots:3"));
}

TEST_F(LoginViewControllerTest, StoppedPortalGivesTheNetworkAlertAndTheFormBack) {
    StartPortal();
    Launch();
    portal_->Stop();
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("No connection", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("[LVC] connection didFailWithError:"));
    ExpectFormBack();
    EXPECT_EQ("", ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
}

// An answer that never ends, wherever it comes (the home page, the sign-in form's redirect, the
// page it leads to), fails its connection once it passes the cap: the network alert, and the
// form replaces "Signing in..." again.
TEST_F(LoginViewControllerTest, AnswerThatNeverEndsGivesTheNetworkAlertAndTheFormBack) {
    origin_.Serve("/c/portal/next", "page");
    int failures = 0;
    for (const char* path : {"/home", "/c/portal/login", "/c/portal/next"}) {
        SCOPED_TRACE(path);
        SvTestSupport::TestOrigin::Fault endless;
        endless.endless = true;
        origin_.SetFault(path, endless);
        ASSERT_NO_FATAL_FAILURE(
            LaunchAgainstOrigin({{"DEVICE_LOGIN_STATUS", "0"}}, "/c/portal/next", 0));
        if (std::string(path) == "/c/portal/login") {
            endless.status = 302;
            endless.location = origin_.Url("/c/portal/next");
            origin_.SetFault(path, endless);
        }
        ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
        EXPECT_EQ("No connection", TopAlertTitle());
        EXPECT_EQ(++failures, LogsContaining("[LVC] connection didFailWithError:Error "
                                             "Domain=NSURLErrorDomain Code=-1103"));
        ExpectFormBack();
        EXPECT_FALSE(LeftSignIn());
        EXPECT_EQ("",
                  ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
        ASSERT_TRUE(driver_.DismissAlert(0));
        origin_.SetFault(path, SvTestSupport::TestOrigin::Fault());
    }
}

// An answer that trickles in a byte now and then, to the cookie request or to the sign-in once
// redirected, ends as a time-out a minute after its request started: the network alert, and
// the form replaces "Signing in..." again.
TEST_F(LoginViewControllerTest, TricklingAnswerTimesOutWithTheNetworkAlertAndTheFormBack) {
    int failures = 0;
    for (const char* path : {"/home", "/c/portal/next"}) {
        SCOPED_TRACE(path);
        ASSERT_NO_FATAL_FAILURE(
            LaunchAgainstOrigin({{"DEVICE_LOGIN_STATUS", "0"}}, "/c/portal/next", 0));
        SvTestSupport::TestOrigin::Fault trickle;
        trickle.bytesPerSecond = 20;
        origin_.Serve(path, std::string(4000, ' '));
        origin_.SetFault(path, trickle);
        Fill("demo@zul.test", "demo");
        ASSERT_TRUE(driver_.Tap("signInButton"));
        ASSERT_TRUE(driver_.WaitFor([&] { return origin_.AnswersBegun(path) > 0; }, kTimeout));
        const auto alerted = [] { return ui::AlertView::TopVisibleAlert() != nullptr; };
        EXPECT_FALSE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), alerted, 59));
        ASSERT_TRUE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), alerted, 1.5));
        EXPECT_EQ("No connection", TopAlertTitle());
        EXPECT_EQ(++failures, LogsContaining("[LVC] connection didFailWithError:Error "
                                             "Domain=NSURLErrorDomain Code=-1001"));
        ExpectFormBack();
        EXPECT_FALSE(LeftSignIn());
        ASSERT_TRUE(driver_.DismissAlert(0));
        origin_.SetFault(path, SvTestSupport::TestOrigin::Fault());
    }
}

// Bytes that are no HTTP answer are logged as the server's bad response (not as an unsupported
// URL) and reach the person as the network alert.
TEST_F(LoginViewControllerTest, GarbageAnswerIsABadServerResponseWithTheNetworkAlert) {
    SvTestSupport::TestOrigin::Fault garbage;
    garbage.rawAnswer = std::string("\x8f\x02\xff\xd8garbage\r\n\r\n\x01\x00junk", 21);
    ASSERT_NO_FATAL_FAILURE(LaunchAgainstOrigin({}, "/home", 0));
    origin_.SetFault("/c/portal/login", garbage);
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("No connection", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("[LVC] connection didFailWithError:Error Domain=NSURLErrorDomain "
                                "Code=-1011 \"bad server response\""));
    ExpectFormBack();
}

TEST_F(LoginViewControllerTest, BasicChallengeIsAnsweredWithTheConfiguredUser) {
    StartPortalWithAccounts(R"({"accounts": [{"login": "demo@zul.test", "password": "demo"}],
                               "basicAuth": {"user": "zul", "password": "zul"}})");
    Launch();
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    EXPECT_EQ("Device added", TopAlertTitle());
    EXPECT_EQ(1, LogsContaining("[LVC] connection willSendRequestForAuthenticationChallenge"));
    const std::vector<ZulPortal::HttpRequest> posts = Posts();
    ASSERT_EQ(2u, posts.size());
    EXPECT_EQ("", posts[0].Header("authorization"));
    EXPECT_EQ("Basic enVsOnp1bA==", posts[1].Header("authorization"));  // base64 of "zul:zul"
}

// The portal's sign-in form answered with a redirect, or a challenge, that would take the
// e-mail, the password or the bundle's Basic credentials somewhere. A second host (127.0.0.2)
// records what reaches it and would take the bundle's credentials. The form is posted again
// only within the portal's origin; across it the sign-in fails as a transport failure does.
// The bundle's credentials go only to the portal, and once per request.
TEST_F(LoginViewControllerTest, SignInGivesNothingToAnotherHostAndAnswersAChallengeOnce) {
    SvTestSupport::TestOrigin other("127.0.0.2");
    const std::string kBundleCredential = "Basic enVsOnp1bA==";  // base64 of "zul:zul"
    enum Where { kPortal, kOtherHost };
    struct Case {
        const char* name;
        int status;            // of the sign-in form's answer
        Where target;          // where it redirects
        bool wantsCredential;  // the portal challenges the form for a credential it never takes
        const char* alert;     // nullptr: the portal is shown
        std::vector<std::string> otherReceived;  // "METHOD body authorization" of each request
        int formPosts;                           // to the portal's sign-in URL
    };
    const Case cases[] = {
        {"307 to another host", 307, kOtherHost, false, "No connection", {}, 1},
        {"308 to another host", 308, kOtherHost, false, "No connection", {}, 1},
        {"302 to another host that challenges",
         302,
         kOtherHost,
         false,
         "Sign-in failed",
         {"GET  "},
         1},
        {"a challenge the credential does not meet", 0, kPortal, true, "Sign-in failed", {}, 2},
        // Last: the portal it leads to stays.
        {"307 within the portal", 307, kPortal, false, nullptr, {}, 1},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string next = "/c/portal/next" + std::to_string(++row);
        ASSERT_NO_FATAL_FAILURE(LaunchAgainstOrigin({}, next, 0));
        SvTestSupport::TestOrigin::Fault form;
        if (c.status != 0) {
            form.status = c.status;
            form.location = c.target == kPortal ? origin_.Url(next) : other.Url(next);
            if (c.target == kPortal) {
                form.headers = {{"DEVICE_LOGIN_STATUS", "0"},
                                {"Set-Cookie", "ID=1; Path=/"},
                                {"Set-Cookie", "COMPANY_ID=1; Path=/"}};
            }
        }
        if (c.wantsCredential) form.authorization = "Basic bm90OnRoaXM=";  // not:this
        origin_.SetFault("/c/portal/login", form);
        origin_.Serve(next, "page");
        SvTestSupport::TestOrigin::Fault steal;
        steal.authorization = kBundleCredential;
        other.SetFault(next, steal);
        other.Serve(next, "stolen");
        const int challenges =
            LogsContaining("[LVC] connection willSendRequestForAuthenticationChallenge");
        const size_t portalBefore = origin_.Requests().size();
        const size_t otherBefore = other.Requests().size();
        // The POSTs the portal received in this row.
        const auto posts = [&] {
            std::vector<ZulPortal::HttpRequest> out;
            const std::vector<ZulPortal::HttpRequest> all = origin_.Requests();
            for (size_t i = portalBefore; i < all.size(); ++i) {
                if (all[i].method == "POST") out.push_back(all[i]);
            }
            return out;
        };

        ASSERT_TRUE(SignIn("demo@zul.test", "secret&1"));
        if (c.alert != nullptr) {
            EXPECT_EQ(c.alert, TopAlertTitle());
            ExpectFormBack();
            EXPECT_FALSE(LeftSignIn());
            ASSERT_TRUE(driver_.DismissAlert(0));
        } else {
            EXPECT_TRUE(LeftSignIn());
            // The form went on within the portal with its body.
            const std::vector<ZulPortal::HttpRequest> sent = posts();
            ASSERT_EQ(2u, sent.size());
            EXPECT_EQ(next, sent[1].path);
            EXPECT_EQ(sent[0].body, sent[1].body);
            EXPECT_NE(std::string::npos, sent[1].body.find("_58_password=secret%261"));
        }
        std::vector<std::string> received;
        const std::vector<ZulPortal::HttpRequest> atOther = other.Requests();
        for (size_t i = otherBefore; i < atOther.size(); ++i) {
            const ZulPortal::HttpRequest& r = atOther[i];
            received.push_back(r.method + " " + r.body + " " + r.Header("authorization"));
        }
        EXPECT_EQ(c.otherReceived, received);
        const std::vector<ZulPortal::HttpRequest> sent = posts();
        const int formPosts = static_cast<int>(std::count_if(
            sent.begin(), sent.end(),
            [](const ZulPortal::HttpRequest& r) { return r.path == "/c/portal/login"; }));
        EXPECT_EQ(c.formPosts, formPosts);
        EXPECT_EQ(c.wantsCredential ? 1 : 0,
                  LogsContaining("[LVC] connection willSendRequestForAuthenticationChallenge") -
                      challenges);
        if (c.wantsCredential) {
            ASSERT_FALSE(sent.empty());
            EXPECT_EQ(kBundleCredential, sent.back().Header("authorization"));
        }
    }
}

}  // namespace
}  // namespace LoginTest
