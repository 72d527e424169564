#include "engine/core/MemoryTracker.h"

#include <boost/shared_ptr.hpp>

#include <algorithm>

#include "SVLibrary/Util/Saturating.h"
#include "engine/core/Session.h"
#include "engine/core/MemoryUser.h"

namespace SarvelonMediaKit {

MemoryTracker::MemoryTracker(const boost::weak_ptr<Session>& session, ByteAmount limit)
    : session_(session), limit_(limit), singleUser_(false) {}

MemoryTracker::~MemoryTracker() {}

void MemoryTracker::AddUser(MemoryUser* user) {
    SV::ScopedLock lock(lock_);
    users_.push_back(user);
    singleUser_ = users_.size() == 1;
}

void MemoryTracker::RemoveUser(MemoryUser* user) {
    bool lastLeft = false;
    {
        SV::ScopedLock lock(lock_);
        std::vector<MemoryUser*>::iterator it = std::find(users_.begin(), users_.end(), user);
        if (it == users_.end()) {
            return;
        }
        users_.erase(it);
        if (users_.empty()) {
            singleUser_ = false;
            lastLeft = true;
        } else {
            singleUser_ = users_.size() == 1;
        }
    }
    if (lastLeft) {
        // Outside our lock: the session takes its own lock and may ask trackers for their use.
        // The session may drop its share of this tracker here; the caller keeps it alive.
        if (boost::shared_ptr<Session> session = session_.lock()) {
            session->ReleaseTracker(this);
        }
    }
}

ByteAmount MemoryTracker::BytesUsed() const {
    SV::ScopedLock lock(lock_);
    if (singleUser_) {
        return users_.front()->BytesHeld();
    }
    uint32_t sum = 0;
    for (MemoryUser* user : users_) {
        sum = SV::SaturatingAdd<uint32_t>(sum, user->BytesHeld().Get());
    }
    return ByteAmount(sum);
}

ByteAmount MemoryTracker::Limit() const {
    if (limit_ != 0) {
        return limit_;
    }
    if (boost::shared_ptr<Session> session = session_.lock()) {
        return session->GetUnallocatedCapacity();
    }
    return ByteAmount(0);
}

ByteAmount MemoryTracker::BytesAvailable() const {
    const uint32_t limit = Limit();
    const uint32_t used = BytesUsed();
    return ByteAmount(limit > used ? limit - used : 0);
}

}  // namespace SarvelonMediaKit
