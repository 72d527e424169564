// The whole application headless, as a subscriber uses it: sign in to the demo portal, open
// Movies from the menu, open the first title, press Play, and watch it to the end through the
// real engine (the headless movie player at eight times the speed, through a relay that
// writes down what it asked the engine's server for). The portal page hears the completion.
// The loop's clock follows real time once the engine runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/PortalTestFixture.h"
#include "app/testing/EngineTestSupport.h"
#include "platform/ui/HeadlessWebViewBackend.h"
#include "tests/support/TestLabels.h"

namespace {

using PortalTest::kTimeout;
using PortalTest::PortalTestBase;

// Keeps what the player decoded when the player screen lets it go.
class KeptStatisticsPlayer : public AppTestSupport::RelayedMoviePlayer {
public:
    KeptStatisticsPlayer(uint16_t enginePort, uint16_t relayPort,
                         std::shared_ptr<std::vector<ns::MovieStreamStatistics>> kept)
        : RelayedMoviePlayer(enginePort, relayPort), kept_(std::move(kept)) {}
    ~KeptStatisticsPlayer() override { *kept_ = Statistics(); }

private:
    std::shared_ptr<std::vector<ns::MovieStreamStatistics>> kept_;
};

class MainViewController2EndToEndTest : public PortalTestBase {
protected:
    void SetUp() override {
        PortalTestBase::SetUp();
        engine_.Start([this](uint16_t enginePort, uint16_t relayPort) {
            ++players_;
            return std::make_unique<KeptStatisticsPlayer>(enginePort, relayPort, statistics_);
        });
    }
    void TearDown() override {
        PortalTestBase::TearDown();
        engine_.Stop();
    }
    bool RunRealTime(const std::function<bool()>& cond, double seconds) {
        return AppTestSupport::RunRealTime(loop_, cond, seconds);
    }

    AppTestSupport::RelayedEngine engine_;
    std::shared_ptr<std::vector<ns::MovieStreamStatistics>> statistics_ =
        std::make_shared<std::vector<ns::MovieStreamStatistics>>();
    int players_ = 0;
};

SV_SUITE_LABEL(MainViewController2EndToEndTest, e2e);  // played through the engine

TEST_F(MainViewController2EndToEndTest, SignInMoviesFirstTitlePlayedToTheEnd) {
    ASSERT_NO_FATAL_FAILURE(SignInToPortal());
    auto portal = Portal();
    auto web = portal->contentViewWebView();

    // Movies, from the menu.
    ASSERT_TRUE(portal->showHideMenuButtonItem()->Press());
    driver_.Advance(0.5);
    driver_.SelectRow(portal->menuTableView(), ui::IndexPath(0, 2));
    ASSERT_TRUE(WaitForPage("/movies"));
    driver_.Advance(0.5);
    ASSERT_FALSE(portal->isMenuVisible());

    // The first title of the list.
    auto* backend = dynamic_cast<ui::HeadlessWebViewBackend*>(&web->Backend());
    ASSERT_NE(nullptr, backend);
    std::string title;
    for (const ui::HtmlLink& link : backend->Links()) {
        if (link.href.compare(0, 5, "/-/-/") == 0) {
            title = link.href;
            break;
        }
    }
    ASSERT_FALSE(title.empty());
    ASSERT_TRUE(driver_.ClickLink(web, title));
    ASSERT_TRUE(WaitForPage(title));
    const std::string id = title.substr(5);
    ui::WebViewScriptLog::Clear();

    // Play, to the end.
    ASSERT_TRUE(driver_.ClickLink(web, "Play"));
    ASSERT_TRUE(RunRealTime([&] { return portal->qPlayer() != nullptr; }, kTimeout));
    ASSERT_TRUE(
        RunRealTime([&] { return PlayerGone() && !ui::WebViewScriptLog::Entries().empty(); }, 60));
    EXPECT_EQ(1, players_);
    EXPECT_EQ(1, LogsContaining("[Q] ALL OK"));
    EXPECT_EQ(1, LogsContaining("[Q] MPMovieLoadStatePlayable"));
    ASSERT_FALSE(Scripts().empty());
    EXPECT_EQ("__zulPlayerProxy('complete'," + id + ");", Scripts().back());
    EXPECT_EQ(nullptr, ui::AlertView::TopVisibleAlert());
    EXPECT_EQ("/-/-/" + id, web->Request().GetURL().Path());

    // The engine served the title's playlist, then its segments.
    const std::vector<std::string> requests = engine_.Relay().Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("GET /" + id + ".m3u8 HTTP/1.1", requests.front());
    const auto segments = std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
        return r.find(".ts HTTP/1.1") != std::string::npos;
    });
    EXPECT_GE(segments, 2) << requests.size() << " requests";

    // Video came, its presentation times never going back.
    bool video = false;
    for (const ns::MovieStreamStatistics& stream : *statistics_) {
        if (stream.mediaType != "video") continue;
        video = true;
        EXPECT_GT(stream.packets, 0u);
        EXPECT_EQ(0u, stream.ptsBackwards);
    }
    EXPECT_TRUE(video);
    // The player screen stopped the engine when it went (on the bridge's thread).
    ASSERT_TRUE(WaitForEngine());
    EXPECT_FALSE(SarvelonMediaKit::SViOsApiState::Instance().IsInitialized());
}

}  // namespace
