#include "platform/core/WorkQueue.h"

#include <pthread.h>

#include <utility>

namespace ns {

WorkQueue::WorkQueue(std::string name) : name_(std::move(name)), thread_([this] { Run(); }) {}

WorkQueue::~WorkQueue() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        dropped.swap(jobs_);
    }
    wake_.notify_all();
    thread_.join();
}

void WorkQueue::Add(std::function<void()> job) {
    if (!job) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkQueue::Run() {
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        // No lock held while the job runs.
        job();
    }
}

}  // namespace ns
