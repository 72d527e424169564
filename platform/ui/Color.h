#ifndef PLATFORM_UI_COLOR_H
#define PLATFORM_UI_COLOR_H
// A colour as red, green, blue and alpha from 0 to 1 (values outside are clamped when made).
// Equality allows half a step of 255, so a colour made from 0..255 components equals the same
// colour read back from its text form.

#include <ostream>
#include <string>

namespace ui {

class Color {
public:
    // Opaque black.
    Color() = default;
    Color(double red, double green, double blue, double alpha = 1.0);

    // Components out of 255, alpha from 0 to 1.
    static Color FromRGB255(int red, int green, int blue, double alpha = 1.0);
    static Color FromWhite(double white, double alpha = 1.0);

    static Color Black() { return Color(0, 0, 0, 1); }
    static Color White() { return Color(1, 1, 1, 1); }
    static Color Clear() { return Color(0, 0, 0, 0); }
    static Color Red() { return Color(1, 0, 0, 1); }
    static Color Green() { return Color(0, 1, 0, 1); }
    static Color Blue() { return Color(0, 0, 1, 1); }
    static Color Gray() { return FromWhite(0.5); }
    static Color LightGray() { return FromWhite(2.0 / 3.0); }
    static Color DarkGray() { return FromWhite(1.0 / 3.0); }

    double R() const { return r_; }
    double G() const { return g_; }
    double B() const { return b_; }
    double A() const { return a_; }
    // The same colour with another alpha.
    Color WithAlpha(double alpha) const { return Color(r_, g_, b_, alpha); }

    // "#RRGGBBAA", upper-case hexadecimal, each component rounded to the nearest of 0..255.
    std::string ToString() const;

    bool operator==(const Color& o) const;
    bool operator!=(const Color& o) const { return !(*this == o); }

private:
    double r_ = 0;
    double g_ = 0;
    double b_ = 0;
    double a_ = 1;
};

std::ostream& operator<<(std::ostream& os, const Color& c);

}  // namespace ui

#endif  // PLATFORM_UI_COLOR_H
