#ifndef PLATFORM_CORE_OPERATIONQUEUE_H
#define PLATFORM_CORE_OPERATIONQUEUE_H
// A queue of operations that run one at a time, in the order they were added, on the thread
// that drains the queue's run loop. The main queue sits on RunLoop::Main(): whichever thread
// owns the application's main loop drains it (RunLoop::Main().RunOnce / RunUntil / Run), and
// every operation added from any thread runs there, after the adding call has returned.

#include <functional>

#include "platform/core/RunLoop.h"

namespace ns {

class OperationQueue {
public:
    // The loop must outlive the queue and every thread that adds to it.
    explicit OperationQueue(RunLoop& loop) : loop_(loop) {}
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Any thread. Queues the operation behind those added before it; an empty function is
    // ignored. The operation and everything it captures are destroyed on the draining thread
    // once it has run.
    void AddOperation(std::function<void()> operation);

    RunLoop& Loop() const { return loop_; }

private:
    RunLoop& loop_;
};

// The queue on RunLoop::Main(), made on first use and never destroyed (like the loop itself).
OperationQueue& MainQueue();

}  // namespace ns

#endif  // PLATFORM_CORE_OPERATIONQUEUE_H
