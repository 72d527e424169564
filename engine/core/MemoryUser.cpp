#include "engine/core/MemoryUser.h"

#include "engine/core/MemoryTracker.h"

namespace SarvelonMediaKit {

MemoryUser::MemoryUser(const boost::shared_ptr<MemoryTracker>& tracker, bool joinNow)
    : tracker_(tracker), joined_(false) {
    if (joinNow) {
        JoinTracker();
    }
}

void MemoryUser::JoinTracker() {
    if (joined_) {
        return;
    }
    if (boost::shared_ptr<MemoryTracker> tracker = tracker_.lock()) {
        tracker->AddUser(this);
        joined_ = true;
    }
}

MemoryUser::~MemoryUser() { LeaveTracker(); }

void MemoryUser::LeaveTracker() {
    // Holding the tracker here keeps it alive while it may hand itself back to its session.
    if (joined_) {
        if (boost::shared_ptr<MemoryTracker> tracker = tracker_.lock()) {
            tracker->RemoveUser(this);
        }
        joined_ = false;
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
