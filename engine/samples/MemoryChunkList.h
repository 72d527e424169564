#ifndef ENGINE_SAMPLES_MEMORYCHUNKLIST_H
#define ENGINE_SAMPLES_MEMORYCHUNKLIST_H

#include <cstdint>
#include <list>

#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

// The bytes of a sample as a list of chunks, each made with the list's headroom (first chunk
// only) and tailroom, so that later stages can put headers in front without copying. Copying a
// list copies the two room values and the chunk handles: the copies share the bytes (and, as
// MemoryChunk copies do, each chunk's payload range).
class MemoryChunkList {
public:
    typedef std::list<MemoryChunk>::iterator Iterator;
    typedef std::list<MemoryChunk>::const_iterator ConstIterator;

    // A byte cursor over a list. It stands on a byte, or at the end when no byte is left. It
    // keeps its chunk and the offset in it (not a raw pointer), so it stays valid when a chunk
    // it does not stand in is grown elsewhere; changing the list other than through the cursor
    // (removing the chunk it stands in, shrinking that chunk) invalidates it.
    class Cursor {
    public:
        // Detached: at the end of no list.
        Cursor();
        // On the first byte of the list.
        explicit Cursor(MemoryChunkList& list);

        // To the first byte, or to the end.
        void Begin();
        void End();
        bool IsAtEnd() const;

        // The current byte; the cursor must not be at the end.
        uint8_t& operator*() const;
        // The current byte and the bytes left in its chunk from it (null and 0 at the end).
        uint8_t* Data() const;
        uint32_t BytesLeftInChunk() const;
        // Position of the current byte from the start of the payload.
        uint64_t GetPosition() const { return position_; }

        // Moves n bytes forward (backward), stopping at the end (the first byte); returns the
        // bytes moved.
        uint64_t Advance(uint64_t n);
        uint64_t StepBack(uint64_t n);

        // Copies the next n bytes, across chunks, to out (or writes the n bytes of in over
        // them) and moves past them; returns the count done, fewer when the list ends first.
        uint64_t Read(uint8_t* out, uint64_t n);
        uint64_t Write(const uint8_t* in, uint64_t n);

        // Removes n bytes from the current one on, across chunks if need be, and returns the
        // count removed (fewer when the list ends first). The cursor then stands on the first
        // byte after them. A chunk covered whole from its start leaves the list; a chunk whose
        // end is reached from inside is cut short; a range ending inside a chunk drops that
        // chunk's first bytes when the cursor stands at its start, else moves the bytes after
        // the range down.
        uint64_t Erase(uint64_t n);

        bool operator==(const Cursor& other) const;
        bool operator!=(const Cursor& other) const { return !(*this == other); }
        // Difference of the two positions.
        int64_t operator-(const Cursor& other) const;

    private:
        // Steps over the end of the current chunk and over empty chunks.
        void Normalize();

        MemoryChunkList* list_;
        Iterator chunk_;
        uint32_t offset_;  // in the payload of *chunk_
        uint64_t position_;
    };

    explicit MemoryChunkList(uint32_t headroom = 0, uint32_t tailroom = 0);

    uint32_t GetHeadroom() const { return headroom_; }
    uint32_t GetTailroom() const { return tailroom_; }

    // Appends a new chunk of size bytes (zeroed) and returns it.
    MemoryChunk& AddChunk(uint32_t size);
    // Appends length bytes: the last chunk grows, or a first chunk is made. data must not lie
    // inside the list's own chunks.
    void Append(const uint8_t* data, uint32_t length);
    // Appends handles to the chunks of another list (the bytes are shared, not copied).
    void AppendChunks(const MemoryChunkList& other);
    // Puts n bytes in front: into a new chunk when the list has none, else the first chunk
    // grows at its end and its bytes move up by n (its headroom is left alone). data must not
    // lie inside the list's own chunks.
    void Prepend(const uint8_t* data, uint32_t n);

    // Bytes of all chunks.
    uint64_t Size() const;
    // No chunk, or no byte in all of them.
    bool IsEmpty() const;

    Iterator Begin() { return chunks_.begin(); }
    Iterator End() { return chunks_.end(); }
    ConstIterator Begin() const { return chunks_.begin(); }
    ConstIterator End() const { return chunks_.end(); }
    // The last chunk; the list must not be empty.
    MemoryChunk& Back() { return chunks_.back(); }
    // The chunks themselves, for stages that take chunks out or put marker chunks in.
    std::list<MemoryChunk>& GetChunks() { return chunks_; }
    const std::list<MemoryChunk>& GetChunks() const { return chunks_; }

private:
    uint32_t headroom_;
    uint32_t tailroom_;
    std::list<MemoryChunk> chunks_;
};

// The name under which the demultiplexer side knows a sample's payload.
typedef MemoryChunkList SampleData;

}  // namespace SarvelonMediaKit

#endif
