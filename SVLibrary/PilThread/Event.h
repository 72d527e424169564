#ifndef SVLIBRARY_PILTHREAD_EVENT_H
#define SVLIBRARY_PILTHREAD_EVENT_H

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace SV {

// A wait time that never runs out.
constexpr uint32_t kInfiniteWait = 0xFFFFFFFFu;

// Manual-reset event: once set it stays set, and every wait returns at once, until Reset.
// Set wakes every waiter. Creation failure throws SVLibraryException 0x13; a failing wait
// throws 0x16 (no limit) or 0x17 (with a limit).
class Event {
public:
    explicit Event(bool initiallySignalled = false);
    ~Event();

    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits up to timeoutMilliseconds (kInfiniteWait: without limit). True when the event is
    // or becomes set; a set that races with the time-out still counts.
    bool Wait(uint32_t timeoutMilliseconds);

    // The deadline a wait of `milliseconds` started at `start` ends at.
    static timespec DeadlineAfter(const timespec& start, uint32_t milliseconds);

private:
    pthread_cond_t cond_;
    pthread_mutex_t mutex_;
    bool signalled_;
};

}  // namespace SV

#endif
