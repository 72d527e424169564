#include "engine/core/MemoryUser.h"

#include "engine/core/MemoryTracker.h"

namespace SarvelonMediaKit {

MemoryUser::MemoryUser(const boost::shared_ptr<MemoryTracker>& tracker) : tracker_(tracker) {
    if (tracker) {
        tracker->AddUser(this);
    }
}

MemoryUser::~MemoryUser() {
    // Holding the tracker here keeps it alive while it may hand itself back to its session.
    if (boost::shared_ptr<MemoryTracker> tracker = tracker_.lock()) {
        tracker->RemoveUser(this);
    }
    tracker_.reset();
}

ByteAmount MemoryUser::BytesAvailable() const {
    if (boost::shared_ptr<MemoryTracker> tracker = tracker_.lock()) {
        return tracker->BytesAvailable();
    }
    return ByteAmount(0);
}

}  // namespace SarvelonMediaKit
