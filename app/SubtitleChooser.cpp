#include "app/SubtitleChooser.h"

#include "platform/core/LogWriter.h"
#include "platform/ui/Color.h"
#include "platform/ui/Font.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

std::shared_ptr<SubtitleChooser> SubtitleChooser::initWithSubtitles(
    const std::vector<SubtitleLanguageObject>& subtitles, const ui::Rect& frame) {
    auto chooser = std::make_shared<SubtitleChooser>(Key{}, subtitles, frame);
    chooser->setupView();
    return chooser;
}

SubtitleChooser::SubtitleChooser(Key, const std::vector<SubtitleLanguageObject>& subtitles,
                                 const ui::Rect& frame)
    : ui::View(frame), subtitles_(subtitles), numOfitems_(static_cast<int>(subtitles.size())) {
    ns::Log("[Q-SC] num of items: %i", numOfitems_);
}

int SubtitleChooser::componentHeight() const {
    return numOfitems_ * static_cast<int>(kItemHeight) + static_cast<int>(kArrowSpace);
}

void SubtitleChooser::setupView() {
    const double panelHeight = numOfitems_ * kItemHeight;
    auto panel = std::make_shared<ui::View>(ui::Rect(0, 0, kWidth, panelHeight));
    panel->SetBackgroundColor(ui::Color::FromRGB255(28, 39, 43));
    panel->SetOpaque(true);
    panel->GetLayer().SetCornerRadius(kCornerRadius);
    AddSubview(panel);

    auto arrow = std::make_shared<ui::ImageView>(
        ui::Rect(kWidth / 2 - 8, panelHeight, kArrowWidth, kArrowHeight));
    arrow->SetImage(ui::Image::Named("arrow.png"));
    AddSubview(arrow);

    for (size_t i = 0; i < subtitles_.size(); ++i) setupItem(i);
}

void SubtitleChooser::setupItem(size_t index) {
    ns::Log("[Q-SC] setupItem");
    auto button = std::make_shared<ui::Button>(
        ui::Rect(0, static_cast<double>(index) * kItemHeight, kWidth, kItemHeight),
        ui::ButtonType::Custom);
    button->SetTag(static_cast<int>(index));
    button->SetTitle(subtitles_[index].label, ui::ControlState::Normal);
    button->SetTitleColor(ui::Color::White(), ui::ControlState::Normal);
    button->SetBackgroundColor(ui::Color::Clear());
    button->TitleLabel()->SetTextAlignment(ui::TextAlignment::Center);
    button->TitleLabel()->SetFont(ui::Font::Named("Arial-BoldMT", 16));
    button->SetReversesTitleShadowWhenHighlighted(true);
    button->SetShowsTouchWhenHighlighted(true);
    // Weak: the chooser owns its buttons.
    std::weak_ptr<SubtitleChooser> self =
        std::static_pointer_cast<SubtitleChooser>(shared_from_this());
    button->AddTarget(
        this,
        [self](ui::Control& sender) {
            if (auto chooser = self.lock()) {
                chooser->itemsTabHandler(static_cast<const ui::Button&>(sender));
            }
        },
        ui::ControlEvent::TouchUpInside);
    AddSubview(button);
}

void SubtitleChooser::itemsTabHandler(const ui::Button& button) {
    const int tag = button.Tag();
    if (tag < 0 || tag >= numOfitems_) return;
    if (auto delegate = delegate_.lock()) {
        delegate->changeSubtitle(subtitles_[static_cast<size_t>(tag)].language);
    }
}
