#ifndef PLATFORM_DESKTOP_LOOP_TIMER_H
#define PLATFORM_DESKTOP_LOOP_TIMER_H
// A one-shot timer on the toolkit's loop (ui::Loop(), as it is when the timer starts), so that
// tests that drive that loop's clock drive the timer too. Starting it again replaces the time
// and the handler; it is cancelled when it goes. The handler may start, cancel or destroy the
// timer. Main thread only.

#include <cstdint>
#include <functional>

#include "platform/core/RunLoop.h"

namespace ns::desktop {

class LoopTimer {
public:
    LoopTimer() = default;
    ~LoopTimer();
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    void Start(double seconds, std::function<void()> fn);
    void Cancel();
    bool IsRunning() const { return id_ != 0; }

private:
    RunLoop* loop_ = nullptr;
    uint64_t id_ = 0;
};

}  // namespace ns::desktop

#endif
