#include "engine/core/Session.h"

#include <boost/make_shared.hpp>

#include <boost/bind/bind.hpp>

#include <mutex>
#include <vector>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/Component.h"
#include "engine/core/SVMKCredentials.h"

namespace SarvelonMediaKit {

namespace {

const char kBelowAllocatedTrackers[] =
    "Cannot set session capacity to less than that of allocated trackers";
const char kBelowBytesHeld[] = "Session capacity cannot be set to less than current bytes held";
const char kTrackerTooLarge[] = "Cannot allocate Tracker that large";

// The chain's periodic check runs at most this often.
const int64_t kPeriodicCheckMilliseconds = 1000;

// The session's task types: the session, one of its members and copies of the arguments.
typedef TaskTemplate1<Session*, void (Session::*)(ByteAmount), ByteAmount> PullDataTask;
typedef TaskTemplate1<Session*, void (Session::*)(MediaTime), MediaTime> SeekTask;
typedef TaskTemplate2<Session*, void (Session::*)(TrickPlayRate, MediaTime), TrickPlayRate,
                      MediaTime>
    TrickPlayTask;
typedef TaskTemplate2<Session*, void (Session::*)(uint32_t, uint32_t), uint32_t, uint32_t>
    ChapterDataTask;
typedef TaskTemplate1<Session*, void (Session::*)(TrackId), TrackId> SelectTrackTask;
typedef TaskTemplate2<Session*, void (Session::*)(SVStatus, std::string), SVStatus, std::string>
    ReportTask;
typedef TaskTemplate1<Session*, void (Session::*)(bool), bool> StopTask;

// Destroys pumps whose session went on the pump's own thread: a pump cannot be destroyed
// there, so it is kept until its thread has ended and then released on the timer thread.
// Made on first use and never destroyed, so nothing runs under a static that is going away.
class PumpReaper : public SV::Timer {
public:
    static void Adopt(const boost::shared_ptr<Pump>& pump) {
        if (!pump) return;
        PumpReaper& reaper = Instance();
        std::lock_guard<std::mutex> lock(reaper.lock_);
        reaper.pumps_.push_back(pump);
        reaper.Arm();
    }

    void TimerExpired() override {
        std::vector<boost::shared_ptr<Pump>> ended;
        {
            std::lock_guard<std::mutex> lock(lock_);
            std::vector<boost::shared_ptr<Pump>> running;
            for (size_t i = 0; i < pumps_.size(); ++i) {
                (pumps_[i]->IsThreadRunning() ? running : ended).push_back(pumps_[i]);
            }
            pumps_.swap(running);
            if (!pumps_.empty()) Arm();
        }
        // Released outside the lock: each joins a thread that has left its loop.
    }

private:
    static PumpReaper& Instance() {
        static PumpReaper* reaper = new PumpReaper;
        return *reaper;
    }

    // Under lock_.
    void Arm() {
        try {
            SV::TimerSet(this, 0, 10, true);
        } catch (const SV::SVLibraryException&) {
            // The process is ending: the pumps stay as they are.
        }
    }

    std::mutex lock_;
    std::vector<boost::shared_ptr<Pump>> pumps_;
};

}  // namespace

boost::shared_ptr<Session> Session::Create(const TaskManager::Clock& clock) {
    boost::shared_ptr<Session> session(
        new Session(clock ? clock : TaskManager::Clock(&SV::PilTime::Now)));
    session->Initialise();
    return session;
}

Session::Session(const TaskManager::Clock& clock)
    : SocketMaster(boost::shared_ptr<TaskManager>()),
      stack_(StackIdServing),
      taskManager_(new TaskManager(clock)),
      capacity_(0),
      unallocated_(0),
      clock_(clock),
      link_(new PumpLink),
      pumpStarted_(false),
      stopRequested_(false),
      threadStarted_(false),
      shutdownStarted_(false),
      stopEvent_(boost::make_shared<SV::Event>(false)),
      lastPeriodicCheck_(0),
      transportParameter_(0) {}

void Session::Initialise() {
    link_->session = this;
    pump_.reset(new Pump(this, taskManager_, clock_));
    pump_->SetPullHandler(boost::bind(&Session::PullThrough, link_, boost::placeholders::_1));
    pump_->SetTickHandler(boost::bind(&Session::TickThrough, link_));
    pump_->SetShutdownHandler(boost::bind(&Session::ShutdownThrough, link_));
    SetTaskManager(taskManager_);

    boost::shared_ptr<MemoryTracker> main(new MemoryTracker(weak_from_this(), 0));
    std::lock_guard<std::mutex> lock(memoryLock_);
    trackers_.push_back(main);
}

Session::~Session() {
    // Its error events reach into the session: stop them before any member goes.
    ErrorInfoMonitor::DetachFromSources();

    if (!IsPumpThread()) {
        // Waits for the pump thread's shutdown when it runs; nothing when it never started.
        Stop(true);
        // The socket thread hands what it reads to delegates among the components: it ends
        // before they go.
        SocketMaster::Stop();
        ReleaseQueuedTasks();
        return;
    }

    // The last owner let go in a task or an event on the session's own pump thread. That
    // thread cannot wait for itself, and its pass is still running: cut it off from the
    // session, stop the loop, shut the session down here, and have the pump destroyed
    // elsewhere once its thread has ended.
    link_->session = nullptr;
    Stop(false);
    Shutdown();
    SocketMaster::Stop();
    PumpReaper::Adopt(pump_);
    ReleaseQueuedTasks();
}

void Session::ReleaseQueuedTasks() {
    // They never run now. The queue itself lives on with the pump, the socket master's last:
    // what the tasks hold (components among it) goes here, before the members.
    taskManager_->RemoveTasks(0xFFFFFFFFu, StackIdAny);
}

void Session::SetComponentStack(const ComponentStack& stack) {
    ComponentStack previous;
    {
        std::lock_guard<std::mutex> lock(stackLock_);
        previous = stack_;
        stack_ = stack;
    }
    // The components of the old stack that nobody else holds go here, outside the lock.
}

ComponentStack Session::GetComponentStack() const {
    std::lock_guard<std::mutex> lock(stackLock_);
    return stack_;
}

boost::shared_ptr<Component> Session::FrontComponent() const {
    std::lock_guard<std::mutex> lock(stackLock_);
    return stack_.Front();
}

void Session::SetCredentials(const boost::shared_ptr<SVMKCredentials>& credentials) {
    boost::shared_ptr<SVMKCredentials> previous;
    std::lock_guard<std::mutex> lock(credentialsLock_);
    previous = credentials_;  // released after the lock
    credentials_ = credentials;
}

boost::shared_ptr<SVMKCredentials> Session::GetCredentials() const {
    std::lock_guard<std::mutex> lock(credentialsLock_);
    return credentials_;
}

void Session::SetCapacity(ByteAmount bytes) {
    std::vector<boost::shared_ptr<MemoryTracker>> trackers;
    {
        std::lock_guard<std::mutex> lock(memoryLock_);
        if (bytes < capacity_ - unallocated_) {
            throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowAllocatedTrackers);
        }
        trackers.assign(trackers_.begin(), trackers_.end());
    }

    // Asked outside the lock: a tracker asks its users, and a user may hold a lock of its own
    // while it asks the session for room.
    uint64_t held = 0;
    for (size_t i = 0; i < trackers.size(); ++i) held += trackers[i]->BytesUsed();
    if (bytes < held) throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowBytesHeld);

    std::lock_guard<std::mutex> lock(memoryLock_);
    // Trackers may have been allocated meanwhile.
    const uint32_t allocated = capacity_ - unallocated_;
    if (bytes < allocated) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, kBelowAllocatedTrackers);
    }
    unallocated_ = bytes - allocated;
    capacity_ = bytes;
}

boost::shared_ptr<MemoryTracker> Session::AllocateTracker(ByteAmount bytes) {
    std::lock_guard<std::mutex> lock(memoryLock_);
    if (unallocated_ < bytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, kTrackerTooLarge);
    }
    boost::shared_ptr<MemoryTracker> tracker(new MemoryTracker(weak_from_this(), bytes));
    trackers_.push_back(tracker);
    unallocated_ -= bytes;
    return tracker;
}

void Session::ReleaseTracker(MemoryTracker* tracker) {
    // Declared before the lock, so the session's share goes only after the lock is given up.
    boost::shared_ptr<MemoryTracker> released;
    std::lock_guard<std::mutex> lock(memoryLock_);
    if (trackers_.empty()) return;
    std::list<boost::shared_ptr<MemoryTracker>>::iterator it = trackers_.begin();
    for (++it; it != trackers_.end(); ++it) {
        if (it->get() == tracker) {
            unallocated_ += tracker->GetOwnLimit();
            released.swap(*it);
            trackers_.erase(it);
            break;
        }
    }
}

boost::shared_ptr<MemoryTracker> Session::GetMemoryTracker() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return trackers_.empty() ? boost::shared_ptr<MemoryTracker>() : trackers_.front();
}

ByteAmount Session::GetUnallocatedCapacity() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return unallocated_;
}

ByteAmount Session::GetCapacity() const {
    std::lock_guard<std::mutex> lock(memoryLock_);
    return capacity_;
}

void Session::AddTask(const boost::shared_ptr<Task>& task) { taskManager_->AddTask(task); }

void Session::RemoveTasks(uint32_t categoryMask, StackId stackId) {
    taskManager_->RemoveTasks(categoryMask, stackId);
}

void Session::SetDropDataTasks() { taskManager_->SetDropDataTasks(); }

void Session::ClearDropDataTasks() { taskManager_->ClearDropDataTasks(); }

boost::shared_ptr<TaskManager> Session::GetTaskManager() const { return taskManager_; }

// ---- Life cycle ---------------------------------------------------------------------------

void Session::StartPump(MediaTime intervalMicroseconds) {
    std::lock_guard<std::mutex> lock(lifeLock_);
    if (stopRequested_) return;  // a stopped session is not restarted
    pump_->CreateThread(intervalMicroseconds);
    pumpStarted_ = true;
}

void Session::Start() {
    GetComponentStack().Link();
    {
        std::lock_guard<std::mutex> lock(lifeLock_);
        if (!stopRequested_) {
            pump_->Start();
            threadStarted_ = pumpStarted_ && pump_->IsThreadRunning();
        }
    }
    PublishSessionSetupCompleted();
}

void Session::Stop(bool wait) {
    bool stoppedEarlier = false;
    bool shutDownHere = false;
    {
        std::lock_guard<std::mutex> lock(lifeLock_);
        if (stopRequested_) {
            stoppedEarlier = true;
        } else if (pumpStarted_) {
            pumpStarted_ = false;
            stopRequested_ = true;
            SocketMaster::RequestStop();
            pump_->RequestStop();
            // No pump thread ever ran, so none will shut the session down.
            shutDownHere = !threadStarted_;
        } else {
            return;  // never started
        }
    }
    if (shutDownHere) {
        Shutdown();
        return;
    }
    // The pump thread shuts the session down only after the running pass, which may be the
    // caller's own: waiting there would never end.
    if (!wait || IsPumpThread()) return;
    if (!WaitForStop(SV::kInfiniteWait)) {
        DebugPrint(stoppedEarlier ? "ERROR:  Session::Stop (1) WaitForStop not signalled\n"
                                  : "ERROR:  Session::Stop (2) WaitForStop not signalled\n");
    }
}

bool Session::WaitForStop(uint32_t timeoutMilliseconds) {
    return stopEvent_->Wait(timeoutMilliseconds);
}

void Session::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(lifeLock_);
        if (shutdownStarted_) return;
        shutdownStarted_ = true;
    }
    // A monitor below may let go of the last owner: the session stays until it has been
    // told. (Empty once the session is being destroyed: its destructor then waits for this to
    // end, or is what runs it.)
    boost::shared_ptr<Session> keep = weak_from_this().lock();

    Stop(false);  // when the loop ended without a stop, the rest of the session stops too
    if (boost::shared_ptr<Component> front = FrontComponent()) front->Stop();
    PublishSessionStopped();

    // On the pump thread, let go before the event: an owner that lets go once it has seen the
    // event then destroys the session on its own thread, not on this one. Off it (a session
    // whose pump thread never ran) the session may go right here, and its destructor waits for
    // the event: it is set first. Any other owner may let go at any moment, so once this hold
    // has gone the session may be gone too: only the event, held apart, is touched.
    const boost::shared_ptr<SV::Event> stopped = stopEvent_;
    const bool onPumpThread = IsPumpThread();
    if (!onPumpThread) stopped->Set();
    keep.reset();
    if (onPumpThread) stopped->Set();
}

void Session::PausePump() { pump_->Pause(); }

void Session::ResumePump() { pump_->Resume(); }

void Session::SetPullAmount(ByteAmount bytes) { pump_->SetPullAmount(bytes); }

bool Session::IsPumpThread() const { return pump_ && pump_->IsPumpThread(); }

void Session::PullThrough(const boost::shared_ptr<PumpLink>& link, ByteAmount bytes) {
    if (Session* session = link->session.load()) session->PullDataInTask(bytes);
}

void Session::TickThrough(const boost::shared_ptr<PumpLink>& link) {
    if (Session* session = link->session.load()) session->Tick();
}

void Session::ShutdownThrough(const boost::shared_ptr<PumpLink>& link) {
    if (Session* session = link->session.load()) session->Shutdown();
}

// ---- Errors and warnings ------------------------------------------------------------------

void Session::SetError(SVStatus status, std::string text) {
    AddTask(boost::make_shared<ReportTask>(TaskCategorySession, StackIdServing, "Session::SetError",
                                           this, &Session::SetErrorInTask, status, text));
}

void Session::SetWarning(SVStatus status, std::string text) {
    AddTask(boost::make_shared<ReportTask>(TaskCategorySession, StackIdServing,
                                           "Session::SetWarning", this, &Session::SetWarningInTask,
                                           status, text));
}

void Session::SetErrorInTask(SVStatus status, std::string text) { PublishError(status, text); }

void Session::SetWarningInTask(SVStatus status, std::string text) { PublishWarning(status, text); }

void Session::Abort(SVStatus status, const std::string& text) {
    if (status != SVStatusSuccess) {
        AddTask(boost::make_shared<ReportTask>(TaskCategorySession, StackIdServing,
                                               "Session::Abort->SetError", this,
                                               &Session::SetErrorInTask, status, text));
    }
    // Without waiting: the task runs on the very thread a waiting stop would wait for.
    AddTask(boost::make_shared<StopTask>(TaskCategorySession, StackIdServing,
                                         "Session::Abort->Stop", this, &Session::Stop, false));
}

// ---- Operations on the chain --------------------------------------------------------------

void Session::PullData(ByteAmount bytes) {
    AddTask(boost::make_shared<PullDataTask>(TaskCategorySession, StackIdServing,
                                             "Session::PullData(FS)", this,
                                             &Session::PullDataInTask, bytes));
}

void Session::PullDataInTask(ByteAmount bytes) {
    if (boost::shared_ptr<Component> front = FrontComponent()) front->PullData(bytes);
}

void Session::Seek(MediaTime time) {
    // Only a note: the task half decides, and refuses the seek if the preload still runs.
    if (boost::shared_ptr<Component> front = FrontComponent()) {
        if (front->IsPreLoading()) {
            DebugPrint("*********  ERRROR *********\n");
            DebugPrint("    Trying to Seek( MicrosecondsPosition position ) while Preloading\n");
        }
    }
    // Raised before the task exists: its half lowers the flag first thing, so raising it
    // after posting could come too late and leave it raised for good, which stalls playback.
    taskManager_->SetDropDataTasks();
    taskManager_->RemoveTasks(TaskCategorySeek, StackIdAny);
    AddTask(boost::make_shared<SeekTask>(TaskCategorySeek, StackIdServing, "Session::Seek(MS)",
                                         this, &Session::SeekInTask, time));
}

void Session::SeekInTask(MediaTime time) {
    taskManager_->ClearDropDataTasks();
    boost::shared_ptr<Component> front = FrontComponent();
    if (!front) return;
    if (front->IsPreLoading()) {
        DebugPrint("*********  ERRROR *********\n");
        DebugPrint("    Trying to SeekInTaskMicrosecondsPosition while Preloading\n");
        return;
    }
    front->SetPosition(BytePosition(0), StackIdAny);
    RemoveTasks(TaskCategoryDownload, StackIdAny);
    front->Seek(time);
}

void Session::TrickPlay(TrickPlayRate rate, MediaTime time) {
    // Raised before posting, as for a seek.
    taskManager_->SetDropDataTasks();
    AddTask(boost::make_shared<TrickPlayTask>(TaskCategoryTrickPlay, StackIdServing,
                                              "Session::TrickPlay", this, &Session::TrickPlayInTask,
                                              rate, time));
}

void Session::TrickPlayInTask(TrickPlayRate rate, MediaTime time) {
    taskManager_->ClearDropDataTasks();
    if (boost::shared_ptr<Component> front = FrontComponent()) front->TrickPlay(rate, time);
}

void Session::GetChapterData(uint32_t first, uint32_t last) {
    AddTask(boost::make_shared<ChapterDataTask>(TaskCategorySession, StackIdServing,
                                                "Session::GetChapterData", this,
                                                &Session::GetChapterDataInTask, first, last));
}

void Session::GetChapterDataInTask(uint32_t first, uint32_t last) {
    if (boost::shared_ptr<Component> front = FrontComponent()) front->GetChapterData(first, last);
}

void Session::SelectTrack(TrackId track) {
    AddTask(boost::make_shared<SelectTrackTask>(TaskCategorySession, StackIdServing,
                                                "Session::SelectTrack", this,
                                                &Session::SelectTrackInTask, track));
}

void Session::SelectTrackInTask(TrackId track) {
    if (boost::shared_ptr<Component> front = FrontComponent()) front->SelectTrack(track);
}

void Session::PreLoad(MediaTime timeout) {
    if (boost::shared_ptr<Component> front = FrontComponent()) front->PreLoad(timeout);
}

void Session::SetPosition(BytePosition position, StackId stackId) {
    if (boost::shared_ptr<Component> front = FrontComponent()) {
        front->SetPosition(position, stackId);
    }
}

void Session::Tick() {
    boost::shared_ptr<Component> front = FrontComponent();
    if (!front) return;
    front->Tick();
    const SV::PilTime now = clock_();
    const int64_t elapsed = now - lastPeriodicCheck_;
    // A clock set back restarts the spacing rather than holding the check off until it
    // catches up.
    if (lastPeriodicCheck_.Get() == 0 || elapsed >= kPeriodicCheckMilliseconds || elapsed < 0) {
        front->PeriodicCheck();
        lastPeriodicCheck_ = now;
    }
}

}  // namespace SarvelonMediaKit
