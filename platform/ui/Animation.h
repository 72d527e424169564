#ifndef PLATFORM_UI_ANIMATION_H
#define PLATFORM_UI_ANIMATION_H
// What every layer animation has: a duration, repeats, auto-reverse, a pacing curve, a
// delegate told when it stops, and whether it leaves the layer when it finishes. A layer keeps
// its own copy of an animation added to it, with the loop time it began.
//
// Timing of one animation (all in seconds): one cycle is the duration, twice that when it
// auto-reverses (forward, then back); it runs repeatCount cycles (0 counts as 1; fractions
// allowed; HUGE_VALF never ends). A finite animation finishes at begin + cycle x repeats.

#include <cmath>
#include <memory>
#include <optional>

#include "platform/core/RunLoop.h"
#include "platform/ui/TimingFunction.h"

namespace ui {

class Animation;

// Told when an animation added to a layer stops: finished is true when it ran to its end,
// false when it was removed or replaced before.
class AnimationDelegate {
public:
    virtual ~AnimationDelegate() = default;
    virtual void AnimationDidStop(const Animation& animation, bool finished) = 0;
};

class Animation {
public:
    enum class Kind { Basic, Transition };

    virtual ~Animation() = default;
    virtual Kind GetKind() const = 0;
    virtual std::unique_ptr<Animation> Clone() const = 0;

    // 0.25 s unless set; a negative or NaN duration counts as 0.
    double Duration() const { return duration_; }
    void SetDuration(double seconds) { duration_ = seconds > 0 ? seconds : 0; }
    float RepeatCount() const { return repeatCount_; }
    void SetRepeatCount(float count) { repeatCount_ = count > 0 ? count : 0; }
    bool Autoreverses() const { return autoreverses_; }
    void SetAutoreverses(bool autoreverses) { autoreverses_ = autoreverses; }
    TimingFunction Timing() const { return timing_; }
    void SetTimingFunction(TimingFunction f) { timing_ = f; }
    bool IsRemovedOnCompletion() const { return removedOnCompletion_; }
    void SetRemovedOnCompletion(bool removed) { removedOnCompletion_ = removed; }

    // Held weakly: a delegate that is gone is simply not told.
    std::shared_ptr<AnimationDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<AnimationDelegate>& delegate) { delegate_ = delegate; }

    // Set by the layer when added.
    const std::optional<ns::RunLoop::TimePoint>& BeginTime() const { return beginTime_; }
    void SetBeginTime(ns::RunLoop::TimePoint t) { beginTime_ = t; }

    bool IsInfinite() const { return std::isinf(repeatCount_); }
    // Seconds from begin to finish (infinity for an endless one).
    double ActiveDuration() const;
    // The paced progress (0 at the from value, 1 at the to value) `seconds` after the begin,
    // with auto-reverse and the timing curve applied; past the end, the progress it ends at.
    double ProgressAt(double seconds) const;

protected:
    Animation() = default;
    Animation(const Animation&) = default;
    Animation& operator=(const Animation&) = default;

private:
    double duration_ = 0.25;
    float repeatCount_ = 0;
    bool autoreverses_ = false;
    TimingFunction timing_ = TimingFunction::Default;
    bool removedOnCompletion_ = true;
    std::weak_ptr<AnimationDelegate> delegate_;
    std::optional<ns::RunLoop::TimePoint> beginTime_;
};

}  // namespace ui

#endif  // PLATFORM_UI_ANIMATION_H
