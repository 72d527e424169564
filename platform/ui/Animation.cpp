#include "platform/ui/Animation.h"

#include <limits>

namespace ui {

double Animation::ActiveDuration() const {
    if (IsInfinite()) {
        return std::numeric_limits<double>::infinity();
    }
    double cycle = duration_ * (autoreverses_ ? 2 : 1);
    double repeats = repeatCount_ > 0 ? repeatCount_ : 1;
    return cycle * repeats;
}

double Animation::ProgressAt(double seconds) const {
    if (duration_ <= 0) {
        return autoreverses_ ? 0 : 1;
    }
    double cycle = duration_ * (autoreverses_ ? 2 : 1);
    double t = seconds < 0 ? 0 : seconds;
    double active = ActiveDuration();
    double inCycle;
    if (t >= active) {
        // The end: where the last (possibly partial) cycle stops.
        inCycle = active - std::floor(active / cycle + 1e-9) * cycle;
        if (inCycle <= 1e-9) {
            inCycle = cycle;
        }
    } else {
        inCycle = std::fmod(t, cycle);
    }
    double p = inCycle <= duration_ ? inCycle / duration_ : 1 - (inCycle - duration_) / duration_;
    return ApplyTiming(timing_, p);
}

}  // namespace ui
