// What the scripted session takes for a finished search and a loaded title page: a result row
// with its downloaded thumbnail (not the loading row, the no-results row or a placeholder),
// and the title page's own URL in the log line.
#include "app/demo/DemoSession.h"

#include <gtest/gtest.h>

#include <string>

#include "app/ResultEmptyTableViewCell.h"
#include "app/ResultLoadingTableViewCell.h"
#include "app/SearchTestFixture.h"

namespace {

using SearchTest::kTimeout;

class DemoSessionTest : public SearchTest::SearchTestBase {
protected:
    template <typename Cell>
    bool OnlyRowIs() {
        return table_->NumberOfSections() == 1 && table_->NumberOfRowsInSection(0) == 1 &&
               std::dynamic_pointer_cast<Cell>(table_->CellForRow({0, 0})) != nullptr;
    }
};

TEST_F(DemoSessionTest, ASearchHasHeldOnlyOnceARowShowsItsDownloadedThumbnail) {
    table_->ReloadData();
    ASSERT_TRUE(OnlyRowIs<ResultEmptyTableViewCell>());
    EXPECT_FALSE(DemoSession::ShowsDownloadedThumbnail(*table_));

    // The portal answers "slow" only after a minute: the loading row.
    provider_->searchForSearchText("slow");
    table_->ReloadData();
    ASSERT_TRUE(OnlyRowIs<ResultLoadingTableViewCell>());
    EXPECT_FALSE(DemoSession::ShowsDownloadedThumbnail(*table_));
    provider_->cancelSearch();

    ASSERT_TRUE(Search("no such title"));
    ASSERT_TRUE(OnlyRowIs<ResultEmptyTableViewCell>());
    EXPECT_FALSE(DemoSession::ShowsDownloadedThumbnail(*table_));

    // "game": the episodes 211 and 212 on screen, first with the placeholder.
    ASSERT_TRUE(Search("game"));
    EXPECT_EQ(Named("Search-Placeholder"), ShownThumb({0, 0}));
    EXPECT_FALSE(DemoSession::ShowsDownloadedThumbnail(*table_));
    // Decoded on a thread of its own: waited for in real time.
    ASSERT_TRUE(WaitReal([this] {
        ui::Image::Ptr image = ShownThumb({0, 0});
        return image && image->Path() == ThumbsPath() + "/211.jpg";
    }));
    EXPECT_TRUE(DemoSession::ShowsDownloadedThumbnail(*table_));
}

TEST_F(DemoSessionTest, AMissingThumbnailIsNoDownloadedOne) {
    // Port 1 on the loopback takes no connections: the row shows the "missing" picture.
    origin_.Serve("/api/search",
                  "{\"results\":{\"movies\":[{\"title\":\"M\",\"thumb\":\"http://127.0.0.1:1/"
                  "m.jpg\",\"id\":\"5\",\"url\":null}]}}");
    UseServer(OriginAddress());
    ASSERT_TRUE(Search("x"));
    ASSERT_TRUE(driver_.WaitFor(
        [this] {
            return ShownThumb({0, 0}) == Named("Search-Placeholder-Missing");
        },
        kTimeout));
    EXPECT_FALSE(DemoSession::ShowsDownloadedThumbnail(*table_));
}

TEST_F(DemoSessionTest, TheTitlePagesTagNamesItsFullURL) {
    // The portal's base URL is "http://%@" on its address.
    EXPECT_EQ("[MVC] webViewDidFinishLoad:http://" + portal_->Address() + "/-/-/102",
              DemoSession::PageLoadedTag("/-/-/102"));
}

}  // namespace
