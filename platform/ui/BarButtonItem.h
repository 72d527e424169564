#ifndef PLATFORM_UI_BAR_BUTTON_ITEM_H
#define PLATFORM_UI_BAR_BUTTON_ITEM_H
// A button on a navigation bar, as an item the bar shows: a title or an image (or a custom view
// shown as it is), a style, an action, enabled, and background images per control state and bar
// metrics; as the back item's back button, its title and back-button background images.
//
// Background images: an item's own image for (state, metrics), else its own for (normal,
// metrics), (state, default), (normal, default); when none of those is set, the same lookup in
// the appearance defaults "for all bar button items" (Appearance()), which the application sets
// once at start. Appearance changes show on bars at their next update.
//
// Items are plain objects owned by std::shared_ptr. A change tells the navigation item holding
// the item (SetChangeListener), which tells its bar. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

// The platform's values.
enum class BarMetrics { Default = 0, LandscapePhone = 1 };
enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };

class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
public:
    using Ptr = std::shared_ptr<BarButtonItem>;
    using Action = std::function<void(BarButtonItem& sender)>;

    // Images per (control state, bar metrics) with the lookup described above.
    class ImageTable {
    public:
        void Set(Image::Ptr image, unsigned state, BarMetrics metrics);
        // Exactly that entry.
        Image::Ptr Get(unsigned state, BarMetrics metrics) const;
        // With the fallbacks; null when none applies.
        Image::Ptr Resolve(unsigned state, BarMetrics metrics) const;
        void Clear() { images_.clear(); }

    private:
        std::map<std::pair<unsigned, BarMetrics>, Image::Ptr> images_;
    };

    // The defaults for all bar button items.
    struct AppearanceDefaults {
        ImageTable backgroundImages;
        ImageTable backButtonBackgroundImages;
        void Reset() {
            backgroundImages.Clear();
            backButtonBackgroundImages.Clear();
        }
    };
    static AppearanceDefaults& Appearance();

    BarButtonItem() = default;
    BarButtonItem(std::string title, BarButtonItemStyle style, Action action = nullptr);
    BarButtonItem(Image::Ptr image, BarButtonItemStyle style, Action action = nullptr);
    explicit BarButtonItem(View::Ptr customView);
    BarButtonItem(const BarButtonItem&) = delete;
    BarButtonItem& operator=(const BarButtonItem&) = delete;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    const Image::Ptr& GetImage() const { return image_; }
    void SetImage(Image::Ptr image);
    BarButtonItemStyle Style() const { return style_; }
    void SetStyle(BarButtonItemStyle style);
    // Null: tapping does nothing.
    const Action& GetAction() const { return action_; }
    void SetAction(Action action);
    const View::Ptr& CustomView() const { return customView_; }
    void SetCustomView(View::Ptr view);
    bool IsEnabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    // The item's own images (SetBackgroundImage(nullptr, ...) removes one).
    void SetBackgroundImage(Image::Ptr image, unsigned state, BarMetrics metrics);
    Image::Ptr BackgroundImage(unsigned state, BarMetrics metrics) const;
    void SetBackButtonBackgroundImage(Image::Ptr image, unsigned state, BarMetrics metrics);
    Image::Ptr BackButtonBackgroundImage(unsigned state, BarMetrics metrics) const;
    // What a bar shows: the item's own, else the appearance defaults (see above).
    Image::Ptr EffectiveBackgroundImage(unsigned state, BarMetrics metrics) const;
    Image::Ptr EffectiveBackButtonBackgroundImage(unsigned state, BarMetrics metrics) const;

    // A tap on the item: runs the action when enabled; false when nothing ran.
    bool Press();

    // For the navigation item holding this item: called after every change.
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    void Changed();

    std::string title_;
    Image::Ptr image_;
    BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
    Action action_;
    View::Ptr customView_;
    bool enabled_ = true;
    int tag_ = 0;
    ImageTable backgrounds_;
    ImageTable backButtonBackgrounds_;
    std::function<void()> listener_;
};

}  // namespace ui

#endif  // PLATFORM_UI_BAR_BUTTON_ITEM_H
