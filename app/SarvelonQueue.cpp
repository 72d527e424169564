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

void SarvelonQueue::Add(std::function<void(SarvelonBridge&)> job, const void* tag) {
    if (!job) return;
    Job entry{SarvelonBridge::CurrentShared(), std::move(job), tag};
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
        jobUnderWay_ = true;
        ++jobNumber_;
        runningTag_ = job.tag;
        runningBridge_ = job.bridge;
        lock.unlock();
        job.run(*job.bridge);
        // The job and what it holds go here, before the queue counts as idle again.
        job = Job();
        lock.lock();
        jobUnderWay_ = false;
        runningTag_ = nullptr;
        runningBridge_.reset();
        jobEnded_.notify_all();
        // An interrupt beside the job ends before the next job begins.
        if (interrupt_.joinable()) {
            std::thread interrupt = std::move(interrupt_);
            lock.unlock();
            interrupt.join();
            lock.lock();
        }
        running_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}

bool SarvelonQueue::Interrupt(const void* tag, std::function<bool(SarvelonBridge&)> stop) {
    if (tag == nullptr || !stop) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!jobUnderWay_ || runningTag_ != tag) return false;
    // One interrupt per job: the one there goes on trying until the job ends.
    if (interrupt_.joinable()) return true;
    interrupt_ = std::thread([this, job = jobNumber_, bridge = runningBridge_,
                              stop = std::move(stop)] { RunInterrupt(job, bridge, stop); });
    return true;
}

void SarvelonQueue::RunInterrupt(uint64_t job, const std::shared_ptr<SarvelonBridge>& bridge,
                                 const std::function<bool(SarvelonBridge&)>& stop) {
    pthread_setname_np(pthread_self(), "SarvelonStop");
    for (;;) {
        if (stop(*bridge)) return;
        std::unique_lock<std::mutex> lock(mutex_);
        const bool ended = jobEnded_.wait_for(
            lock, kInterruptRetry, [this, job] { return !jobUnderWay_ || jobNumber_ != job; });
        if (ended) return;
    }
}
