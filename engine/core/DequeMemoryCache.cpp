#include "engine/core/DequeMemoryCache.h"

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include <cstring>
#include <limits>

#include "SVLibrary/Exception/Exception.h"
#include "engine/core/Session.h"
#include "engine/core/Component.h"

namespace SarvelonMediaKit {

DequeMemoryCache::DequeMemoryCache(const boost::shared_ptr<MemoryTracker>& tracker,
                                   Component* owner)
    : MemoryCache(tracker, owner), currentBytesHeld_(0) {
    JoinTracker();
}

DequeMemoryCache::~DequeMemoryCache() { LeaveTracker(); }

boost::shared_ptr<DequeMemoryCache> DequeMemoryCache::Create(
    const boost::shared_ptr<MemoryTracker>& tracker, Component* owner) {
    return boost::make_shared<DequeMemoryCache>(tracker, owner);
}

boost::shared_ptr<DequeMemoryCache> DequeMemoryCache::CreateForSession(Component* component) {
    Session* session = component->GetSession();
    return Create(session ? session->GetMemoryTracker() : boost::shared_ptr<MemoryTracker>(),
                  component);
}

ByteAmount DequeMemoryCache::BytesHeld() const {
    return ByteAmount(currentBytesHeld_.load(std::memory_order_relaxed));
}

BytePosition DequeMemoryCache::FlushedPosition() const { return flushed_; }

BytePosition DequeMemoryCache::LoadedPosition() const {
    return BytePosition(flushed_ + currentBytesHeld_.load(std::memory_order_relaxed));
}

void DequeMemoryCache::AddChunk(const MemoryChunk& chunk) {
    const uint32_t held = currentBytesHeld_.load(std::memory_order_relaxed);
    if (uint64_t(held) + chunk.Size() > std::numeric_limits<uint32_t>::max()) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryCache full");
    }
    chunks_.push_back(chunk);
    currentBytesHeld_.store(held + chunk.Size(), std::memory_order_relaxed);
}

ByteAmount DequeMemoryCache::NextChunkSize() const {
    if (chunks_.empty()) {
        return ByteAmount(0);
    }
    const MemoryChunk& front = chunks_.front();
    if (front.IsEmpty()) {
        // A marker: report one byte so that a puller asking for the ready amount asks at all.
        return ByteAmount(1);
    }
    // Part of the front chunk may lie before the read position.
    const uint64_t consumed = readPosition_ > flushed_ ? readPosition_ - flushed_ : 0;
    return ByteAmount(consumed < front.Size() ? front.Size() - static_cast<uint32_t>(consumed) : 0);
}

void DequeMemoryCache::ReleaseHeld(uint32_t n) {
    // A queued chunk shares its range with the copy its sender kept; should the sender shrink
    // it, the count must still not wrap to a huge number.
    const uint32_t held = currentBytesHeld_.load(std::memory_order_relaxed);
    currentBytesHeld_.store(held > n ? held - n : 0, std::memory_order_relaxed);
}

void DequeMemoryCache::CutFront(uint32_t n) {
    flushed_ += n;
    ReleaseHeld(n);
    chunks_.front().Advance(n);
}

MemoryChunk DequeMemoryCache::PopFront() {
    MemoryChunk chunk = chunks_.front();
    chunks_.pop_front();
    flushed_ += chunk.Size();
    ReleaseHeld(chunk.Size());
    return chunk;
}

MemoryChunk DequeMemoryCache::ReadAt(BytePosition position, ByteAmount max) {
    if (chunks_.empty()) {
        return MakeChunk(0);
    }
    if (flushed_ < position) {
        // Whole chunks before the position go, markers among them.
        while (!chunks_.empty() && position >= flushed_ + chunks_.front().Size()) {
            PopFront();
        }
        if (chunks_.empty()) {
            return MakeChunk(0);
        }
        if (flushed_ < position) {
            // The position lies inside the front chunk, so the cut is smaller than its size.
            CutFront(static_cast<uint32_t>(position - flushed_));
        }
    }
    MemoryChunk& front = chunks_.front();
    const uint32_t size = front.Size();
    if (size > max) {
        MemoryChunk part = MakeChunk(max);
        if (max != 0) {
            std::memcpy(part.Data(0), front.Data(0), max);
        }
        CutFront(max);
        return part;
    }
    return PopFront();
}

bool DequeMemoryCache::IsEmpty() const { return chunks_.empty(); }

void DequeMemoryCache::Clear() {
    chunks_.clear();
    currentBytesHeld_.store(0, std::memory_order_relaxed);
}

std::string DequeMemoryCache::GetStats() const {
    return (boost::format("%1%\r\n\tmCurrentBytesHeld %2%\r\n\tBytesReady %3%") %
            MemoryCache::GetStats() % currentBytesHeld_.load(std::memory_order_relaxed) %
            BytesReady().Get())
        .str();
}

}  // namespace SarvelonMediaKit
