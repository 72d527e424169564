#ifndef APP_SARVELONQUEUE_H
#define APP_SARVELONQUEUE_H
// The one thread ("SarvelonBridge") the engine's bridge is called on. SV_Play waits inside the
// engine's preload for as long as the origin takes (up to 15 s, then once more), so the main
// thread never calls the bridge itself: it adds a job here and hears the result on the main
// run loop (ns::MainQueue()), where the screen goes on.
//
// One thread for the process rather than one per screen: the bridge keeps one playback at a
// time, and a screen opened while the last one's start is still waiting must find that one's
// SV_Stop and SV_Terminate done before its own SV_Initialize. Jobs run one at a time, in the
// order they were added, whoever added them.
//
//   SarvelonQueue::Shared().Call(
//       [uri](SarvelonBridge& bridge) { ... return bridge.Play(uri, &url, 0); },
//       WeakCallback(*this, &Qplayer::sarvelonPlayed));
//
// The bridge is the one current when the job is added (SarvelonBridge::Current()), kept alive
// until the job has run. A result handler holds its screen weakly: a screen gone by the time
// the result arrives never hears it.
//
// A screen closed while its SV_Play still waits for the origin need not wait it out: its
// start job carries a tag, and Interrupt(tag, ...) runs SV_Stop beside that job on a thread
// of its own ("SarvelonStop"), which ends the start at once; the next job (the next screen's
// start) begins once both have ended.
//
// Made on first use. At exit the jobs still queued (a closed screen's SV_Stop and
// SV_Terminate) run, then the thread is joined.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "app/SarvelonBridge.h"
#include "platform/core/OperationQueue.h"

class SarvelonQueue {
public:
    static SarvelonQueue& Shared();

    SarvelonQueue();
    // Runs what is queued, then joins the thread.
    ~SarvelonQueue();
    SarvelonQueue(const SarvelonQueue&) = delete;
    SarvelonQueue& operator=(const SarvelonQueue&) = delete;

    // Main thread (where the current bridge is installed). Runs job(bridge) on the queue's
    // thread after the jobs added before it. A tag (not null) lets Interrupt reach the job
    // while it runs.
    void Add(std::function<void(SarvelonBridge&)> job, const void* tag = nullptr);

    // Main thread. call(bridge) on the queue's thread; its result then goes to done(result) on
    // the main run loop.
    template <typename Work, typename Done>
    void Call(Work call, Done done, const void* tag = nullptr) {
        Add(
            [call = std::move(call), done = std::move(done)](SarvelonBridge& bridge) mutable {
                auto result = call(bridge);
                ns::MainQueue().AddOperation(
                    [done = std::move(done), result = std::move(result)]() mutable {
                        done(result);
                    });
            },
            tag);
    }

    // Main thread. When the job under way carries `tag`, runs stop(bridge) at once on a thread
    // of its own, beside it. stop answers whether it reached anything (SV_Stop found a
    // session); while it has not and the job still runs, the job may not have come to the
    // call that stop ends yet, so stop runs again a moment later. The jobs queued behind begin
    // once both have ended. False when no job with the tag runs (nothing is done).
    bool Interrupt(const void* tag, std::function<bool(SarvelonBridge&)> stop);

    // No job waits or runs. For tests, which read what a bridge was asked once it holds.
    bool IsIdle() const;
    // Blocks until IsIdle() holds (true) or the time-out has passed (false). Tests only: the
    // main thread never waits for the engine.
    bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

private:
    struct Job {
        std::shared_ptr<SarvelonBridge> bridge;
        std::function<void(SarvelonBridge&)> run;
        const void* tag = nullptr;
    };
    void Run();
    // On the interrupting thread, for the job numbered `job`.
    void RunInterrupt(uint64_t job, const std::shared_ptr<SarvelonBridge>& bridge,
                      const std::function<bool(SarvelonBridge&)>& stop);

    // How long an interrupt that found nothing waits before it tries again, unless the job
    // ends first.
    static constexpr std::chrono::milliseconds kInterruptRetry{5};

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::condition_variable jobEnded_;
    std::deque<Job> jobs_;
    bool running_ = false;  // a job (or the interrupt beside it) is under way
    bool stopping_ = false;
    // The job whose function runs now: its number (counting every job), tag and bridge.
    bool jobUnderWay_ = false;
    uint64_t jobNumber_ = 0;
    const void* runningTag_ = nullptr;
    std::shared_ptr<SarvelonBridge> runningBridge_;
    std::thread interrupt_;  // beside the running job; joined before the next one
    std::thread thread_;     // last: it starts once the members above are there
};

#endif  // APP_SARVELONQUEUE_H
