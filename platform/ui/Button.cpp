#include "platform/ui/Button.h"

#include <algorithm>
#include <cmath>

namespace ui {

Button::Button(const Rect& frame, ButtonType type) : Control(frame), type_(type) {
    titleColors_[ControlState::Normal] =
        type == ButtonType::Custom ? Color::White() : Color::FromRGB255(50, 79, 133);
}

template <typename T>
std::optional<T> Button::Lookup(const std::map<unsigned, T>& values, unsigned state) {
    auto it = values.find(state);
    if (it == values.end()) {
        it = values.find(ControlState::Normal);
    }
    if (it == values.end()) {
        return std::nullopt;
    }
    return it->second;
}

template <typename T>
void Button::Store(std::map<unsigned, T>& values, const std::optional<T>& value, unsigned state) {
    if (value) {
        values[state] = *value;
    } else {
        values.erase(state);
    }
    NoteChange();
    UpdateContent();
}

void Button::SetTitle(const std::optional<std::string>& title, unsigned state) {
    Store(titles_, title, state);
}

std::optional<std::string> Button::TitleForState(unsigned state) const {
    return Lookup(titles_, state);
}

void Button::SetTitleColor(const std::optional<Color>& color, unsigned state) {
    Store(titleColors_, color, state);
}

std::optional<Color> Button::TitleColorForState(unsigned state) const {
    return Lookup(titleColors_, state);
}

void Button::SetTitleShadowColor(const std::optional<Color>& color, unsigned state) {
    Store(titleShadowColors_, color, state);
}

std::optional<Color> Button::TitleShadowColorForState(unsigned state) const {
    return Lookup(titleShadowColors_, state);
}

void Button::SetImage(Image::Ptr image, unsigned state) {
    Store(images_, image ? std::optional<Image::Ptr>(image) : std::nullopt, state);
}

Image::Ptr Button::ImageForState(unsigned state) const {
    return Lookup(images_, state).value_or(nullptr);
}

void Button::SetBackgroundImage(Image::Ptr image, unsigned state) {
    Store(backgroundImages_, image ? std::optional<Image::Ptr>(image) : std::nullopt, state);
}

Image::Ptr Button::BackgroundImageForState(unsigned state) const {
    return Lookup(backgroundImages_, state).value_or(nullptr);
}

std::string Button::CurrentTitle() const { return TitleForState(State()).value_or(""); }
std::optional<Color> Button::CurrentTitleColor() const { return TitleColorForState(State()); }
std::optional<Color> Button::CurrentTitleShadowColor() const {
    return TitleShadowColorForState(State());
}
Image::Ptr Button::CurrentImage() const { return ImageForState(State()); }
Image::Ptr Button::CurrentBackgroundImage() const { return BackgroundImageForState(State()); }

void Button::SetReversesTitleShadowWhenHighlighted(bool reverses) {
    if (reverses == reversesTitleShadow_) {
        return;
    }
    reversesTitleShadow_ = reverses;
    NoteChange();
}

void Button::SetShowsTouchWhenHighlighted(bool shows) {
    if (shows == showsTouch_) {
        return;
    }
    showsTouch_ = shows;
    NoteChange();
}

bool Button::EnsureSubviews() {
    if (titleLabel_) {
        return true;
    }
    if (weak_from_this().expired()) {
        return false;  // still being made: the subviews come with the first use afterwards
    }
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->SetTextAlignment(TextAlignment::Center);
    titleLabel_->SetFont(Font::BoldSystemFont(15));
    imageView_ = std::make_shared<ui::ImageView>();
    imageView_->SetContentMode(ContentMode::Center);
    AddSubview(imageView_);
    AddSubview(titleLabel_);
    UpdateContent();
    return true;
}

std::shared_ptr<Label> Button::TitleLabel() {
    EnsureSubviews();
    return titleLabel_;
}

std::shared_ptr<ui::ImageView> Button::GetImageView() {
    EnsureSubviews();
    return imageView_;
}

void Button::UpdateContent() {
    if (!EnsureSubviews()) {
        return;
    }
    std::string title = CurrentTitle();
    titleLabel_->SetText(title);
    titleLabel_->SetHidden(title.empty());
    titleLabel_->SetTextColor(CurrentTitleColor().value_or(Color::White()));
    titleLabel_->SetShadowColor(CurrentTitleShadowColor());
    Image::Ptr image = CurrentImage();
    imageView_->SetImage(image);
    imageView_->SetHidden(image == nullptr);
    SetNeedsLayout();
}

void Button::LayoutSubviews() {
    if (!EnsureSubviews()) {
        return;
    }
    const Size bounds = Bounds().size;
    Image::Ptr image = CurrentImage();
    Size imageSize = image ? image->GetSize() : Size();
    Size titleSize = titleLabel_->Text().empty() ? Size() : titleLabel_->SizeThatFits(bounds);
    titleSize.width = std::max(0.0, std::min(titleSize.width, bounds.width - imageSize.width));
    double x = (bounds.width - imageSize.width - titleSize.width) / 2;
    imageView_->SetFrame(
        Rect(x, (bounds.height - imageSize.height) / 2, imageSize.width, imageSize.height).Round());
    titleLabel_->SetFrame(Rect(x + imageSize.width, (bounds.height - titleSize.height) / 2,
                               titleSize.width, titleSize.height)
                              .Round());
}

Size Button::SizeThatFits(const Size& size) const {
    Image::Ptr image = CurrentImage();
    Size imageSize = image ? image->GetSize() : Size();
    Size titleSize;
    if (titleLabel_ && !CurrentTitle().empty()) {
        titleSize = titleLabel_->SizeThatFits(size);
    }
    return Size(imageSize.width + titleSize.width, std::max(imageSize.height, titleSize.height));
}

}  // namespace ui
