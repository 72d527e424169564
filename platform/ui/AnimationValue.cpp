#include "platform/ui/AnimationValue.h"

namespace ui {
namespace {

double Mix(double a, double b, double f) { return a + (b - a) * f; }

struct Mixer {
    double f;
    AnimationValue operator()(double a, double b) const { return Mix(a, b, f); }
    AnimationValue operator()(const Point& a, const Point& b) const {
        return Point(Mix(a.x, b.x, f), Mix(a.y, b.y, f));
    }
    AnimationValue operator()(const Size& a, const Size& b) const {
        return Size(Mix(a.width, b.width, f), Mix(a.height, b.height, f));
    }
    AnimationValue operator()(const Rect& a, const Rect& b) const {
        return Rect(Mix(a.origin.x, b.origin.x, f), Mix(a.origin.y, b.origin.y, f),
                    Mix(a.size.width, b.size.width, f), Mix(a.size.height, b.size.height, f));
    }
    AnimationValue operator()(const Color& a, const Color& b) const {
        return Color(Mix(a.R(), b.R(), f), Mix(a.G(), b.G(), f), Mix(a.B(), b.B(), f),
                     Mix(a.A(), b.A(), f));
    }
    AnimationValue operator()(const Transform3D& a, const Transform3D& b) const {
        Transform3D t;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                t.m[i][j] = Mix(a.m[i][j], b.m[i][j], f);
            }
        }
        return t;
    }
    template <typename A, typename B>
    AnimationValue operator()(const A& a, const B& b) const {
        if (f >= 1) {
            return b;
        }
        return a;
    }
};

}  // namespace

AnimationValue Interpolate(const AnimationValue& a, const AnimationValue& b, double f) {
    return std::visit(Mixer{f}, a, b);
}

}  // namespace ui
