#include "platform/ui/Loop.h"

#include <cmath>

namespace ui {
namespace {

ns::RunLoop* g_current = nullptr;  // a test's loop; null: the main loop
bool g_mainHooked = false;

void InstallLayoutHook(ns::RunLoop& loop) {
    loop.SetLayoutHook([] { RunLayoutPass(); });
}

}  // namespace

ns::RunLoop& Loop() {
    if (g_current != nullptr) {
        return *g_current;
    }
    ns::RunLoop& main = ns::RunLoop::Main();
    if (!g_mainHooked) {
        g_mainHooked = true;
        InstallLayoutHook(main);
    }
    return main;
}

ns::RunLoop::TimePoint LoopNow() { return Loop().Now(); }

ns::RunLoop::Duration SecondsToDuration(double seconds) {
    if (!(seconds > 0)) {  // negative and NaN: no time
        return ns::RunLoop::Duration::zero();
    }
    // Beyond a century counts as a century: the loop's own limit handles "never".
    constexpr double kMax = 100.0 * 365 * 24 * 3600;
    if (seconds > kMax) {
        seconds = kMax;
    }
    return std::chrono::round<ns::RunLoop::Duration>(std::chrono::duration<double>(seconds));
}

double DurationToSeconds(ns::RunLoop::Duration d) {
    return std::chrono::duration<double>(d).count();
}

ScopedLoop::ScopedLoop(ns::RunLoop& loop) : previous_(g_current), loop_(&loop) {
    g_current = &loop;
    InstallLayoutHook(loop);
}

ScopedLoop::~ScopedLoop() {
    if (previous_ != loop_) {  // an outer scope on the same loop keeps its hook
        loop_->SetLayoutHook(nullptr);
    }
    g_current = previous_;
}

}  // namespace ui
