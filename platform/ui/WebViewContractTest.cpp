// The web view contract (WebViewContractTests.h) on the headless backend, which has no script
// engine: the checks that need one are skipped.

#include <chrono>
#include <memory>

#include "platform/core/RunLoop.h"
#include "platform/ui/Loop.h"
#include "platform/ui/WebView.h"
#include "platform/ui/WebViewContractTests.h"

namespace ui {
namespace contract {
namespace {

class HeadlessHarness : public WebViewContractHarness {
public:
    HeadlessHarness() : scope_(loop_) { WebView::SetBackendFactory(nullptr); }
    ~HeadlessHarness() override {
        // Lets the loop free what cancelled loads left for it.
        loop_.RunOnce(std::chrono::milliseconds(0));
    }

    std::shared_ptr<WebView> MakeWebView(const WebViewEnvironment& environment) override {
        return std::make_shared<WebView>(Rect(0, 0, 320, 480), environment);
    }
    bool RunUntil(const std::function<bool()>& condition, double seconds) override {
        return loop_.RunUntil(condition,
                              std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    }
    bool HasScriptEngine() const override { return false; }

private:
    ns::RunLoop loop_;  // on the real clock: the loads go over the loopback
    ScopedLoop scope_;
};

std::unique_ptr<WebViewContractHarness> MakeHeadlessHarness() {
    return std::make_unique<HeadlessHarness>();
}

INSTANTIATE_TEST_SUITE_P(Headless, WebViewContract,
                         ::testing::Values(WebViewContractBackend{"Headless",
                                                                  &MakeHeadlessHarness}),
                         WebViewContractBackendName);

}  // namespace
}  // namespace contract
}  // namespace ui
