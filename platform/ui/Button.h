#ifndef PLATFORM_UI_BUTTON_H
#define PLATFORM_UI_BUTTON_H
// A control with a title, an image and a background image per state. A state without its own
// value uses the normal state's, as the platform does. The current title and image are shown
// by two subviews the button makes when first needed (after it is owned by a shared_ptr): a
// title label and an image view, image left of title, the pair centred in the bounds; the
// background image fills the bounds (the renderer draws it). The subviews take no touches, so
// a touch lands on the button.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

namespace ui {

enum class ButtonType { Custom = 0, RoundedRect = 1 };

class Button : public Control {
public:
    explicit Button(const Rect& frame = Rect(), ButtonType type = ButtonType::Custom);
    const char* ClassName() const override { return "Button"; }

    ButtonType GetButtonType() const { return type_; }

    // Per state (a ControlState combination).
    void SetTitle(const std::optional<std::string>& title, unsigned state);
    std::optional<std::string> TitleForState(unsigned state) const;
    // White for a custom button, a dark blue for a rounded one, unless set.
    void SetTitleColor(const std::optional<Color>& color, unsigned state);
    std::optional<Color> TitleColorForState(unsigned state) const;
    // None unless set.
    void SetTitleShadowColor(const std::optional<Color>& color, unsigned state);
    std::optional<Color> TitleShadowColorForState(unsigned state) const;
    void SetImage(Image::Ptr image, unsigned state);
    Image::Ptr ImageForState(unsigned state) const;
    void SetBackgroundImage(Image::Ptr image, unsigned state);
    Image::Ptr BackgroundImageForState(unsigned state) const;

    // For the current State().
    std::string CurrentTitle() const;
    std::optional<Color> CurrentTitleColor() const;
    std::optional<Color> CurrentTitleShadowColor() const;
    Image::Ptr CurrentImage() const;
    Image::Ptr CurrentBackgroundImage() const;

    // The subviews (null until the button is owned by a shared_ptr). The title label's font
    // and shadow offset are the button's to set.
    std::shared_ptr<Label> TitleLabel();
    std::shared_ptr<ui::ImageView> GetImageView();
    // Whether view is one of those two (inspectors leave them out: the button shows their
    // content itself). Makes nothing.
    bool IsOwnSubview(const View& view) const {
        return &view == titleLabel_.get() || &view == imageView_.get();
    }

    bool ReversesTitleShadowWhenHighlighted() const { return reversesTitleShadow_; }
    void SetReversesTitleShadowWhenHighlighted(bool reverses);
    bool ShowsTouchWhenHighlighted() const { return showsTouch_; }
    void SetShowsTouchWhenHighlighted(bool shows);

    void LayoutSubviews() override;
    // Image width + title width, the taller of the two.
    Size SizeThatFits(const Size& size) const override;

protected:
    void StateDidChange() override { UpdateContent(); }

private:
    template <typename T>
    static std::optional<T> Lookup(const std::map<unsigned, T>& values, unsigned state);
    template <typename T>
    void Store(std::map<unsigned, T>& values, const std::optional<T>& value, unsigned state);
    bool EnsureSubviews();
    void UpdateContent();

    ButtonType type_;
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, Color> titleColors_;
    std::map<unsigned, Color> titleShadowColors_;
    std::map<unsigned, Image::Ptr> images_;
    std::map<unsigned, Image::Ptr> backgroundImages_;
    bool reversesTitleShadow_ = false;
    bool showsTouch_ = false;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<ui::ImageView> imageView_;
};

}  // namespace ui

#endif  // PLATFORM_UI_BUTTON_H
