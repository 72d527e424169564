#ifndef ENGINE_CORE_MEMORYCHUNK_H
#define ENGINE_CORE_MEMORYCHUNK_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

// In-band control that travels in the same queues as data, so that it keeps its place in the
// byte stream. A marker never changes after it is made.
class MemoryMarker {
public:
    explicit MemoryMarker(uint32_t type) : type_(type) {}
    virtual ~MemoryMarker() {}

    uint32_t GetType() const { return type_; }

private:
    uint32_t type_;
};

// The marker type numbers. 3 is not used.
enum MemoryMarkerType : uint32_t {
    MemoryMarkerTypeGopStart = 0,
    MemoryMarkerTypeTrackChange = 1,
    MemoryMarkerTypeEndOfStream = 2,
    MemoryMarkerTypeEndOfData = 4,
    MemoryMarkerTypeMediaTimeSeek = 5,
};

// A group of pictures starts here; the value is chosen by the maker (the output clock time).
class MemoryMarkerGopStart : public MemoryMarker {
public:
    explicit MemoryMarkerGopStart(uint64_t value)
        : MemoryMarker(MemoryMarkerTypeGopStart), value_(value) {}
    ~MemoryMarkerGopStart() override {}

    uint64_t GetValue() const { return value_; }

private:
    uint64_t value_;
};

// The bytes after this marker belong to another track.
class MemoryMarkerTrackChange : public MemoryMarker {
public:
    MemoryMarkerTrackChange(TrackId track, int32_t changeType)
        : MemoryMarker(MemoryMarkerTypeTrackChange), track_(track), changeType_(changeType) {}
    ~MemoryMarkerTrackChange() override {}

    TrackId GetTrack() const { return track_; }
    int32_t GetChangeType() const { return changeType_; }

private:
    TrackId track_;
    int32_t changeType_;
};

// The input has ended.
class MemoryMarkerEndOfStream : public MemoryMarker {
public:
    MemoryMarkerEndOfStream() : MemoryMarker(MemoryMarkerTypeEndOfStream) {}
    ~MemoryMarkerEndOfStream() override {}
};

// The requested range of the download has ended.
class MemoryMarkerEndOfData : public MemoryMarker {
public:
    MemoryMarkerEndOfData() : MemoryMarker(MemoryMarkerTypeEndOfData) {}
    ~MemoryMarkerEndOfData() override {}
};

// The bytes after this marker start at a new media time (after a seek).
class MemoryMarkerMediaTimeSeek : public MemoryMarker {
public:
    MemoryMarkerMediaTimeSeek(MediaTime mediaTime, TrackId track)
        : MemoryMarker(MemoryMarkerTypeMediaTimeSeek), mediaTime_(mediaTime), track_(track) {}
    ~MemoryMarkerMediaTimeSeek() override {}

    MediaTime GetMediaTime() const { return mediaTime_; }
    TrackId GetTrack() const { return track_; }

private:
    MediaTime mediaTime_;
    TrackId track_;
};

// A cheap handle on a shared byte buffer, the unit of data between components. Copies share
// the bytes *and* the payload range: advancing or resizing through one copy changes what every
// copy sees (a cache relies on this when it hands on the chunk it also keeps).
//
// A chunk is a data chunk (buffer, no marker), a marker chunk (marker, no buffer) or an empty
// chunk (neither). Bytes before the payload are headroom and bytes after it tailroom, so later
// stages can add a header or trailer in place.
class MemoryChunk {
public:
    // Gives a vector's new elements no value unless one is named: a buffer that is about to be
    // overwritten is not cleared first. Who grows the vector says whether the new bytes are zero.
    template <typename T>
    struct UnsetAllocator : std::allocator<T> {
        template <typename U>
        struct rebind {
            typedef UnsetAllocator<U> other;
        };
        UnsetAllocator() noexcept {}
        template <typename U>
        UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
        template <typename U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <typename U, typename... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
        // Storage comes from the thread's cache of recently freed buffers (see TakeBytes).
        T* allocate(std::size_t n) { return static_cast<T*>(TakeBytes(n * sizeof(T))); }
        void deallocate(T* p, std::size_t n) noexcept { GiveBytes(p, n * sizeof(T)); }
    };

    typedef std::vector<unsigned char, UnsetAllocator<unsigned char>> Bytes;
    struct Buffer {
        Bytes bytes;
        uint32_t begin = 0;  // first payload byte
        // One past the last payload byte: begin <= end <= sliceExtent for a slice, else
        // bytes.size().
        uint32_t end = 0;
        // Where the buffer's bytes lie: bytes.data(), or for a slice the bytes of its source.
        unsigned char* base = nullptr;
        // A slice: the buffer whose bytes it shows (kept alive by it), and how many of them.
        boost::shared_ptr<Buffer> source;
        uint32_t sliceExtent = 0;
        // Bytes given up by growing while slices still showed them; kept as long as the buffer.
        std::vector<Bytes> retired;
        bool sliced = false;  // slices show these bytes
    };

    // An empty chunk.
    MemoryChunk();
    // A data chunk of size zero bytes with the given room before and after. Throws
    // SVLibraryException SVL_InvalidParameter when the three do not fit 32 bits together.
    // The room is zeroed too: a maker that may hand on fewer bytes than it asked for, or a
    // stage that takes room without writing all of it, then shows zeros, never stale memory.
    MemoryChunk(uint32_t size, uint32_t headroom, uint32_t tailroom);
    // The same buffer with its bytes (payload and room) left unset, for a maker that writes
    // every payload byte before the chunk leaves it or trims the chunk to what it wrote (a file
    // read, a packet laid out in full). Any room taken later (Reserve, SetSize into the
    // tailroom) must be written by whoever takes it. Saves clearing bytes that are overwritten
    // at once. Throws as the constructor does.
    static MemoryChunk Unset(uint32_t size, uint32_t headroom, uint32_t tailroom);
    // A marker chunk.
    explicit MemoryChunk(const boost::shared_ptr<MemoryMarker>& marker);

    // A data chunk with a buffer of its own (no room before or after) holding a copy of the
    // size bytes at bytes; for size 0 an empty chunk, which allocates nothing (bytes may then be
    // null).
    static MemoryChunk CopyOf(const uint8_t* bytes, uint32_t size);
    // The same for the bytes of a vector. Throws SVL_InvalidParameter when they do not fit 32
    // bits.
    static MemoryChunk CopyOf(const std::vector<uint8_t>& bytes);

    // A chunk of size payload bytes that shows the payload bytes of this one from offset on,
    // without copying them: the bytes stay this buffer's (kept alive by the slice), while the
    // slice's payload range is its own. Growing a slice, taking room before it (Reserve, which
    // then makes the room asked for) or writing into it through MakeWritable first gives it a
    // copy of its own, so a slice never changes the bytes it shows; this chunk may still change
    // them (its maker writes only bytes no slice handed on shows once it has cut slices: a
    // reader may go on filling the rest of a buffer while its first slices are read on another
    // thread, and a packet writer may fill a slice it has just cut before handing it on).
    // Throws SVL_InvalidParameter when the range lies outside the payload.
    MemoryChunk Slice(uint32_t offset, uint32_t size) const;
    // Lengthens a slice by the n payload bytes of next from offset on when they follow its
    // payload directly in the same bytes (next a slice of the same chunk, or that chunk, and the
    // slice's payload ending where it was cut); false (and no change) otherwise. A payload cut
    // across two chunks handed on one after the other from one buffer stays one slice this way.
    bool ExtendSlice(const MemoryChunk& next, uint32_t offset, uint32_t n);
    // True for a chunk that shows the bytes of another (a slice not yet written).
    bool IsSlice() const { return buffer_ && buffer_->source; }
    // Whoever writes into the payload calls this first: a slice then takes a copy of the bytes
    // it shows (its payload and the bytes around it), so the chunk it was cut from keeps its
    // own. Nothing happens to any other chunk.
    void MakeWritable();

    // Payload bytes; 0 without a buffer. Inline: packet writers ask for every packet.
    uint32_t Size() const { return buffer_ ? buffer_->end - buffer_->begin : 0; }
    // The payload byte at offset (not checked); null without a buffer. Data chunks only.
    // Write through it only after MakeWritable (a slice's bytes are its source's), except into
    // a slice not handed on yet whose maker cut it from bytes of its own that nothing else shows.
    unsigned char* Data(uint32_t offset = 0) const {
        return buffer_ ? buffer_->base + buffer_->begin + offset : nullptr;
    }
    // A larger size grows the buffer by the difference at its back (the payload then takes the
    // bytes that followed it, and the room behind it is kept); a smaller one only moves the end
    // back, so growing again gives the old bytes back. A chunk without a buffer gets one of its
    // own (a marker chunk given bytes this way is refused by Component::Add). Throws
    // SVL_InvalidParameter when the buffer would pass 32 bits.
    void SetSize(uint32_t size);
    // Drops n bytes from the front; false (and no change) when there are fewer.
    bool Advance(uint32_t n);
    // Takes n bytes of headroom into the front of the payload; false (and no change) when the
    // headroom is smaller. A slice always has room: it takes a copy with the room (unset).
    bool Reserve(uint32_t n);
    // Drops n bytes from the end; false (and no change) when there are fewer.
    bool TrimEnd(uint32_t n);
    // Appends a copy of the first n payload bytes of other (all of them when n is 0). Throws
    // SVL_InvalidParameter when other holds fewer than n bytes or the result would pass 32 bits.
    void Append(const MemoryChunk& other, uint32_t n = 0);
    // No buffer, or an empty payload. A marker chunk is always empty.
    bool IsEmpty() const;
    const boost::shared_ptr<MemoryMarker>& GetMarker() const { return marker_; }

    // Buffer storage. Blocks of a middling size (a buffer's record or a small packet's payload
    // up to a whole file read) are not handed back to the heap when freed but kept, a few
    // megabytes' worth per thread, for the next buffer of about their size: the heap would
    // otherwise give large blocks back to the system and fault them in afresh, page by page, for
    // every read. GiveBytes takes the size TakeBytes was given. A block may be freed on another
    // thread than the one that took it; it then goes to that thread's cache, and what a thread
    // cannot keep (or keeps when it ends) goes to a pool all threads share, bounded too, which
    // any thread takes from when its own cache has no block of the size.
    static void* TakeBytes(std::size_t n);
    static void GiveBytes(void* p, std::size_t n) noexcept;

private:
    struct UnsetTag {};
    MemoryChunk(uint32_t size, uint32_t headroom, uint32_t tailroom, UnsetTag);
    // The payload grown by grow bytes at its back, the buffer by as much; the new bytes are
    // zero when zero is set, else unset (the caller overwrites them).
    void Grow(uint32_t grow, bool zero);
    // A slice takes a copy of the bytes it shows, with front unset bytes of room before them.
    void Own(uint32_t front);

    boost::shared_ptr<Buffer> buffer_;
    boost::shared_ptr<MemoryMarker> marker_;
};

}  // namespace SarvelonMediaKit

#endif
