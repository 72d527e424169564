#ifndef ENGINE_API_SESSION_H
#define ENGINE_API_SESSION_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <list>
#include <mutex>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/SessionInfoSource.h"
#include "engine/core/Task.h"
#include "engine/core/TaskManager.h"

namespace SarvelonMediaKit {

// One chain of components and what keeps it alive: the component stack, its memory budget
// with the trackers that components buffer under, and the task queue through which every other
// thread reaches it. It publishes its errors, warnings and life cycle to its monitors, and may
// itself be attached to an error source.
//
// A session is always owned by a boost::shared_ptr (made by Create): trackers keep a weak link
// back to it, so a tracker that outlives its session gives nothing back to a dead one.
class Session : public boost::enable_shared_from_this<Session>,
                public ErrorInfoSource,
                public ErrorInfoMonitor,
                public SessionInfoSource {
public:
    static boost::shared_ptr<Session> Create();
    ~Session() override;

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Both source families attach and detach by the monitor's type.
    using ErrorInfoSource::AddMonitor;
    using SessionInfoSource::AddMonitor;
    using ErrorInfoSource::RemoveMonitor;
    using SessionInfoSource::RemoveMonitor;
    using ErrorInfoSource::HasMonitor;
    using SessionInfoSource::HasMonitor;

    // ---- Components ---------------------------------------------------------------------

    // Replaces the stack (stack id and components) with a copy of the given one. A new
    // session holds an empty stack with stack id 0.
    void SetComponentStack(const ComponentStack& stack);
    ComponentStack GetComponentStack() const;

    // ---- Memory -------------------------------------------------------------------------
    //
    // capacity = unallocated + the limits of the dedicated trackers. The main tracker (own
    // limit 0) takes whatever the dedicated trackers leave over.

    // Sets the total budget. Throws SVLibraryException 0x02 when bytes is below the limits of
    // the dedicated trackers, or below the bytes all trackers hold now; nothing changes then.
    void SetCapacity(ByteAmount bytes);
    // A dedicated tracker with a fixed limit taken from the unallocated capacity. Throws
    // SVLibraryException 0x02 when the unallocated capacity is smaller; nothing changes then.
    boost::shared_ptr<MemoryTracker> AllocateTracker(ByteAmount bytes);
    // Gives a dedicated tracker's limit back to the unallocated capacity and drops the
    // session's share of it. The main tracker and unknown trackers are left alone. Called by a
    // tracker when its last user has left.
    void ReleaseTracker(MemoryTracker* tracker);
    // The main tracker, which components build their shared-budget caches on.
    boost::shared_ptr<MemoryTracker> GetMemoryTracker() const;
    ByteAmount GetUnallocatedCapacity() const;
    ByteAmount GetCapacity() const;

    // ---- Task queue ---------------------------------------------------------------------
    //
    // Any thread may post; the session's task thread runs the queue.

    void AddTask(const boost::shared_ptr<Task>& task);
    // Removes queued tasks whose category shares a bit with the mask and whose stack id is
    // stackId (StackIdAny: every stack).
    void RemoveTasks(uint32_t categoryMask, StackId stackId);
    // While set, queued tasks that carry data are dropped unrun (a seek is on its way).
    void SetDropDataTasks();
    void ClearDropDataTasks();
    // The queue itself, for the pump that runs it and for the component dump.
    boost::shared_ptr<TaskManager> GetTaskManager() const;

protected:
    Session();

private:
    // Builds what needs the owning shared pointer (the main tracker's weak link).
    void Initialise();

    // Guards trackers_, capacity_ and unallocated_. Nothing else is called while it is held
    // (trackers are asked for their use outside it), so it is safe to take from anywhere,
    // including from a tracker or a cache that holds a lock of its own.
    // Members go in reverse order: queued tasks first, then the components (whose caches
    // leave their trackers), then the trackers.
    mutable std::mutex memoryLock_;
    std::list<boost::shared_ptr<MemoryTracker>> trackers_;  // main tracker first
    ComponentStack stack_;
    boost::shared_ptr<TaskManager> taskManager_;
    ByteAmount capacity_;
    ByteAmount unallocated_;
};

}  // namespace SarvelonMediaKit

#endif
