#ifndef ENGINE_CORE_SESSION_H
#define ENGINE_CORE_SESSION_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SVStatus.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/ErrorInfoSource.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Pump.h"
#include "engine/core/SessionInfoSource.h"
#include "engine/core/Task.h"
#include "engine/core/TaskManager.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

class Component;
class SVMKCredentials;

// One chain of components and what keeps it alive: the component stack, its memory budget
// with the trackers that components buffer under, the pump whose thread runs the task queue
// through which every other thread reaches it, and (its base) the socket master that watches
// the sockets of its delegates. It publishes its errors, warnings and life cycle to its
// monitors, and may itself be attached to an error source.
//
// A session is always owned by a boost::shared_ptr (made by Create): trackers keep a weak link
// back to it, so a tracker that outlives its session gives nothing back to a dead one.
class Session : public SocketMaster,
                public boost::enable_shared_from_this<Session>,
                public ErrorInfoSource,
                public ErrorInfoMonitor,
                public SessionInfoSource {
public:
    // Category bits of the tasks on a session's queue.
    enum : uint32_t {
        TaskCategoryDownload = 1,   // the download client's data tasks; a seek removes them
        TaskCategorySeek = 2,       // seek requests; a newer seek removes the queued ones
        TaskCategoryTrickPlay = 4,  // trick-play requests
        TaskCategorySession = 8,    // the session's other requests
    };

    // The clock of the session's periodic check and of its task queue's hang check; tests
    // pass their own. An empty clock is the system's.
    static boost::shared_ptr<Session> Create(
        const TaskManager::Clock& clock = TaskManager::Clock());
    // Stops the session and waits for its shutdown (Stop(true)), then for its socket thread.
    // When the last owner lets go on the session's own pump thread, the session shuts down
    // there without waiting and its pump is destroyed on another thread once its thread ends.
    ~Session() override;

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Both source families attach and detach by the monitor's type.
    using ErrorInfoSource::AddMonitor;
    using ErrorInfoSource::HasMonitor;
    using ErrorInfoSource::RemoveMonitor;
    using SessionInfoSource::AddMonitor;
    using SessionInfoSource::HasMonitor;
    using SessionInfoSource::RemoveMonitor;

    // ---- Life cycle ---------------------------------------------------------------------
    //
    // Makers call, in this order: Create; SetComponentStack and SetCapacity; StartPump; Start;
    // the operations below; Stop (or Abort); then let the last pointer go. A stopped session
    // is not restarted.

    // Creates the pump thread "Pump" (suspended) with the time between two passes; 0 makes no
    // thread.
    void StartPump(MediaTime intervalMicroseconds);
    // Links the stack, starts the pump thread and publishes SessionSetupCompleted on the
    // calling thread.
    void Start();
    // The first call asks the pump and socket threads to stop; the pump thread then shuts the
    // session down (components stopped, SessionStopped published, the stop event set). With
    // wait, returns once that has happened, from whichever call. On the session's own pump
    // thread it never waits (that thread is the one that shuts down). A session whose pump
    // thread never ran is shut down at once, on the calling thread.
    void Stop(bool wait);
    // True once the session has shut down, within the time (SV::kInfiniteWait: no limit; 0
    // only looks).
    bool WaitForStop(uint32_t timeoutMilliseconds);
    // The end of the pump thread: stops the chain from its output end, publishes
    // SessionStopped and sets the stop event. Runs once.
    void Shutdown();

    boost::shared_ptr<Pump> GetPump() const { return pump_; }
    // No task and no pull runs between the two; PausePump returns once no pass is running.
    void PausePump();
    void ResumePump();
    // The bytes each pump pass pulls through the chain.
    void SetPullAmount(ByteAmount bytes);

    // ---- Components ---------------------------------------------------------------------

    // Replaces the stack (stack id and components) with a copy of the given one. A new
    // session holds an empty stack with stack id 0.
    void SetComponentStack(const ComponentStack& stack);
    ComponentStack GetComponentStack() const;

    // The playback's settings record, shared with whoever handed it over (not copied);
    // components read it through their session. Empty until set. Any thread.
    void SetCredentials(const boost::shared_ptr<SVMKCredentials>& credentials);
    boost::shared_ptr<SVMKCredentials> GetCredentials() const;

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

    // ---- Errors and warnings ------------------------------------------------------------
    //
    // Any thread. Each posts a task ("Session::SetError", "Session::SetWarning") whose half on
    // the task thread publishes to the session's error monitors, so monitors hear a session's
    // errors one at a time, on its task thread, in the order they were raised. These are also
    // the session's events as a monitor of other error sources.
    void SetError(SVStatus status, std::string text) override;
    void SetWarning(SVStatus status, std::string text) override;
    void SetErrorInTask(SVStatus status, std::string text);
    void SetWarningInTask(SVStatus status, std::string text);

    // Any thread: posts the error (unless status is 200, success) and then the stop, behind
    // the tasks already queued ("Session::Abort->SetError", "Session::Abort->Stop").
    void Abort(SVStatus status, const std::string& text);

    // ---- Operations on the chain --------------------------------------------------------
    //
    // The posting halves may be called from any thread and return once their task is queued.
    // The InTask halves run on the task thread and start at the output end of the chain; each
    // does nothing while the stack is empty.

    // One further pull of up to bytes through the chain ("Session::PullData(FS)").
    void PullData(ByteAmount bytes);
    void PullDataInTask(ByteAmount bytes);

    // Drops the seeks still queued, then queues this one ("Session::Seek(MS)"). Until it runs,
    // queued data tasks are dropped unrun and the pump pulls nothing, so no data from before
    // the seek reaches the chain. A seek asked while the chain preloads is noted in the debug
    // output and still queued; its task half then refuses it.
    void Seek(MediaTime time);
    // Empties and repositions every cache, drops the download client's queued data and seeks
    // the chain; a chain that is still preloading refuses the seek.
    void SeekInTask(MediaTime time);

    // Queues the rate change ("Session::TrickPlay"), dropping data tasks until it runs as a
    // seek does. Queued seeks and earlier rate changes stay.
    void TrickPlay(TrickPlayRate rate, MediaTime time);
    void TrickPlayInTask(TrickPlayRate rate, MediaTime time);

    // Chapters first..last ("Session::GetChapterData"); the caller checks the range.
    void GetChapterData(uint32_t first, uint32_t last);
    void GetChapterDataInTask(uint32_t first, uint32_t last);

    void SelectTrack(TrackId track);
    void SelectTrackInTask(TrackId track);

    // Run on the calling thread: the session's own task thread, or the thread that sets the
    // session up. PreLoad starts the chain's preload (timeout in microseconds) from the source
    // end; SetPosition repositions every cache of the given stack (StackIdAny: all).
    void PreLoad(MediaTime timeout);
    void SetPosition(BytePosition position, StackId stackId);

    // Once per pump pass, on the task thread: the chain's tick, and its periodic check when at
    // least 1000 ms have passed since the last one.
    void Tick();

    // The opaque word the download client hands its transport factory (0).
    uintptr_t GetTransportParameter() const { return transportParameter_; }
    // The session's clock (the system's unless Create was given one): components that time
    // their own work (the download client's stall check and bandwidth) read it here, so a test
    // that drives the session's clock drives them too.
    const TaskManager::Clock& GetClock() const { return clock_; }

protected:
    explicit Session(const TaskManager::Clock& clock);

private:
    // The pump's handlers reach the session through this link; it is cut when the session
    // goes on its own pump thread, which then runs on for the rest of its pass.
    struct PumpLink {
        std::atomic<Session*> session;
    };
    static void PullThrough(const boost::shared_ptr<PumpLink>& link, ByteAmount bytes);
    static void TickThrough(const boost::shared_ptr<PumpLink>& link);
    static void ShutdownThrough(const boost::shared_ptr<PumpLink>& link);

    bool IsPumpThread() const;

    // The output end of the chain, or empty.
    boost::shared_ptr<Component> FrontComponent() const;

    // Builds what needs the owning shared pointer (the main tracker's weak link) and the pump.
    void Initialise();
    void ReleaseQueuedTasks();

    // Guards trackers_, capacity_ and unallocated_. Nothing else is called while it is held
    // (trackers are asked for their use outside it), so it is safe to take from anywhere,
    // including from a tracker or a cache that holds a lock of its own.
    // Members go in reverse order: queued tasks first, then the components (whose caches
    // leave their trackers), then the trackers.
    mutable std::mutex memoryLock_;
    // Guards stack_: the setting-up thread may replace it while the task thread reads it.
    mutable std::mutex stackLock_;
    std::list<boost::shared_ptr<MemoryTracker>> trackers_;  // main tracker first
    ComponentStack stack_;
    // Guards credentials_, which the setting-up thread hands over while components read it.
    mutable std::mutex credentialsLock_;
    boost::shared_ptr<SVMKCredentials> credentials_;
    boost::shared_ptr<TaskManager> taskManager_;
    ByteAmount capacity_;
    ByteAmount unallocated_;
    TaskManager::Clock clock_;

    boost::shared_ptr<PumpLink> link_;
    boost::shared_ptr<Pump> pump_;
    // Guards the four flags of the life cycle.
    std::mutex lifeLock_;
    bool pumpStarted_;      // StartPump has run and no stop has acted yet
    bool stopRequested_;    // a stop has acted
    bool threadStarted_;    // Start has set a pump thread running
    bool shutdownStarted_;  // Shutdown has begun
    // Set once the session has shut down; stays set. Shared: the shutdown sets it after letting
    // go of its hold, when another owner may already have destroyed the session.
    const boost::shared_ptr<SV::Event> stopEvent_;

    SV::PilTime lastPeriodicCheck_;  // task thread only; 0 before the first check
    const uintptr_t transportParameter_;
};

}  // namespace SarvelonMediaKit

#endif
