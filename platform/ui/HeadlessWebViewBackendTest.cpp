// What only the headless backend does: the bound on a page's bytes, link clicks by href, URL or
// text (and the driver's click where a finger reaches the page), pages that are not HTML, and
// scripts without an engine. The contract it shares with every backend is in
// WebViewContractTest.cpp.

#include "platform/ui/HeadlessWebViewBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Loop.h"
#include "platform/ui/WebView.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"

namespace ui {
namespace {

class WebViewRecorder : public WebViewDelegate {
public:
    bool ShouldStartLoad(WebView&, const ns::URLRequest& request,
                         const WebViewNavigationAction& action) override {
        events.push_back("should " + std::to_string(static_cast<int>(action.type)) + " " +
                         request.GetURL().AbsoluteString());
        return true;
    }
    void DidStartLoad(WebView&) override { events.push_back("start"); }
    void DidFinishLoad(WebView&) override { events.push_back("finish"); }
    void DidFailLoad(WebView&, const ns::Error& e) override {
        events.push_back("fail " + std::to_string(e.GetCode()));
        error = e;
    }
    std::vector<std::string> events;
    std::optional<ns::Error> error;
};

class HeadlessWebView : public ::testing::Test {
protected:
    HeadlessWebView() : scope_(loop_), folder_("webview-headless-"), defaults_(folder_.Path()) {
        WebView::SetBackendFactory(nullptr);
        environment_.cookies = &jar_;
        environment_.defaults = &defaults_;
        webView_ = std::make_shared<WebView>(Rect(0, 0, 320, 480), environment_);
        webView_->SetDelegate(recorder_);
    }
    ~HeadlessWebView() override {
        webView_.reset();
        loop_.RunOnce(std::chrono::milliseconds(0));
    }

    void Page(const std::string& path, const std::string& body,
              const std::string& type = "text/html", bool chunked = false) {
        SvTestSupport::TestOrigin::Fault fault;
        fault.headers.emplace_back("Content-Type", type);
        fault.chunked = chunked;
        origin_.SetFault(path, fault);
        origin_.Serve(path, body);
    }
    bool RunUntil(const std::function<bool()>& condition) {
        return loop_.RunUntil(condition, std::chrono::seconds(10));
    }
    bool Ended() const {
        const std::string& last = recorder_->events.empty() ? "" : recorder_->events.back();
        return last == "finish" || last.rfind("fail", 0) == 0;
    }
    std::vector<std::string> Load(const std::string& path) {
        recorder_->events.clear();
        webView_->LoadRequest(ns::URLRequest(*ns::URL::Parse(origin_.Url(path))));
        RunUntil([&] { return Ended(); });
        return recorder_->events;
    }
    HeadlessWebViewBackend& Backend() {
        return dynamic_cast<HeadlessWebViewBackend&>(webView_->Backend());
    }

    ns::RunLoop loop_;
    ScopedLoop scope_;
    SvTestSupport::TestOrigin origin_;
    SvTestSupport::TemporaryDirectory folder_;
    ns::UserDefaults defaults_;
    ns::CookieStorage jar_;
    WebViewEnvironment environment_;
    std::shared_ptr<WebViewRecorder> recorder_ = std::make_shared<WebViewRecorder>();
    std::shared_ptr<WebView> webView_;
};

TEST_F(HeadlessWebView, APageOverTheBoundFailsWithTheLengthErrorAnnouncedOrNot) {
    const size_t bound = HeadlessWebViewBackend::kMaxPageBytes;
    const std::string link = "<a href=\"/\">";
    Page("/exact", std::string(bound - link.size(), 'x') + link);  // exactly the bound
    Page("/announced", std::string(bound + 1, 'x'));
    Page("/chunked", std::string(bound + 1, 'x'), "text/html", true);

    EXPECT_EQ(Load("/exact").back(), "finish");
    EXPECT_EQ(Backend().Links().size(), 1u);  // read to the last byte
    for (const char* path : {"/announced", "/chunked"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Load(path).back(), "fail -1103");
        ASSERT_TRUE(recorder_->error.has_value());
        EXPECT_EQ(recorder_->error->Domain(), ns::Error::kURLErrorDomain);
        EXPECT_NE(recorder_->error->LocalizedDescription().find("8388608 bytes"),
                  std::string::npos);
        EXPECT_EQ(recorder_->error->FailingURL(), origin_.Url(path));
        EXPECT_FALSE(webView_->IsLoading());
    }
}

TEST_F(HeadlessWebView, ClickLinkFindsAHrefAUrlOrATextAndNothingElse) {
    Page("/menu",
         "<a href=\"series\">All series</a><a href=\"javascript:menu()\">Menu</a>"
         "<a href=\"/movies\">Movies</a><a href=\"/mine\">My list</a>");
    Page("/series", "series");
    Page("/movies", "movies");
    Page("/mine", "mine");
    Load("/menu");

    // No such link, and a script link: nothing happens, also later.
    EXPECT_FALSE(webView_->ClickLink("Home"));
    EXPECT_FALSE(webView_->ClickLink("Menu"));
    EXPECT_FALSE(webView_->ClickLink("javascript:menu()"));
    recorder_->events.clear();
    loop_.RunOnce(std::chrono::milliseconds(0));
    EXPECT_TRUE(recorder_->events.empty());

    const std::vector<std::pair<std::string, std::string>> clicks = {
        {"series", "/series"},                // the href as written
        {origin_.Url("/movies"), "/movies"},  // the resolved URL
        {"My list", "/mine"}};                // the text
    for (const auto& click : clicks) {
        Load("/menu");
        recorder_->events.clear();
        ASSERT_TRUE(webView_->ClickLink(click.first)) << click.first;
        ASSERT_TRUE(RunUntil([&] { return Ended(); }));
        EXPECT_EQ(recorder_->events.front(), "should 0 " + origin_.Url(click.second));
    }
}

TEST_F(HeadlessWebView, TheDriverClicksOnlyWhereAFingerReachesThePage) {
    Page("/menu", "<a href=\"/movies\">Movies</a>");
    Page("/movies", "movies");
    auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
    root->AddSubview(webView_);
    Load("/menu");
    Driver driver(root);

    webView_->SetUserInteractionEnabled(false);  // the portal's menu is open
    EXPECT_FALSE(driver.ClickLink(webView_, "Movies"));
    webView_->SetUserInteractionEnabled(true);
    EXPECT_FALSE(driver.ClickLink(webView_, "Series"));
    recorder_->events.clear();
    ASSERT_TRUE(driver.ClickLink(webView_, "Movies"));
    ASSERT_TRUE(RunUntil([&] { return Ended(); }));
    EXPECT_EQ(recorder_->events.front(), "should 0 " + origin_.Url("/movies"));
}

TEST_F(HeadlessWebView, ReadsLinksOfHtmlOnlyAndScriptsGiveNothing) {
    Page("/plain", "<a href=\"/x\">x</a>", "text/plain");
    Page("/page", "<a href=\"/x\">x</a>", "text/html; charset=utf-8");
    Load("/plain");
    EXPECT_FALSE(webView_->ClickLink("x"));
    Load("/page");
    EXPECT_EQ(Backend().Links().size(), 1u);

    std::optional<std::string> result;
    webView_->EvaluateJavaScript("document.title", [&](const std::string& r) { result = r; });
    ASSERT_TRUE(RunUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, "");
}

}  // namespace
}  // namespace ui
