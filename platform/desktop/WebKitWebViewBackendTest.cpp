// The WebKit web view in the window: its widget lives in the web view's box and follows its
// frame, WebKit's own snapshot shows the page, a person's click on a link is offered as a link
// click, cookies deleted on either side go from the other, a web process that dies is a failed
// load and the next load brings a page back. (The delegate contract itself runs in
// WebKitWebViewContractTest.cpp.)

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/LogWriter.h"
#include "platform/core/ManualClock.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/AlertSheet.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitScriptDialogs.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/WebProcessMemoryGuard.h"
#include "platform/desktop/WebProcessWatchdog.h"
#include "platform/desktop/testing/ChildProcesses.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/LoggedLines.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/WebViewSnapshot.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/net/CookieStorage.h"
#include "platform/ui/AlertLog.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "tests/support/TestOrigin.h"

namespace ns::desktop {
namespace {

// Writes down what the web view tells: "should <type> <url>", "start", "finish", "fail <code>".
class RecordingWebViewDelegate : public ui::WebViewDelegate {
public:
    bool ShouldStartLoad(ui::WebView&, const URLRequest& request,
                         const ui::WebViewNavigationAction& action) override {
        events.push_back("should " + std::to_string(static_cast<int>(action.type)) + " " +
                         request.GetURL().AbsoluteString());
        gestures.push_back(action.userGesture);
        return true;
    }
    void DidStartLoad(ui::WebView&) override { events.push_back("start"); }
    void DidFinishLoad(ui::WebView&) override { events.push_back("finish"); }
    void DidFailLoad(ui::WebView&, const Error& error) override {
        events.push_back("fail " + std::to_string(error.GetCode()));
        errors.push_back(error);
    }
    size_t Count(const std::string& event) const {
        return static_cast<size_t>(std::count(events.begin(), events.end(), event));
    }
    std::vector<std::string> Since(size_t from) const {
        return std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(from),
                                        events.end());
    }
    std::vector<std::string> events;
    std::vector<bool> gestures;  // of each offer
    std::vector<Error> errors;
};

constexpr std::chrono::seconds kWait(10);  // a passing step takes milliseconds
// A colour no theme paints: 0x20 0x80 0xE0.
constexpr Rgb kPageBlue{0x20, 0x80, 0xE0};
constexpr const char* kBluePage =
    "<html><body style=\"margin:0; background:#2080E0\"></body></html>";

// Serves an HTML page (the origin's default type is not one a web view shows).
void ServeHtml(SvTestSupport::TestOrigin& origin, const std::string& path, const std::string& html,
               std::vector<std::pair<std::string, std::string>> headers = {}) {
    SvTestSupport::TestOrigin::Fault fault;
    fault.headers = std::move(headers);
    fault.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    origin.SetFault(path, fault);
    origin.Serve(path, html);
}

class WebKitWindow : public ::testing::Test {
protected:
    const ui::Rect kWebFrame{40, 30, 200, 120};

    void SetUp() override {
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        app_ = std::make_unique<ui::Application>();
        WebKitWebViewBackend::Install();
        window_ = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
        window_->SetBackgroundColor(ui::Color::White());
        environment_.cookies = &jar_;
        webView_ = std::make_shared<ui::WebView>(kWebFrame, environment_);
        webView_->SetDelegate(delegate_);
        window_->AddSubview(webView_);
        window_->MakeKeyAndVisible();
        renderer_ = std::make_unique<Renderer>(window_);
        backend_ = dynamic_cast<WebKitWebViewBackend*>(&webView_->Backend());
        ASSERT_NE(backend_, nullptr);
    }

    void TearDown() override {
        renderer_.reset();
        webView_.reset();
        window_.reset();
        app_.reset();
        ui::WebView::SetBackendFactory(nullptr);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    }

    // The page's answer to a script ("" when none came).
    std::string Eval(const std::string& script) { return EvaluateInPage(*webView_, script, kWait); }
    bool WaitFor(const std::string& event, size_t count = 1) {
        return IterateUntil([&] { return delegate_->Count(event) >= count; }, kWait);
    }
    // A load of the origin's "/next" (which reads "Next") is all the delegate hears of after
    // it, nothing of an earlier load mixed in.
    void ExpectTheNextLoadAlone(const SvTestSupport::TestOrigin& origin) {
        const size_t next = delegate_->events.size();
        webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/next"))));
        ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(next); }, kWait))
            << ::testing::PrintToString(delegate_->events);
        EXPECT_EQ(delegate_->Since(next),
                  (std::vector<std::string>{"should 5 " + origin.Url("/next"), "start", "finish"}));
        EXPECT_EQ(Eval("document.body.textContent"), "Next");
    }
    // The delegate heard of a load that started and finished since event `from`.
    bool FinishedAfter(size_t from) const {
        const std::vector<std::string> since = delegate_->Since(from);
        const auto start = std::find(since.begin(), since.end(), "start");
        return start != since.end() && std::find(start, since.end(), "finish") != since.end();
    }
    // The last thing the delegate heard ("" before anything).
    std::string Last() const {
        return delegate_->events.empty() ? std::string() : delegate_->events.back();
    }
    // The widget's size once GTK has laid the window out.
    GtkAllocation SettledAllocation(GtkWidget* widget, int width, int height) {
        GtkAllocation a{};
        IterateUntil(
            [&] {
                gtk_widget_get_allocation(widget, &a);
                return a.width == width && a.height == height;
            },
            std::chrono::seconds(3));
        return a;
    }

    RunLoop loop_;  // on the real clock: the pages come over the loopback
    ui::ScopedLoop scope_{loop_};
    RunLoopSource source_{loop_};
    std::unique_ptr<ui::Application> app_;
    CookieStorage jar_;
    ui::WebViewEnvironment environment_;
    std::shared_ptr<RecordingWebViewDelegate> delegate_ =
        std::make_shared<RecordingWebViewDelegate>();
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::WebView> webView_;
    WebKitWebViewBackend* backend_ = nullptr;
    std::unique_ptr<Renderer> renderer_;
};

TEST_F(WebKitWindow, ThePageShowsInTheWebViewsBoxAndFollowsItsFrame) {
    webView_->LoadHtmlString(kBluePage, *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(WaitFor("finish"));

    // WebKit's widget is the web view's native widget, inside the web view's own box, at the
    // frame's size (the window is the 480 x 320 screen: one point is one pixel).
    GtkWidget* widget = backend_->Widget();
    ASSERT_EQ(renderer_->NativeWidgetFor(*webView_), widget);
    EXPECT_EQ(gtk_widget_get_parent(widget), renderer_->WidgetFor(*webView_));
    GtkAllocation a = SettledAllocation(widget, 200, 120);
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 120);

    Pixbuf shot = SnapshotWebView(backend_->View(), kWait);
    ASSERT_TRUE(shot);
    std::string error;
    EXPECT_TRUE(SavePng(shot.get(), PicturePath("WebKitWebView.png"), &error)) << error;
    EXPECT_EQ(gdk_pixbuf_get_width(shot.get()), 200);
    EXPECT_EQ(gdk_pixbuf_get_height(shot.get()), 120);
    EXPECT_EQ(PixelAt(shot.get(), 0, 0), kPageBlue);
    EXPECT_EQ(PixelAt(shot.get(), 199, 119), kPageBlue);
    EXPECT_EQ(PixelAt(shot.get(), 100, 60), kPageBlue);

    // A new frame resizes the widget; leaving the tree hides it (the renderer keeps it parked
    // for the view's return) and the backend keeps it (the page is still there when the view
    // comes back).
    webView_->SetFrame(ui::Rect(10, 10, 300, 200));
    a = SettledAllocation(widget, 300, 200);
    EXPECT_EQ(a.width, 300);
    EXPECT_EQ(a.height, 200);
    webView_->RemoveFromSuperview();
    renderer_->Sync();
    EXPECT_EQ(renderer_->NativeWidgetFor(*webView_), nullptr);
    EXPECT_FALSE(gtk_widget_get_mapped(widget));
    window_->AddSubview(webView_);
    renderer_->Sync();
    EXPECT_EQ(gtk_widget_get_parent(widget), renderer_->WidgetFor(*webView_));
    EXPECT_EQ(webView_->Request().GetURL().AbsoluteString(), "http://127.0.0.1/");
}

TEST_F(WebKitWindow, APersonsClickOnALinkIsOfferedAsALinkClick) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/two", "<html><body>Two</body></html>");
    const std::string base = origin.Url("/one");
    // One link fills the page.
    webView_->LoadHtmlString(
        "<html><body style=\"margin:0\"><a href=\"/two\" style=\"display:block; width:100%; "
        "height:120px; background:#2080E0\">Two</a></body></html>",
        *URL::Parse(base));
    ASSERT_TRUE(WaitFor("finish"));
    SettledAllocation(backend_->Widget(), 200, 120);
    DrawWatch drawn(backend_->Widget());
    gtk_widget_queue_draw(backend_->Widget());
    ASSERT_TRUE(drawn.WaitForDrawAfter(0, kWait));

    const size_t from = delegate_->events.size();
    ClickAt(gtk_widget_get_window(renderer_->Window()), 140, 90);  // the middle of the frame
    ASSERT_TRUE(WaitFor("finish", 2)) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{"should 0 " + origin.Url("/two"), "start", "finish"}));
    EXPECT_TRUE(delegate_->gestures.back());
    // The click went to the page, not to the models' touch handling behind it.
    EXPECT_EQ(webView_->Request().GetURL().AbsoluteString(), origin.Url("/two"));

    // A page that moves on by itself does so with no person's gesture.
    webView_->LoadHtmlString(
        "<html><body><script>setTimeout(function () { location.href = '/two'; }, 0);"
        "</script></body></html>",
        *URL::Parse(base));
    ASSERT_TRUE(WaitFor("finish", 4)) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(delegate_->events[delegate_->events.size() - 3], "should 5 " + origin.Url("/two"));
    EXPECT_FALSE(delegate_->gestures.back());
}

// Hears which button chose each alert.
class ChosenButtons : public ui::AlertViewDelegate {
public:
    void ClickedButtonAtIndex(ui::AlertView&, int index) override { chosen.push_back(index); }
    std::vector<int> chosen;
};

TEST_F(WebKitWindow, AnAlertTakesEveryClickWheelAndKeyBeforeThePageUnderIt) {
    // A tall page that counts the presses and keys it sees.
    webView_->LoadHtmlString(
        "<html><body style=\"margin:0; height:3000px; background:#2080E0\"><script>"
        "window.presses = 0; window.keys = 0;"
        "document.addEventListener('mousedown', function() { window.presses++; });"
        "document.addEventListener('keydown', function() { window.keys++; });"
        "</script></body></html>",
        *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(WaitFor("finish"));
    // A notch scrolls at once, so the page's offset tells whether the wheel reached it.
    webkit_settings_set_enable_smooth_scrolling(webkit_web_view_get_settings(backend_->View()),
                                                FALSE);
    SettledAllocation(backend_->Widget(), 200, 120);
    GdkWindow* window = gtk_widget_get_window(renderer_->Window());
    const int pageX = 60, pageY = 50;  // inside the web view, beside the alert's sheet
    auto counts = [&] { return Eval("window.presses + ' ' + window.keys + ' ' + window.scrollY"); };

    // Without an alert the page takes the click (and the keyboard focus with it) and the key.
    ClickAt(window, pageX, pageY);
    ASSERT_TRUE(IterateUntil([&] { return counts() == "1 0 0"; }, kWait)) << counts();
    PressKey(window, GDK_KEY_a);
    ASSERT_TRUE(IterateUntil([&] { return counts() == "1 1 0"; }, kWait)) << counts();

    auto chooser = std::make_shared<ChosenButtons>();
    auto showAlert = [&] {
        auto alert =
            std::make_shared<ui::AlertView>("Playback error", "Not found (200)", chooser,
                                            std::string("Cancel"), std::vector<std::string>{"OK"});
        alert->Show();
        renderer_->Sync();
        return alert;
    };

    // A click and the wheel on the page, then a click on OK: only OK is taken.
    auto first = showAlert();
    ClickAt(window, pageX, pageY);
    WheelAt(window, pageX, pageY, 5);
    PressKey(window, GDK_KEY_b);
    const ui::Rect ok = AlertSheet(*first, ui::Size(480, 320)).ButtonFrames()[1];
    ClickAt(window, static_cast<int>(ok.MidX()), static_cast<int>(ok.MidY()));
    ASSERT_TRUE(IterateUntil([&] { return !chooser->chosen.empty(); }, kWait));
    EXPECT_EQ(chooser->chosen, std::vector<int>{1});
    EXPECT_FALSE(first->IsVisible());
    EXPECT_EQ(counts(), "1 1 0");

    // Return chooses the default button, Escape the cancel button; neither reaches the page.
    auto second = showAlert();
    PressKey(window, GDK_KEY_Return);
    ASSERT_TRUE(IterateUntil([&] { return chooser->chosen.size() == 2; }, kWait));
    EXPECT_EQ(chooser->chosen.back(), 1);
    EXPECT_FALSE(second->IsVisible());
    auto third = showAlert();
    PressKey(window, GDK_KEY_Escape);
    ASSERT_TRUE(IterateUntil([&] { return chooser->chosen.size() == 3; }, kWait));
    EXPECT_EQ(chooser->chosen.back(), 0);
    EXPECT_FALSE(third->IsVisible());
    renderer_->Sync();
    EXPECT_EQ(counts(), "1 1 0");

    // With the alerts gone the page takes its input again: the wheel scrolls it.
    WheelAt(window, pageX, pageY, 3);
    ClickAt(window, pageX, pageY);
    EXPECT_TRUE(
        IterateUntil([&] { return counts().rfind("2 1 ", 0) == 0 && counts() != "2 1 0"; }, kWait))
        << counts();
}

TEST_F(WebKitWindow, CookiesDeletedOnEitherSideAreGoneFromTheOther) {
    SvTestSupport::TestOrigin origin;
    // The page's script deletes A; the page's response sets C.
    ServeHtml(origin, "/forget",
              "<html><body><script>document.cookie = 'A=; expires=Thu, 01 Jan 1970 00:00:00 "
              "GMT; path=/';</script></body></html>",
              {{"Set-Cookie", "C=3; Path=/"}});
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    const URL url = *URL::Parse(origin.Url("/"));
    jar_.SetCookie(Cookie("A", "1", url.Host()));
    jar_.SetCookie(Cookie("B", "2", url.Host()));

    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/forget"))));
    ASSERT_TRUE(WaitFor("finish"));
    std::vector<std::string> names;
    for (const Cookie& c : jar_.Cookies()) names.push_back(c.Name() + "=" + c.Value());
    EXPECT_EQ(names, (std::vector<std::string>{"B=2", "C=3"}));

    // Ours deletes B and sets D: the next page is sent C and D only.
    for (const Cookie& c : jar_.Cookies()) {
        if (c.Name() == "B") jar_.DeleteCookie(c);
    }
    jar_.SetCookie(Cookie("D", "4", url.Host()));
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/next"))));
    ASSERT_TRUE(WaitFor("finish", 2)) << ::testing::PrintToString(delegate_->events);
    const auto requests = origin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].headers.at("cookie"), "A=1; B=2");
    const std::string sent = requests[1].headers.at("cookie");
    EXPECT_TRUE(sent == "C=3; D=4" || sent == "D=4; C=3") << sent;
}

// Kills WebKit's network process and waits until it is gone; WebKit starts a new one when it
// next needs one.
void KillNetworkProcess() {
    const std::vector<pid_t> pids = ChildPidsNamed("WebKitNetworkProcess");
    ASSERT_FALSE(pids.empty());
    for (pid_t pid : pids) ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(IterateUntil(
        [&] {
            const std::vector<pid_t> now = ChildPidsNamed("WebKitNetworkProcess");
            return std::none_of(now.begin(), now.end(), [&](pid_t pid) {
                return std::find(pids.begin(), pids.end(), pid) != pids.end();
            });
        },
        kWait));
}

// WebKit keeps the cookies in its network process; one that is killed is started again with an
// empty store, which must not read as every cookie deleted.
TEST_F(WebKitWindow, AfterTheNetworkProcessIsKilledPagesStillGetTheJarsCookies) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/one", "<html><body>One</body></html>");
    ServeHtml(origin, "/two", "<html><body>Two</body></html>");
    const URL url = *URL::Parse(origin.Url("/"));
    jar_.SetCookie(Cookie("ID", "7", url.Host()));
    jar_.SetCookie(Cookie("COMPANY_ID", "10157", url.Host()));
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/one"))));
    ASSERT_TRUE(WaitFor("finish"));
    ASSERT_EQ(origin.Requests().back().headers.at("cookie"), "ID=7; COMPANY_ID=10157");

    ASSERT_NO_FATAL_FAILURE(KillNetworkProcess());
    // The page shown sets a cookie of its own in the new process's store. The page keeps what
    // it sets while no network process is there (and reads it back), so it is set again with a
    // fetch of its own, which starts one, until a fetch carries it.
    auto fetchCarries = [&] {
        for (const auto& r : origin.Requests()) {
            auto cookie = r.headers.find("cookie");
            if (r.path == "/one" && cookie != r.headers.end() && cookie->second == "N=new") {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(IterateUntil(
        [&] {
            if (fetchCarries()) return true;
            Eval("document.cookie = 'N=new; path=/'; fetch('/one'); 0");
            return false;
        },
        kWait));

    LoggedLines log;
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/two"))));
    ASSERT_TRUE(WaitFor("finish", 2)) << ::testing::PrintToString(delegate_->events);
    // A fetch of the page's may still come in after it.
    const auto requests = origin.Requests();
    auto two = std::find_if(requests.begin(), requests.end(),
                            [](const auto& r) { return r.path == "/two"; });
    ASSERT_NE(two, requests.end());
    EXPECT_EQ(two->headers.count("cookie") ? two->headers.at("cookie") : "",
              "ID=7; COMPANY_ID=10157; N=new");
    std::vector<std::string> names;
    for (const Cookie& c : jar_.Cookies()) names.push_back(c.Name() + "=" + c.Value());
    EXPECT_EQ(names, (std::vector<std::string>{"ID=7", "COMPANY_ID=10157", "N=new"}));
    EXPECT_EQ(log.Containing("[WEB] WebKit's cookie store was started anew"), 1u);
}

TEST_F(WebKitWindow, AWebProcessThatDiesIsAFailedLoadAndTheNextLoadsShowPagesAgain) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/one", "<html><body>One</body></html>");
    ServeHtml(origin, "/two", "<html><body>Two</body></html>");
    const std::string one = origin.Url("/one");
    webView_->LoadRequest(URLRequest(*URL::Parse(one)));
    ASSERT_TRUE(WaitFor("finish"));
    ASSERT_EQ(Eval("document.body.textContent"), "One");

    // The page's process is killed as the kernel kills it when memory runs out.
    LoggedLines log;
    const size_t from = delegate_->events.size();
    const std::vector<pid_t> pids = ChildPidsNamed("WebKitWebProcess");
    ASSERT_FALSE(pids.empty());
    for (pid_t pid : pids) ASSERT_EQ(kill(pid, SIGKILL), 0);

    // The shown page failed: the connection-lost code, the page's URL, a text that says why.
    ASSERT_TRUE(WaitFor("fail -1005")) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(delegate_->Since(from), std::vector<std::string>{"fail -1005"});
    ASSERT_EQ(delegate_->errors.size(), 1u);
    EXPECT_EQ(delegate_->errors[0].Domain(), "NSURLErrorDomain");
    EXPECT_EQ(delegate_->errors[0].LocalizedDescription(),
              "The web page's process ended: it crashed.");
    EXPECT_EQ(delegate_->errors[0].FailingURL(), one);
    EXPECT_FALSE(webView_->IsLoading());
    EXPECT_EQ(log.Containing("[WEB] web process ended while showing " + one), 1u);

    // A reload shows the page again in a new process (the same history entry), and so does
    // a new load.
    webView_->Reload();
    ASSERT_TRUE(WaitFor("finish", 2)) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(Eval("document.body.textContent"), "One");
    EXPECT_FALSE(webView_->CanGoBack());
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/two"))));
    ASSERT_TRUE(WaitFor("finish", 3)) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(Eval("document.body.textContent"), "Two");
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{"fail -1005", "should 3 " + one, "start", "finish",
                                        "should 5 " + origin.Url("/two"), "start", "finish"}));
    EXPECT_EQ(delegate_->errors.size(), 1u);
}

TEST_F(WebKitWindow, AWebProcessEndedDuringALoadFailsThatLoadOnce) {
    SvTestSupport::TestOrigin origin;
    // The page's answer is late, so its load is under way when the process ends.
    SvTestSupport::TestOrigin::Fault late;
    late.headDelayMs = 1000;
    late.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    origin.SetFault("/late", late);
    origin.Serve("/late", "<html><body>Late</body></html>");
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    webView_->LoadHtmlString(kBluePage, *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(WaitFor("finish"));

    const size_t from = delegate_->events.size();
    const std::string lateUrl = origin.Url("/late");
    webView_->LoadRequest(URLRequest(*URL::Parse(lateUrl)));
    ASSERT_TRUE(WaitFor("start", 2));
    webkit_web_view_terminate_web_process(backend_->View());
    ASSERT_TRUE(WaitFor("fail -1005")) << ::testing::PrintToString(delegate_->events);
    ASSERT_FALSE(delegate_->errors.empty());
    EXPECT_EQ(delegate_->errors[0].LocalizedDescription(),
              "The web page's process ended: the application ended it.");
    EXPECT_EQ(delegate_->errors[0].FailingURL(), lateUrl);

    // Nothing more of that load: the next one is all that follows.
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/next"))));
    ASSERT_TRUE(WaitFor("finish", 2)) << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(Eval("document.body.textContent"), "Next");
    EXPECT_EQ(delegate_->Since(from),
              (std::vector<std::string>{"should 5 " + lateUrl, "start", "fail -1005",
                                        "should 5 " + origin.Url("/next"), "start", "finish"}));
}

// The window on a loop whose clock moves only when the test moves it (the pages still come
// over the loopback in real time): the deadlines and the watchdog run at their shipped times.
class WebKitWindowOnLoopClock : public WebKitWindow {
protected:
    // Moves the loop's clock and runs what fell due, and what that told the delegate.
    void Advance(double seconds) {
        clock_->Advance(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
        clockLoop_.RunOnce(std::chrono::milliseconds(0));
        IteratePending();
    }
    bool Responsive() { return webkit_web_view_get_is_web_process_responsive(backend_->View()); }

    std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
    RunLoop clockLoop_{clock_};
    ui::ScopedLoop clockScope_{clockLoop_};
    RunLoopSource clockSource_{clockLoop_};
};

// A page that trickles in (a byte every 50 ms of 4000) fails as timed out once its deadline has
// passed since its load started: the model's request's time-out, else the default minute.
TEST_F(WebKitWindowOnLoopClock, ATricklingPageFailsAsTimedOutAtItsDeadline) {
    SvTestSupport::TestOrigin origin;
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    trickle.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    origin.SetFault("/trickle", trickle);
    origin.Serve("/trickle", "<html><body>" + std::string(4000, ' ') + "</body></html>");
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    ServeHtml(origin, "/links", "<html><body><a href=\"/trickle\">Trickle</a></body></html>");
    const std::string url = origin.Url("/trickle");

    struct Row {
        const char* how;
        double timeout;  // of the model's request; 0: the page follows a link
        double deadline;
    };
    const Row rows[] = {
        {"the model's load with the default time-out", URLRequest::kDefaultTimeoutSeconds, 60},
        {"the model's load with its own time-out", 5, 5},
        {"a link the page follows", 0, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        const int answers = origin.AnswersBegun("/trickle");
        int type = 5;  // other
        if (row.timeout == 0) {
            const size_t before = delegate_->events.size();
            webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/links"))));
            ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(before); }, kWait));
            ASSERT_TRUE(webView_->ClickLink("/trickle"));
            type = 0;  // a link
        }
        const size_t from = delegate_->events.size();
        if (row.timeout != 0) {
            URLRequest request(*URL::Parse(url));
            request.SetTimeoutInterval(row.timeout);
            webView_->LoadRequest(request);
        }
        const std::vector<std::string> started{"should " + std::to_string(type) + " " + url,
                                               "start"};
        ASSERT_TRUE(IterateUntil(
            [&] { return origin.AnswersBegun("/trickle") > answers && Last() == "start"; }, kWait))
            << ::testing::PrintToString(delegate_->events);
        Advance(row.deadline - 0.1);
        EXPECT_TRUE(webView_->IsLoading());
        EXPECT_EQ(delegate_->Since(from), started);
        Advance(0.1);
        ASSERT_TRUE(IterateUntil([&] { return Last() == "fail -1001"; }, kWait))
            << ::testing::PrintToString(delegate_->events);
        EXPECT_EQ(delegate_->errors.back().FailingURL(), url);
        EXPECT_FALSE(webView_->IsLoading());

        // Nothing more of that load: the next one is all that follows.
        ASSERT_NO_FATAL_FAILURE(ExpectTheNextLoadAlone(origin));
    }
}

// A page that spins for ever once it is pressed: WebKit finds its process not answering a few
// seconds later; ten more seconds and it is ended, told as its page's failure, or a load the
// model starts before that ends it at once and shows its page.
TEST_F(WebKitWindowOnLoopClock, AWebProcessThatStopsAnsweringIsEndedOrLeftForTheNextLoad) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/spin",
              "<html><body style=\"margin:0; background:#2080E0\"><script>"
              "document.addEventListener('mousedown', function() { for (;;) {} });"
              "</script></body></html>");
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    const std::string spin = origin.Url("/spin");
    for (const bool waitForTheEnd : {true, false}) {
        SCOPED_TRACE(waitForTheEnd ? "the watchdog ends it" : "a load leaves it");
        LoggedLines log;
        const size_t before = delegate_->events.size();
        webView_->LoadRequest(URLRequest(*URL::Parse(spin)));
        ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(before); }, kWait));
        SettledAllocation(backend_->Widget(), 200, 120);
        const size_t from = delegate_->events.size();
        ClickAt(gtk_widget_get_window(renderer_->Window()), 140, 90);
        // WebKit's own wait for an answer is a few seconds of real time.
        ASSERT_TRUE(IterateUntil([&] { return !Responsive(); }, kWait));
        if (waitForTheEnd) {
            Advance(WebProcessWatchdog::kUnresponsiveSeconds - 0.1);
            EXPECT_EQ(delegate_->Since(from), std::vector<std::string>{});
            Advance(0.1);
            ASSERT_TRUE(IterateUntil([&] { return delegate_->Count("fail -1005") > 0; }, kWait));
            EXPECT_EQ(delegate_->Since(from), std::vector<std::string>{"fail -1005"});
            EXPECT_EQ(delegate_->errors.back().LocalizedDescription(),
                      "The web page's process ended: it stopped answering.");
            EXPECT_EQ(delegate_->errors.back().FailingURL(), spin);
            EXPECT_EQ(log.Containing("[WEB] web process of " + spin + " stopped answering"), 1u);
        }
        ASSERT_NO_FATAL_FAILURE(ExpectTheNextLoadAlone(origin));
        delegate_->events.clear();
        delegate_->errors.clear();
    }
}

// A page that opens alerts in a loop: the first is the application's alert, titled with the
// page's host; once the person has closed it the next waits, unseen, until the person presses
// in the page; and a load the model starts meanwhile leaves the page without a failure.
TEST_F(WebKitWindow, APagesDialogsAreTheApplicationsAlertsAndALoopOfThemLetsThePersonGo) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/alerts",
              "<html><body style=\"margin:0; background:#2080E0\"><script>"
              "window.onload = function() { setTimeout(function() {"
              "  for (var n = 1;; n++) { new Image().src = '/tick' + n; alert('Again ' + n); }"
              "}, 0); };</script></body></html>");
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    for (const char* tick : {"/tick1", "/tick2", "/tick3"}) ServeHtml(origin, tick, "");
    const std::string alerts = origin.Url("/alerts");
    LoggedLines log;
    GdkWindow* window = gtk_widget_get_window(renderer_->Window());
    ui::AlertLog::Clear();
    webView_->LoadRequest(URLRequest(*URL::Parse(alerts)));
    ASSERT_TRUE(IterateUntil([] { return ui::AlertView::TopVisibleAlert() != nullptr; }, kWait));
    SettledAllocation(backend_->Widget(), 200, 120);

    auto closeWithOk = [&](const std::string& message) {
        ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->Title(), "127.0.0.1");
        EXPECT_EQ(alert->Message(), message);
        ASSERT_EQ(alert->NumberOfButtons(), 1);
        EXPECT_EQ(alert->ButtonTitleAtIndex(0), "OK");
        renderer_->Sync();
        const ui::Rect ok = AlertSheet(*alert, ui::Size(480, 320)).ButtonFrames()[0];
        ClickAt(window, static_cast<int>(ok.MidX()), static_cast<int>(ok.MidY()));
        ASSERT_TRUE(
            IterateUntil([] { return ui::AlertView::TopVisibleAlert() == nullptr; }, kWait));
    };
    const std::string held = "[WEB] dialog of " + alerts + " held until the person uses the page";
    ASSERT_NO_FATAL_FAILURE(closeWithOk("Again 1"));
    ASSERT_TRUE(IterateUntil([&] { return log.Containing(held) == 1; }, kWait));
    EXPECT_EQ(ui::AlertView::TopVisibleAlert(), nullptr);

    // The person presses in the page: the held one shows.
    ClickAt(window, 140, 90);
    ASSERT_TRUE(IterateUntil([] { return ui::AlertView::TopVisibleAlert() != nullptr; }, kWait));
    ASSERT_NO_FATAL_FAILURE(closeWithOk("Again 2"));
    ASSERT_TRUE(IterateUntil([&] { return log.Containing(held) == 2; }, kWait));

    // The model's load goes, though the page's script still waits in its third alert.
    const size_t from = delegate_->events.size();
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/next"))));
    ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(from); }, kWait))
        << ::testing::PrintToString(delegate_->events);
    // The page's own load, whose end waited behind the dialog, may end first; nothing fails.
    std::vector<std::string> since = delegate_->Since(from);
    if (!since.empty() && since.front() == "finish") since.erase(since.begin());
    EXPECT_EQ(since,
              (std::vector<std::string>{"should 5 " + origin.Url("/next"), "start", "finish"}));
    EXPECT_EQ(Eval("document.body.textContent"), "Next");
    EXPECT_EQ(ui::AlertLog::Entries().size(), 2u);
    EXPECT_EQ(ui::AlertView::TopVisibleAlert(), nullptr);
}

// What a confirm and a prompt give the page, by the button chosen: Cancel is index 0, OK 1; the
// alert model has no text field, so OK gives a prompt its default text.
TEST_F(WebKitWindow, AConfirmOrPromptGivesThePageTheChosenAnswer) {
    struct Row {
        const char* call;
        int button;
        const char* answer;
    };
    const Row rows[] = {
        {"confirm('Sure?')", 0, "false"},
        {"confirm('Sure?')", 1, "true"},
        {"prompt('Name?', 'Ann')", 0, "null"},
        {"prompt('Name?', 'Ann')", 1, "Ann"},
    };
    GdkWindow* window = gtk_widget_get_window(renderer_->Window());
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.call) + " " + std::to_string(row.button));
        const size_t before = delegate_->events.size();
        webView_->LoadHtmlString(
            std::string("<html><body style=\"margin:0; background:#2080E0\"><script>"
                        "document.addEventListener('mousedown', function() {"
                        "  setTimeout(function() { document.title = String(") +
                row.call + "); }, 0); });</script></body></html>",
            *URL::Parse("http://127.0.0.1/"));
        ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(before); }, kWait));
        SettledAllocation(backend_->Widget(), 200, 120);
        // A press in the page: the page may show its next dialog.
        ClickAt(window, 140, 90);
        ASSERT_TRUE(
            IterateUntil([] { return ui::AlertView::TopVisibleAlert() != nullptr; }, kWait));
        ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
        ASSERT_EQ(alert->NumberOfButtons(), 2);
        EXPECT_EQ(alert->ButtonTitleAtIndex(0), "Cancel");
        EXPECT_EQ(alert->ButtonTitleAtIndex(1), "OK");
        ASSERT_TRUE(alert->ClickButtonAtIndex(row.button));
        EXPECT_TRUE(IterateUntil([&] { return Eval("document.title") == row.answer; }, kWait))
            << Eval("document.title");
    }
}

// A page that asks to confirm leaving it is left at once when the model loads another page.
TEST_F(WebKitWindow, APageThatAsksToConfirmLeavingIsLeftAtOnce) {
    SvTestSupport::TestOrigin origin;
    ServeHtml(origin, "/stay",
              "<html><body style=\"margin:0; background:#2080E0\"><script>"
              "window.onbeforeunload = function(e) { e.preventDefault(); e.returnValue = 'Stay';"
              " return 'Stay'; };</script></body></html>");
    ServeHtml(origin, "/next", "<html><body>Next</body></html>");
    ui::AlertLog::Clear();
    const size_t before = delegate_->events.size();
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/stay"))));
    ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(before); }, kWait));
    SettledAllocation(backend_->Widget(), 200, 120);
    // A person's press: WebKit asks a page only once it has been used.
    ClickAt(gtk_widget_get_window(renderer_->Window()), 140, 90);
    ASSERT_EQ(Eval("'pressed'"), "pressed");
    const size_t from = delegate_->events.size();
    webView_->LoadRequest(URLRequest(*URL::Parse(origin.Url("/next"))));
    ASSERT_TRUE(IterateUntil([&] { return FinishedAfter(from); }, kWait))
        << ::testing::PrintToString(delegate_->events);
    EXPECT_EQ(Eval("document.body.textContent"), "Next");
    EXPECT_TRUE(ui::AlertLog::Entries().empty());
}

}  // namespace
}  // namespace ns::desktop
