#include "engine/core/TaskManager.h"

#include "SVLibrary/Util/Saturating.h"

namespace SarvelonMediaKit {

namespace {

// A task counts as hung, and the queue as not running, after this long.
const int64_t kHangMilliseconds = 1000;

}  // namespace

TaskManager::TaskManager() : TaskManager(Clock(&SV::PilTime::Now)) {}

TaskManager::TaskManager(const Clock& clock)
    : nextSequence_(0),
      dropDataTasks_(false),
      stop_(false),
      currentTaskStart_(0),
      lastRunStart_(0),
      clock_(clock ? clock : Clock(&SV::PilTime::Now)) {}

TaskManager::~TaskManager() {}

void TaskManager::AddTask(const boost::shared_ptr<Task>& task) {
    if (!task) return;
    SV::ScopedLock lock(queue_);
    QueuedTask entry = {task, nextSequence_++};
    queue_.Value().push_back(entry);
    if (postHandler_) postHandler_();
}

void TaskManager::SetPostHandler(const boost::function<void()>& handler) {
    boost::function<void()> previous;  // released outside the lock
    SV::ScopedLock lock(queue_);
    previous.swap(postHandler_);
    postHandler_ = handler;
}

void TaskManager::RequestStop() {
    stop_ = true;
    SV::ScopedLock lock(queue_);
    if (postHandler_) postHandler_();
}

bool TaskManager::RunTasks() {
    {
        SV::ScopedLock state(stateMutex_);
        lastRunStart_ = clock_();
    }

    bool took = false;
    uint64_t lastSequence;
    {
        SV::ScopedLock lock(queue_);
        if (queue_.Value().empty()) return false;
        lastSequence = queue_.Value().back().sequence;
    }

    for (;;) {
        QueuedTask entry;
        {
            SV::ScopedLock lock(queue_);
            std::deque<QueuedTask>& queue = queue_.Value();
            if (queue.empty() || stop_) return took;
            // Posted after this call began (including tasks that re-queued themselves).
            if (queue.front().sequence > lastSequence) return took;
            entry = queue.front();
            queue.pop_front();
        }
        took = true;

        if (!(dropDataTasks_ && entry.task->PendingDataSize() != 0)) {
            {
                SV::ScopedLock state(stateMutex_);
                currentTaskStart_ = clock_();
                currentTaskName_ = entry.task->GetName();
            }
            bool again = false;
            try {
                again = entry.task->Execute();
            } catch (...) {
                // A failing task is dropped; the others still run.
                again = false;
            }
            if (again) AddTask(entry.task);
            {
                SV::ScopedLock state(stateMutex_);
                currentTaskStart_ = SV::PilTime(0);
            }
        }

        if (entry.sequence == lastSequence) return took;
    }
}

bool TaskManager::IsTaskHung(std::string& name) {
    SV::ScopedLock state(stateMutex_);
    if (currentTaskStart_.Get() == 0) return false;
    if (clock_() - currentTaskStart_ <= kHangMilliseconds) return false;
    name = currentTaskName_;
    return true;
}

bool TaskManager::IsNotRunning(std::string& name) {
    SV::ScopedLock state(stateMutex_);
    if (lastRunStart_.Get() == 0) return false;
    if (clock_() - lastRunStart_ <= kHangMilliseconds) return false;
    name = currentTaskName_;
    return true;
}

void TaskManager::RemoveTasks(uint32_t categoryMask, StackId stackId) {
    // The removed tasks are released after the lock is given up: a task's destructor may do
    // anything, including posting.
    std::deque<QueuedTask> removed;
    {
        SV::ScopedLock lock(queue_);
        std::deque<QueuedTask>& queue = queue_.Value();
        std::deque<QueuedTask> kept;
        for (size_t i = 0; i < queue.size(); ++i) {
            const Task& task = *queue[i].task;
            bool matches = (task.GetCategory() & categoryMask) != 0 &&
                           (stackId == StackIdAny || task.GetStackId() == stackId);
            (matches ? removed : kept).push_back(queue[i]);
        }
        queue.swap(kept);
    }
}

ByteAmount TaskManager::PendingData() {
    uint32_t sum = 0;
    {
        SV::ScopedLock lock(queue_);
        const std::deque<QueuedTask>& queue = queue_.Value();
        for (size_t i = 0; i < queue.size(); ++i) {
            sum = SV::SaturatingAdd<uint32_t>(sum, queue[i].task->PendingDataSize().Get());
        }
    }
    return ByteAmount(sum);
}

}  // namespace SarvelonMediaKit
