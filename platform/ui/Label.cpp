#include "platform/ui/Label.h"

#include "platform/ui/TextMeasure.h"

namespace ui {

Label::Label(const Rect& frame) : View(frame) { SetUserInteractionEnabled(false); }

#define UI_LABEL_SETTER(Name, member, Type) \
    void Label::Name(Type value) {          \
        if (member == value) {              \
            return;                         \
        }                                   \
        member = value;                     \
        NoteChange();                       \
    }

UI_LABEL_SETTER(SetText, text_, const std::string&)
UI_LABEL_SETTER(SetFont, font_, const Font&)
UI_LABEL_SETTER(SetTextColor, textColor_, const Color&)
UI_LABEL_SETTER(SetShadowColor, shadowColor_, const std::optional<Color>&)
UI_LABEL_SETTER(SetShadowOffset, shadowOffset_, const Size&)
UI_LABEL_SETTER(SetTextAlignment, alignment_, TextAlignment)

#undef UI_LABEL_SETTER

void Label::SetNumberOfLines(int lines) {
    lines = lines > 0 ? lines : 0;
    if (lines == numberOfLines_) {
        return;
    }
    numberOfLines_ = lines;
    NoteChange();
}

Size Label::SizeThatFits(const Size& size) const {
    double width = numberOfLines_ == 1 ? 0 : size.width;
    return TextMeasure::SizeOf(text_, font_, width, numberOfLines_);
}

std::vector<std::string> Label::VisibleLines() const {
    double width = numberOfLines_ == 1 ? 0 : Bounds().size.width;
    return TextMeasure::Lines(text_, font_, width, numberOfLines_);
}

}  // namespace ui
