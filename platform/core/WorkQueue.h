#ifndef PLATFORM_CORE_WORKQUEUE_H
#define PLATFORM_CORE_WORKQUEUE_H
// A thread of its own that runs the jobs added to it one at a time, in the order they were
// added: work too slow for the main thread (decoding a picture, writing a file) goes here, and
// a job hands its result back by posting it to the run loop that wants it (ns::MainQueue()).
// A job must not hold the thread for good (no waits without end).
//
// The destructor drops the jobs that have not started, lets the running one end and joins
// the thread. Add may be called from any thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ns {

class WorkQueue {
public:
    // `name` is the thread's (15 characters at most).
    explicit WorkQueue(std::string name);
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void Add(std::function<void()> job);

private:
    void Run();

    const std::string name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    bool stop_ = false;                       // guarded by mutex_
    std::thread thread_;                      // last: it starts once the members above are there
};

}  // namespace ns

#endif  // PLATFORM_CORE_WORKQUEUE_H
