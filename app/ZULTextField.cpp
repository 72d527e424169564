#include "app/ZULTextField.h"

ZULTextField::ZULTextField(const ui::Rect& frame) : ui::TextField(frame) {}

ui::Rect ZULTextField::TextRectForBounds(const ui::Rect& bounds) const {
    return ui::Rect(kTextInset, 0,
                    bounds.Width() - 2 * kTextInset - ClearButtonRectForBounds(bounds).Width(),
                    bounds.Height());
}

ui::Rect ZULTextField::EditingRectForBounds(const ui::Rect& bounds) const {
    return TextRectForBounds(bounds);
}
