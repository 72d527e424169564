#ifndef PLATFORM_UI_SEARCH_BAR_H
#define PLATFORM_UI_SEARCH_BAR_H
// A bar with a search field and, while shown, a cancel button, with a delegate held weakly.
//
// Its subviews are the field (a TextField) and, while ShowsCancelButton(), the cancel Button
// (title "Cancel"); both are added when the bar is first used after it is owned by a
// shared_ptr (at the latest when it gets a superview). The field has a rounded border and a
// clear button while editing; its own delegate belongs to the bar. The bar's delegate hears:
//   ShouldBeginEditing when a tap on the field or BecomeFirstResponder would begin editing
//       (a no keeps it from editing);
//   TextDidChange after each change typed into the field (or made by its clear button);
//   SearchButtonClicked on Return;
//   CancelButtonClicked when the cancel button is tapped (a touch that ends inside it).
// SetText changes the text without telling the delegate. The bar is first responder while its
// field is; resigning dismisses the keyboard.
//
// Layout, in the bar's bounds (w x h): the field at x 8, 30 high (at most h) and vertically
// centred, up to 8 before the right edge, or up to 8 before the cancel button, which is 60 x 30
// (at most h), vertically centred, 8 in from the right edge. SizeThatFits: 44 high.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Responder.h"
#include "platform/ui/TextField.h"

namespace ui {

class SearchBar;

// Every answer defaults to yes and every call to nothing.
class SearchBarDelegate {
public:
    virtual ~SearchBarDelegate() = default;
    virtual bool ShouldBeginEditing(SearchBar& bar);
    virtual void TextDidChange(SearchBar& bar, const std::string& text);
    virtual void SearchButtonClicked(SearchBar& bar);
    virtual void CancelButtonClicked(SearchBar& bar);
};

class SearchBar : public View, public Responder {
public:
    explicit SearchBar(const Rect& frame = Rect());
    ~SearchBar() override;
    const char* ClassName() const override { return "SearchBar"; }

    const std::string& Text() const { return field_->Text(); }
    void SetText(const std::string& text);
    const std::string& Placeholder() const { return field_->Placeholder(); }
    void SetPlaceholder(const std::string& placeholder);

    bool ShowsCancelButton() const { return showsCancel_; }
    void SetShowsCancelButton(bool show, bool animated = false);

    // None unless set.
    const std::optional<Color>& TintColor() const { return tint_; }
    void SetTintColor(const std::optional<Color>& color);
    const Image::Ptr& BackgroundImage() const { return backgroundImage_; }
    void SetBackgroundImage(Image::Ptr image);

    std::shared_ptr<SearchBarDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<SearchBarDelegate>& delegate) { delegate_ = delegate; }

    // The field (its font, colours and typing calls are the caller's to use) and the cancel
    // button (made when first shown; null before).
    const std::shared_ptr<TextField>& SearchField();
    const std::shared_ptr<Button>& CancelButton() const { return cancel_; }

    // Responder: the bar answers for its field.
    bool CanBecomeFirstResponder() const override;
    bool BecomeFirstResponder() override;
    bool ResignFirstResponder() override;
    bool IsFirstResponder() const override;
    bool ShowsKeyboard() const override { return true; }

    void LayoutSubviews() override;
    Size SizeThatFits(const Size& size) const override;

protected:
    View& ResponderView() override { return *this; }
    const View& ResponderView() const override { return *this; }
    void DidMoveToSuperview() override;

private:
    class FieldDelegate;

    void EnsureSubviews();
    void PlaceSubviews();

    std::shared_ptr<TextField> field_;
    std::shared_ptr<FieldDelegate> fieldDelegate_;
    std::shared_ptr<Button> cancel_;
    bool subviewsAdded_ = false;
    bool showsCancel_ = false;
    std::optional<Color> tint_;
    Image::Ptr backgroundImage_;
    std::weak_ptr<SearchBarDelegate> delegate_;
};

}  // namespace ui

#endif  // PLATFORM_UI_SEARCH_BAR_H
