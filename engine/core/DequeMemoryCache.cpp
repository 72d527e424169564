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
    : MemoryCache(tracker, owner), mCurrentBytesHeld(0) {
    JoinTracker();
}

DequeMemoryCache::~DequeMemoryCache() {
    LeaveTracker();
}

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
    return ByteAmount(mCurrentBytesHeld.load(std::memory_order_relaxed));
}

BytePosition DequeMemoryCache::FlushedPosition() const {
    return mFlushed;
}

BytePosition DequeMemoryCache::LoadedPosition() const {
    return BytePosition(mFlushed + mCurrentBytesHeld.load(std::memory_order_relaxed));
}

void DequeMemoryCache::AddChunk(const MemoryChunk& chunk) {
    const uint32_t held = mCurrentBytesHeld.load(std::memory_order_relaxed);
    if (uint64_t(held) + chunk.Size() > std::numeric_limits<uint32_t>::max()) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryCache full");
    }
    mChunks.push_back(chunk);
    mCurrentBytesHeld.store(held + chunk.Size(), std::memory_order_relaxed);
}

ByteAmount DequeMemoryCache::NextChunkSize() const {
    if (mChunks.empty()) {
        return ByteAmount(0);
    }
    const MemoryChunk& front = mChunks.front();
    if (front.IsEmpty()) {
        // A marker: report one byte so that a puller asking for the ready amount asks at all.
        return ByteAmount(1);
    }
    // Part of the front chunk may lie before the read position.
    const uint64_t consumed = mReadPosition > mFlushed ? mReadPosition - mFlushed : 0;
    return ByteAmount(consumed < front.Size() ? front.Size() - static_cast<uint32_t>(consumed)
                                              : 0);
}

void DequeMemoryCache::ReleaseHeld(uint32_t n) {
    // A queued chunk shares its range with the copy its sender kept; should the sender shrink
    // it, the count must still not wrap to a huge number.
    const uint32_t held = mCurrentBytesHeld.load(std::memory_order_relaxed);
    mCurrentBytesHeld.store(held > n ? held - n : 0, std::memory_order_relaxed);
}

void DequeMemoryCache::CutFront(uint32_t n) {
    mFlushed += n;
    ReleaseHeld(n);
    mChunks.front().Advance(n);
}

MemoryChunk DequeMemoryCache::PopFront() {
    MemoryChunk chunk = mChunks.front();
    mChunks.pop_front();
    mFlushed += chunk.Size();
    ReleaseHeld(chunk.Size());
    return chunk;
}

MemoryChunk DequeMemoryCache::ReadAt(BytePosition position, ByteAmount max) {
    if (mChunks.empty()) {
        return MakeChunk(0);
    }
    if (mFlushed < position) {
        // Whole chunks before the position go, markers among them.
        while (!mChunks.empty() && position >= mFlushed + mChunks.front().Size()) {
            PopFront();
        }
        if (mChunks.empty()) {
            return MakeChunk(0);
        }
        if (mFlushed < position) {
            // The position lies inside the front chunk, so the cut is smaller than its size.
            CutFront(static_cast<uint32_t>(position - mFlushed));
        }
    }
    MemoryChunk& front = mChunks.front();
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

bool DequeMemoryCache::IsEmpty() const {
    return mChunks.empty();
}

void DequeMemoryCache::Clear() {
    mChunks.clear();
    mCurrentBytesHeld.store(0, std::memory_order_relaxed);
}

std::string DequeMemoryCache::GetStats() const {
    return (boost::format("%1%\r\n\tmCurrentBytesHeld %2%\r\n\tBytesReady %3%") %
            MemoryCache::GetStats() % mCurrentBytesHeld.load(std::memory_order_relaxed) %
            BytesReady().Get())
        .str();
}

}  // namespace SarvelonMediaKit
