// The web view contract (platform/ui/WebViewContractTests.h) on WebKit: the same tests the
// headless backend passes, script checks included, against a loopback origin of each test's
// own. The platform's loop runs inside GLib (RunLoopSource), so URL connections of the tests
// and WebKit's signals go on while the GTK thread waits by iterating the context.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/core/RunLoop.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/ui/Loop.h"
#include "platform/ui/WebView.h"
#include "platform/ui/WebViewContractTests.h"

namespace ui {
namespace contract {
namespace {

class WebKitHarness : public WebViewContractHarness {
public:
    WebKitHarness() : scope_(loop_), source_(loop_) {
        WebView::SetBackendFactory(ns::desktop::WebKitWebViewBackend::Factory());
    }
    ~WebKitHarness() override { WebView::SetBackendFactory(nullptr); }

    std::shared_ptr<WebView> MakeWebView(const WebViewEnvironment& environment) override {
        auto view = std::make_shared<WebView>(Rect(0, 0, 320, 480), environment);
        // A factory that fell back to the headless engine would test the wrong one.
        EXPECT_NE(dynamic_cast<ns::desktop::WebKitWebViewBackend*>(&view->Backend()), nullptr);
        return view;
    }
    bool RunUntil(const std::function<bool()>& condition, double seconds) override {
        return ns::desktop::IterateUntil(
            condition, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    }
    bool HasScriptEngine() const override { return true; }

private:
    ns::RunLoop loop_;  // on the real clock: the loads go over the loopback
    ScopedLoop scope_;
    ns::desktop::RunLoopSource source_;
};

std::unique_ptr<WebViewContractHarness> MakeWebKitHarness() {
    return std::make_unique<WebKitHarness>();
}

INSTANTIATE_TEST_SUITE_P(WebKit, WebViewContract,
                         ::testing::Values(WebViewContractBackend{"WebKit", &MakeWebKitHarness}),
                         WebViewContractBackendName);

}  // namespace
}  // namespace contract
}  // namespace ui
