#include "platform/ui/NavigationItem.h"

namespace ui {

NavigationItem::NavigationItem(std::string title) : title_(std::move(title)) {}

void NavigationItem::Changed() {
    if (listener_) {
        std::function<void()> listener = listener_;  // it may replace itself
        listener();
    }
}

void NavigationItem::Adopt(const BarButtonItem::Ptr& item) {
    if (!item) {
        return;
    }
    std::weak_ptr<NavigationItem> self = weak_from_this();
    item->SetChangeListener([self] {
        if (Ptr item = self.lock()) {
            item->Changed();
        }
    });
}

void NavigationItem::Release(const BarButtonItem::Ptr& item) {
    if (item && item != left_ && item != right_ && item != back_) {
        item->SetChangeListener(nullptr);
    }
}

void NavigationItem::ReplaceItem(BarButtonItem::Ptr& slot, BarButtonItem::Ptr item) {
    if (item == slot) {
        return;
    }
    BarButtonItem::Ptr old = std::move(slot);
    slot = std::move(item);
    Release(old);
    Adopt(slot);
    Changed();
}

void NavigationItem::SetTitle(const std::string& title) {
    if (title == title_) {
        return;
    }
    title_ = title;
    Changed();
}

void NavigationItem::SetTitleView(View::Ptr view) {
    if (view == titleView_) {
        return;
    }
    titleView_ = std::move(view);
    Changed();
}

void NavigationItem::SetLeftBarButtonItem(BarButtonItem::Ptr item) {
    ReplaceItem(left_, std::move(item));
}

void NavigationItem::SetRightBarButtonItem(BarButtonItem::Ptr item) {
    ReplaceItem(right_, std::move(item));
}

void NavigationItem::SetBackBarButtonItem(BarButtonItem::Ptr item) {
    ReplaceItem(back_, std::move(item));
}

void NavigationItem::SetHidesBackButton(bool hides) {
    if (hides == hidesBackButton_) {
        return;
    }
    hidesBackButton_ = hides;
    Changed();
}

}  // namespace ui
