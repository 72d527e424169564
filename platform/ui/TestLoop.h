#ifndef PLATFORM_UI_TEST_LOOP_H
#define PLATFORM_UI_TEST_LOOP_H
// For tests: a run loop on a manual clock, installed as the toolkit's loop for the test's
// lifetime. Advance(seconds) moves the clock and takes one step, which fires the timers that
// fell due and runs the layout pass.

#include <chrono>
#include <memory>

#include "platform/core/ManualClock.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Loop.h"

namespace ui {

class TestLoop {
public:
    TestLoop() : clock_(std::make_shared<ns::ManualClock>()), loop_(clock_), scope_(loop_) {}

    ns::RunLoop& Loop() { return loop_; }
    ns::ManualClock& Clock() { return *clock_; }
    // One step without moving the clock.
    void Step() { loop_.RunOnce(std::chrono::milliseconds(0)); }
    void Advance(double seconds) {
        clock_->Advance(SecondsToDuration(seconds));
        Step();
    }

private:
    std::shared_ptr<ns::ManualClock> clock_;
    ns::RunLoop loop_;
    ScopedLoop scope_;
};

}  // namespace ui

#endif  // PLATFORM_UI_TEST_LOOP_H
