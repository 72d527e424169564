#ifndef PLATFORM_UI_NAVIGATION_BAR_H
#define PLATFORM_UI_NAVIGATION_BAR_H
// A bar that shows the top of a stack of navigation items: the top item's title (or title view)
// in the middle, its right bar button item on the right, and on the left its left bar button
// item or, when there is a level below and the top item does not hide it, a back button named
// after the item below (its back bar button item's title, else its title, else "Back").
// Tapping the back button (TapBackButton, or a touch on the back Button) pops the top item.
//
// Push and pop ask the delegate (held weakly) first: ShouldPushItem / ShouldPopItem, and a no
// changes nothing; after the change, DidPushItem / DidPopItem. Pushing an item already on the
// stack does nothing. Animated changes are made inside a 0.3 s block animation.
//
// The shown pieces are subviews (made once the bar is owned by a shared_ptr): a bar button
// item shows as its custom view, else as a Button with its title or image, enabled state and
// background images for the current bar metrics; the title as a Label (bold system font 20,
// white, centred). The bar metrics are LandscapePhone while the bar is less than 44 high (and
// not empty), else Default. Layout in the bar's bounds (w x h): item buttons are 30 high (24
// for LandscapePhone), as wide as their content (Button::SizeThatFits) plus 20, vertically
// centred; custom and title views keep their size; the left piece 5 from the left edge, the
// right one 5 from the right edge, the title centred; all frames rounded to whole points.
// SizeThatFits keeps the width and is 44 high, 32 on a phone in landscape (ScreenMetrics).

#include <memory>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationItem.h"

namespace ui {

class NavigationBar;

// Every answer defaults to yes and every call to nothing.
class NavigationBarDelegate {
public:
    virtual ~NavigationBarDelegate() = default;
    virtual bool ShouldPushItem(NavigationBar& bar, NavigationItem& item);
    virtual void DidPushItem(NavigationBar& bar, NavigationItem& item);
    virtual bool ShouldPopItem(NavigationBar& bar, NavigationItem& item);
    virtual void DidPopItem(NavigationBar& bar, NavigationItem& item);
};

class NavigationBar : public View {
public:
    explicit NavigationBar(const Rect& frame = Rect());
    ~NavigationBar() override;
    const char* ClassName() const override { return "NavigationBar"; }

    // Bottom first.
    const std::vector<NavigationItem::Ptr>& Items() const { return items_; }
    NavigationItem::Ptr TopItem() const;
    // The item below the top one; null with fewer than two.
    NavigationItem::Ptr BackItem() const;
    // False when the item is null, already on the stack, or the delegate refuses.
    bool PushNavigationItem(NavigationItem::Ptr item, bool animated);
    // The popped item; null when the stack is empty or the delegate refuses.
    NavigationItem::Ptr PopNavigationItem(bool animated);
    // What a tap on the back button does; false when no back button shows or the pop failed.
    bool TapBackButton();

    std::shared_ptr<NavigationBarDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<NavigationBarDelegate>& delegate) {
        delegate_ = delegate;
    }

    void SetBackgroundImage(Image::Ptr image, BarMetrics metrics);
    Image::Ptr BackgroundImage(BarMetrics metrics) const;
    BarMetrics CurrentBarMetrics() const;
    // For the current metrics, else the default metrics' image.
    Image::Ptr CurrentBackgroundImage() const;

    // The shown pieces; null when not shown.
    View::Ptr LeftItemView() const { return leftView_; }
    View::Ptr RightItemView() const { return rightView_; }
    View::Ptr TitleItemView() const { return titleView_; }
    // The back button while it shows.
    std::shared_ptr<Button> BackButton() const;

    void LayoutSubviews() override;
    Size SizeThatFits(const Size& size) const override;

private:
    bool EnsurePieces();
    // Shows the top item's pieces and places them.
    void UpdateContent();
    View::Ptr ShowItem(const std::shared_ptr<Button>& button, const BarButtonItem& item,
                       BarMetrics metrics);
    void ShowBackButton(const NavigationItem& below, BarMetrics metrics);
    void Swap(View::Ptr& slot, const View::Ptr& view);
    void PlacePieces();
    void Listen(const NavigationItem::Ptr& item);

    std::vector<NavigationItem::Ptr> items_;
    std::weak_ptr<NavigationBarDelegate> delegate_;
    Image::Ptr backgroundDefault_;
    Image::Ptr backgroundLandscapePhone_;
    std::shared_ptr<Button> leftButton_;
    std::shared_ptr<Button> rightButton_;
    std::shared_ptr<Button> backButton_;
    std::shared_ptr<Label> titleLabel_;
    View::Ptr leftView_;
    View::Ptr rightView_;
    View::Ptr titleView_;
};

}  // namespace ui

#endif  // PLATFORM_UI_NAVIGATION_BAR_H
