#ifndef PLATFORM_UI_LOOP_H
#define PLATFORM_UI_LOOP_H
// The run loop the toolkit uses for its timers (animation completions, image-view frames) and
// its layout pass: ns::RunLoop::Main() unless a test has installed another one, typically one
// built on an ns::ManualClock, with a ScopedLoop.
//
// The layout pass lays out every view that asked for it (View::SetNeedsLayout) at the end of
// each step of that loop (the toolkit installs it as the loop's layout hook the first time
// the loop is used through Loop()), and whenever View::LayoutIfNeeded or RunLayoutPass is
// called. Main thread only, like every view model.

#include <chrono>

#include "platform/core/RunLoop.h"

namespace ui {

// The toolkit's loop.
ns::RunLoop& Loop();

// The loop's time now, and a time in seconds as a loop duration (rounded to the nearest tick).
ns::RunLoop::TimePoint LoopNow();
ns::RunLoop::Duration SecondsToDuration(double seconds);
double DurationToSeconds(ns::RunLoop::Duration d);

// Lays out every view that needs it, superviews before their subviews.
void RunLayoutPass();

// Makes `loop` the toolkit's loop for its lifetime and installs the layout pass on it; the
// previous loop comes back afterwards, and `loop` loses the hook. Scopes nest. The loop must
// outlive the scope.
class ScopedLoop {
public:
    explicit ScopedLoop(ns::RunLoop& loop);
    ~ScopedLoop();
    ScopedLoop(const ScopedLoop&) = delete;
    ScopedLoop& operator=(const ScopedLoop&) = delete;

private:
    ns::RunLoop* previous_;
    ns::RunLoop* loop_;
};

}  // namespace ui

#endif  // PLATFORM_UI_LOOP_H
