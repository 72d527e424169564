#ifndef ENGINE_API_GARBAGECOLLECTIONTIMER_H
#define ENGINE_API_GARBAGECOLLECTIONTIMER_H

#include "SVLibrary/Time/Timer.h"

namespace SarvelonMediaKit {

class Transformer;

// Lets a Transformer's stopped serving sessions go, about once a second, on the timer thread.
class GarbageCollectionTimer : public SV::Timer {
public:
    explicit GarbageCollectionTimer(Transformer* transformer);
    ~GarbageCollectionTimer() override;

    void TimerExpired() override;

private:
    Transformer* transformer_;
};

}  // namespace SarvelonMediaKit

#endif
