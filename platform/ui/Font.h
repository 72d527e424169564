#ifndef PLATFORM_UI_FONT_H
#define PLATFORM_UI_FONT_H
// A font as the application names it: a face name ("HelveticaNeue", "Arial-BoldMT", or the
// system faces "System" and "System-Bold") and a point size. The model never rasterises text;
// TextMeasure measures its text (headless with the same deterministic metrics for every face,
// in a window as the renderer draws it) and the renderer maps the name to a desktop face.

#include <ostream>
#include <string>

namespace ui {

class Font {
public:
    // The system font at 17 points (the platform's default label font).
    Font();
    // A size below zero counts as zero.
    Font(std::string name, double pointSize);

    static Font SystemFont(double pointSize);
    static Font BoldSystemFont(double pointSize);
    static Font Named(std::string name, double pointSize);

    const std::string& Name() const { return name_; }
    double PointSize() const { return pointSize_; }
    // The same face at another size.
    Font WithSize(double pointSize) const { return Font(name_, pointSize); }
    // Whether the face name says bold ("System-Bold", "Arial-BoldMT", "HelveticaNeue-Bold").
    bool IsBold() const;
    // The height of one line of text: ceil(1.2 x point size) (see TextMeasure).
    double LineHeight() const;

    bool operator==(const Font& o) const;
    bool operator!=(const Font& o) const { return !(*this == o); }

private:
    std::string name_;
    double pointSize_;
};

std::ostream& operator<<(std::ostream& os, const Font& f);

}  // namespace ui

#endif  // PLATFORM_UI_FONT_H
