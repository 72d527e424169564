#ifndef APP_MENUCONTENTPROVIDER_H
#define APP_MENUCONTENTPROVIDER_H
// The portal's side menu: four fixed rows, Home, Series, Movies and the subscriber's own list
// (rows 0 to 3; the portal maps the selected row to its page). The selected row is kept here
// and shown by its colours; it starts at Home for every new provider, that is for every portal
// screen. The portal screen forwards the table's calls to this provider while it shows the
// menu. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/IndexPath.h"
#include "platform/ui/TableView.h"

class MenuContentProvider : public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    static constexpr const char* kCellIdentifier = "menuCellID";
    static constexpr int kNumberOfRows = 4;
    static constexpr double kRowHeight = 44;
    enum Row { kHomeRow = 0, kSeriesRow = 1, kMoviesRow = 2, kMyZULRow = 3 };

    MenuContentProvider() = default;

    // The table it serves (held weakly).
    void setTableView(const std::shared_ptr<ui::TableView>& tableView) { tableView_ = tableView; }
    std::shared_ptr<ui::TableView> tableView() const { return tableView_.lock(); }

    const ui::IndexPath& lastSelectedMenuIndexPath() const { return lastSelectedMenuIndexPath_; }

    // The localised text of a row ("Title-Home", ...); empty for a row that does not exist.
    static std::string titleForRow(int row);

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

private:
    std::weak_ptr<ui::TableView> tableView_;
    ui::IndexPath lastSelectedMenuIndexPath_{0, 0};
};

#endif  // APP_MENUCONTENTPROVIDER_H
