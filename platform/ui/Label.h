#ifndef PLATFORM_UI_LABEL_H
#define PLATFORM_UI_LABEL_H
// A view that shows text: font, colour, shadow, alignment and a line limit. Its size to fit
// comes from TextMeasure. Like the platform's label it takes no touches by default.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace ui {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

class Label : public View {
public:
    explicit Label(const Rect& frame = Rect());
    const char* ClassName() const override { return "Label"; }

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    // The system font at 17 unless set.
    const Font& GetFont() const { return font_; }
    void SetFont(const Font& font);
    // Black unless set.
    const Color& TextColor() const { return textColor_; }
    void SetTextColor(const Color& color);
    // No shadow unless a colour is set; offset (0, -1) unless set.
    const std::optional<Color>& ShadowColor() const { return shadowColor_; }
    void SetShadowColor(const std::optional<Color>& color);
    const Size& ShadowOffset() const { return shadowOffset_; }
    void SetShadowOffset(const Size& offset);
    TextAlignment GetTextAlignment() const { return alignment_; }
    void SetTextAlignment(TextAlignment alignment);
    // 1 unless set; 0 means as many as the text needs; a negative number counts as 0.
    int NumberOfLines() const { return numberOfLines_; }
    void SetNumberOfLines(int lines);

    // One line: the text's own width (nothing wraps). More lines: wrapped to size.width
    // (no limit when it is 0 or less), at most NumberOfLines of them.
    Size SizeThatFits(const Size& size) const override;
    // The lines shown within the current bounds width (for the renderer and dumps).
    std::vector<std::string> VisibleLines() const;

private:
    std::string text_;
    Font font_;
    Color textColor_ = Color::Black();
    std::optional<Color> shadowColor_;
    Size shadowOffset_ = Size(0, -1);
    TextAlignment alignment_ = TextAlignment::Left;
    int numberOfLines_ = 1;
};

}  // namespace ui

#endif  // PLATFORM_UI_LABEL_H
