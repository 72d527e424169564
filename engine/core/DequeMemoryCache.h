#ifndef ENGINE_CORE_DEQUEMEMORYCACHE_H
#define ENGINE_CORE_DEQUEMEMORYCACHE_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <deque>

#include "engine/core/MemoryCache.h"

namespace SarvelonMediaKit {

// A MemoryCache that is a queue of chunks. Marker chunks take their place in the queue and
// count 0 bytes. A front chunk that fits a read is handed out itself; a larger one is split by
// copying only the bytes asked for and advancing the rest in place.
class DequeMemoryCache : public MemoryCache {
public:
    DequeMemoryCache(const boost::shared_ptr<MemoryTracker>& tracker, Component* owner);
    ~DequeMemoryCache() override;

    static boost::shared_ptr<DequeMemoryCache> Create(
        const boost::shared_ptr<MemoryTracker>& tracker, Component* owner);
    // A cache on the main tracker of the component's session, owned by the component.
    static boost::shared_ptr<DequeMemoryCache> CreateForSession(Component* component);

    // May be asked from any thread (the session sums its trackers' use).
    ByteAmount BytesHeld() const override;
    BytePosition FlushedPosition() const override;
    BytePosition LoadedPosition() const override;
    // Throws SVLibraryException SVL_InvalidParameter when the bytes held would pass 32 bits.
    void AddChunk(const MemoryChunk& chunk) override;
    ByteAmount NextChunkSize() const override;
    MemoryChunk ReadAt(BytePosition position, ByteAmount max) override;
    bool IsEmpty() const override;
    void Clear() override;
    std::string GetStats() const override;

private:
    void ReleaseHeld(uint32_t n);
    // Takes n bytes off the front chunk, which holds more than n.
    void CutFront(uint32_t n);
    // Removes the front chunk and returns it.
    MemoryChunk PopFront();

    std::atomic<uint32_t> currentBytesHeld_;
    std::deque<MemoryChunk> chunks_;
};

}  // namespace SarvelonMediaKit

#endif
