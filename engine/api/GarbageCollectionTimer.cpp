#include "engine/api/GarbageCollectionTimer.h"

#include "SVLibrary/Exception/Exception.h"
#include "engine/api/ServingSessions.h"

namespace SarvelonMediaKit {

namespace {
const uint32_t kCollectionIntervalMilliseconds = 1000;
}  // namespace

GarbageCollectionTimer::GarbageCollectionTimer(ServingSessions* sessions) : sessions_(sessions) {}

GarbageCollectionTimer::~GarbageCollectionTimer() {
    // The handler reaches the sessions: once this returns it neither runs nor will run.
    CancelTimer();
}

void GarbageCollectionTimer::TimerExpired() {
    if (sessions_ != nullptr) sessions_->Collect();
    try {
        SV::TimerSet(this, 0, kCollectionIntervalMilliseconds, true);
    } catch (const SV::Exception&) {
        // The process is terminating: no further collection is needed.
    }
}

}  // namespace SarvelonMediaKit
