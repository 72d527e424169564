// What the portal page hears from the player through __zulPlayerProxy, with the fake engine
// bridge and a movie player whose position the tests set: completion, an error with its alert,
// the progress when the application resigns active, and a media id that is no number.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/PortalTestFixture.h"
#include "platform/ui/AlertLog.h"
#include "platform/ui/Application.h"

namespace {

using PortalTest::kTimeout;
using PortalTest::PortalTestBase;

class MainViewController2BridgeTest : public PortalTestBase {
protected:
    void SetUp() override {
        PortalTestBase::SetUp();
        ASSERT_NO_FATAL_FAILURE(SignInToPortal());
        ui::WebViewScriptLog::Clear();
        alertsBefore_ = ui::AlertLog::Entries().size();
    }
    // Plays to one second before the end of a title of `duration` seconds.
    void PlayToTheEnd(double duration) {
        movie_->duration = duration;
        movie_->BecomePlayable();
        movie_->time = duration - 1;
        // Two ticks of the player's half-second timer.
        driver_.Advance(1);
    }

    size_t alertsBefore_ = 0;
};

TEST_F(MainViewController2BridgeTest, CompletionSendsTheCompleteCallAndClosesWithoutAnAlert) {
    ServeTitle("\"1001\"", "1001");
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    PlayToTheEnd(40);
    ASSERT_TRUE(driver_.WaitFor([this] { return PlayerGone(); }, kTimeout));
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('complete',1001);"}), Scripts());
    EXPECT_EQ(nullptr, Portal()->qPlayer());
    driver_.Advance(1);
    EXPECT_EQ(alertsBefore_, ui::AlertLog::Entries().size());
    EXPECT_EQ(nullptr, ui::AlertView::TopVisibleAlert());
    EXPECT_FALSE(ui::Application::Shared().IsStatusBarHidden());
}

TEST_F(MainViewController2BridgeTest, ADroppedInformationConnectionReportsError300AndAlerts) {
    SvTestSupport::TestOrigin::Fault drop;
    drop.dropAfter = 0;
    origin_.SetFault("/info", drop);
    ServeTitle("\"1001\"", "1001");
    auto portal = Portal();
    portal->loadRequestForURL(origin_.Url("/title"));
    ASSERT_TRUE(WaitForPage("/title"));
    ASSERT_TRUE(driver_.ClickLink(portal->contentViewWebView(), "Play"));
    ASSERT_TRUE(driver_.WaitFor(
        [this] { return PlayerGone() && ui::AlertView::TopVisibleAlert() != nullptr; }, kTimeout));
    // The information never came: the page learns of its own title's id from its link.
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('error',1001,300);"}), Scripts());
    const std::string message = ui::AlertView::TopVisibleAlert()->Message();
    ASSERT_GE(message.size(), 5u);
    EXPECT_EQ("(300)", message.substr(message.size() - 5));
    EXPECT_EQ("Playback error", ui::AlertView::TopVisibleAlert()->Title());
    EXPECT_EQ(nullptr, movie_);
}

TEST_F(MainViewController2BridgeTest, ResigningActiveStoresProgressOnlyInsideTheStoreWindow) {
    ServeTitle("\"1001\"", "1001");
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    movie_->duration = 7200;
    movie_->BecomePlayable();
    movie_->time = 90;  // 1:30: too early to be worth keeping
    driver_.Advance(1);
    driver_.ResignActive();
    EXPECT_TRUE(Scripts().empty());
    driver_.BecomeActive();

    movie_->time = 600;  // 10:00 of two hours
    driver_.Advance(1);
    driver_.ResignActive();
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('play_progress',1001,600);"}), Scripts());
    // Still playing: the player stays.
    EXPECT_NE(nullptr, Portal()->qPlayer());
}

TEST_F(MainViewController2BridgeTest, AMediaIdThatIsNoNumberArrivesQuoted) {
    ServeTitle("\"ab'c\"", "7");
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    PlayToTheEnd(40);
    ASSERT_TRUE(driver_.WaitFor([this] { return PlayerGone(); }, kTimeout));
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('complete','ab\\'c');"}), Scripts());
}

TEST_F(MainViewController2BridgeTest, ClosingThePlayerStoresTheProgressAndShowsNoAlert) {
    ServeTitle("\"1001\"", "1001");
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    movie_->duration = 7200;
    movie_->BecomePlayable();
    movie_->time = 1800;
    driver_.Advance(1);
    Portal()->qPlayer()->closeView();
    ASSERT_TRUE(driver_.WaitFor([this] { return PlayerGone(); }, kTimeout));
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('play_progress',1001,1800);"}),
              Scripts());
    driver_.Advance(1);
    EXPECT_EQ(alertsBefore_, ui::AlertLog::Entries().size());
}

// An error while playing: the page hears of the error first, then of the progress (10:00 of a
// two-hour title is worth keeping), and only once the player is gone does the alert come.
TEST_F(MainViewController2BridgeTest, AnErrorSendsTheErrorThenTheProgressThenAlerts) {
    ServeTitle("\"1001\"", "1001");
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    movie_->duration = 7200;
    movie_->BecomePlayable();
    movie_->time = 600;
    driver_.Advance(1);
    ASSERT_TRUE(Scripts().empty());
    // As the player reports a connection error.
    std::shared_ptr<Qplayer> player = Portal()->qPlayer();
    ASSERT_NE(nullptr, player->delegate());
    player->delegate()->playbackDidStopOnError(Qplayer::kConnectionError,
                                               Qplayer::kConnectionErrorText);
    EXPECT_EQ((std::vector<std::string>{"__zulPlayerProxy('error',1001,300);",
                                        "__zulPlayerProxy('play_progress',1001,600);"}),
              Scripts());
    EXPECT_EQ(alertsBefore_, ui::AlertLog::Entries().size());
    EXPECT_EQ(nullptr, Portal()->qPlayer());

    ASSERT_TRUE(driver_.WaitFor(
        [this] { return PlayerGone() && ui::AlertView::TopVisibleAlert() != nullptr; }, kTimeout));
    EXPECT_EQ(alertsBefore_ + 1, ui::AlertLog::Entries().size());
    const std::string message = ui::AlertView::TopVisibleAlert()->Message();
    ASSERT_GE(message.size(), 5u);
    EXPECT_EQ("(300)", message.substr(message.size() - 5));
    // Nothing more reached the page.
    EXPECT_EQ(2u, Scripts().size());
}

// A title left while it starts: the page hears nothing of it, even when its
// session reports an error once stopped, no alert comes, and the next title's start is asked
// for while the bridge still holds every start (it does not wait for the first one's origin).
TEST_F(MainViewController2BridgeTest, ATitleLeftWhileItStartsIsNotReportedAndHoldsUpNothing) {
    ServeTitle("\"1001\"", "1001");
    bridge_->HoldPlay();
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    ASSERT_TRUE(WaitReal([this] { return bridge_->PlaysEntered() == 1; }));
    Portal()->qPlayer()->closeView();
    ns::Dictionary attributes;
    attributes.Set("SVErrorKey", 408u);
    bridge_->PostEvent(SViOsApiEvent_StoppingOnError, attributes);
    ASSERT_TRUE(driver_.WaitFor(
        [this] {
            DrainMain();
            return PlayerGone();
        },
        kTimeout));
    EXPECT_TRUE(WaitReal([this] { return bridge_->PlaysStopped() == 1; }))
        << "the start went on after its screen closed";

    ServeTitle("\"1002\"", "1002");
    movie_ = nullptr;
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
    ASSERT_TRUE(WaitReal([this] { return bridge_->PlaysEntered() == 2; }))
        << "the next start waits behind the title left";
    bridge_->ReleasePlay();
    ASSERT_TRUE(WaitForEngine());
    movie_->duration = 40;
    movie_->BecomePlayable();
    driver_.Advance(1);
    ASSERT_NE(nullptr, Portal()->qPlayer());
    EXPECT_EQ("1002", Portal()->qPlayer()->mediaID());
    EXPECT_TRUE(Scripts().empty()) << Scripts().front();
    EXPECT_EQ(alertsBefore_, ui::AlertLog::Entries().size());
    EXPECT_EQ(nullptr, ui::AlertView::TopVisibleAlert());
}

}  // namespace
