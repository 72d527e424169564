#include "engine/core/MemoryChunk.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
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

// Buffer blocks of kPoolMin to kPoolMax bytes are kept for reuse when freed; larger ones are
// rare. The smallest classes hold the buffers' own records (see NewBuffer) and the payloads of
// small packets, which the heap would otherwise take and give back for every chunk. A kept
// block is filed under the largest size class not above its capacity; the classes step by an
// eighth of a power of two from kPoolMin, so a block handed out for n bytes holds less than
// about a quarter more.
const std::size_t kPoolMin = 128;
const std::size_t kPoolMax = std::size_t(4) << 20;
const std::size_t kClasses = 121;  // FloorClass(kPoolMax) + 1
// What one thread keeps at most: enough for a whole read and the packets cut from it.
const std::size_t kCacheBytes = std::size_t(8) << 20;
// What the threads' shared pool keeps at most. It takes the blocks a thread frees beyond what
// that thread keeps, and those of threads that end, and serves any thread whose own cache has
// none: a block made on one thread and freed on another (a download thread's chunks let go by
// the pump) comes back to its maker this way instead of going to the heap.
const std::size_t kSharedBytes = std::size_t(8) << 20;
// Blocks of one class a cache keeps at most: 64, or as many as fill kClassBytes when that is
// more. Small blocks (records, the payloads of small packets) come and go by the thousand
// between two batches of output, large ones by the dozen. Blocks under kSmallBlock are bounded
// by their count alone (at most 32 classes of kClassBytes each), so that a cache full of large
// blocks still keeps the small ones.
const std::size_t kClassBlocks = 64;
const std::size_t kClassBytes = std::size_t(128) << 10;
const std::size_t kSmallBlock = 4096;
// Blocks of this size or more are kept in the shared pool only, never in a thread's own cache:
// they come and go by the dozen (a lock turn each is nothing beside their bytes), and are often
// made on one thread and freed on another (a file's reader, a download thread, the pump), where
// the freeing thread's own cache would keep them for nobody while their maker asks the heap
// for new ones.
const std::size_t kSharedOnlyBlock = std::size_t(64) << 10;
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
    return std::size_t(e - 7) * 8 + ((s >> (e - 3)) & 7);
}

std::size_t ClassSize(std::size_t c) { return (8 + c % 8) << (c / 8 + 4); }
static_assert(kPoolMin == 128 && kClasses == 15 * 8 + 1, "FloorClass counts from 2^7 to 2^22");

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

// Kept blocks, one list per size class, up to a number of bytes. Not thread-safe: each thread
// has its own, and the shared one is used under its lock.
class BlockCache {
public:
    explicit BlockCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;

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

    // Keeps header unless this cache holds enough already.
    bool Keep(BlockHeader* header) {
        const std::size_t c = FloorClass(header->capacity);
        const std::size_t large = header->capacity >= kSmallBlock ? header->capacity : 0;
        if (counts_[c] >= std::max(kClassBlocks, kClassBytes / ClassSize(c)) ||
            bytes_ + large > maxBytes_) {
            return false;
        }
        Poison(BytesOf(header), header->capacity);
        header->next = heads_[c];
        heads_[c] = header;
        ++counts_[c];
        bytes_ += large;
        return true;
    }

    // Takes out every kept block, each to be given to f.
    template <typename F>
    void Empty(F f) {
        for (std::size_t c = 0; c < kClasses; ++c) {
            while (heads_[c] != nullptr) {
                f(Pop(c, nullptr));
            }
        }
    }

private:
    BlockHeader* Pop(std::size_t c, BlockHeader* previous) {
        BlockHeader* header = previous != nullptr ? previous->next : heads_[c];
        (previous != nullptr ? previous->next : heads_[c]) = header->next;
        --counts_[c];
        bytes_ -= header->capacity >= kSmallBlock ? header->capacity : 0;
        return header;
    }

    const std::size_t maxBytes_;  // of blocks of kSmallBlock or more
    BlockHeader* heads_[kClasses] = {};
    std::size_t counts_[kClasses] = {};
    std::size_t bytes_ = 0;
};

// The pool every thread shares, taken under its lock only when a thread's own cache has no
// block or no room. Never destroyed, so that threads ending during the program's exit can
// still hand their blocks to it.
struct SharedPool {
    std::mutex lock;
    BlockCache cache{kSharedBytes};
};

SharedPool& Shared() {
    static SharedPool* pool = new SharedPool;
    return *pool;
}

BlockHeader* TakeShared(std::size_t n) {
    SharedPool& pool = Shared();
    std::lock_guard<std::mutex> hold(pool.lock);
    return pool.cache.Take(n);
}

bool KeepShared(BlockHeader* header) {
    SharedPool& pool = Shared();
    std::lock_guard<std::mutex> hold(pool.lock);
    return pool.cache.Keep(header);
}

// Set when the thread's cache is gone (thread exit); blocks freed later go to the shared pool.
thread_local bool tCacheGone = false;

// One thread's kept blocks; when the thread ends they go to the shared pool while it has room.
// A thread keeps no more than it has itself taken and not yet kept: a thread that only lets go
// of what others made (a connection's pump sending a segment the multiplexer cut, a player at
// each of many places) would otherwise hold its whole cache of them for nobody, each such thread
// as much again, while their makers ask the heap for new ones. Its blocks go to the shared pool,
// where the makers find them.
class ThreadCache : public BlockCache {
public:
    ThreadCache() : BlockCache(kCacheBytes) {}
    // A block of capacity bytes handed out on this thread (one small enough to be kept here).
    void NoteTaken(std::size_t capacity) {
        credit_ = std::min(credit_ + capacity, kCacheBytes + kCacheBytes / 2);
    }
    // Keeps header while this thread has taken as much as it keeps.
    bool KeepOwn(BlockHeader* header) {
        const std::size_t capacity = header->capacity;
        if (capacity > credit_ || !Keep(header)) return false;
        credit_ -= capacity;
        return true;
    }
    ~ThreadCache() {
        tCacheGone = true;
        Empty([](BlockHeader* header) {
            if (!KeepShared(header)) {
                FreeBlock(header);
            }
        });
    }

private:
    std::size_t credit_ = 0;  // bytes taken on this thread and not yet kept here
};

thread_local ThreadCache tCache;

// Takes a buffer's record and its count of owners together from the kept blocks: a chunk is
// made for every packet, and the heap would be asked for one record each time.
template <typename T>
struct RecordAllocator {
    typedef T value_type;
    RecordAllocator() noexcept {}
    template <typename U>
    RecordAllocator(const RecordAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(MemoryChunk::TakeBytes(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { MemoryChunk::GiveBytes(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const RecordAllocator<U>&) const noexcept {
        return true;
    }
    template <typename U>
    bool operator!=(const RecordAllocator<U>&) const noexcept {
        return false;
    }
};

boost::shared_ptr<MemoryChunk::Buffer> NewBuffer() {
    return boost::allocate_shared<MemoryChunk::Buffer>(RecordAllocator<MemoryChunk::Buffer>());
}

}  // namespace

void* MemoryChunk::TakeBytes(std::size_t n) {
    if (n < kPoolMin || n > kPoolMax) {
        return ::operator new(n);
    }
    BlockHeader* header = tCacheGone || n >= kSharedOnlyBlock ? nullptr : tCache.Take(n);
    if (header == nullptr) {
        header = TakeShared(n);
    }
    if (header != nullptr) {
        if (!tCacheGone && n < kSharedOnlyBlock) tCache.NoteTaken(header->capacity);
        return HandOut(header, n);
    }
    // Small blocks are rounded less, so that a block stays in the class of its size or the one
    // above, where Take looks (the classes there are less than 64 bytes apart).
    const std::size_t step = n < 512 ? 16 : kCapacityStep;
    const std::size_t capacity = (n + step - 1) / step * step;
    header = static_cast<BlockHeader*>(::operator new(sizeof(BlockHeader) + capacity));
    header->capacity = capacity;
    header->next = nullptr;
    if (!tCacheGone && n < kSharedOnlyBlock) tCache.NoteTaken(capacity);
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
    const bool own = !tCacheGone && header->capacity < kSharedOnlyBlock;
    if ((own && tCache.KeepOwn(header)) || KeepShared(header)) {
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
    buffer_ = NewBuffer();
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
    // Set once, by the maker's first cut: a slice cut from a slice on another thread (a
    // reader's buffer handed on in blocks) then only reads it.
    if (!source->sliced) source->sliced = true;
    slice.buffer_ = NewBuffer();
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
        buffer_ = NewBuffer();
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
        buffer_ = NewBuffer();
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
