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
    explicit MemoryUser(const boost::shared_ptr<MemoryTracker>& tracker);
    virtual ~MemoryUser();

    MemoryUser(const MemoryUser&) = delete;
    MemoryUser& operator=(const MemoryUser&) = delete;

    // Bytes this user holds now.
    virtual ByteAmount BytesHeld() const = 0;
    // Room left under the tracker; 0 when the tracker is gone.
    virtual ByteAmount BytesAvailable() const;

    // The tracker, or empty when it is gone.
    boost::shared_ptr<MemoryTracker> GetTracker() const { return tracker_.lock(); }

private:
    boost::weak_ptr<MemoryTracker> tracker_;
};

}  // namespace SarvelonMediaKit

#endif
