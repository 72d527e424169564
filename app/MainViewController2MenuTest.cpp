// The side pane of the portal screen: the menu's rows and colours, what a selection loads, the
// two-phase slide with its bounce (frames worked out from the screen sizes: a phone is 320 x 480
// and keeps 75 points of the pane on screen, a tablet is 768 x 1024 and uncovers a 320-point
// menu; the bounce is 16), a search result without a page, and the bar on rotation.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/PortalTestFixture.h"
#include "app/SearchContentProvider.h"
#include "app/ZULColor.h"
#include "platform/ui/Driver.h"
#include "platform/ui/SwipeGestureRecognizer.h"

namespace {

using PortalTest::kTimeout;
using PortalTest::PortalTestBase;

class MainViewController2MenuTest : public PortalTestBase {
protected:
    void SetUp() override {
        PortalTestBase::SetUp();
        ASSERT_NO_FATAL_FAILURE(SignInToPortal());
        portal_screen_ = Portal();
        table_ = portal_screen_->menuTableView();
        pane_ = portal_screen_->contentView();
    }
    void TearDown() override {
        portal_screen_.reset();
        table_.reset();
        pane_.reset();
        PortalTestBase::TearDown();
    }

    void OpenMenu() {
        ASSERT_TRUE(portal_screen_->showHideMenuButtonItem()->Press());
        driver_.Advance(0.5);
        ASSERT_TRUE(portal_screen_->isMenuVisible());
    }
    // Movies, the third row, chosen from the menu: the menu keeps the choice, the page loads
    // and the menu slides shut.
    void ChooseMovies() {
        driver_.SelectRow(table_, ui::IndexPath(0, 2));
        EXPECT_EQ(ui::IndexPath(0, 2),
                  portal_screen_->menuContentProvider()->lastSelectedMenuIndexPath());
        ASSERT_TRUE(WaitForPage("/movies"));
        driver_.Advance(0.5);
        EXPECT_FALSE(portal_screen_->isMenuVisible());
    }
    int Gets(const std::string& path) const {
        int n = 0;
        for (const auto& request : portal_->Requests()) {
            n += request.method == "GET" && request.path == path;
        }
        return n;
    }
    struct RowLook {
        std::optional<ui::Color> background;
        ui::Color text;
        bool operator==(const RowLook& o) const {
            return background == o.background && text == o.text;
        }
    };
    std::vector<RowLook> Looks() {
        std::vector<RowLook> looks;
        for (int row = 0; row < 4; ++row) {
            auto cell = table_->CellForRow(ui::IndexPath(0, row));
            if (!cell) return {};
            looks.push_back({cell->BackgroundColor(), cell->TextLabel()->TextColor()});
        }
        return looks;
    }
    static RowLook Selected() {
        return {ZULColor::zulTableViewCellSelectedBackgroundColor(),
                ZULColor::zulTableViewCellSelectedTextColor()};
    }
    static RowLook Plain() {
        return {ZULColor::zulTableViewCellBackgroundColor(), ZULColor::zulTableViewCellTextColor()};
    }
    unsigned SwipeDirection() const {
        return portal_screen_->swipeGestureRecognizer()->Direction();
    }

    std::shared_ptr<MainViewController2> portal_screen_;
    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<ui::View> pane_;
};

TEST_F(MainViewController2MenuTest, FourRowsHomeSelectedAndMoviesLoadsItsPage) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    ASSERT_EQ(1, table_->NumberOfSections());
    ASSERT_EQ(4, table_->NumberOfRowsInSection(0));
    // The bundle's English texts.
    const std::vector<std::string> titles{"Home", "Series", "Movies", "My ZUL"};
    for (int row = 0; row < 4; ++row) {
        auto cell = table_->CellForRow(ui::IndexPath(0, row));
        ASSERT_NE(nullptr, cell);
        EXPECT_STREQ("MenuTableViewCell", cell->ClassName());
        EXPECT_EQ(titles[row], cell->TextLabel()->Text());
        EXPECT_EQ(44, table_->RectForRow(ui::IndexPath(0, row)).Height());
    }
    EXPECT_EQ((std::vector<RowLook>{Selected(), Plain(), Plain(), Plain()}), Looks());

    // The menu reloads to move its colours, which clears the table's own selection.
    ASSERT_NO_FATAL_FAILURE(ChooseMovies());
    EXPECT_EQ(0, pane_->Frame().origin.x);

    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    const std::vector<RowLook> afterFirst = Looks();
    EXPECT_EQ((std::vector<RowLook>{Plain(), Plain(), Selected(), Plain()}), afterFirst);

    // Movies again: the page loads again, the rows are left as they are (no reload: the
    // table keeps its selected row).
    const int movies = Gets("/movies");
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 2)));
    ASSERT_TRUE(driver_.WaitFor([&] { return Gets("/movies") == movies + 1; }, kTimeout));
    EXPECT_EQ(afterFirst, Looks());
    EXPECT_EQ(ui::IndexPath(0, 2), table_->IndexPathForSelectedRow());
}

TEST_F(MainViewController2MenuTest, SwipesOpenAndCloseThePaneInTwoPhases) {
    const ui::Rect closed = pane_->Frame();
    EXPECT_EQ(ui::Rect(0, 0, 320, 480), closed);
    ASSERT_TRUE(driver_.Swipe(pane_, ui::SwipeDirection::Right));
    // Phase one: out past its place by the bounce; nothing can start another slide meanwhile.
    EXPECT_EQ(ui::Rect(320 - 75 + 16, 0, 320, 480), pane_->Frame());
    EXPECT_EQ(0.8, pane_->GetLayer().ShadowOpacity());
    EXPECT_FALSE(portal_screen_->swipeGestureRecognizer()->IsEnabled());
    EXPECT_EQ(nullptr, portal_screen_->showHideMenuButtonItem()->GetAction());
    EXPECT_FALSE(portal_screen_->contentViewWebView()->IsUserInteractionEnabled());
    EXPECT_EQ(1.0, table_->Alpha());
    driver_.Advance(0.25);
    // Phase two: back by the bounce.
    EXPECT_EQ(ui::Rect(320 - 75, 0, 320, 480), pane_->Frame());
    EXPECT_FALSE(portal_screen_->isMenuVisible());
    driver_.Advance(0.25);
    EXPECT_TRUE(portal_screen_->isMenuVisible());
    EXPECT_TRUE(portal_screen_->swipeGestureRecognizer()->IsEnabled());
    EXPECT_EQ(ui::SwipeDirection::Left, SwipeDirection());
    EXPECT_NE(nullptr, portal_screen_->showHideMenuButtonItem()->GetAction());

    // A finger on the part of the pane still on screen.
    ui::Driver paneDriver(pane_, &loop_.Clock());
    EXPECT_FALSE(paneDriver.Swipe(pane_, ui::SwipeDirection::Right));
    ASSERT_TRUE(paneDriver.Swipe(pane_, ui::SwipeDirection::Left));
    EXPECT_EQ(ui::Rect(-16, 0, 320, 480), pane_->Frame());
    EXPECT_EQ(0.0, table_->Alpha());
    EXPECT_EQ(0.0, pane_->GetLayer().ShadowOpacity());
    driver_.Advance(0.25);
    EXPECT_EQ(closed, pane_->Frame());
    driver_.Advance(0.25);
    EXPECT_FALSE(portal_screen_->isMenuVisible());
    EXPECT_EQ(ui::SwipeDirection::Right, SwipeDirection());
    EXPECT_TRUE(portal_screen_->contentViewWebView()->IsUserInteractionEnabled());
}

TEST_F(MainViewController2MenuTest, AResultWithoutAPageKeepsTheMenuOpenOneWithAPageLoadsIt) {
    ASSERT_NO_FATAL_FAILURE(OpenMenu());
    ASSERT_TRUE(driver_.Tap(portal_screen_->menuSearchBar()));
    // "Coming Soon" is a series the portal has no page for.
    ASSERT_TRUE(driver_.Type("Coming"));
    auto search = portal_screen_->searchContentProvider();
    ASSERT_TRUE(portal_screen_->isSearchActive());
    ASSERT_TRUE(driver_.WaitFor(
        [&] {
            return !search->isSearchInProgress() && search->sectionItemForIndexPath({0, 0});
        },
        kTimeout));
    driver_.Advance(0.5);
    const size_t requests = portal_->Requests().size();
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 0)));
    driver_.Advance(1);
    EXPECT_TRUE(portal_screen_->isMenuVisible());
    EXPECT_TRUE(portal_screen_->isSearchActive());
    for (size_t i = requests; i < portal_->Requests().size(); ++i) {
        EXPECT_EQ("/thumbs", portal_->Requests()[i].path.substr(0, 7));
    }

    // "Colour Bars" has its page: it loads, and the menu closes.
    auto searchBar = portal_screen_->menuSearchBar();
    if (!searchBar->IsFirstResponder()) {
        ASSERT_TRUE(driver_.Tap(searchBar));
    }
    ASSERT_TRUE(searchBar->SearchField()->PressClearButton());
    EXPECT_FALSE(portal_screen_->isSearchActive());
    ASSERT_TRUE(driver_.Type("Colour"));
    ASSERT_TRUE(driver_.WaitFor(
        [&] {
            return !search->isSearchInProgress() && search->sectionItemForIndexPath({0, 0});
        },
        kTimeout));
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 0)));
    EXPECT_EQ("http://" + portal_->Address() + "/-/-/102", search->lastSelectedURL());
    ASSERT_TRUE(WaitForPage("/-/-/102"));
    driver_.Advance(0.5);
    EXPECT_FALSE(portal_screen_->isMenuVisible());
    EXPECT_FALSE(pane_->IsHidden());
    EXPECT_EQ(0, pane_->Frame().origin.x);
}

TEST_F(MainViewController2MenuTest, RotatingAPhoneGivesTheBarItsLandscapeHeight) {
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::LandscapeLeft));
    driver_.Advance(1);
    auto bar = portal_screen_->contentViewNavigationBar();
    auto web = portal_screen_->contentViewWebView();
    EXPECT_EQ(ui::Rect(0, 0, 480, 32), bar->Frame());
    EXPECT_EQ(ui::Rect(0, 32, 480, 320 - 32), web->Frame());
    ASSERT_TRUE(driver_.Rotate(ui::DeviceOrientation::Portrait));
    driver_.Advance(1);
    EXPECT_EQ(ui::Rect(0, 0, 320, 44), bar->Frame());
    EXPECT_EQ(ui::Rect(0, 44, 320, 480 - 44), web->Frame());
}

class MainViewController2PadMenuTest : public MainViewController2MenuTest {
protected:
    MainViewController2PadMenuTest() { pad_ = true; }
};

TEST_F(MainViewController2PadMenuTest, TheMenuUncoversThreeHundredTwentyPoints) {
    EXPECT_EQ(0, portal_screen_->barSizeDelta());
    EXPECT_EQ(768 - 320, portal_screen_->contentViewWidthWhenMenuVisible());
    ASSERT_TRUE(driver_.Swipe(pane_, ui::SwipeDirection::Right));
    EXPECT_EQ(ui::Rect(320 + 16, 0, 768, 1024), pane_->Frame());
    driver_.Advance(0.5);
    EXPECT_EQ(ui::Rect(320, 0, 768, 1024), pane_->Frame());
    EXPECT_TRUE(portal_screen_->isMenuVisible());

    // The rows run on under the pane: a tap on the part that shows chooses Movies, its page
    // loads and the menu closes.
    ASSERT_NO_FATAL_FAILURE(ChooseMovies());
    EXPECT_EQ(ui::Rect(0, 0, 768, 1024), pane_->Frame());
}

}  // namespace
