#ifndef PLATFORM_CORE_RUN_LOOP_H
#define PLATFORM_CORE_RUN_LOOP_H
// The run loop of one thread (the application's main thread uses RunLoop::Main()).
//
// Each step drains the closures posted to the loop, fires due timers in due order, waits in
// libcurl's poll on the loop's multi handle (other threads cut the wait short when they post),
// lets libcurl move its transfers, hands finished transfers to their completion callbacks and
// finally runs the layout hook. No lock is held while any closure, timer handler, completion or
// hook runs, so each of them may call back into the loop.
//
// In the application's window GLib's main loop drives the main thread's loop
// (platform/desktop/RunLoopSource): it watches Descriptors(), wakes at NextDeadline() and calls
// Dispatch() (one step that does not wait).
//
// Post and Stop may be called from any thread; everything else belongs to the loop's thread.
// The loop must outlive every thread that posts to it.

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/core/ManualClock.h"

namespace ns {

class RunLoop {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    // A descriptor a foreign main loop should watch for the events named.
    struct Descriptor {
        int fd;
        bool read;
        bool write;
    };

    // A null clock means the real steady clock.
    explicit RunLoop(std::shared_ptr<Clock> clock = nullptr);
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The application thread's loop, made on first use and deliberately never destroyed (no
    // work may run under a static that is being torn down at exit).
    static RunLoop& Main();

    // Any thread. Runs fn on the loop's thread, in posting order; wakes a loop that waits.
    void Post(std::function<void()> fn);

    // Timers: one-shot or repeating (a repeating timer that fell behind skips the firings it
    // missed rather than firing them back to back). A delay below zero counts as zero; a
    // repeating interval below one millisecond counts as one millisecond; a due time past the
    // clock's range is the end of that range (never). Returns an id that
    // is never zero and never reused; CancelTimer(id) stops the timer, also from inside its
    // own handler. Cancelling an unknown or finished id does nothing.
    uint64_t AddTimer(Duration delay, bool repeats, std::function<void()> fn);
    // A one-shot closure run after `delay`.
    uint64_t AfterDelay(Duration delay, std::function<void()> fn) {
        return AddTimer(delay, false, std::move(fn));
    }
    void CancelTimer(uint64_t id);
    size_t TimerCount() const;

    // The loop's multi handle, for options that concern all transfers.
    CURLM* Multi();
    // Adds an easy handle; `done` runs on the loop thread (no lock held) once the transfer
    // ends, after the handle has left the multi handle (so `done` may reuse it, add it again
    // or free it). Adding a handle that is already added replaces its callback.
    void AddTransfer(CURL* easy, std::function<void(CURLcode)> done);
    // Removes it; after this returns no callback for it runs. Safe from inside completion
    // callbacks and from inside libcurl's own callbacks (header, write, progress): there the
    // handle leaves the multi handle as soon as libcurl returns from moving transfers, so the
    // easy handle must not be freed before that (free it from a closure posted to the loop).
    void RemoveTransfer(CURL* easy);
    size_t TransferCount() const;

    // One step: runs the posted closures and due timers, waits in libcurl's poll up to maxWait
    // (less when a timer falls due sooner, none when work is pending), moves transfers, runs
    // completions, then the layout hook. With a manual clock the real wait is still bounded
    // by maxWait, so a test never sleeps longer than it asked. A step taken from inside one of
    // libcurl's callbacks (a nested loop in a write callback, say) runs posts, timers and the
    // hook and waits only for a post: transfers move and complete in the outer step.
    void RunOnce(std::chrono::milliseconds maxWait);
    // Steps until pred() holds (true) or `timeout` of real time has passed (false).
    bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // Steps until Stop() is called. A Stop that comes before Run makes Run return after one
    // step. A Stop concerns Run only: it never shortens the waits of RunOnce or RunUntil
    // outside a Run, nor brings NextDeadline forward.
    void Run();
    void Stop();

    // Runs at the end of every step (the layout pass of the user interface).
    void SetLayoutHook(std::function<void()> hook);

    // For a foreign main loop: what to watch (the first descriptor is the loop's own wake-up
    // descriptor, readable while posted work waits), when to step next (nullopt: only when a
    // descriptor becomes ready) and a step that does not wait.
    std::vector<Descriptor> Descriptors() const;
    std::optional<TimePoint> NextDeadline() const;
    void Dispatch();

    // The loop's time (its clock's Now()).
    TimePoint Now() const;
    // Whether the caller is the thread that last stepped the loop (until the first step: the
    // creating thread, or for Main() no thread at all).
    bool IsLoopThread() const;

private:
    struct TimerEntry {
        TimePoint due;
        Duration interval;
        bool repeats;
        std::shared_ptr<std::function<void()>> fn;
    };
    struct TransferEntry {
        uint64_t serial;
        std::shared_ptr<std::function<void(CURLcode)>> done;
    };
    enum class PendingOp { Add, Remove };

    void RunPosts();
    void RunTimers();
    void PollAndPerform(std::chrono::milliseconds wait);
    void DispatchCompletions();
    void WaitForPost(std::chrono::milliseconds wait);
    void DrainWakeFd();
    void Wake();

    std::shared_ptr<Clock> clock_;
    CURLM* multi_ = nullptr;
    int wakeFd_ = -1;  // eventfd a foreign main loop watches; written on every Post and Stop

    mutable std::mutex mutex_;  // guards posts_, timers_, dueOrder_, nextTimerId_, layoutHook_
    std::deque<std::function<void()>> posts_;
    std::map<uint64_t, TimerEntry> timers_;
    std::set<std::pair<TimePoint, uint64_t>> dueOrder_;
    uint64_t nextTimerId_ = 1;
    std::function<void()> layoutHook_;

    // Loop thread only.
    std::map<CURL*, TransferEntry> transfers_;
    uint64_t nextTransferSerial_ = 1;
    int performDepth_ = 0;  // inside curl_multi_perform (nested steps may re-enter)
    int runDepth_ = 0;      // Run() calls in progress
    std::vector<std::pair<PendingOp, CURL*>> pendingOps_;

    std::atomic<bool> stop_{false};
    std::atomic<std::thread::id> loopThread_;
};

}  // namespace ns

#endif
