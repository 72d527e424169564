#ifndef ENGINE_CORE_MEMORYTRACKER_H
#define ENGINE_CORE_MEMORYTRACKER_H

#include <boost/weak_ptr.hpp>

#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class MemoryUser;
class Session;

// One memory budget of a session: its limit and the users that hold bytes under it.
//
// A tracker with an own limit of 0 has no budget of its own and takes the session's
// unallocated capacity. The link back to the session is weak: a tracker may outlive its
// session (a cache still holds it), and then it neither asks nor gives anything back to it.
//
// The user list is guarded by the tracker's own lock. The session is never called with that
// lock held, so the session may ask trackers for their use under a lock of its own.
class MemoryTracker {
public:
    MemoryTracker(const boost::weak_ptr<Session>& session, ByteAmount limit);
    virtual ~MemoryTracker();

    MemoryTracker(const MemoryTracker&) = delete;
    MemoryTracker& operator=(const MemoryTracker&) = delete;

    void AddUser(MemoryUser* user);
    // Removes the first entry of user. When the last user leaves, the tracker gives itself
    // back to its session (Session::ReleaseTracker), which returns its limit to the session's
    // unallocated capacity; the caller must keep the tracker alive across the call.
    void RemoveUser(MemoryUser* user);

    // Bytes held by all users (saturated at 32 bits).
    ByteAmount BytesUsed() const;
    // The own limit when non-zero, else the session's unallocated capacity (0 without session).
    ByteAmount Limit() const;
    // Limit - BytesUsed, never below 0.
    ByteAmount BytesAvailable() const;

    // The limit the tracker was made with (0 for a session's main tracker).
    ByteAmount GetOwnLimit() const { return limit_; }

private:
    mutable SV::Mutex lock_;
    std::vector<MemoryUser*> users_;  // under lock_; not owned
    boost::weak_ptr<Session> session_;
    const ByteAmount limit_;
    bool singleUser_;  // under lock_: exactly one user registered
};

}  // namespace SarvelonMediaKit

#endif
