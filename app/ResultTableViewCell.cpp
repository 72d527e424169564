#include "app/ResultTableViewCell.h"

#include <cmath>

#include "app/ZULColor.h"
#include "app/ZULFont.h"
#include "platform/ui/Transition.h"
#include "platform/ui/UiDevice.h"

namespace {

const char* const kSeparatorImage = "Separator-Line.png";

double SeparatorHeight() {
    const ui::Image::Ptr separator = ui::Image::Named(kSeparatorImage);
    return separator ? separator->GetSize().height : 0;
}

}  // namespace

ResultTableViewCell::Metrics ResultTableViewCell::metrics() {
    if (ui::UiDevice::Current().IsPad()) return Metrics{25, ui::Size(400, 340)};
    return Metrics{15, ui::Size(200, 160)};
}

double ResultTableViewCell::resultTableViewCellHeight() {
    const Metrics m = metrics();
    return 3 * m.margin + m.thumbnail.height + ZULFont::zulTableViewResultCellFont().PointSize() +
           SeparatorHeight();
}

std::shared_ptr<ResultTableViewCell> ResultTableViewCell::create(
    const std::string& reuseIdentifier) {
    std::shared_ptr<ResultTableViewCell> cell(new ResultTableViewCell(reuseIdentifier));
    cell->setUp();
    return cell;
}

ResultTableViewCell::ResultTableViewCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {}

void ResultTableViewCell::setUp() {
    // Made at the row's height, so that the separator starts on the bottom edge.
    SetFrame(ui::Rect(0, 0, Frame().Width(), resultTableViewCellHeight()));
    SetBackgroundColor(ZULColor::zulTableViewResultCellBackgroundColor());
    auto selected = std::make_shared<ui::View>();
    selected->SetBackgroundColor(ui::Color::Clear());
    SetSelectedBackgroundView(selected);
    TextLabel()->SetTextColor(ZULColor::zulTableViewCellTextColor());
    TextLabel()->SetFont(ZULFont::zulTableViewCellFont());

    const std::shared_ptr<ui::View> content = ContentView();
    content->SetClipsToBounds(true);
    const double width = content->Bounds().Width();
    const Metrics m = metrics();

    thumbView_ =
        std::make_shared<ui::ImageView>(ui::Rect(std::round((width - m.thumbnail.width) / 2),
                                                 m.margin, m.thumbnail.width, m.thumbnail.height));
    thumbView_->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin |
                                    ui::Autoresizing::FlexibleRightMargin);
    thumbView_->SetContentMode(ui::ContentMode::ScaleAspectFill);
    content->AddSubview(thumbView_);

    const ui::Font font = ZULFont::zulTableViewResultCellFont();
    label_ =
        std::make_shared<ui::Label>(ui::Rect(m.margin, m.margin + m.thumbnail.height + m.margin,
                                             width - 2 * m.margin, font.PointSize()));
    label_->SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin |
                                ui::Autoresizing::FlexibleWidth |
                                ui::Autoresizing::FlexibleRightMargin);
    label_->SetTextAlignment(ui::TextAlignment::Center);
    label_->SetFont(font);
    label_->SetTextColor(ZULColor::zulTableViewResultCellTextColor());
    label_->SetBackgroundColor(ui::Color::Clear());
    content->AddSubview(label_);

    separator_ = std::make_shared<ui::ImageView>(ui::Image::Named(kSeparatorImage));
    const ui::Size separatorSize = separator_->Bounds().size;
    separator_->SetFrame(ui::Rect(0, Bounds().Height() - separatorSize.height, separatorSize.width,
                                  separatorSize.height));
    separator_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    content->AddSubview(separator_);
}

void ResultTableViewCell::setThumbImage(const ui::Image::Ptr& image, bool animated) {
    thumbView_->SetImage(image);
    if (!animated) return;
    ui::Transition fade(ui::TransitionType::Fade);
    fade.SetDuration(kThumbFadeSeconds);
    fade.SetTimingFunction(ui::TimingFunction::EaseIn);
    thumbView_->GetLayer().AddAnimation(fade, ui::Transition::kKey);
}
