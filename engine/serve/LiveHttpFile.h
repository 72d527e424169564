#ifndef ENGINE_SERVE_LIVEHTTPFILE_H
#define ENGINE_SERVE_LIVEHTTPFILE_H

#include <atomic>
#include <cstdint>
#include <vector>

#include "SVLibrary/PilThread/MutexUnix.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

class LiveHttpFileSource;

// One file the loopback server can send (a transport-stream segment or a playlist), held as a
// list of chunks that share their bytes with the chain that made them. The maker appends while
// any number of servers read it, each with a cursor of its own: the file holds only its bytes
// and its state, so two connections reading one file never disturb each other.
//
// The file is its own recursive lock: it guards the chunk list. A reader that wants to read
// several pieces and then learn whether it reached the end takes the lock around them.
//
// The state only rises (see State); each rise is reported once, to the listener, on the thread
// that made it.
class LiveHttpFile : public SV::Mutex {
public:
    enum State : int32_t {
        StateHeld = 0,            // made, not released for writing yet
        StateWriting = 1,         // being written
        StateWritingServed = 2,   // being written and being served
        StateComplete = 3,        // no more bytes will come
        StateCompleteServed = 4,  // complete and being served
        StateServed = 5,          // served to its end (or dropped by the server that had it)
    };

    // Where a reader stands: the chunk it reads next and the bytes of it already read.
    struct Cursor {
        uint32_t index = 0;
        uint32_t offset = 0;
    };

    // listener may be null. number is the segment number, 0 for a playlist.
    LiveHttpFile(LiveHttpFileSource* listener, uint32_t number);
    ~LiveHttpFile() override;

    LiveHttpFile(const LiveHttpFile&) = delete;
    LiveHttpFile& operator=(const LiveHttpFile&) = delete;

    // Raises the state to value; a value not above the current state changes nothing. The rise
    // is atomic, so of two threads raising at once only the one that moved the state tells the
    // listener, and a state never goes down. True when this call made the rise.
    bool SetState(int32_t value);
    // The maker lets the file go (it may outlive the maker: a server still sends it, an answer
    // is still queued): later rises tell nobody. With waitForCalls it returns only once no
    // call into the old listener is still running, so the listener may be destroyed after
    // it; a maker that is not going away passes false (it may hold the lock such a call
    // waits for, or be inside one).
    void ClearListener(bool waitForCalls);
    int32_t GetState() const { return state_; }
    bool IsComplete() const { return state_ >= StateComplete; }
    uint32_t GetSegmentNumber() const { return number_; }

    // A server is done with the file, at its end or not. A complete file becomes served at
    // once; a file still being written becomes served as soon as it is complete, so a maker
    // that waits for its files to be served is never left waiting by a reader that went away.
    void MarkServed();

    // Adds a chunk at the end, sharing its bytes. Empty chunks and markers are not kept.
    void Append(const MemoryChunk& chunk);
    // The bytes appended so far.
    uint64_t Size();

    // Reading, each under the file's lock. The cursor belongs to the reader.
    // Moves the cursor to the byte position (past the last chunk: to the end).
    void SeekTo(Cursor& cursor, uint64_t position);
    // Up to max bytes from the cursor on: a whole chunk shared when it fits, otherwise a slice
    // of the part (sharing its bytes). An empty chunk at the end or for max 0.
    MemoryChunk Read(Cursor& cursor, uint32_t max);
    bool IsAtEnd(Cursor& cursor);

private:
    std::atomic<LiveHttpFileSource*> listener_;
    // Calls into the listener running now (see ClearListener).
    std::atomic<int32_t> listenerCalls_;
    std::atomic<int32_t> state_;
    std::atomic<bool> servedWhenComplete_;
    const uint32_t number_;
    std::vector<MemoryChunk> chunks_;  // under the file's lock
    uint64_t size_;                    // under the file's lock
};

}  // namespace SarvelonMediaKit

#endif
