#include "engine/api/GarbageCollectionTimer.h"

#include "SVLibrary/Exception/Exception.h"
#include "engine/api/Transformer.h"

namespace SarvelonMediaKit {

namespace {
const uint32_t kCollectionIntervalMilliseconds = 1000;
}  // namespace

GarbageCollectionTimer::GarbageCollectionTimer(Transformer* transformer)
    : transformer_(transformer) {}

GarbageCollectionTimer::~GarbageCollectionTimer() {
    // The handler reaches the Transformer: once this returns it neither runs nor will run.
    CancelTimer();
}

void GarbageCollectionTimer::TimerExpired() {
    if (transformer_ != nullptr) transformer_->CollectGarbage();
    try {
        SV::TimerSet(this, 0, kCollectionIntervalMilliseconds, true);
    } catch (const SV::Exception&) {
        // The process is terminating: no further collection is needed.
    }
}

}  // namespace SarvelonMediaKit
