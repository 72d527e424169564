#include "app/SarvelonQueue.h"

#include <pthread.h>

SarvelonQueue& SarvelonQueue::Shared() {
    static SarvelonQueue queue;
    return queue;
}

SarvelonQueue::SarvelonQueue() : thread_([this] { Run(); }) {}

SarvelonQueue::~SarvelonQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SarvelonQueue::Add(std::function<void(SarvelonBridge&)> job) {
    if (!job) return;
    Job entry{SarvelonBridge::CurrentShared(), std::move(job)};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(entry));
    }
    wake_.notify_all();
}

bool SarvelonQueue::IsIdle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty() && !running_;
}

bool SarvelonQueue::WaitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return jobs_.empty() && !running_; });
}

void SarvelonQueue::Run() {
    pthread_setname_np(pthread_self(), "SarvelonBridge");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        // Stopping still runs what was queued: a closed screen's stop reaches the engine.
        if (jobs_.empty()) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        job.run(*job.bridge);
        // The job and what it holds go here, before the queue counts as idle again.
        job = Job();
        lock.lock();
        running_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}
