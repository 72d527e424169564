#ifndef ENGINE_CORE_TASKMANAGER_H
#define ENGINE_CORE_TASKMANAGER_H

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/Task.h"

namespace SarvelonMediaKit {

// The queue of tasks of one thread (a session's pump, the download thread). Any thread may post;
// only the owning thread runs the queue. It also records which task runs and since when, so a
// watchdog on another thread can name a task that hangs.
//
// The queue's lock and the state lock are never held together, and neither is held while a
// task runs, so a task may post further tasks (they run in the next RunTasks call).
class TaskManager {
public:
    // Where "now" comes from; tests drive it instead of sleeping.
    typedef boost::function<SV::PilTime()> Clock;

    TaskManager();
    explicit TaskManager(const Clock& clock);
    ~TaskManager();

    TaskManager(const TaskManager&) = delete;
    TaskManager& operator=(const TaskManager&) = delete;

    // Appends the task at the back of the queue, then calls the post handler. Any thread.
    void AddTask(const boost::shared_ptr<Task>& task);

    // Called after every post and after a stop request, under the queue's lock, so that once
    // the handler has been replaced the old one is neither running nor called again. It must
    // not post or touch the queue; it tells a thread that sleeps until there is work to wake.
    void SetPostHandler(const boost::function<void()>& handler);

    // Runs, on the calling (owning) thread, each task that was queued when it was entered, at
    // most once, in queue order. A task whose Execute returns true is queued again at the back.
    // An exception from Execute is dropped along with the task. While drop-data is set, a task
    // carrying data is released unrun. A stop request ends the call before the next task.
    // True when it took at least one task off the queue (run or released unrun).
    bool RunTasks();

    // True, with the running task's name, when one task has been running for more than 1000 ms.
    bool IsTaskHung(std::string& name);
    // True, with the name of the task started last, when RunTasks was last entered more than
    // 1000 ms ago (never before the first RunTasks).
    bool IsNotRunning(std::string& name);

    // Releases unrun every queued task whose category shares a bit with the mask and whose
    // stack id is stackId (any stack for StackIdAny). The others keep their order.
    void RemoveTasks(uint32_t categoryMask, StackId stackId);

    void SetDropDataTasks() { dropDataTasks_ = true; }
    void ClearDropDataTasks() { dropDataTasks_ = false; }
    bool IsDroppingDataTasks() const { return dropDataTasks_; }

    // Once set, RunTasks takes no further task; the pump loop ends on it as well. Calls the
    // post handler, so a thread sleeping until there is work sees the stop at once.
    void RequestStop();
    bool IsStopRequested() const { return stop_; }

    // Sum of the pending-data sizes of the queued tasks (saturated at 32 bits).
    ByteAmount PendingData();

    // Guards the running-task record; the pump keeps its trace texts under it as well.
    SV::Mutex& GetStateMutex() { return stateMutex_; }

private:
    struct QueuedTask {
        boost::shared_ptr<Task> task;
        // Order of posting. RunTasks stops at the first task posted after it was entered, so
        // it ends even when the task it meant to finish with has been removed meanwhile and
        // a task keeps re-queuing itself.
        uint64_t sequence;
    };

    SV::MutexedVariable<std::deque<QueuedTask>> queue_;
    uint64_t nextSequence_;                // under queue_'s lock
    boost::function<void()> postHandler_;  // under queue_'s lock
    std::atomic<bool> dropDataTasks_;
    std::atomic<bool> stop_;
    // Under stateMutex_.
    std::string currentTaskName_;
    SV::PilTime currentTaskStart_;  // 0 while no task runs
    SV::PilTime lastRunStart_;      // 0 until RunTasks is first entered
    SV::Mutex stateMutex_;
    Clock clock_;
};

}  // namespace SarvelonMediaKit

#endif
