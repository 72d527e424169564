#ifndef PLATFORM_UI_WEB_VIEW_CONTRACT_TESTS_H
#define PLATFORM_UI_WEB_VIEW_CONTRACT_TESTS_H
// The web view's contract as tests that every backend passes: the delegate's navigation
// offers and their types, start / finish / fail and the cancelled code, refused redirect hops
// and custom schemes, the user agent, cookies in both directions, history, HTML strings with a
// base URL, the script log, and a delegate that drops the web view.
//
// A test program runs them for its backend by defining a harness and instantiating the suite
// in exactly one of its files:
//
//     std::unique_ptr<WebViewContractHarness> MakeMyHarness() { ... }
//     INSTANTIATE_TEST_SUITE_P(My, WebViewContract,
//                              ::testing::Values(WebViewContractBackend{"My", &MakeMyHarness}),
//                              WebViewContractBackendName);
//
// The harness makes web views on its backend and steps the loops its backend needs until a
// condition holds; ui::Loop() must be a loop those steps run, since the tests start
// ns::URLConnection loads on it. Checks that need a script engine are skipped (with the
// reason) where HasScriptEngine() is false. Every test talks to a TestOrigin of its own on
// 127.0.0.1, with a cookie store and user defaults of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/net/CookieStorage.h"
#include "platform/net/URL.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Loop.h"
#include "platform/ui/WebView.h"
#include "platform/ui/WebViewScriptLog.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/UnusedPort.h"

namespace ui {
namespace contract {

class WebViewContractHarness {
public:
    virtual ~WebViewContractHarness() = default;
    // A web view on the backend under test, with the environment given.
    virtual std::shared_ptr<WebView> MakeWebView(const WebViewEnvironment& environment) = 0;
    // Steps the loops until condition() holds (true) or `seconds` of real time have passed.
    virtual bool RunUntil(const std::function<bool()>& condition, double seconds) = 0;
    virtual bool HasScriptEngine() const = 0;
};

struct WebViewContractBackend {
    const char* name;
    std::unique_ptr<WebViewContractHarness> (*make)();
};

inline void PrintTo(const WebViewContractBackend& backend, std::ostream* out) {
    *out << backend.name;
}

inline std::string WebViewContractBackendName(
    const ::testing::TestParamInfo<WebViewContractBackend>& info) {
    return info.param.name;
}

// Writes down what the web view tells, one line per call: "should <type> <url>", "start",
// "finish", "fail <code>".
class RecordingWebViewDelegate : public WebViewDelegate {
public:
    bool ShouldStartLoad(WebView& /*webView*/, const ns::URLRequest& request,
                         const WebViewNavigationAction& action) override {
        events.push_back("should " + std::to_string(static_cast<int>(action.type)) + " " +
                         request.GetURL().AbsoluteString());
        offered.push_back(request);
        gestures.push_back(action.userGesture);
        return allow ? allow(request) : true;
    }
    void DidStartLoad(WebView& webView) override {
        events.push_back("start");
        if (onStart) onStart(webView);
    }
    void DidFinishLoad(WebView& webView) override {
        events.push_back("finish");
        if (onFinish) onFinish(webView);
    }
    void DidFailLoad(WebView& /*webView*/, const ns::Error& error) override {
        events.push_back("fail " + std::to_string(error.GetCode()));
        errors.push_back(error);
    }

    size_t Count(const std::string& event) const {
        size_t n = 0;
        for (const std::string& e : events) n += e == event ? 1 : 0;
        return n;
    }
    // The events from `from` on.
    std::vector<std::string> Since(size_t from) const {
        return std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(from),
                                        events.end());
    }

    std::vector<std::string> events;
    std::vector<ns::URLRequest> offered;
    std::vector<bool> gestures;  // of each offer
    std::vector<ns::Error> errors;
    std::function<bool(const ns::URLRequest&)> allow;
    std::function<void(WebView&)> onStart;
    std::function<void(WebView&)> onFinish;
};

class WebViewContract : public ::testing::TestWithParam<WebViewContractBackend> {
protected:
    static constexpr double kWait = 10;  // seconds; a passing step takes milliseconds
    static constexpr const char* kAgent = "zul-contract-agent/1.0";

    WebViewContract()
        : harness_(GetParam().make()),
          folder_("webview-contract-"),
          defaults_(folder_.Path()),
          delegate_(std::make_shared<RecordingWebViewDelegate>()) {
        ns::Dictionary registered;
        registered.Set(WebViewEnvironment::kUserAgentKey, ns::Value(kAgent));
        defaults_.RegisterDefaults(registered);
        environment_.cookies = &jar_;
        environment_.defaults = &defaults_;
        webView_ = harness_->MakeWebView(environment_);
        webView_->SetDelegate(delegate_);
    }
    ~WebViewContract() override { webView_.reset(); }

    std::string Url(const std::string& path) const { return origin_.Url(path); }
    ns::URLRequest RequestFor(const std::string& path) const {
        return ns::URLRequest(*ns::URL::Parse(Url(path)));
    }
    // Serves an HTML page (with more header lines, a Set-Cookie say).
    void Page(const std::string& path, const std::string& html,
              std::vector<std::pair<std::string, std::string>> headers = {}, int headDelayMs = 0) {
        SvTestSupport::TestOrigin::Fault fault;
        fault.headers = std::move(headers);
        fault.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        fault.headDelayMs = headDelayMs;
        origin_.SetFault(path, fault);
        origin_.Serve(path, html);
    }
    void Redirect(const std::string& path, const std::string& location) {
        SvTestSupport::TestOrigin::Fault fault;
        fault.status = 302;
        fault.location = location;
        origin_.SetFault(path, fault);
    }
    bool RunUntil(const std::function<bool()>& condition) {
        return harness_->RunUntil(condition, kWait);
    }
    bool WaitForEvents(size_t count) {
        return RunUntil([&] { return delegate_->events.size() >= count; });
    }
    // Loads the page and waits for its finish; the events it gave.
    std::vector<std::string> LoadAndFinish(const std::string& path) {
        const size_t from = delegate_->events.size();
        const size_t finishes = delegate_->Count("finish");
        webView_->LoadRequest(RequestFor(path));
        RunUntil([&] { return delegate_->Count("finish") > finishes; });
        return delegate_->Since(from);
    }
    // The paths the origin was asked for, in order.
    std::vector<std::string> RequestedPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : origin_.Requests()) paths.push_back(request.path);
        return paths;
    }
    std::string PageUrl() const { return webView_->Request().GetURL().AbsoluteString(); }
    bool SkipWithoutScriptEngine() { return !harness_->HasScriptEngine(); }

    std::unique_ptr<WebViewContractHarness> harness_;
    SvTestSupport::TestOrigin origin_;
    SvTestSupport::TemporaryDirectory folder_;
    ns::UserDefaults defaults_;
    ns::CookieStorage jar_;
    WebViewEnvironment environment_;
    std::shared_ptr<RecordingWebViewDelegate> delegate_;
    std::shared_ptr<WebView> webView_;
};

// "should <type> <url>" for the origin's path.
#define WEBVIEW_SHOULD(type, url) ("should " + std::to_string(type) + " " + (url))

TEST_P(WebViewContract, LinkClickIsOfferedThenStartsAndFinishesAndBackIsBackForward) {
    Page("/one", "<html><body><p>One</p><a href=\"/two\">Second page</a></body></html>");
    Page("/two", "<html><body><p>Two</p></body></html>");

    // The application's own load is "other" (5).
    EXPECT_EQ(LoadAndFinish("/one"),
              (std::vector<std::string>{WEBVIEW_SHOULD(5, Url("/one")), "start", "finish"}));
    EXPECT_EQ(PageUrl(), Url("/one"));
    EXPECT_FALSE(webView_->CanGoBack());

    size_t from = delegate_->events.size();
    ASSERT_TRUE(webView_->ClickLink("Second page"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 2; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(0, Url("/two")), "start", "finish"}));
    EXPECT_EQ(PageUrl(), Url("/two"));
    EXPECT_TRUE(webView_->CanGoBack());
    EXPECT_FALSE(webView_->CanGoForward());

    from = delegate_->events.size();
    webView_->GoBack();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 3; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(2, Url("/one")), "start", "finish"}));
    EXPECT_EQ(PageUrl(), Url("/one"));
    EXPECT_FALSE(webView_->CanGoBack());
    EXPECT_TRUE(webView_->CanGoForward());

    from = delegate_->events.size();
    webView_->GoForward();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 4; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(2, Url("/two")), "start", "finish"}));
    EXPECT_EQ(PageUrl(), Url("/two"));
    // Only the click was a person's: the application's load and its history moves were not.
    EXPECT_EQ(delegate_->gestures, (std::vector<bool>{false, true, false, false}));

    // A new page after going back replaces the pages that were ahead: /one, /two (again).
    Page("/three", "<html><body><a href=\"/two\">Again</a></body></html>");
    webView_->GoBack();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 5; }));
    webView_->LoadRequest(RequestFor("/three"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 6; }));
    EXPECT_FALSE(webView_->CanGoForward());
    webView_->GoBack();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 7; }));
    EXPECT_EQ(delegate_->events[delegate_->events.size() - 3], WEBVIEW_SHOULD(2, Url("/one")));
    EXPECT_FALSE(webView_->CanGoBack());
    EXPECT_TRUE(webView_->CanGoForward());
}

TEST_P(WebViewContract, EveryRedirectHopIsOfferedAndARefusedOneNeverReachesTheServer) {
    Redirect("/r1", Url("/r2"));
    Redirect("/r2", Url("/landing"));
    Page("/landing", "<html><body>Landing</body></html>");
    Redirect("/enter", Url("/c/portal/login"));
    Page("/c/portal/login", "<html><body>Sign in</body></html>");
    Page("/after", "<html><body>After</body></html>");
    delegate_->allow = [](const ns::URLRequest& request) {
        return request.GetURL().Path() != "/c/portal/login";
    };

    // Each hop is "other" (5); the page is the last hop's.
    EXPECT_EQ(LoadAndFinish("/r1"),
              (std::vector<std::string>{WEBVIEW_SHOULD(5, Url("/r1")), "start",
                                        WEBVIEW_SHOULD(5, Url("/r2")),
                                        WEBVIEW_SHOULD(5, Url("/landing")), "finish"}));
    EXPECT_EQ(PageUrl(), Url("/landing"));

    const size_t from = delegate_->events.size();
    webView_->LoadRequest(RequestFor("/enter"));
    ASSERT_TRUE(WaitForEvents(from + 3));
    EXPECT_EQ(PageUrl(), Url("/landing"));
    // A refused hop ends the load silently: the next load's events follow at once.
    EXPECT_EQ(LoadAndFinish("/after"),
              (std::vector<std::string>{WEBVIEW_SHOULD(5, Url("/after")), "start", "finish"}));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(5, Url("/enter")), "start",
                                        WEBVIEW_SHOULD(5, Url("/c/portal/login")),
                                        WEBVIEW_SHOULD(5, Url("/after")), "start", "finish"}));
    EXPECT_EQ(RequestedPaths(),
              (std::vector<std::string>{"/r1", "/r2", "/landing", "/enter", "/after"}));
    EXPECT_EQ(PageUrl(), Url("/after"));
    // The application's loads and their hops are nobody's click.
    EXPECT_EQ(delegate_->gestures, std::vector<bool>(delegate_->offered.size(), false));

    // A person's click keeps its gesture through the hops it leads to.
    Page("/links", "<html><body><a href=\"/r1\">Via</a></body></html>");
    LoadAndFinish("/links");
    const size_t offers = delegate_->offered.size();
    ASSERT_TRUE(webView_->ClickLink("Via"));
    ASSERT_TRUE(RunUntil([&] { return PageUrl() == Url("/landing") && !webView_->IsLoading(); }));
    EXPECT_EQ(std::vector<bool>(delegate_->gestures.begin() + static_cast<std::ptrdiff_t>(offers),
                                delegate_->gestures.end()),
              (std::vector<bool>{true, true, true}));
}

TEST_P(WebViewContract, RefusedCustomSchemeLinkLoadsNothingAndLeavesThePage) {
    const std::string movie = "zulmovie://127.0.0.1/title/42";
    Page("/menu", "<html><body><a href=\"" + movie + "\">Play</a> <a href=\"/next\">Next</a>" +
                      "</body></html>");
    Page("/next", "<html><body>Next</body></html>");
    delegate_->allow = [](const ns::URLRequest& request) {
        return request.GetURL().Scheme() != "zulmovie";
    };
    LoadAndFinish("/menu");

    const size_t from = delegate_->events.size();
    ASSERT_TRUE(webView_->ClickLink("Play"));
    ASSERT_TRUE(WaitForEvents(from + 1));
    EXPECT_EQ(delegate_->events.back(), WEBVIEW_SHOULD(0, movie));
    EXPECT_EQ(PageUrl(), Url("/menu"));
    EXPECT_FALSE(webView_->CanGoBack());

    // Nothing came of the refused click: the next click's events follow it directly.
    ASSERT_TRUE(webView_->ClickLink("Next"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 2; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(0, movie), WEBVIEW_SHOULD(0, Url("/next")),
                                        "start", "finish"}));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/menu", "/next"}));
}

TEST_P(WebViewContract, ANewLoadOrStopLoadingFailsTheLoadUnderWayAsCancelled) {
    // The slow page's head would come after 5 s; the origin cuts the wait when it stops.
    Page("/slow", "<html><body>Slow</body></html>", {}, 5000);
    Page("/fast", "<html><body>Fast</body></html>");

    webView_->LoadRequest(RequestFor("/slow"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("start") == 1; }));
    EXPECT_TRUE(webView_->IsLoading());
    webView_->LoadRequest(RequestFor("/fast"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 1; }));

    const std::vector<std::string>& events = delegate_->events;
    ASSERT_EQ(delegate_->Count("fail -999"), 1u) << ::testing::PrintToString(events);
    const size_t fail = std::find(events.begin(), events.end(), "fail -999") - events.begin();
    const size_t firstStart = std::find(events.begin(), events.end(), "start") - events.begin();
    EXPECT_LT(firstStart, fail);
    EXPECT_EQ(events.back(), "finish");
    EXPECT_EQ(delegate_->Count("start"), 2u);
    EXPECT_EQ(events.front(), WEBVIEW_SHOULD(5, Url("/slow")));
    EXPECT_EQ(PageUrl(), Url("/fast"));

    // StopLoading: the same failure, and the page shown stays.
    webView_->LoadRequest(RequestFor("/slow"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("start") == 3; }));
    webView_->StopLoading();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("fail -999") == 2; }));
    EXPECT_FALSE(webView_->IsLoading());
    EXPECT_EQ(PageUrl(), Url("/fast"));
    EXPECT_EQ(delegate_->Count("finish"), 1u);
}

TEST_P(WebViewContract, CookiesGoBothWaysThroughTheSharedStore) {
    // Sign-in over the platform's own connection sets two cookies in the store.
    Page("/signin", "<html><body>ok</body></html>",
         {{"Set-Cookie", "ID=42; Path=/"}, {"Set-Cookie", "COMPANY_ID=7; Path=/"}});
    std::shared_ptr<ns::URLConnection> signin =
        ns::URLConnection::Start(RequestFor("/signin"), nullptr, Loop(), jar_);
    ASSERT_TRUE(RunUntil([&] { return signin->IsFinished(); }));
    ASSERT_EQ(jar_.Cookies().size(), 2u);

    Page("/portal", "<html><body>Portal</body></html>", {{"Set-Cookie", "PORTAL=abc; Path=/"}});
    bool portalCookieAtFinish = false;
    delegate_->onFinish = [&](WebView&) {
        for (const ns::Cookie& cookie : jar_.Cookies()) {
            portalCookieAtFinish |= cookie.Name() == "PORTAL" && cookie.Value() == "abc";
        }
    };
    // A Cookie field built into the request earlier is stale: the store decides.
    ns::URLRequest request = RequestFor("/portal");
    request.SetValue("ID=stale", "Cookie");
    webView_->LoadRequest(request);
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 1; }));

    std::optional<SvTestSupport::TestOrigin::Request> portal;
    for (const auto& r : origin_.Requests()) {
        if (r.path == "/portal") portal = r;
    }
    ASSERT_TRUE(portal.has_value());
    std::set<std::string> sent;
    const std::string header = portal->headers["cookie"];
    for (size_t begin = 0; begin < header.size();) {
        size_t end = header.find("; ", begin);
        if (end == std::string::npos) end = header.size();
        sent.insert(header.substr(begin, end - begin));
        begin = end + 2;
    }
    EXPECT_EQ(sent, (std::set<std::string>{"ID=42", "COMPANY_ID=7"})) << header;
    // The page's own cookie is in the store by the time the delegate hears of the finish
    // (the portal checks its sign-in cookies right there).
    EXPECT_TRUE(portalCookieAtFinish);
}

TEST_P(WebViewContract, ThePageScriptSeesTheStoreCookies) {
    if (SkipWithoutScriptEngine()) {
        GTEST_SKIP() << "document.cookie needs a script engine";
    }
    Page("/signin", "<html><body>ok</body></html>", {{"Set-Cookie", "ID=42; Path=/"}});
    std::shared_ptr<ns::URLConnection> signin =
        ns::URLConnection::Start(RequestFor("/signin"), nullptr, Loop(), jar_);
    ASSERT_TRUE(RunUntil([&] { return signin->IsFinished(); }));
    Page("/portal", "<html><body>Portal</body></html>", {{"Set-Cookie", "PORTAL=abc; Path=/"}});
    LoadAndFinish("/portal");

    std::optional<std::string> cookie;
    webView_->EvaluateJavaScript("document.cookie", [&](const std::string& r) { cookie = r; });
    ASSERT_TRUE(RunUntil([&] { return cookie.has_value(); }));
    EXPECT_NE(cookie->find("ID=42"), std::string::npos) << *cookie;
    EXPECT_NE(cookie->find("PORTAL=abc"), std::string::npos) << *cookie;
}

TEST_P(WebViewContract, EveryRequestCarriesTheUserAgentDefault) {
    Redirect("/start", Url("/page"));
    Page("/page", "<html><body><a href=\"/second\">Second</a></body></html>");
    Page("/second", "<html><body>Second</body></html>");

    // A User-Agent built into the request gives way to the default.
    ns::URLRequest request = RequestFor("/start");
    request.SetValue("built-in-agent", "User-Agent");
    webView_->LoadRequest(request);
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 1; }));
    ASSERT_TRUE(webView_->ClickLink("/second"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 2; }));

    // A changed default holds from the next request on; a reload is offered as type 3.
    ASSERT_TRUE(defaults_.SetObject(WebViewEnvironment::kUserAgentKey, ns::Value("changed-agent")));
    const size_t from = delegate_->events.size();
    webView_->Reload();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 3; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(3, Url("/second")), "start", "finish"}));

    std::vector<std::string> seen;
    for (const auto& r : origin_.Requests()) {
        auto agent = r.headers.find("user-agent");
        seen.push_back(r.path + " " + (agent == r.headers.end() ? "(none)" : agent->second));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        std::string("/start ") + kAgent, std::string("/page ") + kAgent,
                        std::string("/second ") + kAgent, "/second changed-agent"}));
}

TEST_P(WebViewContract, HtmlStringLoadsWithItsBaseUrlAndComesBackFromHistory) {
    Page("/dir/sub/page", "<html><body>Sub</body></html>");
    const std::string base = Url("/dir/index.html");
    const size_t from = delegate_->events.size();
    webView_->LoadHtmlString("<html><body><a href=\"sub/page\">Sub</a></body></html>",
                             *ns::URL::Parse(base));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 1; }));
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{WEBVIEW_SHOULD(5, base), "start", "finish"}));
    EXPECT_EQ(PageUrl(), base);
    EXPECT_TRUE(RequestedPaths().empty());

    // The relative link resolves against the base URL: "sub/page" next to "index.html".
    ASSERT_TRUE(webView_->ClickLink("Sub"));
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 2; }));
    EXPECT_EQ(delegate_->offered.back().GetURL().AbsoluteString(), Url("/dir/sub/page"));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/dir/sub/page"}));

    webView_->GoBack();
    ASSERT_TRUE(RunUntil([&] { return delegate_->Count("finish") == 3; }));
    EXPECT_EQ(PageUrl(), base);
    EXPECT_EQ(delegate_->offered.back().GetURL().AbsoluteString(), base);
}

TEST_P(WebViewContract, FailedLoadReportsItsErrorAndKeepsThePage) {
    Page("/home", "<html><body>Home</body></html>");
    LoadAndFinish("/home");
    const uint16_t port = SvTestSupport::UnusedLoopbackPort();
    ASSERT_NE(port, 0);
    const std::string dead = "http://127.0.0.1:" + std::to_string(port) + "/gone";

    webView_->LoadRequest(ns::URLRequest(*ns::URL::Parse(dead)));
    ASSERT_TRUE(RunUntil([&] { return !delegate_->errors.empty(); }));
    EXPECT_EQ(delegate_->Since(3).front(), WEBVIEW_SHOULD(5, dead));
    EXPECT_EQ(delegate_->Since(4).front(), "start");
    EXPECT_NE(delegate_->errors.front().GetCode(), ns::Error::kCancelled);
    EXPECT_NE(delegate_->errors.front().GetCode(), 0);
    EXPECT_FALSE(delegate_->errors.front().LocalizedDescription().empty());
    EXPECT_EQ(PageUrl(), Url("/home"));
    EXPECT_FALSE(webView_->CanGoBack());
    EXPECT_FALSE(webView_->IsLoading());
}

TEST_P(WebViewContract, ScriptsAreLoggedInOrderAndCompleteLater) {
    Page("/page", "<html><body>Page</body></html>");
    LoadAndFinish("/page");
    WebViewScriptLog::Clear();
    webView_->SetIdentifier("contentViewWebView");

    webView_->EvaluateJavaScript("__zulPlayerProxy('play_progress',7,600);");
    int completions = 0;
    webView_->EvaluateJavaScript("__zulPlayerProxy('complete',7);",
                                 [&](const std::string&) { ++completions; });
    EXPECT_EQ(completions, 0);  // never from inside the call
    ASSERT_EQ(WebViewScriptLog::Entries().size(), 2u);
    EXPECT_EQ(WebViewScriptLog::Entries()[0].script, "__zulPlayerProxy('play_progress',7,600);");
    EXPECT_EQ(WebViewScriptLog::Entries()[1].script, "__zulPlayerProxy('complete',7);");
    EXPECT_EQ(WebViewScriptLog::Entries()[1].identifier, "contentViewWebView");
    ASSERT_TRUE(RunUntil([&] { return completions == 1; }));
}

TEST_P(WebViewContract, AScriptChangesThePageAndTheNextReadsItBack) {
    if (SkipWithoutScriptEngine()) {
        GTEST_SKIP() << "needs a script engine";
    }
    Page("/page",
         "<html><head><script>function mark(v) { document.title = v; return 'marked'; }"
         "</script></head><body>Page</body></html>");
    LoadAndFinish("/page");
    std::optional<std::string> first;
    std::optional<std::string> second;
    webView_->EvaluateJavaScript("mark('seen')", [&](const std::string& r) { first = r; });
    webView_->EvaluateJavaScript("document.title", [&](const std::string& r) { second = r; });
    ASSERT_TRUE(RunUntil([&] { return first && second; }));
    EXPECT_EQ(*first, "marked");
    EXPECT_EQ(*second, "seen");
}

TEST_P(WebViewContract, TheDelegateMayDropTheWebViewFromItsCalls) {
    Redirect("/enter", Url("/c/portal/login"));
    Page("/page", "<html><body>Page</body></html>");
    Page("/ping", "pong");
    enum Moment { RefusingAHop, AtStart, AtFinish };
    for (Moment moment : {RefusingAHop, AtStart, AtFinish}) {
        SCOPED_TRACE(moment);
        auto delegate = std::make_shared<RecordingWebViewDelegate>();
        std::shared_ptr<WebView> webView = harness_->MakeWebView(environment_);
        webView->SetDelegate(delegate);
        // As the portal does when it sends the user back to the sign-in screen.
        delegate->allow = [&](const ns::URLRequest& request) {
            const bool login = request.GetURL().Path() == "/c/portal/login";
            if (login && moment == RefusingAHop) webView.reset();
            return !login;
        };
        if (moment == AtStart) delegate->onStart = [&](WebView&) { webView.reset(); };
        if (moment == AtFinish) delegate->onFinish = [&](WebView&) { webView.reset(); };
        webView->LoadRequest(RequestFor(moment == RefusingAHop ? "/enter" : "/page"));
        ASSERT_TRUE(RunUntil([&] { return !webView; }));
        // Whatever the web view had under way is gone with it; the loop runs on.
        const size_t events = delegate->events.size();
        std::shared_ptr<ns::URLConnection> ping =
            ns::URLConnection::Start(RequestFor("/ping"), nullptr, Loop(), jar_);
        ASSERT_TRUE(RunUntil([&] { return ping->IsFinished(); }));
        EXPECT_EQ(delegate->events.size(), events);
    }
}

#undef WEBVIEW_SHOULD

}  // namespace contract
}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_CONTRACT_TESTS_H
