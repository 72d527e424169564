#ifndef APP_SEARCHCONTENTPROVIDER_H
#define APP_SEARCHCONTENTPROVIDER_H
// The portal's table while it shows search results: sends the search text to ZULSearch, turns
// the answer's "results" into sections in the fixed order "movies", "episodes", "series" (a
// list only when it is not empty), shows a loading row while a search runs and a "no results"
// row when there is nothing to show, and gives each result row a thumbnail from
// ZULImageDownload, downloaded only while the table is at rest. Selecting a result with a
// page sets lastSelectedURL() (the base URL, "/", the result's "url"); the portal loads it.
// The base URL, the search URL and the thumbnails' credential are the ones it is made with
// (the portal screen passes its application's configuration).
//
// The portal screen forwards every table call to this provider while search mode is on.
// Main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ZULImageDownload.h"
#include "app/ZULSearch.h"
#include "platform/Value.h"
#include "platform/net/URLCredential.h"
#include "platform/ui/IndexPath.h"
#include "platform/ui/TableView.h"

class ZULScreenHost;

class SearchContentProvider : public ui::TableViewDataSource,
                              public ui::TableViewDelegate,
                              public ZULSearchDelegate,
                              public ZULImageDownloadDelegate,
                              public std::enable_shared_from_this<SearchContentProvider> {
public:
    // baseURL: what result pages are joined to (empty: a selection loads nothing);
    // searchURLFormat: ZULSearch's; thumbnailCredential: ZULImageDownload's.
    SearchContentProvider(std::string baseURL, std::string searchURLFormat,
                          std::optional<ns::URLCredential> thumbnailCredential);
    ~SearchContentProvider() override;
    // The portal screen's provider: the host's base and search URLs, its user and password for
    // the thumbnails (for the session).
    static std::shared_ptr<SearchContentProvider> For(const ZULScreenHost& host);

    // The table it serves (held weakly).
    void setTableView(const std::shared_ptr<ui::TableView>& tableView);
    std::shared_ptr<ui::TableView> tableView() const { return tableView_.lock(); }

    // Empty until a result with a page is selected; cleared on every selection.
    const std::string& lastSelectedURL() const { return lastSelectedURL_; }

    void searchForSearchText(const std::string& text);
    // Cancels the search and every thumbnail download (the downloads are kept).
    void cancelSearch();
    // Forgets the result and its sections, cancels and drops every thumbnail download.
    void clearResult();
    // The item at the row of the list named by the section's key; null outside the result.
    const ns::Value* sectionItemForIndexPath(const ui::IndexPath& indexPath) const;

    bool isSearchInProgress() const;

    // --- table data source and delegate
    int NumberOfSections(ui::TableView& tableView) override;
    int NumberOfRowsInSection(ui::TableView& tableView, int section) override;
    std::shared_ptr<ui::TableViewCell> CellForRow(ui::TableView& tableView,
                                                  const ui::IndexPath& indexPath) override;
    std::optional<std::string> TitleForHeaderInSection(ui::TableView& tableView,
                                                       int section) override;
    std::optional<double> HeightForRow(ui::TableView& tableView,
                                       const ui::IndexPath& indexPath) override;
    std::optional<double> HeightForHeaderInSection(ui::TableView& tableView, int section) override;
    std::shared_ptr<ui::View> ViewForHeaderInSection(ui::TableView& tableView,
                                                     int section) override;
    void WillDisplayCell(ui::TableView& tableView, ui::TableViewCell& cell,
                         const ui::IndexPath& indexPath) override;
    void DidSelectRow(ui::TableView& tableView, const ui::IndexPath& indexPath) override;

    // --- scrolling: the portal passes these on in search mode only
    void DidEndDragging(ui::ScrollView& scrollView, bool willDecelerate) override;
    void DidEndDecelerating(ui::ScrollView& scrollView) override;

    // --- ZULSearchDelegate
    void zulSearchDidReceiveData(ZULSearch& search, const ns::Value* results) override;
    void zulSearchDidReceiveError(ZULSearch& search, const ns::Error& error) override;

    // --- ZULImageDownloadDelegate
    void zulImageDownloadDidFinishDownloading(ZULImageDownload& download, const std::string& path,
                                              const ui::IndexPath& indexPath) override;
    void zulImageDownloadDidReceiveError(ZULImageDownload& download, const ns::Error& error,
                                         const ui::IndexPath& indexPath) override;

private:
    void reloadVisibleRows();

    const std::string baseURL_;
    const std::optional<ns::URLCredential> thumbnailCredential_;
    std::weak_ptr<ui::TableView> tableView_;
    std::string lastSelectedURL_;
    std::unique_ptr<ZULSearch> zulSearch_;
    ns::Value zulSearchResult_;  // the "results" object of the last answer; null: none
    std::vector<std::string> zulSearchSections_;
    std::map<ui::IndexPath, std::shared_ptr<ZULImageDownload>> zulSearchImages_;
};

#endif  // APP_SEARCHCONTENTPROVIDER_H
