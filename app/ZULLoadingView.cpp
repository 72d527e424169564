#include "app/ZULLoadingView.h"

#include <algorithm>
#include <cmath>

#include "app/ZULColor.h"
#include "app/ZULFont.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Image.h"

ZULLoadingView::ZULLoadingView(const ui::Rect& frame)
    : ui::View(frame),
      spinner_(std::make_shared<ui::ImageView>(ui::Image::Named("Spinner-Loading"))),
      label_(std::make_shared<ui::Label>()) {
    SetBackgroundColor(ui::Color::Clear());
    SetAutoresizingMask(ui::Autoresizing::FlexibleLeftMargin | ui::Autoresizing::FlexibleWidth |
                        ui::Autoresizing::FlexibleRightMargin);
    SetClipsToBounds(true);

    label_->SetTextAlignment(ui::TextAlignment::Center);
    label_->SetFont(ZULFont::zulTableViewResultLoadingCellFont());
    label_->SetTextColor(ZULColor::zulTableViewResultLoadingCellTextColor());
    label_->SetBackgroundColor(ui::Color::Clear());
    label_->SetShadowColor(ui::Color::Black());
    label_->SetShadowOffset(ui::Size(0, 1));
    // The spinner first, then the text.
    AddSubview(spinner_);
    AddSubview(label_);

    foregroundObserver_ = ns::NotificationCenter::Default().AddObserver(
        ui::kApplicationWillEnterForegroundNotification,
        [this](const ns::Notification&) { handleApplicationWillEnterForegroundNotification(); });
}

ZULLoadingView::~ZULLoadingView() {
    ns::NotificationCenter::Default().RemoveObserver(foregroundObserver_);
}

void ZULLoadingView::setLoadingText(const std::string& text) {
    label_->SetText(text);
    SetNeedsLayout();
}

void ZULLoadingView::LayoutSubviews() {
    const double width = Bounds().Width();
    const double height = Bounds().Height();
    const ui::Size spinner = spinner_->Bounds().size;

    label_->SizeToFit();
    // The text gives way to the spinner and the gap; with no room at all it shows nothing.
    const double labelWidth =
        std::max(0.0, std::min(label_->Bounds().Width(), width - spinner.width - kGap));
    const double labelHeight = label_->Bounds().Height();
    const ui::Rect labelFrame = ui::Rect((width - labelWidth - spinner.width - kGap) / 2,
                                         (height - labelHeight) / 2, labelWidth, labelHeight)
                                    .Round();
    label_->SetFrame(labelFrame);
    spinner_->SetFrame(ui::Rect(labelFrame.MaxX() + kGap, (height - spinner.height) / 2,
                                spinner.width, spinner.height)
                           .Round());
}

void ZULLoadingView::addSpinAnimation() {
    ui::BasicAnimation spin("transform.rotation");
    spin.SetFromValue(0.0);
    spin.SetToValue(2 * M_PI);
    spin.SetDuration(1);
    spin.SetRepeatCount(HUGE_VALF);
    spinner_->GetLayer().AddAnimation(spin, kSpinAnimationKey);
}

void ZULLoadingView::startSpin() {
    addSpinAnimation();
    isSpinning_ = true;
}

void ZULLoadingView::cancelSpin() {
    spinner_->GetLayer().RemoveAnimation(kSpinAnimationKey);
    isSpinning_ = false;
}

void ZULLoadingView::handleApplicationWillEnterForegroundNotification() {
    if (isSpinning_) addSpinAnimation();
}
