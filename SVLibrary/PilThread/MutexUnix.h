#ifndef SVLIBRARY_PILTHREAD_MUTEXUNIX_H
#define SVLIBRARY_PILTHREAD_MUTEXUNIX_H

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace SV {

// Recursive mutex. The recursion is our own bookkeeping (owner and count) over a plain POSIX
// mutex, so the POSIX mutex is taken once and released once per outermost Lock/Unlock pair.
// Failures throw SVLibraryException: 0x0c on creation, 0x0d on lock, 0x0f on unlock, and 0x1d
// when a thread that does not own the mutex unlocks it (which changes nothing).
class Mutex {
public:
    Mutex();
    virtual ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock();
    void Unlock();

private:
    pthread_mutex_t mutex_;
    // Token of the owning thread, kNoOwner while unlocked. Read without the POSIX mutex by any
    // thread (only the owner can ever find its own token here), so it is atomic.
    std::atomic<uint64_t> owner_;
    // Written and read only by the thread that holds the POSIX mutex.
    uint32_t lockCount_;
};

// Holds a Mutex for a scope; Unlock releases it early, once.
class ScopedLock {
public:
    explicit ScopedLock(Mutex& mutex, bool lockNow = true);
    explicit ScopedLock(Mutex* mutex, bool lockNow = true);
    ~ScopedLock();

    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

    void Unlock();

private:
    Mutex* mutex_;
    bool locked_;
};

// A value that is its own lock: take a ScopedLock on the variable, then use Value() or assign.
template <typename T>
class MutexedVariable : public Mutex {
public:
    MutexedVariable() : value_() {}
    explicit MutexedVariable(const T& initial) : value_(initial) {}
    ~MutexedVariable() override {}

    // The caller holds the variable's lock.
    T& Value() { return value_; }
    const T& Value() const { return value_; }

    // Stores the value (the caller holds the lock) and returns a reference to it.
    T& operator=(const T& value) {
        value_ = value;
        return value_;
    }

private:
    T value_;
};

}  // namespace SV

#endif
