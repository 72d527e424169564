#include "platform/ui/TimingFunction.h"

namespace ui {
namespace {

struct Curve {
    double x1, y1, x2, y2;
};

Curve ControlPoints(TimingFunction f) {
    switch (f) {
        case TimingFunction::Linear: return {0, 0, 1, 1};
        case TimingFunction::EaseIn: return {0.42, 0, 1, 1};
        case TimingFunction::EaseOut: return {0, 0, 0.58, 1};
        case TimingFunction::EaseInEaseOut: return {0.42, 0, 0.58, 1};
        case TimingFunction::Default: break;
    }
    return {0.25, 0.1, 0.25, 1};
}

// One coordinate of the curve with control values c1, c2 at parameter t.
double Bezier(double c1, double c2, double t) {
    double u = 1 - t;
    return 3 * u * u * t * c1 + 3 * u * t * t * c2 + t * t * t;
}

}  // namespace

double ApplyTiming(TimingFunction f, double p) {
    if (!(p > 0)) {
        return 0;
    }
    if (p >= 1) {
        return 1;
    }
    if (f == TimingFunction::Linear) {
        return p;
    }
    Curve c = ControlPoints(f);
    // x(t) rises monotonically for these control points: bisect for x(t) = p.
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        double mid = (lo + hi) / 2;
        if (Bezier(c.x1, c.x2, mid) < p) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return Bezier(c.y1, c.y2, (lo + hi) / 2);
}

std::string TimingName(TimingFunction f) {
    switch (f) {
        case TimingFunction::Linear: return "linear";
        case TimingFunction::EaseIn: return "easeIn";
        case TimingFunction::EaseOut: return "easeOut";
        case TimingFunction::EaseInEaseOut: return "easeInEaseOut";
        case TimingFunction::Default: break;
    }
    return "default";
}

}  // namespace ui
