#include "platform/core/OperationQueue.h"

#include <utility>

namespace ns {

void OperationQueue::AddOperation(std::function<void()> operation) {
    if (!operation) return;
    loop_.Post(std::move(operation));
}

OperationQueue& MainQueue() {
    // Never destroyed: operations may still be added by engine threads while the process exits.
    static OperationQueue* queue = new OperationQueue(RunLoop::Main());
    return *queue;
}

}  // namespace ns
