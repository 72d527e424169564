// The search-bar side of the portal screen on a portrait phone (320 x 480; the open menu keeps
// 75 points of the pane on screen, the bounce is 16, every phase 0.25 s), worked out by hand:
// the pane slides out when the search bar begins editing, Cancel brings it back to
// 320 - 75 = 245, scrolling the results gives the keyboard up and keeps Cancel usable, and the
// menu opened while searching uncovers the whole screen. Also: the movie scheme is matched
// exactly, and a title page without history gets no back item.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/PortalTestFixture.h"
#include "app/ResultEmptyTableViewCell.h"
#include "app/SearchContentProvider.h"
#include "platform/store/Bundle.h"
#include "platform/store/PropertyList.h"
#include "platform/ui/Animate.h"
#include "platform/ui/AnimationLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using PortalTest::kTimeout;
using PortalTest::PortalTestBase;

class MainViewController2SearchBarTest : public PortalTestBase {
protected:
    void SetUp() override {
        PortalTestBase::SetUp();
        ASSERT_NO_FATAL_FAILURE(SignInToPortal());
        screen_ = Portal();
        pane_ = screen_->contentView();
        bar_ = screen_->menuSearchBar();
        table_ = screen_->menuTableView();
    }
    void TearDown() override {
        screen_.reset();
        pane_.reset();
        bar_.reset();
        table_.reset();
        PortalTestBase::TearDown();
    }

    void OpenMenu() {
        ASSERT_TRUE(screen_->showHideMenuButtonItem()->Press());
        driver_.Advance(0.5);
        ASSERT_TRUE(screen_->isMenuVisible());
        ASSERT_EQ(320 - 75, pane_->Frame().origin.x);
    }
    // Types into the search bar (the menu open) and waits for the answer.
    void SearchFor(const std::string& text) {
        ASSERT_TRUE(driver_.Tap(bar_));
        driver_.Advance(0.25);
        ASSERT_TRUE(driver_.Type(text));
        ASSERT_TRUE(screen_->isSearchActive());
        auto search = screen_->searchContentProvider();
        ASSERT_TRUE(driver_.WaitFor(
            [&] {
                return !search->isSearchInProgress() && search->sectionItemForIndexPath({0, 0});
            },
            kTimeout));
    }
    // The block animations logged since the last Clear, as "duration options identifiers".
    static std::vector<std::string> Blocks() {
        std::vector<std::string> blocks;
        for (const ui::AnimationLogEntry& entry : ui::AnimationLog::Entries()) {
            if (entry.kind != "block") continue;
            std::string text =
                std::to_string(entry.duration).substr(0, 4) + " " + std::to_string(entry.options);
            for (const std::string& id : entry.identifiers) text += " " + id;
            blocks.push_back(text);
        }
        return blocks;
    }

    std::shared_ptr<MainViewController2> screen_;
    std::shared_ptr<ui::View> pane_;
    std::shared_ptr<ui::SearchBar> bar_;
    std::shared_ptr<ui::TableView> table_;
};

const std::string kEaseOut = std::to_string(ui::AnimationOptions::CurveEaseOut);
const std::string kAllowUserInteraction =
    std::to_string(ui::AnimationOptions::AllowUserInteraction);

TEST_F(MainViewController2SearchBarTest, BeginningToEditSlidesThePaneOutAndShowsCancel) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    // The bar is as wide as the part the menu uncovers: 320 - 75.
    ASSERT_EQ(245, bar_->Frame().Width());
    ui::AnimationLog::Clear();
    ASSERT_TRUE(driver_.Tap(bar_));
    EXPECT_TRUE(bar_->IsFirstResponder());
    // At once the pane goes to its own width, off screen, and the bar widens to its parent's.
    EXPECT_EQ(ui::Rect(320, 0, 320, 480), pane_->Frame());
    EXPECT_EQ(320, bar_->Frame().Width());
    EXPECT_EQ(
        (std::vector<std::string>{"0.25 " + kAllowUserInteraction + " contentView menuSearchBar"}),
        Blocks());
    EXPECT_FALSE(pane_->IsHidden());
    EXPECT_FALSE(bar_->ShowsCancelButton());
    // An empty field starts no search mode.
    EXPECT_FALSE(screen_->isSearchActive());
    driver_.Advance(0.25);
    EXPECT_TRUE(pane_->IsHidden());
    EXPECT_TRUE(bar_->ShowsCancelButton());
    // The cancel button comes animated: a second 0.25 s block.
    EXPECT_EQ(2u, Blocks().size());
}

TEST_F(MainViewController2SearchBarTest, BeginningToEditWithTextStartsTheSearchMode) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    ASSERT_EQ(4, table_->NumberOfRowsInSection(0));
    bar_->SetText("Colour");
    ASSERT_TRUE(driver_.Tap(bar_));
    EXPECT_TRUE(screen_->isSearchActive());
    // Reloaded: the search provider's rows (no answer yet: the one no-results row).
    ASSERT_EQ(1, table_->NumberOfSections());
    ASSERT_EQ(1, table_->NumberOfRowsInSection(0));
    EXPECT_NE(nullptr,
              std::dynamic_pointer_cast<ResultEmptyTableViewCell>(table_->CellForRow({0, 0})));
}

TEST_F(MainViewController2SearchBarTest, CancelEndsTheSearchAndSlidesThePaneBack) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    ASSERT_NO_FATAL_FAILURE(SearchFor("Colour"));
    ASSERT_TRUE(pane_->IsHidden());
    ASSERT_TRUE(bar_->ShowsCancelButton());
    ui::AnimationLog::Clear();
    ASSERT_TRUE(driver_.Tap(bar_->CancelButton()));
    EXPECT_FALSE(screen_->isSearchActive());
    EXPECT_FALSE(screen_->searchContentProvider()->isSearchInProgress());
    EXPECT_FALSE(bar_->IsFirstResponder());
    // Hidden at once: the button is out of the bar and the field reaches 8 from its edge.
    EXPECT_FALSE(bar_->ShowsCancelButton());
    EXPECT_EQ(nullptr, bar_->CancelButton()->Superview());
    EXPECT_EQ(320 - 8 - 8, bar_->SearchField()->Frame().Width());
    // The menu's four rows again.
    ASSERT_EQ(1, table_->NumberOfSections());
    EXPECT_EQ(4, table_->NumberOfRowsInSection(0));
    // The pane, shown again, eases out to where the open menu keeps it: 320 - 75.
    EXPECT_FALSE(pane_->IsHidden());
    EXPECT_EQ(ui::Rect(245, 0, 320, 480), pane_->Frame());
    EXPECT_EQ((std::vector<std::string>{"0.25 " + kEaseOut + " contentView"}), Blocks());
}

TEST_F(MainViewController2SearchBarTest, ScrollingTheResultsResignsTheBarAndKeepsCancelUsable) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    // "game": two episodes and a series, 219-point rows: more than the table shows.
    ASSERT_NO_FATAL_FAILURE(SearchFor("game"));
    ASSERT_TRUE(bar_->IsFirstResponder());
    auto cancel = bar_->CancelButton();
    ASSERT_NE(nullptr, cancel);
    // As a toolkit does with the bar's buttons when the keyboard goes.
    cancel->SetEnabled(false);
    ASSERT_TRUE(driver_.ScrollTable(table_, 100));
    EXPECT_FALSE(bar_->IsFirstResponder());
    EXPECT_TRUE(cancel->IsEnabled());
    EXPECT_TRUE(screen_->isSearchActive());

    // Without the keyboard up, scrolling leaves the buttons as they are.
    cancel->SetEnabled(false);
    ASSERT_TRUE(driver_.ScrollTable(table_, -50));
    EXPECT_FALSE(cancel->IsEnabled());
}

TEST_F(MainViewController2SearchBarTest, TheMenuOpenedWhileSearchingUncoversTheWholeScreen) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    ASSERT_NO_FATAL_FAILURE(SearchFor("Colour"));
    // "Colour Bars" has a page: selecting it loads it and closes the menu; search stays on.
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 0)));
    ASSERT_TRUE(WaitForPage("/-/-/102"));
    driver_.Advance(0.5);
    ASSERT_FALSE(screen_->isMenuVisible());
    ASSERT_TRUE(screen_->isSearchActive());
    ASSERT_EQ(0, pane_->Frame().origin.x);

    ASSERT_TRUE(screen_->showHideMenuButtonItem()->Press());
    // Phase one: nothing of the pane is kept, so x = 320 - 0 + 16.
    EXPECT_EQ(ui::Rect(336, 0, 320, 480), pane_->Frame());
    EXPECT_FALSE(pane_->IsHidden());
    driver_.Advance(0.25);
    // After phase one the pane is hidden; phase two takes the bounce back.
    EXPECT_TRUE(pane_->IsHidden());
    EXPECT_EQ(ui::Rect(320, 0, 320, 480), pane_->Frame());
    driver_.Advance(0.25);
    EXPECT_TRUE(screen_->isMenuVisible());
    EXPECT_TRUE(pane_->IsHidden());
}

TEST_F(MainViewController2SearchBarTest, TheMovieSchemeIsMatchedExactlyWithItsCase) {
    ServeTitle("\"7\"", "7");
    ServePage("/upper", "ZulMovie://" + OriginAddress() + "/info?id=7", "Play");
    screen_->loadRequestForURL(origin_.Url("/upper"));
    ASSERT_TRUE(WaitForPage("/upper"));
    ASSERT_TRUE(driver_.ClickLink(screen_->contentViewWebView(), "Play"));
    driver_.Advance(1);
    EXPECT_EQ(nullptr, screen_->qPlayer());
    EXPECT_EQ(nullptr, screen_->PresentedViewController());
    for (const auto& request : origin_.Requests()) EXPECT_NE("/info", request.path);

    // The configured scheme as it is written opens the player.
    ASSERT_NO_FATAL_FAILURE(PlayFromTitlePage());
}

// A portal whose first page is a title page: the web view has no history there.
class MainViewController2TitleHomeTest : public PortalTestBase {
protected:
    void SetUp() override {
        PortalTestBase::SetUp();
        ns::Value configuration = portal_->BundleConfiguration();
        configuration.AsDictionary()->Set("ZUL Home URL", ns::Value("http://%@/-/-/101"));
        std::string error;
        ASSERT_TRUE(ns::PropertyList::WriteFile(folder_.File("ZULPropertyListRelease.plist"),
                                                configuration, 0644, error))
            << error;
        bundle_ = std::make_unique<ns::Bundle>(folder_.Path(), std::vector<std::string>{"en"});
        // Launched again, reading the configuration from that bundle.
        ASSERT_NO_FATAL_FAILURE(Launch(bundle_.get()));
    }
    void TearDown() override {
        PortalTestBase::TearDown();
        bundle_.reset();
    }

    SvTestSupport::TemporaryDirectory folder_{"zul-title-home-"};
    std::unique_ptr<ns::Bundle> bundle_;
};

TEST_F(MainViewController2TitleHomeTest, ATitlePageWithoutHistoryGetsNoBackItem) {
    ASSERT_TRUE(SignIn("demo@zul.test", "demo"));
    if (ui::AlertView::TopVisibleAlert()) {
        ASSERT_TRUE(driver_.DismissAlert(0));
    }
    auto screen = Portal();
    ASSERT_NE(nullptr, screen);
    ASSERT_TRUE(WaitForPage("/-/-/101"));
    auto bar = screen->contentViewNavigationBar();
    auto web = screen->contentViewWebView();
    EXPECT_FALSE(web->CanGoBack());
    EXPECT_EQ(screen->contentViewMenuNavigationItem(), bar->TopItem());
    EXPECT_EQ(1u, bar->Items().size());

    // A second title page has the first behind it: now the back item comes.
    screen->loadRequestForURL(portal_->Url("/-/-/102"));
    ASSERT_TRUE(WaitForPage("/-/-/102"));
    EXPECT_TRUE(web->CanGoBack());
    EXPECT_EQ(screen->contentViewBackNavigationItem(), bar->TopItem());
}

}  // namespace
