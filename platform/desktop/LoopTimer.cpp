#include "platform/desktop/LoopTimer.h"

#include <algorithm>
#include <utility>

#include "platform/ui/Loop.h"

namespace ns::desktop {

namespace {

// A year: a longer time is never in practice, and stays within the clock's range.
constexpr double kMaxTimerSeconds = 365.0 * 24 * 3600;

}  // namespace

LoopTimer::~LoopTimer() { Cancel(); }

void LoopTimer::Start(double seconds, std::function<void()> fn) {
    Cancel();
    if (!(seconds > 0)) seconds = 0;  // NaN too
    loop_ = &ui::Loop();
    // The id is read when the timer fires, so the handler sees the timer as not running.
    id_ = loop_->AfterDelay(ui::SecondsToDuration(std::min(seconds, kMaxTimerSeconds)),
                            [this, fn = std::move(fn)] {
                                id_ = 0;
                                fn();
                            });
}

void LoopTimer::Cancel() {
    if (id_ != 0) loop_->CancelTimer(id_);
    id_ = 0;
}

}  // namespace ns::desktop
