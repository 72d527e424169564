#include "SVLibrary/PilThread/Event.h"

#include <cerrno>

#include "SVLibrary/Exception/Exception.h"

namespace SV {

// Waits measure time on the monotonic clock, so setting the wall clock neither stretches nor
// cuts a time-out.
Event::Event(bool initiallySignalled) : signalled_(initiallySignalled) {
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) != 0) throw SVLibraryException(SVL_EventCreation);
    const bool clockSet = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0;
    const bool condMade = clockSet && pthread_cond_init(&cond_, &attr) == 0;
    pthread_condattr_destroy(&attr);
    if (!condMade) throw SVLibraryException(SVL_EventCreation);
    if (pthread_mutex_init(&mutex_, nullptr) != 0) {
        pthread_cond_destroy(&cond_);
        throw SVLibraryException(SVL_EventCreation);
    }
}

Event::~Event() {
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
}

void Event::Set() {
    pthread_mutex_lock(&mutex_);
    if (!signalled_) {
        signalled_ = true;
        pthread_cond_broadcast(&cond_);
    }
    pthread_mutex_unlock(&mutex_);
}

void Event::Reset() {
    pthread_mutex_lock(&mutex_);
    signalled_ = false;
    pthread_mutex_unlock(&mutex_);
}

timespec Event::DeadlineAfter(const timespec& start, uint32_t milliseconds) {
    timespec deadline;
    deadline.tv_sec = start.tv_sec + static_cast<time_t>(milliseconds / 1000u);
    long nanoseconds = start.tv_nsec + static_cast<long>(milliseconds % 1000u) * 1000000L;
    if (nanoseconds >= 1000000000L) {
        nanoseconds -= 1000000000L;
        deadline.tv_sec += 1;
    }
    deadline.tv_nsec = nanoseconds;
    return deadline;
}

bool Event::Wait(uint32_t timeoutMilliseconds) {
    const bool limited = timeoutMilliseconds != kInfiniteWait;
    if (pthread_mutex_lock(&mutex_) != 0) {
        throw SVLibraryException(limited ? SVL_EventTimedWait : SVL_EventWait);
    }
    bool result = true;
    if (!signalled_) {
        if (!limited) {
            while (!signalled_) {
                if (pthread_cond_wait(&cond_, &mutex_) != 0) {
                    pthread_mutex_unlock(&mutex_);
                    throw SVLibraryException(SVL_EventWait);
                }
            }
        } else if (timeoutMilliseconds > 0) {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            const timespec deadline = DeadlineAfter(now, timeoutMilliseconds);
            while (!signalled_) {
                const int rc = pthread_cond_timedwait(&cond_, &mutex_, &deadline);
                if (rc == ETIMEDOUT) break;
                if (rc != 0) {
                    pthread_mutex_unlock(&mutex_);
                    throw SVLibraryException(SVL_EventTimedWait);
                }
            }
        }
        result = signalled_;
    }
    pthread_mutex_unlock(&mutex_);
    return result;
}

}  // namespace SV
