#include "engine/samples/MemoryChunkList.h"

#include <algorithm>
#include <cstring>

namespace SarvelonMediaKit {

// ---- Cursor ----

MemoryChunkList::Cursor::Cursor() : mList(nullptr), mOffset(0), mPosition(0) {}

MemoryChunkList::Cursor::Cursor(MemoryChunkList& list) : mList(&list), mOffset(0), mPosition(0) {
    Begin();
}

void MemoryChunkList::Cursor::Begin() {
    mOffset = 0;
    mPosition = 0;
    if (!mList) {
        return;
    }
    mChunk = mList->mChunks.begin();
    Normalize();
}

void MemoryChunkList::Cursor::End() {
    mOffset = 0;
    mPosition = 0;
    if (!mList) {
        return;
    }
    mChunk = mList->mChunks.end();
    mPosition = mList->Size();
}

bool MemoryChunkList::Cursor::IsAtEnd() const {
    return !mList || mChunk == mList->mChunks.end();
}

void MemoryChunkList::Cursor::Normalize() {
    if (!mList) {
        return;
    }
    while (mChunk != mList->mChunks.end() && mOffset >= mChunk->Size()) {
        ++mChunk;
        mOffset = 0;
    }
}

uint8_t& MemoryChunkList::Cursor::operator*() const {
    return *mChunk->Data(mOffset);
}

uint8_t* MemoryChunkList::Cursor::Data() const {
    return IsAtEnd() ? nullptr : mChunk->Data(mOffset);
}

uint32_t MemoryChunkList::Cursor::BytesLeftInChunk() const {
    return IsAtEnd() ? 0 : mChunk->Size() - mOffset;
}

uint64_t MemoryChunkList::Cursor::Advance(uint64_t n) {
    uint64_t moved = 0;
    while (n > 0 && !IsAtEnd()) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(n, BytesLeftInChunk()));
        mOffset += step;
        mPosition += step;
        moved += step;
        n -= step;
        Normalize();
    }
    return moved;
}

uint64_t MemoryChunkList::Cursor::StepBack(uint64_t n) {
    if (!mList) {
        return 0;
    }
    uint64_t moved = 0;
    while (n > 0) {
        if (mOffset == 0) {
            if (mChunk == mList->mChunks.begin()) {
                break;
            }
            --mChunk;
            mOffset = mChunk->Size();
            continue;
        }
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(n, mOffset));
        mOffset -= step;
        mPosition -= step;
        moved += step;
        n -= step;
    }
    Normalize();
    return moved;
}

uint64_t MemoryChunkList::Cursor::Erase(uint64_t n) {
    uint64_t removed = 0;
    while (n > 0 && !IsAtEnd()) {
        const uint32_t size = mChunk->Size();
        const uint32_t left = size - mOffset;
        if (mOffset == 0 && n >= size) {
            // The whole chunk goes.
            mChunk = mList->mChunks.erase(mChunk);
            removed += size;
            n -= size;
            continue;
        }
        if (n >= left) {
            // From inside the chunk to its end: cut it short here.
            mChunk->TrimEnd(left);
            removed += left;
            n -= left;
            ++mChunk;
            mOffset = 0;
            continue;
        }
        // The range ends inside this chunk.
        const uint32_t count = static_cast<uint32_t>(n);
        if (mOffset == 0) {
            mChunk->Advance(count);
        } else {
            std::memmove(mChunk->Data(mOffset), mChunk->Data(mOffset + count), left - count);
            mChunk->TrimEnd(count);
        }
        removed += count;
        n = 0;
    }
    Normalize();
    return removed;
}

bool MemoryChunkList::Cursor::operator==(const Cursor& other) const {
    if (IsAtEnd() || other.IsAtEnd()) {
        return IsAtEnd() == other.IsAtEnd() && mList == other.mList &&
               mPosition == other.mPosition;
    }
    return mList == other.mList && mChunk == other.mChunk && mPosition == other.mPosition;
}

int64_t MemoryChunkList::Cursor::operator-(const Cursor& other) const {
    return static_cast<int64_t>(mPosition) - static_cast<int64_t>(other.mPosition);
}

// ---- List ----

MemoryChunkList::MemoryChunkList(uint32_t headroom, uint32_t tailroom)
    : mHeadroom(headroom), mTailroom(tailroom) {}

MemoryChunk& MemoryChunkList::AddChunk(uint32_t size) {
    mChunks.push_back(MemoryChunk(size, mChunks.empty() ? mHeadroom : 0, mTailroom));
    return mChunks.back();
}

void MemoryChunkList::Append(const uint8_t* data, uint32_t length) {
    if (length == 0) {
        return;
    }
    if (mChunks.empty()) {
        std::memcpy(AddChunk(length).Data(0), data, length);
        return;
    }
    MemoryChunk& last = mChunks.back();
    const uint32_t old = last.Size();
    last.SetSize(old + length);
    std::memcpy(last.Data(old), data, length);
}

void MemoryChunkList::AppendChunks(const MemoryChunkList& other) {
    if (&other == this) {
        const std::list<MemoryChunk> copy(mChunks);
        mChunks.insert(mChunks.end(), copy.begin(), copy.end());
        return;
    }
    mChunks.insert(mChunks.end(), other.mChunks.begin(), other.mChunks.end());
}

void MemoryChunkList::Prepend(const uint8_t* data, uint32_t n) {
    if (n == 0) {
        return;
    }
    if (mChunks.empty()) {
        std::memcpy(AddChunk(n).Data(0), data, n);
        return;
    }
    MemoryChunk& first = mChunks.front();
    const uint32_t old = first.Size();
    first.SetSize(old + n);
    std::memmove(first.Data(n), first.Data(0), old);
    std::memcpy(first.Data(0), data, n);
}

uint64_t MemoryChunkList::Size() const {
    uint64_t size = 0;
    for (const MemoryChunk& chunk : mChunks) {
        size += chunk.Size();
    }
    return size;
}

bool MemoryChunkList::IsEmpty() const {
    for (const MemoryChunk& chunk : mChunks) {
        if (chunk.Size() != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace SarvelonMediaKit
