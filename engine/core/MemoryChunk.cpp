#include "engine/core/MemoryChunk.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>
#include <limits>

#include "SVLibrary/Exception/Exception.h"

namespace SarvelonMediaKit {

namespace {

const uint64_t kMaxBufferBytes = std::numeric_limits<uint32_t>::max();

}  // namespace

MemoryChunk::MemoryChunk() {}

MemoryChunk::MemoryChunk(uint32_t size, uint32_t headroom, uint32_t tailroom)
    : MemoryChunk(size, headroom, tailroom, UnsetTag()) {
    // Zeroed: see the declaration (bytes a maker or a later stage may not write).
    std::fill(buffer_->bytes.begin(), buffer_->bytes.end(), 0);
}

MemoryChunk::MemoryChunk(uint32_t size, uint32_t headroom, uint32_t tailroom, UnsetTag) {
    // Offsets are 32-bit, so the whole buffer must be addressable with them.
    const uint64_t total = uint64_t(size) + headroom + tailroom;
    if (total > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    buffer_ = boost::make_shared<Buffer>();
    buffer_->bytes.resize(static_cast<size_t>(total));
    buffer_->begin = headroom;
    buffer_->end = headroom + size;
}

MemoryChunk MemoryChunk::Unset(uint32_t size, uint32_t headroom, uint32_t tailroom) {
    return MemoryChunk(size, headroom, tailroom, UnsetTag());
}

MemoryChunk::MemoryChunk(const boost::shared_ptr<MemoryMarker>& marker) : marker_(marker) {}

MemoryChunk MemoryChunk::CopyOf(const uint8_t* bytes, uint32_t size) {
    if (size == 0) {
        return MemoryChunk();
    }
    MemoryChunk chunk = Unset(size, 0, 0);  // every byte is copied over
    std::memcpy(chunk.Data(0), bytes, size);
    return chunk;
}

MemoryChunk MemoryChunk::CopyOf(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    return CopyOf(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

void MemoryChunk::SetSize(uint32_t size) {
    if (!buffer_) {
        if (size == 0) {
            return;
        }
        buffer_ = boost::make_shared<Buffer>();
    }
    Buffer& b = *buffer_;
    const uint32_t current = b.end - b.begin;
    if (size <= current) {
        b.end -= current - size;
        return;
    }
    // Zeroed: the caller may read the grown payload before it writes it.
    Grow(size - current, true);
}

void MemoryChunk::Grow(uint32_t grow, bool zero) {
    Buffer& b = *buffer_;
    if (uint64_t(b.bytes.size()) + grow > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    if (zero) {
        b.bytes.resize(b.bytes.size() + grow, 0);
    } else {
        b.bytes.resize(b.bytes.size() + grow);
    }
    b.end += grow;
}

bool MemoryChunk::Advance(uint32_t n) {
    if (!buffer_) {
        return n == 0;
    }
    if (uint64_t(buffer_->begin) + n > buffer_->end) {
        return false;
    }
    buffer_->begin += n;
    return true;
}

bool MemoryChunk::Reserve(uint32_t n) {
    if (!buffer_) {
        return n == 0;
    }
    if (buffer_->begin < n) {
        return false;
    }
    buffer_->begin -= n;
    return true;
}

bool MemoryChunk::TrimEnd(uint32_t n) {
    if (n > Size()) {
        return false;
    }
    if (buffer_) {
        buffer_->end -= n;
    }
    return true;
}

void MemoryChunk::Append(const MemoryChunk& other, uint32_t n) {
    const uint32_t available = other.Size();
    if (n == 0) {
        n = available;
    }
    if (n > available) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk::Append beyond data");
    }
    if (n == 0) {
        return;
    }
    const uint32_t oldSize = Size();
    if (uint64_t(oldSize) + n > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    if (!buffer_) {
        buffer_ = boost::make_shared<Buffer>();
    }
    // The grown bytes are copied over at once, so they are not cleared first.
    if (other.buffer_ == buffer_) {
        // Growing may move the storage the source bytes live in: take them first.
        std::vector<unsigned char> copy(other.Data(0), other.Data(0) + n);
        Grow(n, false);
        std::memcpy(Data(oldSize), copy.data(), n);
        return;
    }
    Grow(n, false);
    std::memcpy(Data(oldSize), other.Data(0), n);
}

bool MemoryChunk::IsEmpty() const { return !buffer_ || buffer_->begin == buffer_->end; }

}  // namespace SarvelonMediaKit
