#ifndef ENGINE_API_SESSION_H
#define ENGINE_API_SESSION_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <list>
#include <mutex>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Task.h"
#include "engine/core/TaskManager.h"

namespace SarvelonMediaKit {

// One chain of components and what keeps it alive: its memory budget with the trackers that
// components buffer under, and the task queue through which every other thread reaches it.
//
// A session is always owned by a boost::shared_ptr (made by Create): trackers keep a weak link
// back to it, so a tracker that outlives its session gives nothing back to a dead one.
class Session : public boost::enable_shared_from_this<Session> {
public:
    static boost::shared_ptr<Session> Create();
    virtual ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

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
    mutable std::mutex memoryLock_;
    std::list<boost::shared_ptr<MemoryTracker>> trackers_;  // main tracker first
    boost::shared_ptr<TaskManager> taskManager_;
    ByteAmount capacity_;
    ByteAmount unallocated_;
};

}  // namespace SarvelonMediaKit

#endif
