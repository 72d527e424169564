#include "platform/ui/BarButtonItem.h"

namespace ui {

void BarButtonItem::ImageTable::Set(Image::Ptr image, unsigned state, BarMetrics metrics) {
    if (image) {
        images_[{state, metrics}] = std::move(image);
    } else {
        images_.erase({state, metrics});
    }
}

Image::Ptr BarButtonItem::ImageTable::Get(unsigned state, BarMetrics metrics) const {
    auto it = images_.find({state, metrics});
    return it == images_.end() ? nullptr : it->second;
}

Image::Ptr BarButtonItem::ImageTable::Resolve(unsigned state, BarMetrics metrics) const {
    const std::pair<unsigned, BarMetrics> order[] = {{state, metrics},
                                                     {ControlState::Normal, metrics},
                                                     {state, BarMetrics::Default},
                                                     {ControlState::Normal, BarMetrics::Default}};
    for (const auto& key : order) {
        auto it = images_.find(key);
        if (it != images_.end()) {
            return it->second;
        }
    }
    return nullptr;
}

BarButtonItem::AppearanceDefaults& BarButtonItem::Appearance() {
    static auto* defaults = new AppearanceDefaults();  // never destroyed
    return *defaults;
}

BarButtonItem::BarButtonItem(std::string title, BarButtonItemStyle style, Action action)
    : title_(std::move(title)), style_(style), action_(std::move(action)) {}

BarButtonItem::BarButtonItem(Image::Ptr image, BarButtonItemStyle style, Action action)
    : image_(std::move(image)), style_(style), action_(std::move(action)) {}

BarButtonItem::BarButtonItem(View::Ptr customView) : customView_(std::move(customView)) {}

void BarButtonItem::Changed() {
    if (listener_) {
        std::function<void()> listener = listener_;  // it may replace itself
        listener();
    }
}

void BarButtonItem::SetTitle(const std::string& title) {
    if (title == title_) {
        return;
    }
    title_ = title;
    Changed();
}

void BarButtonItem::SetImage(Image::Ptr image) {
    if (image == image_) {
        return;
    }
    image_ = std::move(image);
    Changed();
}

void BarButtonItem::SetStyle(BarButtonItemStyle style) {
    if (style == style_) {
        return;
    }
    style_ = style;
    Changed();
}

void BarButtonItem::SetAction(Action action) { action_ = std::move(action); }

void BarButtonItem::SetCustomView(View::Ptr view) {
    if (view == customView_) {
        return;
    }
    customView_ = std::move(view);
    Changed();
}

void BarButtonItem::SetEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    Changed();
}

void BarButtonItem::SetBackgroundImage(Image::Ptr image, unsigned state, BarMetrics metrics) {
    backgrounds_.Set(std::move(image), state, metrics);
    Changed();
}

Image::Ptr BarButtonItem::BackgroundImage(unsigned state, BarMetrics metrics) const {
    return backgrounds_.Get(state, metrics);
}

void BarButtonItem::SetBackButtonBackgroundImage(Image::Ptr image, unsigned state,
                                                 BarMetrics metrics) {
    backButtonBackgrounds_.Set(std::move(image), state, metrics);
    Changed();
}

Image::Ptr BarButtonItem::BackButtonBackgroundImage(unsigned state, BarMetrics metrics) const {
    return backButtonBackgrounds_.Get(state, metrics);
}

Image::Ptr BarButtonItem::EffectiveBackgroundImage(unsigned state, BarMetrics metrics) const {
    Image::Ptr own = backgrounds_.Resolve(state, metrics);
    return own ? own : Appearance().backgroundImages.Resolve(state, metrics);
}

Image::Ptr BarButtonItem::EffectiveBackButtonBackgroundImage(unsigned state,
                                                             BarMetrics metrics) const {
    Image::Ptr own = backButtonBackgrounds_.Resolve(state, metrics);
    return own ? own : Appearance().backButtonBackgroundImages.Resolve(state, metrics);
}

bool BarButtonItem::Press() {
    if (!enabled_ || !action_) {
        return false;
    }
    std::shared_ptr<BarButtonItem> keep = weak_from_this().lock();
    Action action = action_;  // the action may replace itself (show / hide menu)
    action(*this);
    return true;
}

}  // namespace ui
