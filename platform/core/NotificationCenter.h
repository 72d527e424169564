#ifndef PLATFORM_CORE_NOTIFICATION_CENTER_H
#define PLATFORM_CORE_NOTIFICATION_CENTER_H
// Named notifications delivered to observers on one run loop's thread.
//
// Post may be called from any thread. On the loop's thread the observers are called at once,
// in the order they were added; from another thread the notification is posted to the loop
// and delivered there in posting order. Observers are called with no lock held, so they may
// add and remove observers and post again. An observer removed on the loop's thread (also by
// another observer of the same notification) is not called afterwards. RemoveObserver called
// on another thread also waits for a call of that observer in progress to finish, so once it
// returns the observer is not running and never runs again (the caller must not hold anything
// the observer waits for, and an observer removing itself from inside its call does not wait).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Notification.h"
#include "platform/core/RunLoop.h"

namespace ns {

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

    explicit NotificationCenter(RunLoop& loop);
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The application's centre on RunLoop::Main(), made on first use, never destroyed.
    static NotificationCenter& Default();

    // Observes `name` (empty: every name) from `sender` (null: any sender). Returns a token
    // that is never zero and never reused.
    uint64_t AddObserver(std::string name, Observer observer, const void* sender = nullptr);
    // Unknown or already removed tokens are ignored.
    void RemoveObserver(uint64_t token);
    size_t ObserverCount() const;

    void Post(Notification notification);
    void Post(std::string name, const void* sender = nullptr, Value userInfo = Value());

private:
    struct Entry {
        uint64_t token;
        std::string name;
        const void* sender;
        Observer observer;
        bool removed = false;    // guarded by State::mutex
        int running = 0;         // calls in progress, guarded by State::mutex
        std::thread::id caller;  // the thread making them, guarded by State::mutex
    };
    struct State {
        mutable std::mutex mutex;
        std::condition_variable finished;  // a call of some observer ended
        std::vector<std::shared_ptr<Entry>> entries;
        uint64_t nextToken = 1;
        void Deliver(const Notification& notification);
    };

    RunLoop& loop_;
    std::shared_ptr<State> state_;  // shared with deliveries still queued on the loop
};

}  // namespace ns

#endif
