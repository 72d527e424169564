#include "engine/serve/LiveHttpFile.h"

#include <thread>

#include "engine/serve/LiveHttpFileSource.h"

namespace SarvelonMediaKit {

LiveHttpFile::LiveHttpFile(LiveHttpFileSource* listener, uint32_t number)
    : listener_(listener),
      listenerCalls_(0),
      state_(StateHeld),
      servedWhenComplete_(false),
      number_(number),
      size_(0) {}

LiveHttpFile::~LiveHttpFile() {}

bool LiveHttpFile::SetState(int32_t value) {
    int32_t current = state_.load();
    while (current < value) {
        if (!state_.compare_exchange_weak(current, value)) continue;
        // This thread moved the state: it alone reports the rise.
        // Counted before the listener is read: ClearListener, which empties it first and
        // then waits for the count, either sees this call or makes it read null.
        ++listenerCalls_;
        if (LiveHttpFileSource* listener = listener_.load()) listener->FileStateChanged(this);
        --listenerCalls_;
        // A server dropped it while it was still being written (MarkServed).
        if (value >= StateComplete && value < StateServed && servedWhenComplete_) {
            SetState(StateServed);
        }
        return true;
    }
    return false;
}

void LiveHttpFile::ClearListener(bool waitForCalls) {
    listener_.store(nullptr);
    if (!waitForCalls) return;
    // A rise on another thread may be inside the listener right now; it needs nothing the
    // caller holds (the listener takes its own lock), so it ends.
    while (listenerCalls_.load() != 0) std::this_thread::yield();
}

void LiveHttpFile::MarkServed() {
    // The flag first: either we see the file complete below, or the thread that completes it
    // sees the flag.
    servedWhenComplete_ = true;
    if (IsComplete()) SetState(StateServed);
}

void LiveHttpFile::Append(const MemoryChunk& chunk) {
    if (chunk.GetMarker() || chunk.IsEmpty()) return;
    SV::ScopedLock lock(*this);
    chunks_.push_back(chunk);
    size_ += chunk.Size();
}

uint64_t LiveHttpFile::Size() {
    SV::ScopedLock lock(*this);
    return size_;
}

void LiveHttpFile::SeekTo(Cursor& cursor, uint64_t position) {
    SV::ScopedLock lock(*this);
    uint64_t before = 0;
    for (size_t i = 0; i < chunks_.size(); ++i) {
        const uint32_t size = chunks_[i].Size();
        if (position < before + size) {
            cursor.index = static_cast<uint32_t>(i);
            cursor.offset = static_cast<uint32_t>(position - before);
            return;
        }
        before += size;
    }
    // At or past the end: the next chunk appended is read from its start.
    cursor.index = static_cast<uint32_t>(chunks_.size());
    cursor.offset = 0;
}

MemoryChunk LiveHttpFile::Read(Cursor& cursor, uint32_t max) {
    SV::ScopedLock lock(*this);
    if (max == 0 || cursor.index >= chunks_.size()) return MemoryChunk();
    const MemoryChunk& chunk = chunks_[cursor.index];
    const uint32_t size = chunk.Size();
    if (cursor.offset == 0 && size <= max) {
        ++cursor.index;
        return chunk;
    }
    const uint32_t left = size - cursor.offset;
    const uint32_t take = left < max ? left : max;
    // A slice: the part shares the chunk's bytes, which the file never changes once appended.
    MemoryChunk part = chunk.Slice(cursor.offset, take);
    cursor.offset += take;
    if (cursor.offset >= size) {
        ++cursor.index;
        cursor.offset = 0;
    }
    return part;
}

bool LiveHttpFile::IsAtEnd(Cursor& cursor) {
    SV::ScopedLock lock(*this);
    return cursor.index >= chunks_.size();
}

}  // namespace SarvelonMediaKit
