#include "SVLibrary/PilThread/MutexUnix.h"

#include "SVLibrary/Exception/Exception.h"

namespace SV {

namespace {

constexpr uint64_t kNoOwner = ~uint64_t(0);

std::atomic<uint64_t> gNextThreadToken{1};

// A number that identifies the calling thread for as long as the process lives. Unlike a
// pthread_t it is never handed to a later thread, so a mutex left locked by a thread that
// ended can never be mistaken as owned by a new one.
uint64_t CurrentThreadToken() {
    thread_local const uint64_t token = gNextThreadToken.fetch_add(1, std::memory_order_relaxed);
    return token;
}

}  // namespace

Mutex::Mutex() : owner_(kNoOwner), lockCount_(0) {
    if (pthread_mutex_init(&mutex_, nullptr) != 0) throw SVLibraryException(SVL_MutexCreation);
}

Mutex::~Mutex() { pthread_mutex_destroy(&mutex_); }

void Mutex::Lock() {
    const uint64_t self = CurrentThreadToken();
    // Relaxed is enough: a thread reads either its own latest store or another thread's token,
    // never its own token from an earlier hold.
    if (owner_.load(std::memory_order_relaxed) == self) {
        ++lockCount_;
        return;
    }
    if (pthread_mutex_lock(&mutex_) != 0) throw SVLibraryException(SVL_MutexLock);
    owner_.store(self, std::memory_order_relaxed);
    lockCount_ = 1;
}

void Mutex::Unlock() {
    if (owner_.load(std::memory_order_relaxed) != CurrentThreadToken()) {
        throw SVLibraryException(SVL_UnbalancedMutex);
    }
    // The owner always holds a count above 0; a broken invariant is reported like any other
    // unbalanced unlock rather than wrapping the count.
    if (lockCount_ == 0) throw SVLibraryException(SVL_UnbalancedMutex, "mLockCount > 0");
    if (--lockCount_ > 0) return;
    owner_.store(kNoOwner, std::memory_order_relaxed);
    if (pthread_mutex_unlock(&mutex_) != 0) throw SVLibraryException(SVL_MutexUnlock);
}

ScopedLock::ScopedLock(Mutex& mutex, bool lockNow) : ScopedLock(&mutex, lockNow) {}

ScopedLock::ScopedLock(Mutex* mutex, bool lockNow) : mutex_(mutex), locked_(false) {
    if (lockNow) {
        mutex_->Lock();
        locked_ = true;
    }
}

ScopedLock::~ScopedLock() {
    if (!locked_) return;
    try {
        mutex_->Unlock();
    } catch (...) {
        // A destructor must not throw; an unlock can only fail here if the lock was carried
        // to another thread, and then there is nothing sound left to do.
    }
}

void ScopedLock::Unlock() {
    if (!locked_) return;
    mutex_->Unlock();
    locked_ = false;
}

}  // namespace SV
