// A page that follows links on its own as fast as its script can: the window keeps drawing, the
// delegate is asked a bounded number of times, the page's process is ended, and the person gets
// back (a click on a link of the next page reaches the delegate).

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace ns::desktop {
namespace {

constexpr std::chrono::seconds kFloodWait(10);  // a passing step takes milliseconds

// Refuses the player's scheme as the portal's controller does for a page's own offers, and
// counts what it is asked.
class PlayLinkDelegate : public ui::WebViewDelegate {
public:
    bool ShouldStartLoad(ui::WebView&, const URLRequest& request,
                         const ui::WebViewNavigationAction& action) override {
        const std::string url = request.GetURL().AbsoluteString();
        if (url.rfind("zulmovie://", 0) != 0) return true;
        if (action.userGesture) {
            clicked.push_back(url);
        } else {
            ++pageOffers;
        }
        return false;
    }
    void DidFinishLoad(ui::WebView&) override { ++finished; }
    void DidFailLoad(ui::WebView&, const Error& error) override { failures.push_back(error); }
    int finished = 0;
    std::vector<Error> failures;
    int pageOffers = 0;
    std::vector<std::string> clicked;
};

// A link that fills the page, and (in the flood) a script that follows 20 other links every
// millisecond from the start, without a person's gesture.
constexpr const char* kPersonPage =
    "<html><body style=\"margin:0\">"
    "<a href=\"zulmovie://person\" style=\"display:block; width:100%; height:120px; "
    "background:#2080E0\">Play</a></body></html>";
constexpr const char* kFloodPage =
    "<html><body style=\"margin:0\">"
    "<a id=\"own\" href=\"zulmovie://page\">x</a><script>"
    "function flood() { var a = document.getElementById('own');"
    "  for (var i = 0; i < 20; ++i) { a.href = 'zulmovie://page/' + i; a.click(); }"
    "  setTimeout(flood, 1); }"
    "flood();</script></body></html>";

TEST(WebKitNavigationFlood, TheWindowDrawsThePageIsEndedAndThePersonGetsBack) {
    ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
    RunLoop loop;
    ui::ScopedLoop scope(loop);
    RunLoopSource source(loop);
    auto app = std::make_unique<ui::Application>();
    WebKitWebViewBackend::Install();
    auto window = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
    auto delegate = std::make_shared<PlayLinkDelegate>();
    auto webView = std::make_shared<ui::WebView>(ui::Rect(40, 30, 200, 120));
    webView->SetDelegate(delegate);
    window->AddSubview(webView);
    window->MakeKeyAndVisible();
    auto renderer = std::make_unique<Renderer>(window);
    auto* backend = dynamic_cast<WebKitWebViewBackend*>(&webView->Backend());
    ASSERT_NE(backend, nullptr);

    // The window is on screen and drawn before the page comes.
    DrawWatch first(renderer->Window());
    ASSERT_TRUE(first.WaitForDrawAfter(0, kFloodWait));
    webView->LoadHtmlString(kFloodPage, *URL::Parse("http://127.0.0.1/"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(IterateUntil([&] { return delegate->pageOffers > 0; }, kFloodWait));

    // The window draws again and again (before the fix it never drew again). WebKit's messages
    // already sent are still taken after the page's process has ended: a slow build takes
    // seconds over them.
    DrawWatch drawn(renderer->Window());
    for (int i = 0; i < 5; ++i) {
        gtk_widget_queue_draw(renderer->Window());
        ASSERT_TRUE(drawn.WaitForDrawAfter(i, kFloodWait)) << "draw " << i;
    }
    // The page does not go on for ever: its process ends and the failure is told.
    ASSERT_TRUE(IterateUntil([&] { return !delegate->failures.empty(); }, kFloodWait));
    EXPECT_EQ(delegate->failures[0].LocalizedDescription(),
              "The web page's process ended: it started navigations without end.");
    // The page's own navigations reached the delegate a few dozen times a second at most, not
    // the 20,000 it asked for.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(delegate->pageOffers, 50 * (seconds + 1)) << "in " << seconds << " s";
    EXPECT_TRUE(delegate->clicked.empty());

    // The person gets back: a page of the application's loads, and a click on its link is
    // offered with the person's gesture.
    webView->LoadHtmlString(kPersonPage, *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(IterateUntil([&] { return delegate->finished > 0; }, kFloodWait));
    DrawWatch page(backend->Widget());
    gtk_widget_queue_draw(backend->Widget());
    ASSERT_TRUE(page.WaitForDrawAfter(0, kFloodWait));
    // A new web process may not take the first click on a loaded machine until its page has
    // been laid out for input; a person clicks again, and so does the test.
    bool heard = false;
    for (int click = 0; click < 10 && !heard; ++click) {
        ClickAt(gtk_widget_get_window(renderer->Window()), 140, 90);
        heard = IterateUntil([&] { return !delegate->clicked.empty(); }, kFloodWait / 10);
    }
    ASSERT_TRUE(heard);
    EXPECT_EQ(delegate->clicked.front(), "zulmovie://person");

    renderer.reset();
    webView.reset();
    window.reset();
    app.reset();
    ui::WebView::SetBackendFactory(nullptr);
    ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
}

}  // namespace
}  // namespace ns::desktop
