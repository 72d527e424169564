#ifndef APP_PORTALTESTFIXTURE_H
#define APP_PORTALTESTFIXTURE_H
// The portal screen's tests' world: the sign-in tests' world (the demo portal in-process, the
// application launched against it on a manual-clock loop, a portrait phone, or a tablet when a
// test class says so), plus the fake engine bridge, a loopback origin for pages and playback
// information of the tests' own, movie players whose position and duration the tests set, and
// the scripts the web views ran.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/LoginTestFixture.h"
#include "app/MainViewController2.h"
#include "app/Qplayer.h"
#include "app/testing/FakeSarvelonBridge.h"
#include "app/testing/ScriptedMoviePlayer.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/HeadlessWebViewBackend.h"
#include "platform/ui/WebView.h"
#include "platform/ui/WebViewScriptLog.h"
#include "tests/support/TestOrigin.h"

namespace PortalTest {

using AppTestSupport::ScriptedMoviePlayer;
using LoginTest::kTimeout;

// The headless web view engine, also keeping the HTML strings it was asked to show (the
// headless engine shows no page text otherwise).
class RecordingWebViewBackend : public ui::HeadlessWebViewBackend {
public:
    using HeadlessWebViewBackend::HeadlessWebViewBackend;
    void LoadHtmlString(const std::string& html, const ns::URL& baseUrl) override {
        HtmlStrings().push_back(html);
        HeadlessWebViewBackend::LoadHtmlString(html, baseUrl);
    }
    static std::vector<std::string>& HtmlStrings() {
        static std::vector<std::string> strings;
        return strings;
    }
};

class PortalTestBase : public LoginTest::LoginTestBase {
protected:
    void SetUp() override {
        LoginTestBase::SetUp();
        if (pad_) ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Pad);
        RecordingWebViewBackend::HtmlStrings().clear();
        ui::WebView::SetBackendFactory(
            [](ui::WebViewBackendClient& client, const ui::WebViewEnvironment& environment) {
                return std::unique_ptr<ui::WebViewBackend>(
                    new RecordingWebViewBackend(client, environment));
            });
        ui::WebViewScriptLog::Clear();
        ns::MoviePlayer::SetFactory([this]() -> std::unique_ptr<ns::MoviePlayer> {
            auto player = std::make_unique<ScriptedMoviePlayer>();
            movie_ = player.get();
            return player;
        });
        StartPortal();
        Launch();
    }

    void TearDown() override {
        LoginTestBase::TearDown();
        movie_ = nullptr;
        ns::MoviePlayer::SetFactory(nullptr);
        ui::WebView::SetBackendFactory(nullptr);
    }

    std::shared_ptr<MainViewController2> Portal() const {
        return std::dynamic_pointer_cast<MainViewController2>(
            appDelegate_->window()->RootViewController());
    }

    // Signs in as the demo subscriber (answering the device-added alert of a new device) and
    // waits until the first portal page is in; portalRequestsFrom_ is then the number of
    // requests the portal had received before the portal screen was shown.
    void SignInToPortal() {
        ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
        if (ui::AlertView::TopVisibleAlert()) {
            ASSERT_TRUE(driver_.DismissAlert(0));
        }
        ASSERT_NE(nullptr, Portal());
        portalRequestsFrom_ = portal_->Requests().size();
        ASSERT_TRUE(WaitForPage("/home"));
    }

    // Waits until the web view shows a finished page whose path is `path`.
    bool WaitForPage(const std::string& path) {
        return driver_.WaitFor(
            [this, path] {
                auto portal = Portal();
                if (!portal || !portal->contentViewWebView()) return false;
                const ui::WebView& web = *portal->contentViewWebView();
                return !web.IsLoading() && web.Request().GetURL().Path() == path;
            },
            kTimeout);
    }

    // An HTML page of the origin's with one link.
    std::string ServePage(const std::string& path, const std::string& href,
                          const std::string& text) {
        SvTestSupport::TestOrigin::Fault html;
        html.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        origin_.SetFault(path, html);
        origin_.Serve(path, "<!DOCTYPE html><html><body><a href=\"" + href + "\">" + text +
                                "</a></body></html>");
        return origin_.Url(path);
    }
    // Playback information of the origin's for a media id, behind a play link on a page.
    void ServeTitle(const std::string& mediaIdJson, const std::string& linkId) {
        origin_.Serve("/info",
                      "{\"subtitleLanguage\":\"en\",\"UILanguage\":\"en\",\"video\":{\"mediaID\":" +
                          mediaIdJson +
                          ",\"startPosition\":0,\"drm\":{\"deliveryUri\":\"http://x/t.svm\"}}}");
        ServePage("/title", "zulmovie://" + OriginAddress() + "/info?id=" + linkId, "Play");
    }
    std::string OriginAddress() const {
        const std::string url = origin_.Url("");
        return url.substr(std::string("http://").size());
    }

    // Opens the origin's title page and clicks its play link; waits for the movie player.
    void PlayFromTitlePage() {
        auto portal = Portal();
        ASSERT_NE(nullptr, portal);
        portal->loadRequestForURL(origin_.Url("/title"));
        ASSERT_TRUE(WaitForPage("/title"));
        ASSERT_TRUE(driver_.ClickLink(portal->contentViewWebView(), "Play"));
        ASSERT_TRUE(driver_.WaitFor([this] { return movie_ != nullptr; }, kTimeout));
        ASSERT_NE(nullptr, portal->qPlayer());
    }

    std::vector<std::string> Scripts() const {
        std::vector<std::string> scripts;
        for (const ui::WebViewScriptLogEntry& entry : ui::WebViewScriptLog::Entries()) {
            scripts.push_back(entry.script);
        }
        return scripts;
    }

    // The player screen is gone from the portal screen.
    bool PlayerGone() const {
        auto portal = Portal();
        return portal && portal->PresentedViewController() == nullptr;
    }

    ScopedFakeSarvelonBridge bridge_;
    SvTestSupport::TestOrigin origin_;
    ScriptedMoviePlayer* movie_ = nullptr;
    size_t portalRequestsFrom_ = 0;
    // Set by a test class's constructor: the device is a tablet.
    bool pad_ = false;
};

}  // namespace PortalTest

#endif  // APP_PORTALTESTFIXTURE_H
