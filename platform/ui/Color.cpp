#include "platform/ui/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ui {
namespace {

double Clamp01(double v) {
    if (!(v >= 0)) {  // NaN too
        return 0;
    }
    return std::min(v, 1.0);
}

int To255(double v) { return static_cast<int>(std::lround(v * 255)); }

}  // namespace

Color::Color(double red, double green, double blue, double alpha)
    : r_(Clamp01(red)), g_(Clamp01(green)), b_(Clamp01(blue)), a_(Clamp01(alpha)) {}

Color Color::FromRGB255(int red, int green, int blue, double alpha) {
    return Color(red / 255.0, green / 255.0, blue / 255.0, alpha);
}

Color Color::FromWhite(double white, double alpha) { return Color(white, white, white, alpha); }

std::string Color::ToString() const {
    char text[10];
    std::snprintf(text, sizeof text, "#%02X%02X%02X%02X", To255(r_), To255(g_), To255(b_),
                  To255(a_));
    return text;
}

bool Color::operator==(const Color& o) const {
    const double half = 0.5 / 255;
    return std::fabs(r_ - o.r_) < half && std::fabs(g_ - o.g_) < half &&
           std::fabs(b_ - o.b_) < half && std::fabs(a_ - o.a_) < half;
}

std::ostream& operator<<(std::ostream& os, const Color& c) { return os << c.ToString(); }

}  // namespace ui
