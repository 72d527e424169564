#ifndef PLATFORM_UI_TEXT_FIELD_H
#define PLATFORM_UI_TEXT_FIELD_H
// A one-line text input: text, placeholder, font, colour, alignment, secure entry, border
// style, clear button, background image, and a delegate held weakly.
//
// Editing is being first responder (Responder.h): a touch that ends inside an enabled field,
// or BecomeFirstResponder, asks the delegate's ShouldBeginEditing, then the field tells
// DidBeginEditing and sends EditingDidBegin; resigning tells DidEndEditing and sends
// EditingDidEnd. A field resigns when it is disabled or leaves its superview or its window.
//
// Typing (the test driver and the renderer call these; they do nothing unless the field is
// editing and enabled, and answer whether the text changed or the key was taken):
//   InsertText replaces the selection (at first the caret after the last character) and
//       DeleteBackward the selection or the character before the caret; both ask
//       ShouldChangeCharacters(range, replacement) first (a no keeps the text) and send
//       EditingChanged after a change;
//   PressReturn asks ShouldReturn (yes without a delegate); a yes sends EditingDidEndOnExit,
//       and the field resigns when some target listens for that event;
//   PressClearButton works while the clear button shows, asks ShouldClear, empties the text
//       and sends EditingChanged; a tap that ends on the shown clear button presses it;
//   DeleteForward deletes the selection or the character after the caret, as DeleteBackward;
//   MoveCaret and SelectAll change only the selection (no delegate is asked).
// The caret is the end of the selection that keys move: its start after a selection made
// leftwards, else its end. Moving without extending collapses a selection: Left to its start,
// Right to its end, Home and End to the text's ends. Extending keeps the other end (the anchor)
// where it is, so Shift+Left after Shift+Right shrinks the selection again.
// SetText changes the text without asking or telling anyone and puts the caret at its end.
// Ranges count code points, the way TextMeasure does.
//
// Default geometry (subclasses override the rect methods, all in the given bounds' space):
//   padding: none 0, line and bezel borders 2, a rounded rectangle 7, left and right;
//   ClearButtonRectForBounds: a 19-point square, vertically centred, 6 points in from the
//       right edge (whether or not it shows);
//   TextRectForBounds / EditingRectForBounds: the bounds' full height, from the left padding
//       to the right padding, or to the clear button's left edge when the clear button mode
//       shows it in that state (not editing / editing);
//   PlaceholderRectForBounds: TextRectForBounds.

#include <memory>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Font.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/Responder.h"

namespace ui {

enum class TextBorderStyle { None = 0, Line = 1, Bezel = 2, RoundedRect = 3 };
enum class TextFieldViewMode { Never = 0, WhileEditing = 1, UnlessEditing = 2, Always = 3 };
// Where a caret key takes the caret: a character back or on, or the start or end of the text.
enum class CaretMovement { Left, Right, Home, End };

// A run of code points.
struct TextRange {
    size_t location = 0;
    size_t length = 0;

    TextRange() = default;
    TextRange(size_t loc, size_t len) : location(loc), length(len) {}
    bool operator==(const TextRange& o) const {
        return location == o.location && length == o.length;
    }
};

class TextField;

// Every answer defaults to yes and every call to nothing.
class TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    virtual bool ShouldBeginEditing(TextField& field);
    virtual void DidBeginEditing(TextField& field);
    virtual bool ShouldReturn(TextField& field);
    virtual bool ShouldChangeCharacters(TextField& field, const TextRange& range,
                                        const std::string& replacement);
    virtual void DidEndEditing(TextField& field);
    virtual bool ShouldClear(TextField& field);
};

class TextField : public Control, public Responder {
public:
    explicit TextField(const Rect& frame = Rect());
    const char* ClassName() const override { return "TextField"; }

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    const std::string& Placeholder() const { return placeholder_; }
    void SetPlaceholder(const std::string& placeholder);
    // The system font at 12 unless set.
    const Font& GetFont() const { return font_; }
    void SetFont(const Font& font);
    // Black unless set.
    const Color& TextColor() const { return textColor_; }
    void SetTextColor(const Color& color);
    TextAlignment GetTextAlignment() const { return alignment_; }
    void SetTextAlignment(TextAlignment alignment);
    bool IsSecureTextEntry() const { return secure_; }
    void SetSecureTextEntry(bool secure);
    TextBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TextBorderStyle style);
    TextFieldViewMode ClearButtonMode() const { return clearButtonMode_; }
    void SetClearButtonMode(TextFieldViewMode mode);
    // The image drawn behind the text (none unless set).
    const Image::Ptr& Background() const { return background_; }
    void SetBackground(Image::Ptr image);

    std::shared_ptr<TextFieldDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<TextFieldDelegate>& delegate) { delegate_ = delegate; }

    bool IsEditing() const { return IsFirstResponder(); }
    const TextRange& SelectedRange() const { return selection_; }
    // Clamped to the text; the caret goes to its end.
    void SetSelectedRange(const TextRange& range);
    // The position of the caret in code points (see above).
    size_t CaretPosition() const;
    // The characters selected; empty without a selection.
    std::string SelectedText() const;

    bool InsertText(const std::string& text);
    bool DeleteBackward();
    bool DeleteForward();
    // Each answers whether the selection changed (nothing changes unless editing and enabled).
    bool MoveCaret(CaretMovement movement, bool extend);
    bool SelectAll();
    bool PressReturn();
    bool PressClearButton();
    // Whether the clear button shows now (there is text, and the mode shows it in this state).
    bool IsClearButtonShown() const;

    virtual Rect TextRectForBounds(const Rect& bounds) const;
    virtual Rect EditingRectForBounds(const Rect& bounds) const;
    virtual Rect PlaceholderRectForBounds(const Rect& bounds) const;
    virtual Rect ClearButtonRectForBounds(const Rect& bounds) const;
    // Where the text (or, for an empty field, the placeholder) is drawn now, in the bounds.
    Rect DisplayedTextRect() const;

    // Whether an edit-menu action ("cut:", "copy:", "select:", "selectAll:", "paste:",
    // "delete:") can be offered now. By content, as the platform does: cut needs editing and a
    // selection, copy a selection, both a field that is not secure; paste needs editing (the
    // model keeps no pasteboard); select needs editing, text and no selection; selectAll
    // editing and text not all selected; delete editing and a selection. Anything else: no.
    virtual bool CanPerformAction(const std::string& action) const;

    // Responder
    bool CanBecomeFirstResponder() const override { return IsEnabled(); }
    bool ShowsKeyboard() const override { return true; }

    void TouchesEnded(const Point& point) override;

protected:
    View& ResponderView() override { return *this; }
    const View& ResponderView() const override { return *this; }
    bool ShouldBecomeFirstResponder() override;
    void DidBecomeFirstResponder() override;
    void DidResignFirstResponder() override;
    void StateDidChange() override;
    void DidMoveToSuperview() override;
    void DidMoveToWindow() override;

private:
    bool ReplaceCharacters(const TextRange& range, const std::string& replacement);
    void SetSelection(size_t anchor, size_t caret);
    double Padding() const;
    bool ClearButtonModeShows(bool editing) const;
    Rect RectBeforeClearButton(const Rect& bounds, bool editing) const;

    std::string text_;
    std::string placeholder_;
    Font font_ = Font::SystemFont(12);
    Color textColor_ = Color::Black();
    TextAlignment alignment_ = TextAlignment::Left;
    bool secure_ = false;
    TextBorderStyle borderStyle_ = TextBorderStyle::None;
    TextFieldViewMode clearButtonMode_ = TextFieldViewMode::Never;
    Image::Ptr background_;
    TextRange selection_;
    bool caretAtStart_ = false;  // the selection was made leftwards
    std::weak_ptr<TextFieldDelegate> delegate_;
};

}  // namespace ui

#endif  // PLATFORM_UI_TEXT_FIELD_H
