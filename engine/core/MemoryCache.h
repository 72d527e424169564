#ifndef ENGINE_CORE_MEMORYCACHE_H
#define ENGINE_CORE_MEMORYCACHE_H

#include <string>

#include "engine/core/MemoryChunk.h"
#include "engine/core/MemoryUser.h"

namespace SarvelonMediaKit {

class Component;

// Chunks a component buffers, counted against a MemoryTracker, with the file positions of what
// is held: flushed_ is the position of the first byte still held, readPosition_ that of the
// next byte to hand out.
class MemoryCache : public MemoryUser {
public:
    // The owner makes the chunks the cache has to cut, so they get its headroom and tailroom;
    // without an owner they are made plain. A concrete cache joins its tracker (JoinTracker)
    // at the end of its constructor and leaves it (LeaveTracker) first thing in its destructor.
    MemoryCache(const boost::shared_ptr<MemoryTracker>& tracker, Component* owner);
    ~MemoryCache() override;

    virtual BytePosition FlushedPosition() const = 0;
    // One past the last byte held.
    virtual BytePosition LoadedPosition() const = 0;
    virtual void AddChunk(const MemoryChunk& chunk) = 0;
    // Size of the chunk a ReadAll would hand out.
    virtual ByteAmount NextChunkSize() const;
    // At most max bytes from the given position on.
    virtual MemoryChunk ReadAt(BytePosition position, ByteAmount max) = 0;
    virtual bool IsEmpty() const;
    virtual void Clear();
    virtual std::string GetStats() const;

    void Add(const MemoryChunk& chunk);
    // Bytes held beyond the read position (a marker counts 0).
    ByteAmount BytesReady() const;
    BytePosition CurrentLoadedFilePosition() const;
    // Drops everything held; reading and holding start again at position.
    void SetPosition(BytePosition position);
    // The next chunk of at most n bytes; a marker at the front comes out whole.
    MemoryChunk Read(ByteAmount n);
    // The next chunk whole.
    MemoryChunk ReadAll();

    BytePosition GetReadPosition() const { return readPosition_; }

protected:
    // A new data chunk of size bytes, made through the owner when there is one.
    MemoryChunk MakeChunk(ByteAmount size) const;

    Component* owner_;
    BytePosition readPosition_;
    BytePosition flushed_;
};

}  // namespace SarvelonMediaKit

#endif
