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
// Made on first use. At exit the jobs still queued (a closed screen's SV_Stop and
// SV_Terminate) run, then the thread is joined.

#include <chrono>
#include <condition_variable>
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
    // thread after the jobs added before it.
    void Add(std::function<void(SarvelonBridge&)> job);

    // Main thread. call(bridge) on the queue's thread; its result then goes to done(result) on
    // the main run loop.
    template <typename Work, typename Done>
    void Call(Work call, Done done) {
        Add([call = std::move(call), done = std::move(done)](SarvelonBridge& bridge) mutable {
            auto result = call(bridge);
            ns::MainQueue().AddOperation(
                [done = std::move(done), result = std::move(result)]() mutable { done(result); });
        });
    }

    // No job waits or runs. For tests, which read what a bridge was asked once it holds.
    bool IsIdle() const;
    // Blocks until IsIdle() holds (true) or the time-out has passed (false). Tests only: the
    // main thread never waits for the engine.
    bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

private:
    struct Job {
        std::shared_ptr<SarvelonBridge> bridge;
        std::function<void(SarvelonBridge&)> run;
    };
    void Run();

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool running_ = false;  // a job is under way
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the members above are there
};

#endif  // APP_SARVELONQUEUE_H
