#include "SVLibrary/Time/Timer.h"

#include <unistd.h>

#include <algorithm>
#include <exception>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/PilThread/ProcessState.h"

namespace SV {

namespace {

constexpr uint64_t kFar = ~uint64_t(0);  // no timer pending
constexpr uint32_t kLongestWait = 1000;  // the list is rescanned at least once a second

// Both are deliberately never destroyed: the manager thread may still be running while the
// process exits, and timers that are statics cancel themselves during exit.
Mutex& TimerMutex() {
    static Mutex* mutex = new Mutex;
    return *mutex;
}

TimerManager* gManager = nullptr;  // guarded by TimerMutex()

thread_local bool tOnManagerThread = false;

}  // namespace

Timer::Timer() : expiry_(), firing_(false), armCount_(0) {}

Timer::~Timer() { CancelTimer(); }

void Timer::CancelTimer() {
    try {
        for (;;) {
            ScopedLock lock(TimerMutex());
            TimerManager* manager = gManager;
            if (manager == nullptr) return;
            if (!firing_) {
                manager->Remove(this);
                return;
            }
            if (tOnManagerThread) {
                // Called from the running handler (perhaps on its way to delete the timer):
                // waiting would wait for ourselves. Disarm, and tell the manager not to
                // touch this timer again once the handler returns.
                manager->Remove(this);
                firing_ = false;
                if (manager->current_ == this) manager->currentCancelled_ = true;
                return;
            }
            lock.Unlock();
            usleep(1000);
        }
    } catch (...) {
        // Only a failing lock can get here; called from destructors, so nothing propagates.
    }
}

void TimerSet(Timer* timer, uint32_t seconds, uint32_t milliseconds, bool relative) {
    if (timer == nullptr) throw SVLibraryException(SVL_InvalidParameter, "TimerSet");
    ScopedLock lock(TimerMutex());
    if (gManager == nullptr) {
        if (GetTerminateFlag()->load())
            throw SVLibraryException(SVL_ProcessTerminating, "TimerSet");
        gManager = TimerManager::Launch();
    }
    const uint64_t interval = static_cast<uint64_t>(seconds) * 1000u + milliseconds;
    if (relative) {
        timer->expiry_.SetNow();
        timer->expiry_ += static_cast<int64_t>(interval);
    } else {
        timer->expiry_.Set(interval);
    }
    ++timer->armCount_;
    if (!gManager->Contains(timer)) gManager->timers_.push_back(timer);
    gManager->wake_.Set();
}

TimerManager::TimerManager() : wake_(false), current_(nullptr), currentCancelled_(false) {}

TimerManager::~TimerManager() {}

TimerManager* TimerManager::Launch() {
    auto* manager = new TimerManager;
    // The thread owns the manager (deleting it if the thread cannot be made) and deletes
    // itself when the manager's Run returns.
    auto* thread = new Thread("SvlTimerManager", manager, true, true, 3);
    thread->Start();
    return manager;
}

bool TimerManager::Contains(const Timer* timer) const {
    return std::find(timers_.begin(), timers_.end(), timer) != timers_.end();
}

void TimerManager::Remove(Timer* timer) {
    auto it = std::find(timers_.begin(), timers_.end(), timer);
    if (it != timers_.end()) timers_.erase(it);
}

void TimerManager::FireDue(const PilTime& now) {
    due_.clear();
    for (Timer* timer : timers_) {
        if (timer->expiry_ <= now) due_.push_back(timer);
    }
    // Each due timer fires at most once per scan, in arming order. A handler may cancel,
    // delete or re-arm any timer, so each one is checked again before it fires.
    for (Timer* timer : due_) {
        if (!Contains(timer) || now < timer->expiry_) continue;
        const uint64_t armCount = timer->armCount_;
        timer->firing_ = true;
        current_ = timer;
        currentCancelled_ = false;
        TimerMutex().Unlock();
        try {
            timer->TimerExpired();
        } catch (const std::exception& e) {
            DebugPrint("SVL Timer Expired exception: %s\n", e.what());
        } catch (...) {
            DebugPrint("SVL Timer Expired unknown exception\n");
        }
        TimerMutex().Lock();
        if (!currentCancelled_) {
            timer->firing_ = false;
            // Not re-armed by anyone while it fired: it is spent.
            if (timer->armCount_ == armCount) Remove(timer);
        }
        current_ = nullptr;
    }
    due_.clear();
}

int TimerManager::Run() {
    ActiveThreadCounter counted;
    tOnManagerThread = true;
    Mutex& mutex = TimerMutex();
    for (;;) {
        mutex.Lock();
        if (GetTerminateFlag()->load()) {
            if (gManager == this) gManager = nullptr;
            mutex.Unlock();
            return 0;
        }
        FireDue(PilTime::Now());

        uint64_t next = kFar;
        for (const Timer* timer : timers_) next = std::min(next, timer->expiry_.Get());
        const uint64_t now = PilTime::Now().Get();
        uint32_t wait = kLongestWait;
        if (next != kFar) {
            wait = next <= now
                       ? 0
                       : static_cast<uint32_t>(std::min<uint64_t>(next - now, kLongestWait));
        }
        // Reset under the lock: an arming that follows sets it again and is not lost.
        wake_.Reset();
        mutex.Unlock();
        if (wait == 0) continue;
        try {
            wake_.Wait(wait);
        } catch (...) {
            // A failed wait only costs an early rescan; the manager must outlive it.
        }
    }
}

}  // namespace SV
