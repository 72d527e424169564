#include "app/MenuTableViewCell.h"

#include <utility>

#include "app/ZULColor.h"
#include "app/ZULFont.h"
#include "platform/ui/Image.h"

MenuTableViewCell::MenuTableViewCell(std::string reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, std::move(reuseIdentifier)) {}

std::shared_ptr<MenuTableViewCell> MenuTableViewCell::initWithReuseIdentifier(
    const std::string& reuseIdentifier) {
    auto cell = std::make_shared<MenuTableViewCell>(reuseIdentifier);
    cell->SetUp();
    return cell;
}

void MenuTableViewCell::SetUp() {
    // An empty clear view in place of the toolkit's highlight: the menu shows the selected row
    // by its colours alone.
    auto selectedBackground = std::make_shared<ui::View>(Bounds());
    selectedBackground->SetBackgroundColor(ui::Color::Clear());
    SetSelectedBackgroundView(selectedBackground);

    TextLabel()->SetTextColor(ZULColor::zulTableViewCellTextColor());
    TextLabel()->SetFont(ZULFont::zulTableViewCellFont());

    ui::Image::Ptr line = ui::Image::Named(kSeparatorImageName);
    const ui::Size size = line ? line->GetSize() : ui::Size();
    separator_ = std::make_shared<ui::ImageView>(line);
    separator_->SetFrame(ui::Rect(0, Bounds().Height() - size.height, size.width, size.height));
    separator_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    ContentView()->AddSubview(separator_);
}
