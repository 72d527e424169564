#include "app/ResultLoadingTableViewCell.h"

#include "app/ZULColor.h"
#include "platform/store/Bundle.h"

std::shared_ptr<ResultLoadingTableViewCell> ResultLoadingTableViewCell::create(
    const std::string& reuseIdentifier) {
    std::shared_ptr<ResultLoadingTableViewCell> cell(
        new ResultLoadingTableViewCell(reuseIdentifier));
    cell->setUp();
    return cell;
}

ResultLoadingTableViewCell::ResultLoadingTableViewCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {}

void ResultLoadingTableViewCell::setUp() {
    SetBackgroundColor(ZULColor::zulTableViewResultCellBackgroundColor());
    const std::shared_ptr<ui::View> content = ContentView();
    zulLoadingView_ = std::make_shared<ZULLoadingView>(content->Frame());
    zulLoadingView_->SetBackgroundColor(ui::Color::Clear());
    zulLoadingView_->setLoadingText(ns::Bundle::Main().LocalizedString("Search-Loading"));
    content->AddSubview(zulLoadingView_);
}
