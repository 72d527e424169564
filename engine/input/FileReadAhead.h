#ifndef ENGINE_INPUT_FILEREADAHEAD_H
#define ENGINE_INPUT_FILEREADAHEAD_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "SVLibrary/File/File.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

// Reads a file ahead of its consumer on a thread of its own ("FileReadAhead"), so that the
// kernel's copy of the bytes overlaps the work done on the bytes read before. At most depth
// blocks wait to be taken; the reader sleeps when that many do, and goes on once half of them
// have been taken, so neither side wakes the other for every block. Blocks are slices of a
// buffer that holds a few of them in file order, so the bytes of neighbouring blocks lie one
// after the other in memory (MemoryChunk::ExtendSlice joins slices of them).
//
// While it runs the file is the reader's: its owner touches it only after Stop. Not for several
// owners: one thread starts, takes and stops.
class FileReadAhead {
public:
    FileReadAhead(uint32_t blockBytes, size_t depth);
    // Stops the reader.
    ~FileReadAhead();

    FileReadAhead(const FileReadAhead&) = delete;
    FileReadAhead& operator=(const FileReadAhead&) = delete;

    // Starts reading file from its position on, bytes at most, in blocks of blockBytes (the
    // last one shorter). The reader ends after those bytes, at the end of the file (a short
    // read) or at a failed read. Not while running.
    void Start(SV::File& file, uint64_t bytes);
    bool IsRunning() const { return reader_.joinable(); }

    // The next block in file order, waiting while it is being read; an empty chunk once the
    // reader has ended and every block it read has been taken (see Failed).
    MemoryChunk Take();
    // Whether the reader has ended and every block has been taken: Take would not wait.
    bool IsDrained();
    // Whether the reader ended on a failed read.
    bool Failed();

    // Ends the reader, drops the blocks not taken and returns their byte count. The file is
    // the owner's again; its position lies past every block read, dropped ones included.
    uint64_t Stop();

private:
    void Run();

    // Blocks read into one buffer before the next is taken.
    static constexpr uint32_t kBlocksPerBuffer = 4;

    const uint32_t blockBytes_;
    const size_t depth_;
    SV::File* file_ = nullptr;
    std::thread reader_;

    std::mutex lock_;
    std::condition_variable blockReady_;  // the taker waits on it
    std::condition_variable roomMade_;    // the reader waits on it
    std::deque<MemoryChunk> blocks_;      // read, not yet taken
    uint64_t left_ = 0;                   // bytes the reader may still read
    bool stop_ = false;
    bool ended_ = false;
    bool failed_ = false;
    bool takerWaits_ = false;
    bool readerWaits_ = false;
};

}  // namespace SarvelonMediaKit

#endif
