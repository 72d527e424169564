#include "engine/core/MemoryCache.h"

#include <boost/format.hpp>

#include <limits>

#include "engine/core/Component.h"

namespace SarvelonMediaKit {

MemoryCache::MemoryCache(const boost::shared_ptr<MemoryTracker>& tracker, Component* owner)
    : MemoryUser(tracker, false), mOwner(owner), mReadPosition(0), mFlushed(0) {}

MemoryCache::~MemoryCache() {}

ByteAmount MemoryCache::NextChunkSize() const {
    return BytesReady();
}

bool MemoryCache::IsEmpty() const {
    return BytesReady() == 0;
}

void MemoryCache::Clear() {}

std::string MemoryCache::GetStats() const {
    return (boost::format("MemoryCache stats:\r\n\tmFlushed %1%\r\n\tmReadPosition %2%"
                          "\r\n\tCurrentLoadedFilePosition %3%") %
            mFlushed.Get() % mReadPosition.Get() % LoadedPosition().Get())
        .str();
}

void MemoryCache::Add(const MemoryChunk& chunk) {
    AddChunk(chunk);
}

ByteAmount MemoryCache::BytesReady() const {
    const uint64_t loaded = LoadedPosition();
    if (loaded <= mReadPosition) {
        return ByteAmount(0);
    }
    const uint64_t ready = loaded - mReadPosition;
    // Saturate rather than wrap: a wrapped count would promise bytes that are not there.
    return ByteAmount(ready > std::numeric_limits<uint32_t>::max()
                          ? std::numeric_limits<uint32_t>::max()
                          : static_cast<uint32_t>(ready));
}

BytePosition MemoryCache::CurrentLoadedFilePosition() const {
    return LoadedPosition();
}

void MemoryCache::SetPosition(BytePosition position) {
    Clear();
    mReadPosition = position;
    mFlushed = position;
}

MemoryChunk MemoryCache::Read(ByteAmount n) {
    MemoryChunk chunk = ReadAt(mReadPosition, n);
    mReadPosition += chunk.Size();
    return chunk;
}

MemoryChunk MemoryCache::ReadAll() {
    return Read(BytesReady());
}

MemoryChunk MemoryCache::MakeChunk(ByteAmount size) const {
    if (mOwner) {
        return mOwner->CreateMemoryChunk(size, 0, 0);
    }
    return MemoryChunk(size, 0, 0);
}

}  // namespace SarvelonMediaKit
