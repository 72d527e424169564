#include "app/MenuContentProvider.h"

#include "app/MenuTableViewCell.h"
#include "app/ZULColor.h"
#include "platform/store/Bundle.h"

std::string MenuContentProvider::titleForRow(int row) {
    static constexpr const char* kTitleKeys[kNumberOfRows] = {"Title-Home", "Title-Series",
                                                              "Title-Movies", "Title-MyZUL"};
    if (row < 0 || row >= kNumberOfRows) return std::string();
    return ns::Bundle::Main().LocalizedString(kTitleKeys[row]);
}

int MenuContentProvider::NumberOfSections(ui::TableView&) { return 1; }

int MenuContentProvider::NumberOfRowsInSection(ui::TableView&, int) { return kNumberOfRows; }

std::shared_ptr<ui::TableViewCell> MenuContentProvider::CellForRow(ui::TableView& tableView,
                                                                   const ui::IndexPath& indexPath) {
    std::shared_ptr<ui::TableViewCell> cell = tableView.DequeueReusableCell(kCellIdentifier);
    if (!cell) cell = MenuTableViewCell::initWithReuseIdentifier(kCellIdentifier);
    cell->TextLabel()->SetText(titleForRow(indexPath.row));
    return cell;
}

std::optional<std::string> MenuContentProvider::TitleForHeaderInSection(ui::TableView&, int) {
    return std::string();
}

std::optional<double> MenuContentProvider::HeightForRow(ui::TableView&, const ui::IndexPath&) {
    return kRowHeight;
}

std::optional<double> MenuContentProvider::HeightForHeaderInSection(ui::TableView&, int) {
    return 0.0;
}

std::shared_ptr<ui::View> MenuContentProvider::ViewForHeaderInSection(ui::TableView&, int) {
    return nullptr;
}

void MenuContentProvider::WillDisplayCell(ui::TableView&, ui::TableViewCell& cell,
                                          const ui::IndexPath& indexPath) {
    // Only the row is compared: the menu has one section.
    const bool selected = indexPath.row == lastSelectedMenuIndexPath_.row;
    cell.SetBackgroundColor(selected ? ZULColor::zulTableViewCellSelectedBackgroundColor()
                                     : ZULColor::zulTableViewCellBackgroundColor());
    cell.TextLabel()->SetTextColor(selected ? ZULColor::zulTableViewCellSelectedTextColor()
                                            : ZULColor::zulTableViewCellTextColor());
}

void MenuContentProvider::DidSelectRow(ui::TableView& tableView, const ui::IndexPath& indexPath) {
    if (indexPath.row == lastSelectedMenuIndexPath_.row) return;
    lastSelectedMenuIndexPath_ = indexPath;
    // The colours move with the selection.
    tableView.ReloadData();
}
