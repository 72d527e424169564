#ifndef PLATFORM_DESKTOP_TESTING_MAIN_CONTEXT_WAIT_H
#define PLATFORM_DESKTOP_TESTING_MAIN_CONTEXT_WAIT_H
// Waiting on the GTK thread without blocking it: GLib's default main context is iterated
// (sleeping in its poll between events) until a condition holds or a time-out passes. A
// condition made true by another thread must also wake the context (a post to a run loop that
// a RunLoopSource drives does); otherwise it is seen at the time-out at the latest.
// May be called from inside a callback (a nested iteration).

#include <chrono>
#include <functional>

namespace ns::desktop {

// Iterates until done() holds (true) or `timeout` has passed (false). done() is asked before
// each iteration.
bool IterateUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Iterates for `time`.
void IterateFor(std::chrono::milliseconds time);
// Runs what is ready now, without waiting.
void IteratePending();

}  // namespace ns::desktop

#endif
