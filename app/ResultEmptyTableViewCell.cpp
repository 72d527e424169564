#include "app/ResultEmptyTableViewCell.h"

#include "app/ZULFont.h"
#include "platform/store/Bundle.h"

std::shared_ptr<ResultEmptyTableViewCell> ResultEmptyTableViewCell::create(
    const std::string& reuseIdentifier) {
    std::shared_ptr<ResultEmptyTableViewCell> cell(new ResultEmptyTableViewCell(reuseIdentifier));
    cell->setUp();
    return cell;
}

ResultEmptyTableViewCell::ResultEmptyTableViewCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {}

void ResultEmptyTableViewCell::setUp() {
    const std::shared_ptr<ui::Label> label = TextLabel();
    label->SetText(ns::Bundle::Main().LocalizedString("Search-Empty"));
    label->SetTextAlignment(ui::TextAlignment::Center);
    label->SetFont(ZULFont::zulTableViewResultLoadingCellFont());
    label->SetShadowColor(ui::Color::Black());
    label->SetShadowOffset(ui::Size(0, 1));
}
