#include "app/SearchContentProvider.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ResultEmptyTableViewCell.h"
#include "app/ResultLoadingTableViewCell.h"
#include "app/ResultTableViewCell.h"
#include "app/ResultTableViewSectionView.h"
#include "app/SearchTestFixture.h"
#include "platform/store/Bundle.h"
#include "platform/ui/AlertView.h"

namespace {

using SearchTest::kTimeout;

// An answer item whose thumbnail nobody serves.
std::string Item(const std::string& id, const std::string& url = "null") {
    return "{\"title\":\"T" + id + "\",\"thumb\":\"http://127.0.0.1:1/t/" + id +
           ".jpg\",\"id\":\"" + id + "\",\"url\":" + url + "}";
}

class SearchContentProviderTest : public SearchTest::SearchTestBase {
protected:
    // The section titles as the table reads them, top down.
    std::vector<std::string> SectionTitles() {
        std::vector<std::string> titles;
        for (int s = 0; s < provider_->NumberOfSections(*table_); ++s) {
            titles.push_back(provider_->TitleForHeaderInSection(*table_, s).value_or("(none)"));
        }
        return titles;
    }
    std::string RowTitle(const ui::IndexPath& indexPath) {
        auto cell = std::dynamic_pointer_cast<ResultTableViewCell>(table_->CellForRow(indexPath));
        return cell ? cell->label()->Text() : std::string("(no result cell)");
    }
    template <typename Cell>
    std::shared_ptr<Cell> OnlyRow() {
        if (table_->NumberOfSections() != 1 || table_->NumberOfRowsInSection(0) != 1) {
            return nullptr;
        }
        return std::dynamic_pointer_cast<Cell>(table_->CellForRow(ui::IndexPath(0, 0)));
    }
};

// The answer lists series, episodes, movies; the table shows movies, episodes, series.
TEST_F(SearchContentProviderTest, SectionsFollowTheFixedOrderWhateverTheAnswerOrder) {
    UseServer(OriginAddress());
    origin_.Serve("/api/search", "{\"results\":{\"series\":[" + Item("1") + "],\"episodes\":[" +
                                     Item("2") + "," + Item("3") + "],\"movies\":[" + Item("4") +
                                     "]}}");
    ASSERT_TRUE(Search("x"));
    EXPECT_EQ((std::vector<std::string>{"movies", "episodes", "series"}), SectionTitles());
    EXPECT_EQ(1, table_->NumberOfRowsInSection(0));
    EXPECT_EQ(2, table_->NumberOfRowsInSection(1));
    EXPECT_EQ(1, table_->NumberOfRowsInSection(2));
    EXPECT_EQ("T4", RowTitle(ui::IndexPath(0, 0)));
    EXPECT_EQ("T2", RowTitle(ui::IndexPath(1, 0)));
    const ns::Value* item = provider_->sectionItemForIndexPath(ui::IndexPath(1, 1));
    ASSERT_NE(nullptr, item);
    EXPECT_EQ("3", *(*item)["id"].AsString());
    EXPECT_EQ(nullptr, provider_->sectionItemForIndexPath(ui::IndexPath(1, 2)));
    EXPECT_EQ(nullptr, provider_->sectionItemForIndexPath(ui::IndexPath(3, 0)));

    // Each section has its header view with its key, at the background picture's height
    // (TableView-Section-Background is drawn 24 high).
    auto header = std::dynamic_pointer_cast<ResultTableViewSectionView>(
        provider_->ViewForHeaderInSection(*table_, 1));
    ASSERT_NE(nullptr, header);
    EXPECT_EQ("episodes", header->label()->Text());
    EXPECT_EQ(24, provider_->HeightForHeaderInSection(*table_, 1).value_or(-1));
    // A phone's result row: 3 x 15 margins + 160 thumbnail + 12 text + 2 separator.
    EXPECT_EQ(219, provider_->HeightForRow(*table_, ui::IndexPath(0, 0)).value_or(-1));
}

TEST_F(SearchContentProviderTest, EmptyListsAreLeftOut) {
    UseServer(OriginAddress());
    origin_.Serve("/api/search", "{\"results\":{\"movies\":[],\"series\":[],\"episodes\":[" +
                                     Item("2") + "," + Item("3") + "]}}");
    ASSERT_TRUE(Search("x"));
    EXPECT_EQ((std::vector<std::string>{"episodes"}), SectionTitles());
    EXPECT_EQ(2, table_->NumberOfRowsInSection(0));

    // The demo portal answers "game" with movies empty, then series, then episodes.
    UseServer(portal_->Address());
    ASSERT_TRUE(Search("game"));
    EXPECT_EQ((std::vector<std::string>{"episodes", "series"}), SectionTitles());
    EXPECT_EQ("Game of Life: Episode 1", RowTitle(ui::IndexPath(0, 0)));
}

TEST_F(SearchContentProviderTest, LoadingRowWhileSearchingThenNoResultsRow) {
    // Before any answer: the "no results" row.
    table_->ReloadData();
    auto empty = OnlyRow<ResultEmptyTableViewCell>();
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(ns::Bundle::Main().LocalizedString("Search-Empty"), empty->TextLabel()->Text());

    provider_->searchForSearchText("slow");
    table_->ReloadData();
    auto loading = OnlyRow<ResultLoadingTableViewCell>();
    ASSERT_NE(nullptr, loading);
    EXPECT_TRUE(loading->zulLoadingView()->isSpinning());
    EXPECT_EQ(ns::Bundle::Main().LocalizedString("Search-Loading"),
              loading->zulLoadingView()->label()->Text());
    EXPECT_EQ(ui::TableViewCellSelectionStyle::None, loading->SelectionStyle());
    EXPECT_EQ(44, provider_->HeightForRow(*table_, ui::IndexPath(0, 0)).value_or(-1));
    EXPECT_EQ(0, provider_->HeightForHeaderInSection(*table_, 0).value_or(-1));
    EXPECT_EQ(std::nullopt, provider_->TitleForHeaderInSection(*table_, 0));
    EXPECT_EQ(nullptr, provider_->ViewForHeaderInSection(*table_, 0));
    // Nothing to select while searching.
    provider_->DidSelectRow(*table_, ui::IndexPath(0, 0));
    EXPECT_EQ("", provider_->lastSelectedURL());

    // A search that finds nothing.
    ASSERT_TRUE(Search("no such title"));
    empty = OnlyRow<ResultEmptyTableViewCell>();
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(ui::TableViewCellSelectionStyle::None, empty->SelectionStyle());
}

// A server error must not leave the loading row on screen: the table shows "no results"
// without anyone reloading it.
TEST_F(SearchContentProviderTest, ServerErrorShowsTheNoResultsRow) {
    provider_->searchForSearchText("error500");
    table_->ReloadData();
    ASSERT_NE(nullptr, OnlyRow<ResultLoadingTableViewCell>());
    ASSERT_TRUE(driver_.WaitFor([this] { return !provider_->isSearchInProgress(); }, kTimeout));
    loop_.Step();
    EXPECT_NE(nullptr, OnlyRow<ResultEmptyTableViewCell>());
    EXPECT_EQ(nullptr, ui::AlertView::TopVisibleAlert());
}

TEST_F(SearchContentProviderTest, TransportErrorShowsTheNetworkAlertAndNoResults) {
    portal_->Stop();
    provider_->searchForSearchText("game");
    table_->ReloadData();
    ASSERT_TRUE(driver_.WaitFor([this] { return !provider_->isSearchInProgress(); }, kTimeout));
    loop_.Step();
    const ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
    ASSERT_NE(nullptr, alert);
    EXPECT_EQ(ns::Bundle::Main().LocalizedString("Error-Network-Title"), alert->Title());
    EXPECT_EQ(ns::Bundle::Main().LocalizedString("Error-Network-Message"), alert->Message());
    EXPECT_NE(nullptr, OnlyRow<ResultEmptyTableViewCell>());
    EXPECT_EQ(1u, Messages("[SCP] zulSearch didReceiveError:").size());
}

// A search not answered whole 30 s after it started is a time-out, whether the portal keeps
// silent (it holds "slow" for a minute) or an origin trickles its answer in a byte now and
// then: the network alert, and the "no results" row in place of the loading row.
TEST_F(SearchContentProviderTest, SearchTimedOutShowsTheNetworkAlertAndNoResults) {
    origin_.Serve("/api/search", std::string(4000, ' '));
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/api/search", trickle);
    for (bool trickling : {false, true}) {
        SCOPED_TRACE(trickling ? "trickling" : "silent");
        if (trickling) UseServer(OriginAddress());
        provider_->clearResult();
        provider_->searchForSearchText("slow");
        table_->ReloadData();
        // The clock stands still until the request is held.
        ASSERT_TRUE(WaitReal([&] {
            return trickling ? origin_.AnswersBegun("/api/search") == 1
                             : PortalRequests("/api/search").size() == 1;
        }));
        const auto alerted = [] { return ui::AlertView::TopVisibleAlert() != nullptr; };
        EXPECT_FALSE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), alerted, 29.5));
        EXPECT_NE(nullptr, OnlyRow<ResultLoadingTableViewCell>());
        ASSERT_TRUE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), alerted, 1));
        loop_.Step();
        EXPECT_EQ(ns::Bundle::Main().LocalizedString("Error-Network-Title"),
                  ui::AlertView::TopVisibleAlert()->Title());
        EXPECT_NE(nullptr, OnlyRow<ResultEmptyTableViewCell>());
        const std::vector<std::string> errors = Messages("[SCP] zulSearch didReceiveError:");
        ASSERT_EQ(trickling ? 2u : 1u, errors.size());
        EXPECT_NE(std::string::npos, errors.back().find("Code=-1001")) << errors.back();
        DismissAlerts();
    }
}

// A row with a page gives the base URL, one "/", and the page; a null or missing "url" gives
// nothing, and clears what an earlier selection gave.
TEST_F(SearchContentProviderTest, SelectionGivesTheBaseURLAndThePage) {
    UseServer(OriginAddress());
    const std::string base = "http://" + OriginAddress();
    origin_.Serve("/api/search", "{\"results\":{\"movies\":[" + Item("1", "\"/-/-/1\"") + "," +
                                     Item("2", "\"-/-/2\"") + "," + Item("3") + "," +
                                     "{\"title\":\"no url\"}]}}");
    ASSERT_TRUE(Search("x"));
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 0)));
    EXPECT_EQ(base + "/-/-/1", provider_->lastSelectedURL());
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 1)));
    EXPECT_EQ(base + "/-/-/2", provider_->lastSelectedURL());
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 2)));
    EXPECT_EQ("", provider_->lastSelectedURL());
    provider_->DidSelectRow(*table_, ui::IndexPath(0, 0));
    ASSERT_EQ(base + "/-/-/1", provider_->lastSelectedURL());
    provider_->DidSelectRow(*table_, ui::IndexPath(0, 3));
    EXPECT_EQ("", provider_->lastSelectedURL());
}

// The demo portal's "Coming Soon" series has no page.
TEST_F(SearchContentProviderTest, PortalTitleWithoutPageLeadsNowhere) {
    ASSERT_TRUE(Search("game"));
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 1)));
    EXPECT_EQ("http://" + portal_->Address() + "/-/-/212", provider_->lastSelectedURL());
    ASSERT_TRUE(Search("coming"));
    ASSERT_TRUE(driver_.SelectRow(table_, ui::IndexPath(0, 0)));
    EXPECT_EQ("", provider_->lastSelectedURL());
}

// The loading and "no results" rows take the table's background (21, 21, 21) when shown.
TEST_F(SearchContentProviderTest, StatusRowsGetTheirColoursWhenShown) {
    const ui::Color statusBackground = ui::Color::FromRGB255(21, 21, 21);
    const ui::Color statusText = ui::Color::FromRGB255(183, 183, 183);

    table_->ReloadData();
    auto empty = OnlyRow<ResultEmptyTableViewCell>();
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(statusBackground, empty->BackgroundColor().value_or(ui::Color::Clear()));
    EXPECT_EQ(statusText, empty->TextLabel()->TextColor());

    provider_->searchForSearchText("slow");
    table_->ReloadData();
    auto loading = OnlyRow<ResultLoadingTableViewCell>();
    ASSERT_NE(nullptr, loading);
    EXPECT_EQ(statusBackground, loading->BackgroundColor().value_or(ui::Color::Clear()));
}

}  // namespace
