#include "engine/core/Pump.h"

#include <unistd.h>

#include <boost/bind/bind.hpp>

#include <algorithm>
#include <chrono>
#include <vector>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Output/LineWriter.h"

namespace SarvelonMediaKit {

namespace {

const uint32_t kWatchdogMilliseconds = 500;
// The player and the multiplexer count as stalled after more than this long.
const int64_t kStallMilliseconds = 2000;
const size_t kMaxTraces = 10;
// The longest an idle pump sleeps without a post: what a chain that waits on state no post
// announces (a segment another session is still writing) may wait to be looked at again. Well
// under the second after which the watchdog calls a queue not run a stuck one.
const int64_t kIdleWaitLimitMilliseconds = 100;

// When data was last handed to the player; 0 while nothing has been. Shared by every pump,
// and never destroyed: a watchdog may still look at it while the process exits.
SV::MutexedVariable<SV::PilTime>& LastFed() {
    static SV::MutexedVariable<SV::PilTime>* lastFed =
        new SV::MutexedVariable<SV::PilTime>(SV::PilTime(0));
    return *lastFed;
}
// The stall of LastFed last reported, under LastFed's lock: shared as the stamp is, so that
// the many pumps of a playback say it once between them.
SV::PilTime gLastFedReported(0);

// The pump whose thread this is, so Pause can tell that it is called from inside a pass.
thread_local const Pump* tCurrentPump = nullptr;
// The pump whose pass runs on this thread now (CurrentPass).
thread_local const Pump* tPassPump = nullptr;
// Data has been handed on by a component on this thread since the pump last cleared it.
thread_local bool tDataMoved = false;
// A component of the running pass has more output its peer waits for (NoteMoreOutputReady).
thread_local bool tMoreOutputReady = false;
// A component of the running pass waits for a post (NoteWaitingForPost).
thread_local bool tWaitingForPost = false;
// What the components of the running pass said about their waits (NoteIdleUntil): whether any
// did, and the earliest time one named (ms from the note; -1: none).
thread_local bool tIdleNoted = false;
thread_local int64_t tIdleDue = -1;

// Clears the busy flag however a pass ends, so a pass that throws never leaves Pause waiting.
class BusyMark {
public:
    explicit BusyMark(std::atomic<bool>& busy) : busy_(busy) { busy_ = true; }
    ~BusyMark() { busy_ = false; }

private:
    std::atomic<bool>& busy_;
};

// Marks the pass of a pump as running on this thread for its length, however it ends.
class PassMark {
public:
    explicit PassMark(const Pump* pump) : previous_(tPassPump) { tPassPump = pump; }
    ~PassMark() { tPassPump = previous_; }

private:
    const Pump* previous_;
};

// "<prefix><milliseconds>MS" when the stamp is set and more than the stall time ago, once per
// stall: a stall is known by the stamp it began at, kept in reported (guarded by the stamp's
// lock), and only output that moves the stamp on makes the next one. A player that reads
// nothing for half an hour gets one line, not one every check.
void ReportStall(SV::MutexedVariable<SV::PilTime>& stamp, SV::PilTime& reported,
                 const SV::PilTime& now, const char* prefix) {
    int64_t since = 0;
    {
        SV::ScopedLock lock(stamp);
        if (stamp.Value().Get() == 0) return;
        since = now - stamp.Value();
        // A clock set back gives a negative span: nothing to report.
        if (since <= kStallMilliseconds || reported == stamp.Value()) return;
        reported = stamp.Value();
    }
    SV::WriteLine(prefix + std::to_string(since) + "MS");
}

}  // namespace

Pump::Pump(Session* session, const boost::shared_ptr<TaskManager>& taskManager, const Clock& clock)
    : taskManager_(taskManager ? taskManager : boost::shared_ptr<TaskManager>(new TaskManager)),
      muxLastOutput_(SV::PilTime(0)),
      muxStallReported_(0),
      started_(false),
      pauseCount_(0),
      busy_(false),
      threadRunning_(false),
      session_(session),
      interval_(0),
      pullAmount_(0),
      thread_(nullptr),
      clock_(clock) {
    taskManager_->SetPostHandler(boost::bind(&Pump::Wake, this));
    SV::MutexedVariable<SV::PilTime>& lastFed = LastFed();
    SV::ScopedLock lock(lastFed);
    lastFed = SV::PilTime(0);
}

Pump::~Pump() {
    // The watchdog reads our members: it must neither be running nor come back from here on.
    CancelTimer();
    StopThread();
    // A thread that started only now armed it once more before it saw the stop.
    CancelTimer();
    // The queue may outlive us (the session and the download thread hold it).
    taskManager_->SetPostHandler(boost::function<void()>());
}

SV::PilTime Pump::Now() const { return clock_ ? clock_() : SV::PilTime::Now(); }

void Pump::CreateThread(MediaTime intervalMicroseconds) {
    if (thread_ != nullptr) return;
    interval_ = intervalMicroseconds;
    if (intervalMicroseconds.Get() == 0) return;
    threadRunning_ = true;
    try {
        thread_ =
            new SV::Thread("Pump", new SV::CppFunctorNoP<Pump>(&Pump::Run, this), true, false, 3);
    } catch (...) {
        threadRunning_ = false;
        throw;
    }
}

void Pump::Start() {
    const bool wasStarted = started_.exchange(true);
    StartThread(!wasStarted);
}

void Pump::StartThread(bool start) {
    if (start && thread_ != nullptr) thread_->Start();
}

void Pump::RequestStop() {
    // Wakes the loop through the post handler.
    taskManager_->RequestStop();
}

void Pump::Wake() {
    bool notify = false;
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        posted_ = true;
        // A pump waiting out the interval after a busy pass runs at its time anyway: waking it
        // only to wait again costs two thread switches per post (a request on a connection
        // being served, for one). A stop ends any wait.
        notify = waitingIdle_ || taskManager_->IsStopRequested();
    }
    if (notify) waitCondition_.notify_one();
}

const Pump* Pump::CurrentPass() { return tPassPump; }

void Pump::NoteDataMoved() { tDataMoved = true; }

void Pump::NoteMoreOutputReady() { tMoreOutputReady = true; }

void Pump::NoteWaitingForPost() { tWaitingForPost = true; }

void Pump::NoteIdleUntil(int64_t dueMilliseconds) {
    if (dueMilliseconds >= 0 && (tIdleDue < 0 || dueMilliseconds < tIdleDue)) {
        tIdleDue = dueMilliseconds;
    }
    tIdleNoted = true;
}

void Pump::Pause() {
    ++pauseCount_;
    // Inside a pass the pass is our own: waiting for it to end would wait for ourselves.
    if (IsPumpThread()) return;
    const uint64_t milliseconds = std::max<uint64_t>(interval_.Get() / 1000, 1);
    while (busy_) usleep(static_cast<useconds_t>(milliseconds * 1000));
}

void Pump::Resume() {
    uint32_t count = pauseCount_.load();
    for (;;) {
        if (count == 0) {
            DebugPrint("WARNING: Pump Pause/Resume imbalance\n");
            return;
        }
        if (pauseCount_.compare_exchange_weak(count, count - 1)) {
            // An idle pump passed over the queue while paused: it looks again now.
            if (count == 1) Wake();
            return;
        }
    }
}

void Pump::SetPullAmount(ByteAmount amount) {
    pullAmount_ = amount.Get();
    Wake();
}

void Pump::NoteMuxOutput(bool produced) {
    if (!produced) return;
    producedInPass_ = true;
    const SV::PilTime now = Now();
    SV::ScopedLock lock(muxLastOutput_);
    muxLastOutput_ = now;
}

void Pump::AddTrace(const std::string& text) {
    SV::ScopedLock lock(taskManager_->GetStateMutex());
    traces_.push_back(text);
    if (traces_.size() > kMaxTraces) traces_.pop_front();
}

void Pump::AppendToLastTrace(const std::string& text) {
    SV::ScopedLock lock(taskManager_->GetStateMutex());
    if (!traces_.empty()) traces_.back() += text;
}

void Pump::SetPullHandler(const boost::function<void(ByteAmount)>& handler) {
    pullHandler_ = handler;
}

void Pump::SetTickHandler(const boost::function<void()>& handler) { tickHandler_ = handler; }

void Pump::SetShutdownHandler(const boost::function<void()>& handler) {
    shutdownHandler_ = handler;
}

bool Pump::IsPumpThread() const { return tCurrentPump == this; }

void Pump::PullHook() {
    const uint32_t amount = pullAmount_;
    if (taskManager_->IsDroppingDataTasks() || amount == 0) return;
    if (pullHandler_) pullHandler_(ByteAmount(amount));
}

bool Pump::Pass() {
    BusyMark busy(busy_);
    tIdleNoted = false;
    tIdleDue = -1;
    tMoreOutputReady = false;
    tWaitingForPost = false;
    if (pauseCount_ != 0) return false;
    PassMark pass(this);
    tDataMoved = false;
    const bool tookTasks = taskManager_->RunTasks();
    PullHook();
    if (tickHandler_) tickHandler_();
    return tookTasks || tDataMoved;
}

void Pump::WaitForNextPass(std::chrono::steady_clock::time_point deadline, bool idle,
                           bool untilWoken, bool resting) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    // The stop flag is set before the post handler runs, which takes this lock: either it is
    // seen here or its notification comes after the wait began.
    const auto woken = [&]() { return taskManager_->IsStopRequested() || (idle && posted_); };
    // Set and cleared under the lock the predicate is read under: a post either sees it or
    // comes before the wait's first look.
    waitingIdle_ = idle;
    struct ClearWaiting {
        bool& flag;
        ~ClearWaiting() { flag = false; }
    } clearWaiting{waitingIdle_};
    // Asleep with nothing queued, until a post or a time of the chain's own, is not a queue
    // left unrun: the watchdog keeps quiet until a post wakes us (one that does not is still
    // reported).
    resting_ = resting || untilWoken;
    struct ClearResting {
        std::atomic<bool>& flag;
        ~ClearResting() { flag = false; }
    } clearResting{resting_};
    if (untilWoken) {
        waitCondition_.wait(lock, woken);
    } else {
        waitCondition_.wait_until(lock, deadline, woken);
    }
}

int Pump::Run() {
    tCurrentPump = this;
    try {
        SV::TimerSet(this, 0, kWatchdogMilliseconds, true);
    } catch (...) {
        // The process is terminating: no watchdog then.
    }

    // Passes are timed on the monotonic clock, so a clock set back never stretches a wait.
    typedef std::chrono::steady_clock Steady;
    const int64_t period = static_cast<int64_t>(interval_.Get() / 1000);
    int64_t idleWait = 0;  // the wait after the last idle pass; 0 after one that found work
    while (!taskManager_->IsStopRequested()) {
        const Steady::time_point t0 = Steady::now();
        producedInPass_ = false;
        {
            // Whatever is posted from here on is seen by this pass or wakes the pump after it.
            std::lock_guard<std::mutex> lock(waitMutex_);
            posted_ = false;
        }
        bool foundWork = false;
        try {
            foundWork = Pass();
        } catch (...) {
            // A failing pass is dropped; the next one comes round as usual.
            foundWork = true;
        }
        if (producedInPass_) foundWork = true;
        if (backToBack_ && producedInPass_) continue;
        // The peer takes what it is sent: the next part goes out without the interval's wait
        // (and the two thread switches it costs).
        if (tMoreOutputReady && !taskManager_->IsStopRequested()) continue;
        int64_t wait = period;
        bool untilWoken = false;
        if (foundWork) {
            idleWait = 0;
        } else if (tIdleNoted) {
            // Everything the chain waits for wakes us, but for the time it named.
            idleWait = 0;
            untilWoken = tIdleDue < 0;
            if (!untilWoken) wait = std::max(period, tIdleDue);
        } else {
            // Never shorter than the interval; doubling from at least a millisecond.
            idleWait = idleWait == 0 ? period : std::min(idleWait * 2, kIdleWaitLimitMilliseconds);
            if (idleWait == 0) idleWait = 1;
            wait = std::max(period, idleWait);
        }
        try {
            // A pass that answered everything asked waits for the next request as an idle
            // one does: a post ends the wait.
            WaitForNextPass(t0 + std::chrono::milliseconds(wait), !foundWork || tWaitingForPost,
                            untilWoken, !foundWork && tIdleNoted);
        } catch (...) {
            // A failed wait only brings the next pass sooner.
        }
    }

    // No check re-arms from here on. The flag that says the loop has ended goes down only once
    // the watchdog is disarmed and no check is running: whoever sees the pump stopped never
    // hears from its watchdog again.
    loopEnded_ = true;
    CancelTimer();
    threadRunning_ = false;
    if (shutdownHandler_) {
        try {
            shutdownHandler_();
        } catch (...) {
        }
    }
    tCurrentPump = nullptr;
    return 0;
}

void Pump::StopThread() {
    taskManager_->RequestStop();
    if (thread_ != nullptr) {
        // Joins a started thread; one that was never started is released without running.
        delete thread_;
        thread_ = nullptr;
    }
    threadRunning_ = false;
}

void Pump::TimerExpired() {
    // Each stuck state is reported when it begins, not again at every check while it lasts.
    std::string name;
    const bool hung = taskManager_->IsTaskHung(name);
    if (hung && !hungReported_) {
        SV::WriteLine("TaskManager hung on " + name);
    }
    hungReported_ = hung;
    bool notRunning = taskManager_->IsNotRunning(name);
    if (notRunning && resting_) {
        std::lock_guard<std::mutex> lock(waitMutex_);
        if (resting_ && !posted_) notRunning = false;
    }
    if (notRunning && !notRunningReported_) {
        std::vector<std::string> traces;
        {
            SV::ScopedLock lock(taskManager_->GetStateMutex());
            traces.assign(traces_.begin(), traces_.end());
        }
        SV::WriteLine("Pump is not runing.  Last task " + name);
        for (size_t i = 0; i < traces.size(); ++i) SV::WriteLine("\t" + traces[i]);
    }
    notRunningReported_ = notRunning;
    const SV::PilTime now = Now();
    ReportStall(LastFed(), gLastFedReported, now, "We are not feeding the player for ");
    ReportStall(muxLastOutput_, muxStallReported_, now, "Mux has stopped sending ");

    // A stopped pump has nothing left to watch.
    if (threadRunning_ && !loopEnded_) {
        try {
            SV::TimerSet(this, 0, kWatchdogMilliseconds, true);
        } catch (...) {
        }
    }
}

}  // namespace SarvelonMediaKit
