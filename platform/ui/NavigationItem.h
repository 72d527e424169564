#ifndef PLATFORM_UI_NAVIGATION_ITEM_H
#define PLATFORM_UI_NAVIGATION_ITEM_H
// What a navigation bar shows for one level of its stack: a title or a title view, left and
// right bar button items, the back bar button item shown (by the next level's bar) to return
// here, and whether this level hides the back button.
//
// Items are plain objects owned by std::shared_ptr. A change (also one of its bar button items)
// tells the bar holding the item (SetChangeListener). Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationItem : public std::enable_shared_from_this<NavigationItem> {
public:
    using Ptr = std::shared_ptr<NavigationItem>;

    explicit NavigationItem(std::string title = {});
    NavigationItem(const NavigationItem&) = delete;
    NavigationItem& operator=(const NavigationItem&) = delete;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    // Shown in place of the title when set.
    const View::Ptr& TitleView() const { return titleView_; }
    void SetTitleView(View::Ptr view);
    const BarButtonItem::Ptr& LeftBarButtonItem() const { return left_; }
    void SetLeftBarButtonItem(BarButtonItem::Ptr item);
    const BarButtonItem::Ptr& RightBarButtonItem() const { return right_; }
    void SetRightBarButtonItem(BarButtonItem::Ptr item);
    // Its title (else this item's title) names the back button of the level above.
    const BarButtonItem::Ptr& BackBarButtonItem() const { return back_; }
    void SetBackBarButtonItem(BarButtonItem::Ptr item);
    bool HidesBackButton() const { return hidesBackButton_; }
    void SetHidesBackButton(bool hides);

    // For the bar holding this item: called after every change.
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    void Changed();
    void Adopt(const BarButtonItem::Ptr& item);
    void Release(const BarButtonItem::Ptr& item);
    void ReplaceItem(BarButtonItem::Ptr& slot, BarButtonItem::Ptr item);

    std::string title_;
    View::Ptr titleView_;
    BarButtonItem::Ptr left_;
    BarButtonItem::Ptr right_;
    BarButtonItem::Ptr back_;
    bool hidesBackButton_ = false;
    std::function<void()> listener_;
};

}  // namespace ui

#endif  // PLATFORM_UI_NAVIGATION_ITEM_H
