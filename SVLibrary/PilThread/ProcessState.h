#ifndef SVLIBRARY_PILTHREAD_PROCESSSTATE_H
#define SVLIBRARY_PILTHREAD_PROCESSSTATE_H

#include <atomic>
#include <cstdint>

namespace SV {

// State shared by the whole process. Each lives in static storage that needs no destruction,
// so threads still running while the process exits can keep using it.

// Set when the process is terminating: the timer manager then ends and no new one is made,
// and the download thread ends its loop. Initially false.
std::atomic<bool>* GetTerminateFlag();

// While set, the HTTP client's periodic download work does nothing. Initially false.
std::atomic<bool>* GetDownloadStopFlag();

// The number of library threads running their body (timer manager, download thread).
void IncrementActiveThreadCount();
void DecrementActiveThreadCount();
std::atomic<int32_t>* GetActiveThreadCount();

// Counts the constructing thread in for the object's lifetime.
class ActiveThreadCounter {
public:
    ActiveThreadCounter() { IncrementActiveThreadCount(); }
    ~ActiveThreadCounter() { DecrementActiveThreadCount(); }

    ActiveThreadCounter(const ActiveThreadCounter&) = delete;
    ActiveThreadCounter& operator=(const ActiveThreadCounter&) = delete;
};

}  // namespace SV

#endif
