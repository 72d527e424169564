#ifndef ENGINE_CORE_MEMORYUSER_H
#define ENGINE_CORE_MEMORYUSER_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class MemoryTracker;

// Something that holds bytes under a MemoryTracker. It registers itself with the tracker when
// made and leaves it when destroyed; it keeps only a weak link, so the tracker may go first.
class MemoryUser {
public:
    // An empty tracker is allowed: the user then counts against nothing and has no room.
    // With joinNow false the concrete class calls JoinTracker at the end of its own
    // constructor, so that a tracker summing its users on another thread never meets it half
    // built.
    explicit MemoryUser(const boost::shared_ptr<MemoryTracker>& tracker, bool joinNow = true);
    virtual ~MemoryUser();

    MemoryUser(const MemoryUser&) = delete;
    MemoryUser& operator=(const MemoryUser&) = delete;

    // Bytes this user holds now.
    virtual ByteAmount BytesHeld() const = 0;
    // Room left under the tracker; 0 when the tracker is gone.
    virtual ByteAmount BytesAvailable() const;

    // The tracker, or empty when it is gone.
    boost::shared_ptr<MemoryTracker> GetTracker() const { return tracker_.lock(); }

protected:
    // Registers with the tracker (once).
    void JoinTracker();
    // Unregisters from the tracker (once; later calls do nothing). A concrete user calls it
    // first thing in its destructor: the tracker may ask BytesHeld on another thread until the
    // user has left, and by the time this base destructor runs the override is gone.
    void LeaveTracker();

private:
    boost::weak_ptr<MemoryTracker> tracker_;
    bool joined_;
};

}  // namespace SarvelonMediaKit

#endif
