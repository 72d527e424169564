#include "app/ResultTableViewSectionView.h"

#include "app/ZULColor.h"
#include "app/ZULFont.h"

namespace {

const char* const kBackgroundImage = "TableView-Section-Background";

}  // namespace

double ResultTableViewSectionView::resultTableViewSectionViewHeight() {
    const ui::Image::Ptr background = ui::Image::Named(kBackgroundImage);
    return background ? background->GetSize().height : 0;
}

ResultTableViewSectionView::ResultTableViewSectionView()
    : ui::ImageView(ui::Image::Named(kBackgroundImage)) {}

std::shared_ptr<ResultTableViewSectionView> ResultTableViewSectionView::create() {
    std::shared_ptr<ResultTableViewSectionView> view(new ResultTableViewSectionView());
    std::shared_ptr<ui::Label>& label = view->label_;
    const ui::Rect bounds = view->Bounds();
    label = std::make_shared<ui::Label>(ui::Rect(10, 0, bounds.Width() - 20, bounds.Height()));
    label->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    label->SetFont(ZULFont::zulTableViewSectionFont());
    label->SetTextColor(ZULColor::zulTableViewSectionTextColor());
    label->SetBackgroundColor(ui::Color::Clear());
    label->SetShadowColor(ui::Color::Black());
    label->SetShadowOffset(ui::Size(0, 1));
    view->AddSubview(label);
    return view;
}
