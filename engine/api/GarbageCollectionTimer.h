#ifndef ENGINE_API_GARBAGECOLLECTIONTIMER_H
#define ENGINE_API_GARBAGECOLLECTIONTIMER_H

#include "SVLibrary/Time/Timer.h"

namespace SarvelonMediaKit {

class ServingSessions;

// Lets a playback's stopped serving sessions go, about once a second, on the timer thread.
class GarbageCollectionTimer : public SV::Timer {
public:
    explicit GarbageCollectionTimer(ServingSessions* sessions);
    ~GarbageCollectionTimer() override;

    void TimerExpired() override;

private:
    ServingSessions* sessions_;
};

}  // namespace SarvelonMediaKit

#endif
