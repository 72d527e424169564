#ifndef ENGINE_CORE_PUMP_H
#define ENGINE_CORE_PUMP_H

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Time/Timer.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/TaskManager.h"

namespace SarvelonMediaKit {

class Session;

// The heartbeat of one session: a thread "Pump" that, once per interval, runs the session's
// task queue and then lets the session pull the next amount of data through its chain. The
// session may pause it around changes of its chain.
//
// A pass that found work (took a task off the queue, moved data through a component, or had
// the multiplexer send) is followed by the next one an interval after it began. A pass that
// found none makes the pump idle: it sleeps until a task is posted, the pump is woken, resumed
// or stopped, or its idle wait runs out. The idle wait starts at the interval and doubles with
// each idle pass up to a limit, so an idle session costs a few wake-ups a second instead of
// one per interval, while a chain that waits on state no post announces (a file another
// session is still writing) is still looked at within that limit. A chain that knows all it
// waits for is announced (NoteIdleUntil) lifts the limit: the pump then sleeps until woken or
// until the time the chain named, so an idle session costs no wake-ups at all.
//
// The pump is also its own watchdog (the timer): every 500 ms, on the timer-manager thread, it
// looks for what is stuck: a task running for more than a second, a queue that has not been
// run for more than a second (with the last traces components left here; a pump resting as its
// chain said, NoteIdleUntil, with nothing posted is not stuck), a player that has
// not been fed and a multiplexer that has stopped producing for more than two seconds. Each
// goes to the engine's line writer once, when it is first seen; a stall is said again only
// after output resumed and stopped anew. The watchdog is armed while the pump thread runs,
// and only then.
//
// The session's part of a pass (its pull and its tick) and its shutdown at the end are reached
// through handlers the session installs before Start.
class Pump : public SV::Timer {
public:
    typedef TaskManager::Clock Clock;

    // session may be null. An empty taskManager makes the pump a queue of its own; the pump
    // becomes the queue's post handler, so one queue serves one pump. The clock
    // (tests) drives the watchdog's times and should be the queue's as well; empty: real time.
    explicit Pump(
        Session* session,
        const boost::shared_ptr<TaskManager>& taskManager = boost::shared_ptr<TaskManager>(),
        const Clock& clock = Clock());
    // Disarms the watchdog, stops the thread (joining it; a thread that was never started is
    // released without running) and lets the queue go. A pump must not be destroyed on its
    // own thread: the pass that runs there still uses it.
    ~Pump() override;

    Pump(const Pump&) = delete;
    Pump& operator=(const Pump&) = delete;

    // The watchdog's check; runs on the timer-manager thread.
    void TimerExpired() override;

    // Starts the thread when start is true and the thread has been created.
    virtual void StartThread(bool start);
    // The session's pull of one pass: when no seek is pending (no data tasks dropped) and a
    // pull amount is set, the pull handler with that amount.
    virtual void PullHook();

    // Stores the interval (microseconds between the starts of two passes) and, when it is not
    // 0, creates the thread "Pump", suspended. Only the first call with an interval makes one.
    void CreateThread(MediaTime intervalMicroseconds);
    // Starts the thread; only the first call does anything.
    void Start();
    // Cuts an idle wait short, as a post does: for a thread that leaves work for the pump's
    // passes without posting a task. Any thread; also the task manager's post handler.
    void Wake();
    // The loop ends after its current pass; the session is then shut down on the pump thread.
    // Returns at once.
    void RequestStop();

    // From the next pass on, nothing runs until the matching Resume; returns when no pass is
    // running, so the caller may change the chain. On the pump thread itself (from a task or
    // the shutdown) it returns at once: the running pass is the caller's own.
    void Pause();
    void Resume();

    // The bytes each pass pulls (0: no pull).
    void SetPullAmount(ByteAmount amount);
    ByteAmount GetPullAmount() const { return ByteAmount(pullAmount_.load()); }

    // The multiplexer calls this after it has sent output.
    void NoteMuxOutput(bool produced);
    // A component calls this when it hands data on; on a pump thread it makes the running pass
    // one that found work. Any thread; costs one thread-local store.
    static void NoteDataMoved();
    // A component calls this in a pass on a pump thread when everything it waits for is
    // announced by a post or a Wake, except a time of its own dueMilliseconds from now
    // (negative: none). When the pass finds no work, the pump then sleeps until woken or until
    // the earliest such time, instead of looking again within its idle limit. A pass in which
    // nobody calls it keeps the limit. Costs a thread-local store; outside a pass it is ignored.
    static void NoteIdleUntil(int64_t dueMilliseconds);
    // A component calls this in a pass on a pump thread when it has sent output its peer took
    // and holds more that the peer is waiting for (a response part way out), or when only its
    // own bound for one pass stopped it while its source still gave and there was room for
    // more (a segment part way written): the next pass follows at once instead of after the
    // interval, so a response goes out at the pace its peer reads it (a send blocks while the
    // peer's receive room is full), each pass still moving no more than its pull. A pass in
    // which nobody calls it keeps the interval, so a response waiting for bytes that are still
    // being made does not spin. Costs a thread-local store; outside a pass it is ignored.
    static void NoteMoreOutputReady();
    // A component calls this in a pass on a pump thread when it has answered all it was asked
    // and its next work comes as a post (a connection whose response is complete waits for the
    // player's next request): a post during the interval that follows the pass then starts the
    // next pass at once, instead of waiting out the interval, so the answer's first byte does
    // not wait for a serving cycle. Without a post the interval is kept. Costs a thread-local
    // store; outside a pass it is ignored.
    static void NoteWaitingForPost();
    // The pump whose pass is running on the calling thread (its tasks, its pull, its tick), or
    // null outside a pass: what a component does here before the pass's tick is sure to be
    // followed by that tick on this thread.
    static const Pump* CurrentPass();
    // True: a pass in which the multiplexer sent output is followed at once by the next one,
    // without the interval's wait: for a chain that moves a whole title as fast as it can,
    // whose output paces itself. A pass that sent nothing still waits the interval, so a chain
    // waiting for its data does not spin. False (the default): every pass waits the interval.
    void SetBackToBackWhileProducing(bool backToBack) { backToBack_ = backToBack; }

    // Keeps the last ten trace texts of the components, for the watchdog's report.
    void AddTrace(const std::string& text);
    void AppendToLastTrace(const std::string& text);

    // Installed by the session before Start; each runs on the pump thread.
    // Called by PullHook with the pull amount.
    void SetPullHandler(const boost::function<void(ByteAmount)>& handler);
    // Called on every pass that is not paused, after the queue and the pull.
    void SetTickHandler(const boost::function<void()>& handler);
    // Called once when the loop has ended.
    void SetShutdownHandler(const boost::function<void()>& handler);

    boost::shared_ptr<TaskManager> GetTaskManager() const { return taskManager_; }
    Session* GetSession() const { return session_; }
    // True on this pump's own thread (in a task, a handler or the shutdown).
    bool IsPumpThread() const;
    // True from the creation of the thread until its loop has ended and its watchdog is
    // disarmed: once false, no watchdog check runs or will run.
    bool IsThreadRunning() const { return threadRunning_; }

private:
    int Run();
    // True when the pass found work.
    bool Pass();
    // Between two passes: until the deadline (untilWoken: with none), or sooner on a stop, and,
    // when idle, on a post. resting: the chain said all it waits for is announced but its own
    // time (NoteIdleUntil), so the queue left unrun meanwhile is no stall.
    void WaitForNextPass(std::chrono::steady_clock::time_point deadline, bool idle, bool untilWoken,
                         bool resting);
    void StopThread();
    SV::PilTime Now() const;

    boost::shared_ptr<TaskManager> taskManager_;
    SV::MutexedVariable<SV::PilTime> muxLastOutput_;  // 0 until the multiplexer produces
    SV::PilTime muxStallReported_;  // the stall last reported; under muxLastOutput_'s lock
    // Whether the watchdog's last check found a hung task, a queue not run; its thread only.
    bool hungReported_ = false;
    bool notRunningReported_ = false;
    std::atomic<bool> started_;
    std::atomic<uint32_t> pauseCount_;
    std::atomic<bool> busy_;              // a pass is running
    std::atomic<bool> threadRunning_;     // thread created and its loop not yet ended
    std::atomic<bool> loopEnded_{false};  // the loop has ended; the watchdog re-arms no more
    Session* session_;
    MediaTime interval_;  // microseconds; written before the thread starts
    std::atomic<uint32_t> pullAmount_;
    std::atomic<bool> backToBack_{false};
    std::atomic<bool> producedInPass_{false};  // the multiplexer sent output in this pass
    SV::Thread* thread_;  // owned; only the owner's thread creates and deletes it
    // Guards posted_ and is the wait between two passes; a post, a resume and a stop notify.
    std::mutex waitMutex_;
    std::condition_variable waitCondition_;
    bool posted_ = false;       // something was posted or resumed since the pass began
    bool waitingIdle_ = false;  // waiting after an idle pass: a post ends the wait
    // The thread sleeps until woken or until the time its chain named (a chain at rest);
    // under waitMutex_, read unlocked first.
    std::atomic<bool> resting_{false};
    std::deque<std::string> traces_;  // under the task manager's state mutex, oldest first
    Clock clock_;
    // Written before the thread starts, read on it.
    boost::function<void(ByteAmount)> pullHandler_;
    boost::function<void()> tickHandler_;
    boost::function<void()> shutdownHandler_;
};

}  // namespace SarvelonMediaKit

#endif
