#ifndef SVLIBRARY_TIME_TIMER_H
#define SVLIBRARY_TIME_TIMER_H

#include <cstdint>
#include <vector>

#include "SVLibrary/PilThread/Event.h"
#include "SVLibrary/PilThread/ThreadUnix.h"
#include "SVLibrary/Time/PilTime.h"

namespace SV {

class TimerManager;

// A one-shot timer. Derive from it, arm it with TimerSet, and TimerExpired is called once on
// the process-wide "SvlTimerManager" thread when it is due; a handler that wants to run
// again re-arms its own timer.
//
// A derived class whose handler uses its own members must call CancelTimer first thing in
// its destructor: once that returns the handler is not running and will not run again.
// The base destructor cancels too, but by then the derived part is already gone.
class Timer {
public:
    Timer();
    virtual ~Timer();

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Called on the timer-manager thread, without any lock held.
    virtual void TimerExpired() = 0;

    // Disarms the timer. When its handler is running on another thread, waits until the
    // handler has returned; called from within the handler (on the manager thread), it
    // returns at once. Safe to call on a timer that is not armed.
    void CancelTimer();

private:
    friend class TimerManager;
    friend void TimerSet(Timer* timer, uint32_t seconds, uint32_t milliseconds, bool relative);

    // All three are guarded by the process-wide timer mutex.
    PilTime expiry_;
    bool firing_;
    uint64_t armCount_;  // bumped by every arming, so the manager sees a re-arm in the handler
};

// Arms the timer: due at now + seconds*1000 + milliseconds when relative, else at that
// absolute PilTime value. Arming an armed timer moves its expiry; it still fires once. The
// first call makes the timer manager and its thread. Throws 0x34/0x35 when the time cannot
// be represented, 0x31 when the process is terminating, 0x02 for a null timer.
void TimerSet(Timer* timer, uint32_t seconds, uint32_t milliseconds, bool relative);

// Runs every armed timer's handler on one thread, "SvlTimerManager", made with the first
// arming and kept for the rest of the process (it ends only when the terminating flag is
// set). The manager does not own the timers.
class TimerManager : public RunFunctor {
public:
    ~TimerManager() override;
    int Run() override;

private:
    friend class Timer;
    friend void TimerSet(Timer* timer, uint32_t seconds, uint32_t milliseconds, bool relative);

    TimerManager();
    // Makes the manager and starts its thread; called with the timer mutex held.
    static TimerManager* Launch();
    void Remove(Timer* timer);
    bool Contains(const Timer* timer) const;
    // Fires every timer due at `now`; called and returns with the timer mutex held.
    void FireDue(const PilTime& now);

    std::vector<Timer*> timers_;  // in arming order; each timer at most once
    std::vector<Timer*> due_;     // scratch list of one scan
    Event wake_;
    Timer* current_;         // the timer whose handler is running, or null
    bool currentCancelled_;  // the running handler's timer was cancelled from inside it
};

}  // namespace SV

#endif
