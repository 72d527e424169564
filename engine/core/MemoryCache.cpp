#include "engine/core/MemoryCache.h"

#include <boost/format.hpp>

#include "SVLibrary/Util/Saturating.h"
#include "engine/core/Component.h"

namespace SarvelonMediaKit {

MemoryCache::MemoryCache(const boost::shared_ptr<MemoryTracker>& tracker, Component* owner)
    : MemoryUser(tracker, false), owner_(owner), readPosition_(0), flushed_(0) {}

MemoryCache::~MemoryCache() {}

ByteAmount MemoryCache::NextChunkSize() const { return BytesReady(); }

bool MemoryCache::IsEmpty() const { return BytesReady() == 0; }

void MemoryCache::Clear() {}

std::string MemoryCache::GetStats() const {
    return (boost::format("MemoryCache stats:\r\n\tmFlushed %1%\r\n\tmReadPosition %2%"
                          "\r\n\tCurrentLoadedFilePosition %3%") %
            flushed_.Get() % readPosition_.Get() % LoadedPosition().Get())
        .str();
}

void MemoryCache::Add(const MemoryChunk& chunk) { AddChunk(chunk); }

ByteAmount MemoryCache::BytesReady() const {
    const uint64_t loaded = LoadedPosition();
    if (loaded <= readPosition_) {
        return ByteAmount(0);
    }
    // Saturate rather than wrap: a wrapped count would promise bytes that are not there.
    return ByteAmount(SV::SaturatingNarrow<uint32_t>(loaded - readPosition_));
}

BytePosition MemoryCache::CurrentLoadedFilePosition() const { return LoadedPosition(); }

void MemoryCache::SetPosition(BytePosition position) {
    Clear();
    readPosition_ = position;
    flushed_ = position;
}

MemoryChunk MemoryCache::Read(ByteAmount n) {
    MemoryChunk chunk = ReadAt(readPosition_, n);
    readPosition_ += chunk.Size();
    return chunk;
}

MemoryChunk MemoryCache::ReadAll() { return Read(BytesReady()); }

MemoryChunk MemoryCache::MakeChunk(ByteAmount size) const {
    if (owner_) {
        return owner_->CreateMemoryChunk(size, 0, 0);
    }
    return MemoryChunk(size, 0, 0);
}

}  // namespace SarvelonMediaKit
