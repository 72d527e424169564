#include "platform/core/NotificationCenter.h"

#include <algorithm>

namespace ns {

NotificationCenter::NotificationCenter(RunLoop& loop)
    : loop_(loop), state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() {
    // Deliveries still queued on the loop hold only a weak reference and find nothing.
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (auto& entry : state_->entries) entry->removed = true;
}

NotificationCenter& NotificationCenter::Default() {
    static NotificationCenter* center = new NotificationCenter(RunLoop::Main());
    return *center;
}

uint64_t NotificationCenter::AddObserver(std::string name, Observer observer, const void* sender) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->sender = sender;
    entry->observer = std::move(observer);
    std::lock_guard<std::mutex> lock(state_->mutex);
    entry->token = state_->nextToken++;
    state_->entries.push_back(entry);
    return entry->token;
}

void NotificationCenter::RemoveObserver(uint64_t token) {
    std::shared_ptr<Entry> doomed;  // its function is destroyed outside the lock
    std::unique_lock<std::mutex> lock(state_->mutex);
    auto& entries = state_->entries;
    auto it = std::find_if(entries.begin(), entries.end(),
                           [token](const auto& e) { return e->token == token; });
    if (it == entries.end()) return;
    (*it)->removed = true;
    doomed = std::move(*it);
    entries.erase(it);
    // A call running on another thread must end before the caller may free what the observer
    // uses; one running on this thread is further up our own stack and cannot be waited for.
    const std::thread::id self = std::this_thread::get_id();
    state_->finished.wait(lock, [&] { return doomed->running == 0 || doomed->caller == self; });
    lock.unlock();
}

size_t NotificationCenter::ObserverCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->entries.size();
}

void NotificationCenter::State::Deliver(const Notification& notification) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& e : entries) {
            if (!e->name.empty() && e->name != notification.name) continue;
            if (e->sender != nullptr && e->sender != notification.sender) continue;
            targets.push_back(e);
        }
    }
    const std::thread::id self = std::this_thread::get_id();
    for (const auto& e : targets) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (e->removed) continue;
            ++e->running;
            e->caller = self;
        }
        // Ends the call's count even if the observer throws.
        struct Finish {
            State& state;
            Entry& entry;
            ~Finish() {
                {
                    std::lock_guard<std::mutex> lock(state.mutex);
                    --entry.running;
                }
                state.finished.notify_all();
            }
        } finish{*this, *e};
        if (e->observer) e->observer(notification);
    }
}

void NotificationCenter::Post(Notification notification) {
    if (loop_.IsLoopThread()) {
        auto state = state_;  // an observer may destroy the centre
        state->Deliver(notification);
        return;
    }
    std::weak_ptr<State> weak = state_;
    loop_.Post([weak, n = std::move(notification)] {
        if (auto state = weak.lock()) state->Deliver(n);
    });
}

void NotificationCenter::Post(std::string name, const void* sender, Value userInfo) {
    Post(Notification{std::move(name), sender, std::move(userInfo)});
}

}  // namespace ns
