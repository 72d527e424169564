#include "platform/ui/TextField.h"

#include <algorithm>

#include "platform/ui/TextMeasure.h"

namespace ui {
namespace {

constexpr double kClearButtonSide = 19;
constexpr double kClearButtonRightInset = 6;

bool StartsCodePoint(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// The byte offset of code point `index` (the text's size past the end); a byte that does not
// continue a UTF-8 sequence starts a code point, as TextMeasure counts them.
size_t ByteOffset(const std::string& text, size_t index) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (StartsCodePoint(text[i])) {
            if (seen == index) {
                return i;
            }
            ++seen;
        }
    }
    return text.size();
}

}  // namespace

bool TextFieldDelegate::ShouldBeginEditing(TextField&) { return true; }
void TextFieldDelegate::DidBeginEditing(TextField&) {}
bool TextFieldDelegate::ShouldReturn(TextField&) { return true; }
bool TextFieldDelegate::ShouldChangeCharacters(TextField&, const TextRange&, const std::string&) {
    return true;
}
void TextFieldDelegate::DidEndEditing(TextField&) {}
bool TextFieldDelegate::ShouldClear(TextField&) { return true; }

TextField::TextField(const Rect& frame) : Control(frame) {}

void TextField::SetText(const std::string& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    selection_ = TextRange(TextMeasure::CodePoints(text_), 0);
    caretAtStart_ = false;
    NoteChange();
}

void TextField::SetPlaceholder(const std::string& placeholder) {
    if (placeholder == placeholder_) {
        return;
    }
    placeholder_ = placeholder;
    NoteChange();
}

void TextField::SetFont(const Font& font) {
    if (font == font_) {
        return;
    }
    font_ = font;
    NoteChange();
}

void TextField::SetTextColor(const Color& color) {
    if (color == textColor_) {
        return;
    }
    textColor_ = color;
    NoteChange();
}

void TextField::SetTextAlignment(TextAlignment alignment) {
    if (alignment == alignment_) {
        return;
    }
    alignment_ = alignment;
    NoteChange();
}

void TextField::SetSecureTextEntry(bool secure) {
    if (secure == secure_) {
        return;
    }
    secure_ = secure;
    NoteChange();
}

void TextField::SetBorderStyle(TextBorderStyle style) {
    if (style == borderStyle_) {
        return;
    }
    borderStyle_ = style;
    NoteChange();
}

void TextField::SetClearButtonMode(TextFieldViewMode mode) {
    if (mode == clearButtonMode_) {
        return;
    }
    clearButtonMode_ = mode;
    NoteChange();
}

void TextField::SetBackground(Image::Ptr image) {
    if (image == background_) {
        return;
    }
    background_ = std::move(image);
    NoteChange();
}

void TextField::SetSelectedRange(const TextRange& range) {
    const size_t count = TextMeasure::CodePoints(text_);
    TextRange clamped;
    clamped.location = std::min(range.location, count);
    clamped.length = std::min(range.length, count - clamped.location);
    if (clamped == selection_ && !caretAtStart_) {
        return;
    }
    selection_ = clamped;
    caretAtStart_ = false;
    NoteChange();
}

size_t TextField::CaretPosition() const {
    return caretAtStart_ ? selection_.location : selection_.location + selection_.length;
}

std::string TextField::SelectedText() const {
    const size_t begin = ByteOffset(text_, selection_.location);
    const size_t end = ByteOffset(text_, selection_.location + selection_.length);
    return text_.substr(begin, end - begin);
}

void TextField::SetSelection(size_t anchor, size_t caret) {
    selection_ =
        TextRange(std::min(anchor, caret), anchor > caret ? anchor - caret : caret - anchor);
    caretAtStart_ = caret < anchor;
}

bool TextField::MoveCaret(CaretMovement movement, bool extend) {
    if (!IsEditing() || !IsEnabled()) {
        return false;
    }
    const size_t count = TextMeasure::CodePoints(text_);
    const size_t caret = CaretPosition();
    const size_t end = selection_.location + selection_.length;
    const size_t anchor = caretAtStart_ ? end : selection_.location;
    size_t to = caret;
    switch (movement) {
        case CaretMovement::Left:
            to = !extend && selection_.length > 0 ? selection_.location
                                                  : (caret > 0 ? caret - 1 : 0);
            break;
        case CaretMovement::Right:
            to = !extend && selection_.length > 0 ? end : std::min(count, caret + 1);
            break;
        case CaretMovement::Home: to = 0; break;
        case CaretMovement::End: to = count; break;
    }
    const TextRange before = selection_;
    const bool beforeAtStart = caretAtStart_;
    SetSelection(extend ? anchor : to, to);
    if (selection_ == before && caretAtStart_ == beforeAtStart) {
        return false;
    }
    NoteChange();
    return true;
}

bool TextField::SelectAll() {
    const size_t count = TextMeasure::CodePoints(text_);
    if (!IsEditing() || !IsEnabled() || selection_ == TextRange(0, count)) {
        return false;
    }
    SetSelection(0, count);
    NoteChange();
    return true;
}

bool TextField::InsertText(const std::string& text) {
    if (!IsEditing() || !IsEnabled() || (text.empty() && selection_.length == 0)) {
        return false;
    }
    return ReplaceCharacters(selection_, text);
}

bool TextField::DeleteBackward() {
    if (!IsEditing() || !IsEnabled()) {
        return false;
    }
    TextRange range = selection_;
    if (range.length == 0) {
        if (range.location == 0) {
            return false;
        }
        range = TextRange(range.location - 1, 1);
    }
    return ReplaceCharacters(range, std::string());
}

bool TextField::DeleteForward() {
    if (!IsEditing() || !IsEnabled()) {
        return false;
    }
    TextRange range = selection_;
    if (range.length == 0) {
        if (range.location >= TextMeasure::CodePoints(text_)) {
            return false;
        }
        range = TextRange(range.location, 1);
    }
    return ReplaceCharacters(range, std::string());
}

bool TextField::ReplaceCharacters(const TextRange& range, const std::string& replacement) {
    std::shared_ptr<View> keep = weak_from_this().lock();  // a delegate may drop the field
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        if (!d->ShouldChangeCharacters(*this, range, replacement)) {
            return false;
        }
    }
    // The delegate may have changed the text meanwhile: the range is taken on what is there.
    const size_t begin = ByteOffset(text_, range.location);
    const size_t end = ByteOffset(text_, range.location + range.length);
    text_.replace(begin, end - begin, replacement);
    selection_ = TextRange(
        TextMeasure::CodePoints(text_.substr(0, begin)) + TextMeasure::CodePoints(replacement), 0);
    caretAtStart_ = false;
    NoteChange();
    SendActionsForEvents(ControlEvent::EditingChanged);
    return true;
}

bool TextField::PressReturn() {
    if (!IsEditing() || !IsEnabled()) {
        return false;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    bool answer = true;
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        answer = d->ShouldReturn(*this);
    }
    if (answer) {
        const bool ends = (AllControlEvents() & ControlEvent::EditingDidEndOnExit) != 0;
        SendActionsForEvents(ControlEvent::EditingDidEndOnExit);
        if (ends) {
            ResignFirstResponder();
        }
    }
    return answer;
}

bool TextField::IsClearButtonShown() const {
    return !text_.empty() && ClearButtonModeShows(IsEditing());
}

bool TextField::PressClearButton() {
    if (!IsEnabled() || !IsClearButtonShown()) {
        return false;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        if (!d->ShouldClear(*this)) {
            return false;
        }
    }
    text_.clear();
    selection_ = TextRange();
    caretAtStart_ = false;
    NoteChange();
    SendActionsForEvents(ControlEvent::EditingChanged);
    return true;
}

bool TextField::ClearButtonModeShows(bool editing) const {
    switch (clearButtonMode_) {
        case TextFieldViewMode::Never: return false;
        case TextFieldViewMode::WhileEditing: return editing;
        case TextFieldViewMode::UnlessEditing: return !editing;
        case TextFieldViewMode::Always: return true;
    }
    return false;
}

double TextField::Padding() const {
    switch (borderStyle_) {
        case TextBorderStyle::None: return 0;
        case TextBorderStyle::Line:
        case TextBorderStyle::Bezel: return 2;
        case TextBorderStyle::RoundedRect: return 7;
    }
    return 0;
}

Rect TextField::ClearButtonRectForBounds(const Rect& bounds) const {
    return Rect(bounds.X() + bounds.Width() - kClearButtonRightInset - kClearButtonSide,
                bounds.Y() + (bounds.Height() - kClearButtonSide) / 2, kClearButtonSide,
                kClearButtonSide);
}

Rect TextField::RectBeforeClearButton(const Rect& bounds, bool editing) const {
    const double pad = Padding();
    const double left = bounds.X() + pad;
    double right = bounds.X() + bounds.Width() - pad;
    if (ClearButtonModeShows(editing)) {
        right = std::min(right, ClearButtonRectForBounds(bounds).X());
    }
    return Rect(left, bounds.Y(), std::max(0.0, right - left), bounds.Height());
}

Rect TextField::TextRectForBounds(const Rect& bounds) const {
    return RectBeforeClearButton(bounds, false);
}

Rect TextField::EditingRectForBounds(const Rect& bounds) const {
    return RectBeforeClearButton(bounds, true);
}

Rect TextField::PlaceholderRectForBounds(const Rect& bounds) const {
    return TextRectForBounds(bounds);
}

Rect TextField::DisplayedTextRect() const {
    if (IsEditing()) {
        return EditingRectForBounds(Bounds());
    }
    return text_.empty() ? PlaceholderRectForBounds(Bounds()) : TextRectForBounds(Bounds());
}

bool TextField::CanPerformAction(const std::string& action) const {
    const bool editing = IsEditing();
    const bool selected = selection_.length > 0;
    const size_t count = TextMeasure::CodePoints(text_);
    if (action == "cut:") return editing && selected && !secure_;
    if (action == "copy:") return selected && !secure_;
    if (action == "paste:") return editing;
    if (action == "select:") return editing && count > 0 && !selected;
    if (action == "selectAll:") return editing && count > 0 && selection_.length < count;
    if (action == "delete:") return editing && selected;
    return false;
}

void TextField::TouchesEnded(const Point& point) {
    const bool tapped = IsTracking() && IsEnabled() && PointInside(point);
    const bool onClearButton =
        tapped && IsClearButtonShown() && ClearButtonRectForBounds(Bounds()).Contains(point);
    std::shared_ptr<View> keep = weak_from_this().lock();
    Control::TouchesEnded(point);
    if (onClearButton) {
        PressClearButton();
    }
    if (tapped) {
        BecomeFirstResponder();
    }
}

bool TextField::ShouldBecomeFirstResponder() {
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        return d->ShouldBeginEditing(*this);
    }
    return true;
}

void TextField::DidBecomeFirstResponder() {
    selection_ = TextRange(TextMeasure::CodePoints(text_), 0);
    caretAtStart_ = false;
    NoteChange();
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        d->DidBeginEditing(*this);
    }
    SendActionsForEvents(ControlEvent::EditingDidBegin);
}

void TextField::DidResignFirstResponder() {
    NoteChange();
    if (std::shared_ptr<TextFieldDelegate> d = delegate_.lock()) {
        d->DidEndEditing(*this);
    }
    SendActionsForEvents(ControlEvent::EditingDidEnd);
}

void TextField::StateDidChange() {
    if (!IsEnabled() && IsFirstResponder()) {
        ResignFirstResponder();
    }
}

void TextField::DidMoveToSuperview() {
    if (!Superview() && IsFirstResponder()) {
        ResignFirstResponder();
    }
}

void TextField::DidMoveToWindow() {
    if (!WindowOf() && IsFirstResponder()) {
        ResignFirstResponder();
    }
}

}  // namespace ui
