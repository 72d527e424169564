#include "engine/core/MemoryChunk.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "SVLibrary/Exception/Exception.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif

namespace SarvelonMediaKit {

namespace {

const uint64_t kMaxBufferBytes = std::numeric_limits<uint32_t>::max();

// Buffer blocks of kPoolMin to kPoolMax bytes are kept for reuse when freed; smaller ones are
// cheap for the heap, larger ones rare. A kept block is filed under the largest size class not
// above its capacity; the classes step by an eighth of a power of two from kPoolMin, so a block
// handed out for n bytes holds less than about a quarter more.
const std::size_t kPoolMin = 1024;
const std::size_t kPoolMax = std::size_t(4) << 20;
const std::size_t kClasses = 97;  // FloorClass(kPoolMax) + 1
// What one thread keeps at most: enough for a whole read and the packets cut from it.
const std::size_t kCacheBytes = std::size_t(8) << 20;
const std::size_t kClassBlocks = 64;
// A new block's capacity is rounded up to this, so that a block freed and asked for again at a
// slightly larger size still fits.
const std::size_t kCapacityStep = 64;

// Sits before the bytes handed out; next links the kept blocks of one class.
struct BlockHeader {
    std::size_t capacity;
    BlockHeader* next;
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0,
              "the bytes after the header must stay aligned as operator new aligns them");

unsigned char* BytesOf(BlockHeader* header) {
    return reinterpret_cast<unsigned char*>(header) + sizeof(BlockHeader);
}

BlockHeader* HeaderOf(void* bytes) {
    return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(bytes) - sizeof(BlockHeader));
}

// The largest class whose size is at most s (s >= kPoolMin).
std::size_t FloorClass(std::size_t s) {
    const int e = 63 - __builtin_clzll(static_cast<unsigned long long>(s));
    return std::size_t(e - 10) * 8 + ((s >> (e - 3)) & 7);
}

std::size_t ClassSize(std::size_t c) { return (8 + c % 8) << (c / 8 + 7); }

// Under the address sanitizer a kept block is poisoned, so a use after free is still caught
// while it waits, and so is the tail a block holds beyond what was asked for.
#if defined(__SANITIZE_ADDRESS__)
#define SV_CHUNK_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SV_CHUNK_POOL_ASAN 1
#endif
#endif

void Poison(void* p, std::size_t n) {
#if defined(SV_CHUNK_POOL_ASAN)
    __asan_poison_memory_region(p, n);
#else
    (void)p;
    (void)n;
#endif
}

void Unpoison(void* p, std::size_t n) {
#if defined(SV_CHUNK_POOL_ASAN)
    __asan_unpoison_memory_region(p, n);
#else
    (void)p;
    (void)n;
#endif
}

// The bytes of header made ready for n bytes of use.
void* HandOut(BlockHeader* header, std::size_t n) {
    Poison(BytesOf(header), header->capacity);
    Unpoison(BytesOf(header), n);
    return BytesOf(header);
}

void FreeBlock(BlockHeader* header) {
    Unpoison(BytesOf(header), header->capacity);
    ::operator delete(header);
}

// Set when the thread's cache is gone (thread exit); blocks freed later go to the heap.
thread_local bool tCacheGone = false;

// One thread's kept blocks, one list per size class.
class BlockCache {
public:
    BlockCache() {}
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() {
        tCacheGone = true;
        for (std::size_t c = 0; c < kClasses; ++c) {
            while (BlockHeader* header = heads_[c]) {
                heads_[c] = header->next;
                FreeBlock(header);
            }
        }
    }

    // A kept block of at least n bytes, or null.
    BlockHeader* Take(std::size_t n) {
        const std::size_t below = FloorClass(n);
        if (ClassSize(below) != n && below + 1 < kClasses && heads_[below + 1] != nullptr) {
            return Pop(below + 1, nullptr);  // every block there holds at least n
        }
        // Blocks of the class n falls in may be smaller or larger than n; most often a block of
        // just this size was freed before.
        BlockHeader* previous = nullptr;
        for (BlockHeader* header = heads_[below]; header != nullptr; header = header->next) {
            if (header->capacity >= n) {
                return Pop(below, previous);
            }
            previous = header;
        }
        return nullptr;
    }

    // Keeps header unless this thread keeps enough already.
    bool Keep(BlockHeader* header) {
        const std::size_t c = FloorClass(header->capacity);
        if (counts_[c] >= kClassBlocks || bytes_ + header->capacity > kCacheBytes) {
            return false;
        }
        Poison(BytesOf(header), header->capacity);
        header->next = heads_[c];
        heads_[c] = header;
        ++counts_[c];
        bytes_ += header->capacity;
        return true;
    }

private:
    BlockHeader* Pop(std::size_t c, BlockHeader* previous) {
        BlockHeader* header = previous != nullptr ? previous->next : heads_[c];
        (previous != nullptr ? previous->next : heads_[c]) = header->next;
        --counts_[c];
        bytes_ -= header->capacity;
        return header;
    }

    BlockHeader* heads_[kClasses] = {};
    std::size_t counts_[kClasses] = {};
    std::size_t bytes_ = 0;
};

thread_local BlockCache tCache;

}  // namespace

void* MemoryChunk::TakeBytes(std::size_t n) {
    if (n < kPoolMin || n > kPoolMax) {
        return ::operator new(n);
    }
    if (!tCacheGone) {
        if (BlockHeader* header = tCache.Take(n)) {
            return HandOut(header, n);
        }
    }
    const std::size_t capacity = (n + kCapacityStep - 1) / kCapacityStep * kCapacityStep;
    BlockHeader* header = static_cast<BlockHeader*>(::operator new(sizeof(BlockHeader) + capacity));
    header->capacity = capacity;
    header->next = nullptr;
    return HandOut(header, n);
}

void MemoryChunk::GiveBytes(void* p, std::size_t n) noexcept {
    if (p == nullptr) {
        return;
    }
    if (n < kPoolMin || n > kPoolMax) {
        ::operator delete(p);
        return;
    }
    BlockHeader* header = HeaderOf(p);
    if (!tCacheGone && tCache.Keep(header)) {
        return;
    }
    FreeBlock(header);
}

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
    buffer_->base = buffer_->bytes.data();
    buffer_->begin = headroom;
    buffer_->end = headroom + size;
}

MemoryChunk MemoryChunk::Slice(uint32_t offset, uint32_t size) const {
    if (uint64_t(offset) + size > Size()) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk::Slice beyond data");
    }
    MemoryChunk slice;
    if (size == 0) {
        return slice;
    }
    // A slice of a slice shows the first source's bytes, so no chain of sources builds up.
    const boost::shared_ptr<Buffer>& source = buffer_->source ? buffer_->source : buffer_;
    source->sliced = true;
    slice.buffer_ = boost::make_shared<Buffer>();
    Buffer& b = *slice.buffer_;
    b.source = source;
    b.base = Data(offset);
    b.sliceExtent = size;
    b.begin = 0;
    b.end = size;
    return slice;
}

bool MemoryChunk::ExtendSlice(const MemoryChunk& next, uint32_t offset, uint32_t n) {
    if (!IsSlice() || !next.buffer_ || uint64_t(offset) + n > next.Size()) {
        return false;
    }
    Buffer& b = *buffer_;
    const Buffer& source = *b.source;
    const Buffer* nextSource =
        next.buffer_->source ? next.buffer_->source.get() : next.buffer_.get();
    if (nextSource != &source || b.end != b.sliceExtent ||
        uint64_t(b.sliceExtent) + n > kMaxBufferBytes) {
        return false;
    }
    // Both must show the source's present bytes: after a growth that moved them, the slice
    // shows bytes kept aside, which nothing follows.
    const unsigned char* from = b.base + b.end;
    const unsigned char* store = source.bytes.data();
    if (next.Data(offset) != from || b.base < store || from + n > store + source.bytes.size()) {
        return false;
    }
    b.sliceExtent += n;
    b.end += n;
    return true;
}

void MemoryChunk::MakeWritable() {
    if (IsSlice()) {
        Own(0);
    }
}

void MemoryChunk::Own(uint32_t front) {
    Buffer& b = *buffer_;
    if (uint64_t(b.sliceExtent) + front > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    b.bytes.resize(size_t(front) + b.sliceExtent);
    std::memcpy(b.bytes.data() + front, b.base, b.sliceExtent);
    b.base = b.bytes.data();
    b.begin += front;
    b.end += front;
    b.source.reset();
    b.sliceExtent = 0;
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
    MakeWritable();
    Buffer& b = *buffer_;
    if (uint64_t(b.bytes.size()) + grow > kMaxBufferBytes) {
        throw SV::SVLibraryException(SV::SVL_InvalidParameter, "MemoryChunk too large");
    }
    const size_t grown = b.bytes.size() + grow;
    if (b.sliced && grown > b.bytes.capacity()) {
        // Slices show the present bytes: they are kept, and the buffer goes on in a copy.
        Bytes copy;
        copy.reserve(grown);
        copy.assign(b.bytes.begin(), b.bytes.end());
        b.retired.push_back(std::move(b.bytes));
        b.bytes = std::move(copy);
    }
    if (zero) {
        b.bytes.resize(grown, 0);
    } else {
        b.bytes.resize(grown);
    }
    b.base = b.bytes.data();
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
    if (IsSlice()) {
        // The bytes taken are about to be written (a header in front): the slice takes a copy
        // of its own, with the room asked for, as a chunk made with it would have had.
        Own(buffer_->begin < n ? n - buffer_->begin : 0);
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
