// The web view model around its backend: a factory installed by the desktop makes the engine
// (and a factory that cannot falls back to the headless one), calls reach the backend, the
// backend's reports reach the delegate, the script log, and the page's scroll view.

#include "platform/ui/WebView.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/HeadlessWebViewBackend.h"
#include "platform/ui/WebViewScriptLog.h"

namespace ui {
namespace {

// Records what the model asks of it; the test plays the engine through its client.
class FakeBackend : public WebViewBackend {
public:
    FakeBackend(WebViewBackendClient& client, std::vector<std::string>& calls)
        : client(client), calls_(calls) {}
    void LoadRequest(const ns::URLRequest& r) override {
        calls_.push_back("load " + r.GetURL().AbsoluteString());
    }
    void LoadHtmlString(const std::string& html, const ns::URL& base) override {
        calls_.push_back("html " + html + " " + base.AbsoluteString());
    }
    void Reload() override { calls_.push_back("reload"); }
    void StopLoading() override { calls_.push_back("stop"); }
    bool IsLoading() const override { return true; }
    bool CanGoBack() const override { return true; }
    bool CanGoForward() const override { return false; }
    void GoBack() override { calls_.push_back("back"); }
    void GoForward() override { calls_.push_back("forward"); }
    ns::URLRequest Request() const override {
        return ns::URLRequest(*ns::URL::Parse("http://fake/page"));
    }
    void EvaluateJavaScript(const std::string& script, ScriptCompletion) override {
        // The model has logged the script before the engine gets it.
        calls_.push_back("script " + script + " logged " +
                         std::to_string(WebViewScriptLog::Entries().size()));
    }
    bool ClickLink(const std::string& match) override {
        calls_.push_back("click " + match);
        return match == "yes";
    }
    WebViewBackendClient& client;

private:
    std::vector<std::string>& calls_;
};

class Steering : public WebViewDelegate {
public:
    bool ShouldStartLoad(WebView&, const ns::URLRequest& r,
                         const WebViewNavigationAction& a) override {
        heard.push_back("should " + std::to_string(static_cast<int>(a.type)) +
                        (a.userGesture ? " gesture " : " ") + r.GetURL().AbsoluteString());
        return r.GetURL().Scheme() == "http";
    }
    void DidStartLoad(WebView&) override { heard.push_back("start"); }
    void DidFinishLoad(WebView&) override { heard.push_back("finish"); }
    void DidFailLoad(WebView&, const ns::Error& e) override {
        heard.push_back("fail " + std::to_string(e.GetCode()) + " " + e.LocalizedDescription());
    }
    std::vector<std::string> heard;
};

class WebViewModel : public ::testing::Test {
protected:
    ~WebViewModel() override { WebView::SetBackendFactory(nullptr); }
};

TEST_F(WebViewModel, AnInstalledFactoryMakesTheEngineThatCallsGoToAndReportsComeFrom) {
    std::vector<std::string> calls;
    FakeBackend* fake = nullptr;
    WebView::SetBackendFactory([&](WebViewBackendClient& client, const WebViewEnvironment&) {
        auto backend = std::make_unique<FakeBackend>(client, calls);
        fake = backend.get();
        return std::unique_ptr<WebViewBackend>(std::move(backend));
    });
    auto webView = std::make_shared<WebView>();
    ASSERT_NE(fake, nullptr);
    auto steering = std::make_shared<Steering>();
    webView->SetDelegate(steering);
    WebViewScriptLog::Clear();

    webView->LoadRequest(ns::URLRequest(*ns::URL::Parse("http://fake/a")));
    webView->LoadHtmlString("<p>x</p>", *ns::URL::Parse("file:///res/WebError.html"));
    webView->GoBack();
    webView->GoForward();
    webView->Reload();
    webView->StopLoading();
    webView->EvaluateJavaScript("f();");
    EXPECT_TRUE(webView->ClickLink("yes"));
    EXPECT_FALSE(webView->ClickLink("no"));
    EXPECT_EQ(calls,
              (std::vector<std::string>{
                  "load http://fake/a", "html <p>x</p> file:///res/WebError.html", "back",
                  "forward", "reload", "stop", "script f(); logged 1", "click yes", "click no"}));
    EXPECT_TRUE(webView->CanGoBack());
    EXPECT_EQ(webView->Request().GetURL().AbsoluteString(), "http://fake/page");

    // The engine's reports reach the delegate, and its answer goes back.
    WebViewBackendClient& client = fake->client;
    EXPECT_TRUE(client.BackendShouldStartLoad(ns::URLRequest(*ns::URL::Parse("http://fake/b")),
                                              {WebViewNavigationType::LinkClicked, true}));
    EXPECT_FALSE(client.BackendShouldStartLoad(ns::URLRequest(*ns::URL::Parse("zulmovie://t/1")),
                                               {WebViewNavigationType::LinkClicked, false}));
    client.BackendDidStartLoad();
    client.BackendDidFailLoad(ns::Error::URLError(ns::Error::kCancelled));
    client.BackendDidFinishLoad();
    EXPECT_EQ(steering->heard,
              (std::vector<std::string>{"should 0 gesture http://fake/b", "should 0 zulmovie://t/1",
                                        "start", "fail -999 cancelled", "finish"}));

    // Without a delegate every navigation is allowed.
    webView->SetDelegate(nullptr);
    EXPECT_TRUE(client.BackendShouldStartLoad(ns::URLRequest(*ns::URL::Parse("zulmovie://t/1")),
                                              {WebViewNavigationType::Other, false}));
}

TEST_F(WebViewModel, AFactoryThatCannotMakeItsEngineLeavesTheHeadlessOne) {
    WebView::SetBackendFactory(
        [](WebViewBackendClient&, const WebViewEnvironment&) { return nullptr; });
    auto broken = std::make_shared<WebView>();
    EXPECT_NE(dynamic_cast<HeadlessWebViewBackend*>(&broken->Backend()), nullptr);
    WebView::SetBackendFactory(nullptr);
    auto plain = std::make_shared<WebView>();
    EXPECT_NE(dynamic_cast<HeadlessWebViewBackend*>(&plain->Backend()), nullptr);
}

TEST_F(WebViewModel, ThePageScrollViewFillsTheWebViewAndKeepsItsBounceFlag) {
    auto webView = std::make_shared<WebView>(Rect(0, 0, 320, 480));
    const std::shared_ptr<ScrollView>& scroll = webView->ScrollView();
    ASSERT_EQ(webView->Subviews().size(), 1u);
    EXPECT_EQ(webView->Subviews()[0], scroll);
    EXPECT_EQ(scroll->Frame(), Rect(0, 0, 320, 480));
    webView->SetFrame(Rect(0, 44, 480, 256));  // turned: wider, under a bar
    EXPECT_EQ(scroll->Frame(), Rect(0, 0, 480, 256));

    EXPECT_TRUE(scroll->Bounces());
    scroll->SetBounces(false);
    EXPECT_FALSE(webView->ScrollView()->Bounces());
}

}  // namespace
}  // namespace ui
