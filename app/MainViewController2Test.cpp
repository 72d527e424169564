// The portal screen against the demo portal's request log: what it loads first and with which
// headers, what becomes of a play link, of the portal's own sign-in page and of a page without
// the sign-in cookies, the back item, and the page shown for a load that fails.

#include "app/MainViewController2.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "app/PortalTestFixture.h"
#include "platform/ui/Loop.h"
#include "portal/FormData.h"

namespace {

using PortalTest::kTimeout;
using PortalTest::PortalTestBase;
using PortalTest::RecordingWebViewBackend;

class MainViewController2Test : public PortalTestBase {
protected:
    std::vector<ZulPortal::HttpRequest> RequestsSince(size_t from) const {
        std::vector<ZulPortal::HttpRequest> all = portal_->Requests();
        return std::vector<ZulPortal::HttpRequest>(all.begin() + std::min(from, all.size()),
                                                   all.end());
    }
    int Gets(const std::string& path, size_t from) const {
        int n = 0;
        for (const auto& request : RequestsSince(from)) {
            n += request.method == "GET" && request.path == path;
        }
        return n;
    }
};

TEST_F(MainViewController2Test, HomeComesFirstWithTheUserAgentAndTheSignInCookies) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    const std::vector<ZulPortal::HttpRequest> requests = RequestsSince(portalRequestsFrom_);
    ASSERT_FALSE(requests.empty());
    const ZulPortal::HttpRequest& first = requests.front();
    EXPECT_EQ("GET", first.method);
    EXPECT_EQ("/home", first.path);
    EXPECT_EQ("zul-pellun-native-ios", first.Header("User-Agent"));
    const ZulPortal::FormData cookies = ZulPortal::FormData::Cookies(first.Header("Cookie"));
    EXPECT_EQ("10157", cookies.Get("COMPANY_ID"));
    EXPECT_TRUE(cookies.Has("ID"));

    // The spinner is gone for good and the page fades in over half a second.
    auto portal = Portal();
    EXPECT_TRUE(portal->contentLoadingView()->IsHidden());
    EXPECT_FALSE(portal->contentLoadingView()->isSpinning());
    driver_.Advance(0.5);
    EXPECT_EQ(1.0, portal->contentViewWebView()->Alpha());
    EXPECT_EQ(0, appDelegate_->networkActivityCounter());
}

TEST_F(MainViewController2Test, PlayLinkPresentsThePlayerWithTheHttpUrlAndTheWebViewStays) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    portal->loadRequestForURL(portal_->Url("/-/-/102"));
    ASSERT_TRUE(WaitForPage("/-/-/102"));
    const size_t before = portal_->Requests().size();

    ASSERT_TRUE(driver_.ClickLink(web, "Play"));
    ASSERT_TRUE(driver_.WaitFor([&] { return portal->qPlayer() != nullptr; }, kTimeout));
    std::shared_ptr<Qplayer> player = portal->qPlayer();
    ASSERT_NE(nullptr, player);
    // The page's link is "zulmovie://127.0.0.1:PORT/api/playback?id=102".
    EXPECT_EQ("http://" + portal_->Address() + "/api/playback?id=102", player->apiPath());
    EXPECT_EQ(ui::ModalTransitionStyle::CrossDissolve, player->GetModalTransitionStyle());
    ASSERT_TRUE(driver_.WaitFor([&] { return movie_ != nullptr; }, kTimeout));
    EXPECT_EQ(player, portal->PresentedViewController());

    // The only request since: the playback information, with the player's "&ios=1".
    const std::vector<ZulPortal::HttpRequest> since = RequestsSince(before);
    ASSERT_EQ(1u, since.size());
    EXPECT_EQ("/api/playback", since[0].path);
    EXPECT_EQ("id=102&ios=1", since[0].query);
    // The web view did not navigate.
    EXPECT_EQ("/-/-/102", web->Request().GetURL().Path());
    EXPECT_FALSE(web->IsLoading());
}

TEST_F(MainViewController2Test, ThePortalsSignInPageIsNeverLoadedTheSignInScreenComesBack) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    // "Sign out" answers 302 to /c/portal/login.
    ASSERT_TRUE(driver_.ClickLink(Portal()->contentViewWebView(), "Sign out"));
    ASSERT_TRUE(driver_.WaitFor([this] { return Login() != nullptr; }, kTimeout));
    EXPECT_EQ(1, Gets("/c/portal/logout", portalRequestsFrom_));
    EXPECT_EQ(0, Gets("/c/portal/login", portalRequestsFrom_));
    // The hop was refused before it was sent: nothing is left loading.
    driver_.Advance(1);
    EXPECT_EQ(0, Gets("/c/portal/login", portalRequestsFrom_));
    EXPECT_EQ(0, appDelegate_->networkActivityCounter());
}

TEST_F(MainViewController2Test, APageThatFinishesWithoutTheSignInCookiesLeadsToSignIn) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    ns::CookieStorage::Shared().DeleteAllCookies();
    // Home answers 200 to anyone.
    Portal()->loadRequestForURL(portal_->Url("/home"));
    ASSERT_TRUE(driver_.WaitFor([this] { return Login() != nullptr; }, kTimeout));
    EXPECT_EQ(2, Gets("/home", portalRequestsFrom_));
}

TEST_F(MainViewController2Test, TitlePagesWithHistoryGetABackItemThatGoesBack) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto bar = portal->contentViewNavigationBar();
    auto web = portal->contentViewWebView();
    const auto menuItem = portal->contentViewMenuNavigationItem();
    const auto backItem = portal->contentViewBackNavigationItem();
    EXPECT_EQ(menuItem, bar->TopItem());

    portal->loadRequestForURL(portal_->Url("/movies"));
    ASSERT_TRUE(WaitForPage("/movies"));
    EXPECT_EQ(menuItem, bar->TopItem());
    ASSERT_TRUE(driver_.ClickLink(web, "/-/-/101"));
    ASSERT_TRUE(WaitForPage("/-/-/101"));
    EXPECT_EQ(backItem, bar->TopItem());
    ASSERT_EQ(2u, bar->Items().size());

    // The back button goes back in the web view and takes the item away.
    ASSERT_TRUE(bar->TapBackButton());
    EXPECT_EQ(menuItem, bar->TopItem());
    ASSERT_TRUE(WaitForPage("/movies"));
    EXPECT_EQ(menuItem, bar->TopItem());

    // A page without "/-/-/" reached otherwise (here the menu's Home) takes the item away and
    // stays: the web view does not go back because of it.
    ASSERT_TRUE(driver_.ClickLink(web, "/-/-/101"));
    ASSERT_TRUE(WaitForPage("/-/-/101"));
    ASSERT_EQ(backItem, bar->TopItem());
    const int homes = Gets("/home", portalRequestsFrom_);
    portal->loadRequestForURL(portal_->Url("/home"));
    ASSERT_TRUE(WaitForPage("/home"));
    EXPECT_EQ(menuItem, bar->TopItem());
    driver_.Advance(1);
    EXPECT_EQ("/home", web->Request().GetURL().Path());
    EXPECT_EQ(homes + 1, Gets("/home", portalRequestsFrom_));
    EXPECT_EQ(2, Gets("/-/-/101", portalRequestsFrom_));

    // Each start of a load names the page being loaded, not the one shown before it.
    std::vector<std::string> starts;
    for (const char* path : {"/home", "/movies", "/-/-/101", "/movies", "/-/-/101", "/home"}) {
        starts.push_back("[MVC] webViewDidStartLoad:" + portal_->Url(path));
    }
    EXPECT_EQ(starts, Messages("[MVC] webViewDidStartLoad:"));
}

// A page of the tests' origin (loaded by the application, as a search result's page is) with
// links, each given as text and address.
std::string LinksPage(const std::vector<std::pair<std::string, std::string>>& links) {
    std::string html = "<!DOCTYPE html><html><body>";
    for (const auto& [text, href] : links) html += "<a href=\"" + href + "\">" + text + "</a> ";
    return html + "</body></html>";
}

TEST_F(MainViewController2Test, APagesNavigationsToAnotherOriginAreNotShownNorSent) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    const std::string port = std::to_string(portal_->Port());
    const struct {
        std::string href;
        bool followed;
    } cases[] = {
        {"http://localhost:" + port + "/movies", false},   // the portal's server, another name
        {"https://127.0.0.1:" + port + "/movies", false},  // another scheme
        {origin_.Url("/movies"), false},                   // another port
        {"http://127.0.0.2:" + port + "/movies", false},   // another address
        {portal_->Url("/movies"), true},
    };
    int n = 0;
    for (const auto& c : cases) {
        // A page of its own for each case: the one before is still shown while it loads.
        const std::string links = "/links" + std::to_string(n++);
        SvTestSupport::TestOrigin::Fault html;
        html.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        origin_.SetFault(links, html);
        origin_.Serve(links, LinksPage({{"Go", c.href}}));
        portal->loadRequestForURL(origin_.Url(links));
        ASSERT_TRUE(WaitForPage(links));
        const int movies = Gets("/movies", portalRequestsFrom_);
        const size_t offered =
            Messages("[MVC] webView shouldStartLoadWithRequest:" + c.href).size();
        ASSERT_TRUE(driver_.ClickLink(web, "Go"));
        ASSERT_TRUE(driver_.WaitFor(
            [&] {
                return Messages("[MVC] webView shouldStartLoadWithRequest:" + c.href).size() >
                       offered;
            },
            kTimeout));
        if (c.followed) {
            ASSERT_TRUE(WaitForPage("/movies")) << c.href;
            EXPECT_EQ(movies + 1, Gets("/movies", portalRequestsFrom_));
            continue;
        }
        driver_.Advance(1);
        EXPECT_EQ(links, web->Request().GetURL().Path()) << c.href;
        EXPECT_FALSE(web->IsLoading()) << c.href;
        EXPECT_EQ(movies, Gets("/movies", portalRequestsFrom_)) << c.href;
        for (const auto& request : origin_.Requests()) EXPECT_NE("/movies", request.path);
        EXPECT_EQ(portal, Portal());
    }

    // A redirect to another origin ends the load there: the page before stays, nothing spins.
    SvTestSupport::TestOrigin::Fault away;
    away.status = 302;
    away.location = "http://localhost:" + port + "/home";
    origin_.SetFault("/away", away);
    origin_.Serve("/away", "");
    const int homes = Gets("/home", portalRequestsFrom_);
    portal->loadRequestForURL(origin_.Url("/away"));
    ASSERT_TRUE(driver_.WaitFor(
        [&] { return !Messages("[MVC] " + away.location + " is not the portal's").empty(); },
        kTimeout));
    driver_.Advance(1);
    EXPECT_EQ("/movies", web->Request().GetURL().Path());
    EXPECT_FALSE(web->IsLoading());
    EXPECT_EQ(homes, Gets("/home", portalRequestsFrom_));
    EXPECT_EQ(0, appDelegate_->networkActivityCounter());
}

TEST_F(MainViewController2Test, AnotherHostsSignInPathSignsNobodyOutNorStopsAPlayback) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    const std::string elsewhere = "http://localhost:" + std::to_string(portal_->Port());
    ServeTitle("\"1001\"", "1001");
    for (const bool playing : {false, true}) {
        const std::string links = playing ? "/links-playing" : "/links";
        SvTestSupport::TestOrigin::Fault html;
        html.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        origin_.SetFault(links, html);
        origin_.Serve(links,
                      LinksPage({{"Play", "zulmovie://" + OriginAddress() + "/info?id=1001"},
                                 {"Other host", elsewhere + MainViewController2::kLoginPath},
                                 {"Other port", origin_.Url(MainViewController2::kLoginPath)}}));
        portal->loadRequestForURL(origin_.Url(links));
        ASSERT_TRUE(WaitForPage(links));
        if (playing) {
            ASSERT_TRUE(driver_.ClickLink(web, "Play"));
            ASSERT_TRUE(driver_.WaitFor([&] { return movie_ != nullptr; }, kTimeout));
        }
        const std::shared_ptr<Qplayer> player = portal->qPlayer();
        for (const char* link : {"Other host", "Other port"}) {
            const size_t refused = Messages("[MVC] ").size();
            // The page's own link (the player covers it from the person).
            ASSERT_TRUE(web->ClickLink(link));
            ASSERT_TRUE(
                driver_.WaitFor([&] { return Messages("[MVC] ").size() > refused; }, kTimeout));
            driver_.Advance(1);
            EXPECT_EQ(portal, Portal()) << link << (playing ? " playing" : "");
            EXPECT_EQ(nullptr, Login());
            EXPECT_EQ(player, portal->qPlayer());
            EXPECT_EQ(player, portal->PresentedViewController());
        }
    }
    EXPECT_EQ(0, Gets(MainViewController2::kLoginPath, portalRequestsFrom_));
    for (const auto& request : origin_.Requests()) {
        EXPECT_NE(MainViewController2::kLoginPath, request.path);
    }
}

TEST_F(MainViewController2Test, SignInCookiesOfAnotherHostDoNotCountAsSignedIn) {
    const struct {
        const char* name;
        const char* host;
    } cases[] = {{"ID", "localhost"}, {"COMPANY_ID", "127.0.0.2"}};
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    ns::CookieStorage& jar = ns::CookieStorage::Shared();
    const std::vector<ns::Cookie> signedIn = jar.Cookies();
    for (const auto& c : cases) {
        // Signed in as before, on the portal's home page.
        jar.DeleteAllCookies();
        for (const ns::Cookie& cookie : signedIn) jar.SetCookie(cookie);
        if (Portal() == nullptr) {
            appDelegate_->showWebViewController();
            ASSERT_TRUE(WaitForPage("/home"));
        }
        // The portal's own cookie goes; one of the same name from another host takes its place.
        for (const ns::Cookie& cookie : jar.Cookies()) {
            if (cookie.Name() != c.name) continue;
            jar.DeleteCookie(cookie);
            jar.SetCookie(ns::Cookie(c.name, cookie.Value(), c.host));
        }
        Portal()->loadRequestForURL(portal_->Url("/home"));
        ASSERT_TRUE(driver_.WaitFor([this] { return Login() != nullptr; }, kTimeout)) << c.name;
    }
}

TEST_F(MainViewController2Test,
       APageAskingForPlayersOnItsOwnCannotUndoDoneNorAskMoreThanOnceASecond) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    ServeTitle("\"1001\"", "1001");
    const std::string link = "zulmovie://" + OriginAddress() + "/info?id=1001";
    ServePage("/other-title", link, "Play");
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    portal->loadRequestForURL(origin_.Url("/title"));
    ASSERT_TRUE(WaitForPage("/title"));
    const ns::URLRequest play(*ns::URL::Parse(link));
    // Twenty play links in a step, followed by the page's script: no person clicked them.
    auto flood = [&] {
        for (int i = 0; i < 20; ++i) {
            EXPECT_FALSE(portal->ShouldStartLoad(*web, play, {ui::WebViewNavigationType::Other}));
        }
    };
    // Done: the player tells the portal screen, which lets it go and dismisses it.
    auto done = [&] {
        portal->qPlayer()->closeView();
        ASSERT_TRUE(driver_.WaitFor([&] { return portal->qPlayer() == nullptr; }, kTimeout));
    };
    // Steps of 0.1 s with a flood each, until a player opens; the step it opened at (0: none).
    auto floodFor = [&](int steps) {
        for (int step = 1; step <= steps; ++step) {
            driver_.Advance(0.1);
            flood();
            if (portal->qPlayer() != nullptr) {
                // The player settles before the test goes on or ends.
                driver_.WaitFor(
                    [&] { return portal->PresentedViewController() == portal->qPlayer(); },
                    kTimeout);
                return step;
            }
        }
        return 0;
    };

    // The first a page asks for opens: a page may start its title itself.
    flood();
    ASSERT_NE(nullptr, portal->qPlayer());
    ASSERT_NO_FATAL_FAILURE(done());
    // The page that asked keeps asking: Done stays done.
    const int reopened = floodFor(30);
    if (reopened != 0) {
        ASSERT_NO_FATAL_FAILURE(done());  // the screen is left as the test found it
    }
    ASSERT_EQ(0, reopened) << "a player opened again " << reopened * 100 << " ms after Done";
    EXPECT_TRUE(PlayerGone());

    // A person's click opens one at once.
    EXPECT_FALSE(
        portal->ShouldStartLoad(*web, play, {ui::WebViewNavigationType::LinkClicked, true}));
    ASSERT_NE(nullptr, portal->qPlayer());
    ASSERT_TRUE(driver_.WaitFor(
        [&] { return portal->PresentedViewController() == portal->qPlayer(); }, kTimeout));
    ASSERT_NO_FATAL_FAILURE(done());

    // Until the page the person goes to is there, the one before still asks in vain.
    const ns::RunLoop::TimePoint closed = ui::Loop().Now();
    EXPECT_TRUE(portal->ShouldStartLoad(*web,
                                        ns::URLRequest(*ns::URL::Parse(portal_->Url("/movies"))),
                                        {ui::WebViewNavigationType::LinkClicked, true}));
    driver_.Advance(MainViewController2::kUnpromptedPlayerInterval);
    flood();
    EXPECT_EQ(nullptr, portal->qPlayer());

    // The next page the application shows may start its title itself again, but not within a
    // second of the last player's close.
    portal->loadRequestForURL(origin_.Url("/other-title"));
    ASSERT_TRUE(WaitForPage("/other-title"));
    const int opened = floodFor(20);
    ASSERT_NE(0, opened);
    const double after = std::chrono::duration<double>(ui::Loop().Now() - closed).count();
    EXPECT_GE(after, MainViewController2::kUnpromptedPlayerInterval);
    ASSERT_NO_FATAL_FAILURE(done());
    ASSERT_TRUE(driver_.WaitFor([&] { return PlayerGone(); }, kTimeout));
}

// A port on the loopback that nobody listens on.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    close(fd);
    return port;
}

TEST_F(MainViewController2Test, AFailedLoadShowsTheErrorPageWithTheTextEscaped) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto web = portal->contentViewWebView();
    portal->loadRequestForURL("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x");
    ASSERT_TRUE(
        driver_.WaitFor([&] { return !RecordingWebViewBackend::HtmlStrings().empty(); }, kTimeout));
    ASSERT_TRUE(portal->contentViewWebViewLastError().has_value());
    EXPECT_EQ(ns::Error::kCannotConnectToHost, portal->contentViewWebViewLastError()->GetCode());
    // The bundle's page, its base the page's own file.
    ASSERT_TRUE(driver_.WaitFor(
        [&] { return !web->IsLoading() && web->Request().GetURL().IsFileURL(); }, kTimeout));
    EXPECT_EQ("WebError.html", web->Request().GetURL().LastPathComponent());
    EXPECT_TRUE(web->Request().GetURL().IsFileURL());
    // Still signed in: the error page keeps the portal screen.
    EXPECT_EQ(portal, Portal());

    // A text with markup in it is shown as text, in the page's one placeholder.
    RecordingWebViewBackend::HtmlStrings().clear();
    portal->DidFailLoad(*web, ns::Error("test", -1, "<b>Tom & \"Jerry's\"</b>"));
    ASSERT_EQ(1u, RecordingWebViewBackend::HtmlStrings().size());
    const std::string& html = RecordingWebViewBackend::HtmlStrings()[0];
    EXPECT_NE(std::string::npos,
              html.find("<p>&lt;b&gt;Tom &amp; &quot;Jerry&#39;s&quot;&lt;/b&gt;</p>"));
    EXPECT_EQ(std::string::npos, html.find("%@"));
    EXPECT_EQ(std::string::npos, html.find("<b>"));

    // A cancelled load shows nothing.
    RecordingWebViewBackend::HtmlStrings().clear();
    portal->DidFailLoad(*web, ns::Error("test", ns::Error::kCancelled, "cancelled"));
    EXPECT_TRUE(RecordingWebViewBackend::HtmlStrings().empty());
}

}  // namespace
