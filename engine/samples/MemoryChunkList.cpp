#include "engine/samples/MemoryChunkList.h"

#include <algorithm>
#include <cstring>

namespace SarvelonMediaKit {

// ---- Cursor ----

MemoryChunkList::Cursor::Cursor() : list_(nullptr), offset_(0), position_(0) {}

MemoryChunkList::Cursor::Cursor(MemoryChunkList& list) : list_(&list), offset_(0), position_(0) {
    Begin();
}

void MemoryChunkList::Cursor::Begin() {
    offset_ = 0;
    position_ = 0;
    if (!list_) {
        return;
    }
    chunk_ = list_->chunks_.begin();
    Normalize();
}

void MemoryChunkList::Cursor::End() {
    offset_ = 0;
    position_ = 0;
    if (!list_) {
        return;
    }
    chunk_ = list_->chunks_.end();
    position_ = list_->Size();
}

bool MemoryChunkList::Cursor::IsAtEnd() const { return !list_ || chunk_ == list_->chunks_.end(); }

void MemoryChunkList::Cursor::Normalize() {
    if (!list_) {
        return;
    }
    while (chunk_ != list_->chunks_.end() && offset_ >= chunk_->Size()) {
        ++chunk_;
        offset_ = 0;
    }
}

uint8_t& MemoryChunkList::Cursor::operator*() const { return *chunk_->Data(offset_); }

uint8_t* MemoryChunkList::Cursor::Data() const {
    return IsAtEnd() ? nullptr : chunk_->Data(offset_);
}

uint32_t MemoryChunkList::Cursor::BytesLeftInChunk() const {
    return IsAtEnd() ? 0 : chunk_->Size() - offset_;
}

uint64_t MemoryChunkList::Cursor::Advance(uint64_t n) {
    uint64_t moved = 0;
    while (n > 0 && !IsAtEnd()) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(n, BytesLeftInChunk()));
        offset_ += step;
        position_ += step;
        moved += step;
        n -= step;
        Normalize();
    }
    return moved;
}

uint64_t MemoryChunkList::Cursor::StepBack(uint64_t n) {
    if (!list_) {
        return 0;
    }
    uint64_t moved = 0;
    while (n > 0) {
        if (offset_ == 0) {
            if (chunk_ == list_->chunks_.begin()) {
                break;
            }
            --chunk_;
            offset_ = chunk_->Size();
            continue;
        }
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(n, offset_));
        offset_ -= step;
        position_ -= step;
        moved += step;
        n -= step;
    }
    Normalize();
    return moved;
}

uint64_t MemoryChunkList::Cursor::Read(uint8_t* out, uint64_t n) {
    uint64_t done = 0;
    while (n > done && !IsAtEnd()) {
        const uint32_t step =
            static_cast<uint32_t>(std::min<uint64_t>(n - done, BytesLeftInChunk()));
        std::memcpy(out + done, Data(), step);
        done += Advance(step);
    }
    return done;
}

uint64_t MemoryChunkList::Cursor::Write(const uint8_t* in, uint64_t n) {
    uint64_t done = 0;
    while (n > done && !IsAtEnd()) {
        const uint32_t step =
            static_cast<uint32_t>(std::min<uint64_t>(n - done, BytesLeftInChunk()));
        chunk_->MakeWritable();  // a slice's bytes are not its own
        std::memcpy(Data(), in + done, step);
        done += Advance(step);
    }
    return done;
}

uint64_t MemoryChunkList::Cursor::Erase(uint64_t n) {
    uint64_t removed = 0;
    while (n > 0 && !IsAtEnd()) {
        const uint32_t size = chunk_->Size();
        const uint32_t left = size - offset_;
        if (offset_ == 0 && n >= size) {
            // The whole chunk goes.
            chunk_ = list_->chunks_.erase(chunk_);
            removed += size;
            n -= size;
            continue;
        }
        if (n >= left) {
            // From inside the chunk to its end: cut it short here.
            chunk_->TrimEnd(left);
            removed += left;
            n -= left;
            ++chunk_;
            offset_ = 0;
            continue;
        }
        // The range ends inside this chunk.
        const uint32_t count = static_cast<uint32_t>(n);
        if (offset_ == 0) {
            chunk_->Advance(count);
        } else {
            chunk_->MakeWritable();  // a slice's bytes are not its own
            std::memmove(chunk_->Data(offset_), chunk_->Data(offset_ + count), left - count);
            chunk_->TrimEnd(count);
        }
        removed += count;
        n = 0;
    }
    Normalize();
    return removed;
}

bool MemoryChunkList::Cursor::operator==(const Cursor& other) const {
    if (IsAtEnd() || other.IsAtEnd()) {
        return IsAtEnd() == other.IsAtEnd() && list_ == other.list_ && position_ == other.position_;
    }
    return list_ == other.list_ && chunk_ == other.chunk_ && position_ == other.position_;
}

int64_t MemoryChunkList::Cursor::operator-(const Cursor& other) const {
    return static_cast<int64_t>(position_) - static_cast<int64_t>(other.position_);
}

// ---- List ----

MemoryChunkList::MemoryChunkList(uint32_t headroom, uint32_t tailroom)
    : headroom_(headroom), tailroom_(tailroom) {}

MemoryChunk& MemoryChunkList::AddChunk(uint32_t size) {
    chunks_.push_back(MemoryChunk(size, chunks_.empty() ? headroom_ : 0, tailroom_));
    return chunks_.back();
}

void MemoryChunkList::Append(const uint8_t* data, uint32_t length) {
    if (length == 0) {
        return;
    }
    if (chunks_.empty()) {
        // The payload is copied over in full, so only the room around it is cleared, as
        // AddChunk would clear it: an audio frame per sample is not zeroed and then copied.
        const uint32_t headroom = headroom_;
        chunks_.push_back(MemoryChunk::Unset(length, headroom, tailroom_));
        MemoryChunk& chunk = chunks_.back();
        std::memset(chunk.Data(0) - headroom, 0, headroom);
        std::memcpy(chunk.Data(0), data, length);
        std::memset(chunk.Data(length), 0, tailroom_);
        return;
    }
    MemoryChunk& last = chunks_.back();
    const uint32_t old = last.Size();
    last.SetSize(old + length);
    std::memcpy(last.Data(old), data, length);
}

void MemoryChunkList::AppendChunks(const MemoryChunkList& other) {
    if (&other == this) {
        const std::list<MemoryChunk> copy(chunks_);
        chunks_.insert(chunks_.end(), copy.begin(), copy.end());
        return;
    }
    chunks_.insert(chunks_.end(), other.chunks_.begin(), other.chunks_.end());
}

void MemoryChunkList::Prepend(const uint8_t* data, uint32_t n) {
    if (n == 0) {
        return;
    }
    if (chunks_.empty()) {
        std::memcpy(AddChunk(n).Data(0), data, n);
        return;
    }
    MemoryChunk& first = chunks_.front();
    const uint32_t old = first.Size();
    first.SetSize(old + n);
    std::memmove(first.Data(n), first.Data(0), old);
    std::memcpy(first.Data(0), data, n);
}

uint64_t MemoryChunkList::Size() const {
    uint64_t size = 0;
    for (const MemoryChunk& chunk : chunks_) {
        size += chunk.Size();
    }
    return size;
}

bool MemoryChunkList::IsEmpty() const {
    for (const MemoryChunk& chunk : chunks_) {
        if (chunk.Size() != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace SarvelonMediaKit
