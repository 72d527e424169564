// The portal screen in a window during a playback: a web process that ends, or a network
// process killed, while a title plays, after which the title plays on and the portal stays
// signed in; and the page drawing again what another window covered once the player closed.
#include "app/desktop/PortalWindowTestBase.h"

namespace {

using namespace PortalWindowTesting;
using namespace ns::desktop;
using namespace std::chrono_literals;

class PortalPlaybackWindowTest : public PortalWindowTest {
protected:
    void SetUp() override {
        ASSERT_NE(0, AppTestSupport::ResetEngineOnUnusedPort());
        GstMoviePlayer::Install();
        PortalWindowTest::SetUp();
    }

    void TearDown() override {
        DismissAlerts();
        WaitUntilLoopIdle();
        PortalWindowTest::TearDown();
        ns::MoviePlayer::SetFactory(nullptr);
        // The player screen's engine stop runs on the bridge's thread.
        EXPECT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    }

    std::shared_ptr<Qplayer> Player() const {
        auto portal = Portal();
        return portal ? std::dynamic_pointer_cast<Qplayer>(portal->PresentedViewController())
                      : nullptr;
    }
    bool Playing() const {
        auto player = Player();
        return player && player->player() &&
               player->player()->PlaybackState() == ns::MoviePlaybackState::Playing;
    }

    // A click through the X server on the first element of the page the selector finds, once
    // the page has scrolled it into view as a person scrolls to it.
    void ClickOnPage(ui::WebView& web, const std::string& selector) {
        const std::string middle = Eval(
            web, "(function(){var e=document.querySelector('" + selector +
                     "');if(!e)return '';e.scrollIntoView({block:'center'});"
                     "var r=e.getBoundingClientRect();"
                     "return Math.round(r.left+r.width/2)+' '+Math.round(r.top+r.height/2);})()");
        int x = -1, y = -1;
        ASSERT_EQ(2, std::sscanf(middle.c_str(), "%d %d", &x, &y)) << selector << " is not shown";
        // The page's pixels are the web view's points (its zoom is the window's scale).
        ClickAtPoint(web, ui::Point(x, y));
    }
    void ClickAtPoint(const ui::View& view, const ui::Point& point) {
        const ui::Point p = Pixel(view, point);
        ClickAt(gtk_widget_get_window(renderer_->Window()), static_cast<int>(p.x),
                static_cast<int>(p.y));
    }

    // From the portal's page, as a person does: the title's card, then its Play link; returns
    // once its movie plays.
    void PlayTitle(const std::string& id) {
        auto web = Portal()->contentViewWebView();
        ASSERT_NO_FATAL_FAILURE(ClickOnPage(*web, "a[href=\"/-/-/" + id + "\"]"));
        ASSERT_TRUE(IterateUntil(
            [&] { return !web->IsLoading() && web->Request().GetURL().Path() == "/-/-/" + id; },
            10s));
        ASSERT_TRUE(WaitUntilAtRest());
        ASSERT_NO_FATAL_FAILURE(ClickOnPage(*web, "a.play"));
        // A start that fails takes the screen away again with an alert.
        ASSERT_TRUE(IterateUntil(
            [&] { return Playing() || !ui::AlertView::VisibleAlerts().empty(); }, 30s));
        std::string alert;
        for (const ui::AlertView::Ptr& shown : ui::AlertView::VisibleAlerts()) {
            alert += shown->Title() + ": " + shown->Message() + "\n";
        }
        ASSERT_TRUE(Playing()) << "title " << id << " does not play:\n" << alert;
    }

    // Done on the player's top bar, the controls brought back first by a click on the picture
    // when they have slid away.
    void ClosePlayer() {
        auto player = Player();
        ASSERT_NE(nullptr, player);
        const ui::View::Ptr close = delegate_->window()->FindByIdentifier("closeViewButton");
        const ui::View::Ptr picture = delegate_->window()->FindByIdentifier("playerHit");
        ASSERT_TRUE(close && picture);
        // The button fades in a moment after the start.
        ASSERT_TRUE(
            AppTestSupport::IterateUntilTicking([&] { return close->Alpha() == 1; }, kRestTimeout));
        if (!player->controls().showingControls()) {
            ClickAtPoint(*picture, picture->Bounds().Center());
        }
        ASSERT_TRUE(IterateUntil([&] { return player->controls().showingControls(); }, 10s));
        ASSERT_TRUE(WaitUntilAtRest());  // the bars have slid in
        ClickAtPoint(*close, close->Bounds().Center());
        ASSERT_TRUE(IterateUntil([&] { return Player() == nullptr; }, 20s));
        // The engine has stopped, and with it its server on the loopback port.
        ASSERT_TRUE(SarvelonQueue::Shared().WaitUntilIdle(std::chrono::seconds(30)));
        ASSERT_TRUE(IterateUntil(
            [] { return !SarvelonMediaKit::SViOsApiState::Instance().IsInitialized(); }, 10s));
    }
};

SV_SUITE_LABEL(PortalPlaybackWindowTest, e2e);   // WebKit and GStreamer as the player
SV_SUITE_LABEL(PortalPlaybackWindowTest, slow);  // two titles played at real speed

// The process WebKit starts in place of one that ended must take nothing of the engine's with
// it: had it the engine's listening socket, the port would stay taken after the engine closed
// it, and no title would start again ("Could not listen", 210).
TEST_F(PortalPlaybackWindowTest, AWebProcessThatEndsDuringAPlaybackLeavesTheNextTitlePlaying) {
    std::shared_ptr<ui::WebView> web;
    WebKitWebViewBackend* backend = nullptr;
    ASSERT_NO_FATAL_FAILURE(SignInToTheLoadedPage(&web, &backend));
    ASSERT_TRUE(Settle());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("101"));

    // The page's process goes while the movie plays; the error page comes in a new one.
    webkit_web_view_terminate_web_process(backend->View());
    ASSERT_TRUE(IterateUntil(
        [&] {
            return !web->IsLoading() &&
                   web->Request().GetURL().LastPathComponent() == "WebError.html";
        },
        10s));
    ASSERT_TRUE(Playing()) << "the movie stopped with the page's process";
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());

    // Home from the menu, then another title, to its first picture: colour bars across the
    // middle of the movie.
    ASSERT_NO_FATAL_FAILURE(ChooseHomeFromTheMenu());
    ASSERT_TRUE(WaitUntilAtRest());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("102"));
    const std::shared_ptr<ui::View> movie = Player()->player()->View();
    ASSERT_NE(nullptr, movie);
    const ui::Rect area = movie->Bounds();
    int coloured = 0;
    ASSERT_TRUE(IterateUntil(
        [&] {
            Pixbuf shot = CaptureWindow(renderer_->Window());
            if (!shot) return false;
            coloured = ColouredBars([&](double fraction) {
                return ColourAt(shot.get(), *movie,
                                ui::Point(area.Width() * fraction, area.Height() / 2));
            });
            return coloured >= 4;
        },
        20s))
        << coloured << " of 7 bars coloured";
    Capture("portal-second-title.png");
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());
}

// WebKit's network process killed during a playback: WebKit starts another with an empty cookie
// store, which must neither sign the person out nor end the title; the next page still gets the
// sign-in cookies.
TEST_F(PortalPlaybackWindowTest, ANetworkProcessKilledDuringAPlaybackLeavesItPlayingAndSignedIn) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto web = Portal()->contentViewWebView();
    ASSERT_TRUE(IterateUntil([&] { return !web->IsLoading(); }, 10s));
    ASSERT_TRUE(Settle());
    ASSERT_NO_FATAL_FAILURE(PlayTitle("101"));

    const std::vector<pid_t> killed = NetworkProcesses();
    ASSERT_FALSE(killed.empty());
    for (pid_t pid : killed) ASSERT_EQ(0, kill(pid, SIGKILL));
    const double at = Player()->player()->CurrentPlaybackTime();
    // Three seconds more of the title play, on the portal screen.
    ASSERT_TRUE(IterateUntil(
        [&] { return !Playing() || Player()->player()->CurrentPlaybackTime() >= at + 3; }, 30s));
    ASSERT_TRUE(Playing()) << "the movie stopped with WebKit's network process";
    EXPECT_NE(nullptr, Portal());
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());

    // Home from the menu carries the sign-in cookies, and the portal screen stays.
    const size_t from = portal_->Requests().size();
    ASSERT_NO_FATAL_FAILURE(ChooseHomeFromTheMenu());
    const std::vector<ZulPortal::HttpRequest> requests = portal_->Requests();
    const auto home = std::find_if(
        requests.begin() + static_cast<std::ptrdiff_t>(from), requests.end(),
        [](const ZulPortal::HttpRequest& r) { return r.method == "GET" && r.path == "/home"; });
    ASSERT_NE(home, requests.end());
    EXPECT_EQ(ZulPortal::PortalServer::kCompanyId, CookieValue(*home, "COMPANY_ID"));
    EXPECT_NE("", CookieValue(*home, "ID"));
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_NE(nullptr, Portal()) << "back at the sign-in screen";
}

// Another program's window passed over the page leaves no hole in it, before a title has
// played and after its player screen has closed (the page's widget waited, hidden, under it).
// The page shows a block of a known colour; the pixels are read back from the X server.
TEST_F(PortalPlaybackWindowTest, AfterAPlaybackThePageDrawsAgainWhatAnotherWindowCovered) {
    ASSERT_NO_FATAL_FAILURE(SignIn());
    auto web = Portal()->contentViewWebView();
    ASSERT_TRUE(IterateUntil([&] { return !web->IsLoading(); }, 10s));

    constexpr Rgb kBlock{0x20, 0x80, 0xE0};
    // The block spans 20, 60 to 220, 180 of the page's points; the cover, 120 x 60 points,
    // lies inside it.
    const ui::Point from = Pixel(*web, ui::Point(60, 90)), to = Pixel(*web, ui::Point(180, 150));
    const int x = static_cast<int>(from.x), y = static_cast<int>(from.y);
    const int width = static_cast<int>(to.x) - x, height = static_cast<int>(to.y) - y;
    auto passOver = [&] {
        ASSERT_EQ("shown", Eval(*web,
                                "var b = document.getElementById('block') ||"
                                "  document.body.appendChild(document.createElement('div'));"
                                "b.id = 'block'; b.style.cssText = 'position: fixed; left: 20px;"
                                "  top: 60px; width: 200px; height: 120px; z-index: 9;"
                                "  background: #2080E0'; 'shown'"));
        GtkWidget* window = renderer_->Window();
        Rgb seen{};
        // A composited page's picture reaches the screen a while after the page has it.
        ASSERT_TRUE(
            WaitForPixel(window, x + width / 2, y + height / 2, kBlock, kRestTimeout, &seen))
            << seen;
        const Rgb after = PixelAfterCovering(window, renderer_->NativeWidgetFor(*web), x, y, width,
                                             height, 0xE02030, kRestTimeout);
        EXPECT_TRUE(NearColour(kBlock, after)) << after;
    };
    {
        SCOPED_TRACE("before the title played");
        passOver();
    }
    ASSERT_NO_FATAL_FAILURE(PlayTitle("102"));
    ASSERT_NO_FATAL_FAILURE(ClosePlayer());
    ASSERT_TRUE(WaitUntilAtRest());
    {
        SCOPED_TRACE("after the player screen closed");
        passOver();
    }
}

}  // namespace
