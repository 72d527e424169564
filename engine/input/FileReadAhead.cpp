#include "engine/input/FileReadAhead.h"

#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace SarvelonMediaKit {

FileReadAhead::FileReadAhead(uint32_t blockBytes, size_t depth)
    : blockBytes_(std::max<uint32_t>(blockBytes, 1)), depth_(std::max<size_t>(depth, 2)) {}

FileReadAhead::~FileReadAhead() { Stop(); }

void FileReadAhead::Start(SV::File& file, uint64_t bytes) {
    if (IsRunning()) return;
    file_ = &file;
    blocks_.clear();
    left_ = bytes;
    stop_ = false;
    ended_ = false;
    failed_ = false;
    takerWaits_ = false;
    readerWaits_ = false;
    reader_ = std::thread(&FileReadAhead::Run, this);
}

void FileReadAhead::Run() {
    pthread_setname_np(pthread_self(), "FileReadAhead");
    // The blocks are read one after the other into a buffer of several, and go on as slices of
    // it: a payload that runs on from one block into the next then stays one slice of the
    // buffer for its consumer, instead of being copied together from two.
    MemoryChunk buffer;
    uint32_t filled = 0;  // bytes of buffer read into, and handed on as blocks
    for (;;) {
        uint32_t n = 0;
        {
            std::unique_lock<std::mutex> lock(lock_);
            while (!stop_ && blocks_.size() >= depth_) {
                readerWaits_ = true;
                roomMade_.wait(lock);
            }
            readerWaits_ = false;
            if (stop_ || left_ == 0) break;
            n = uint32_t(std::min<uint64_t>(left_, blockBytes_));
        }
        if (buffer.IsEmpty() || buffer.Size() - filled < n) {
            // Not cleared: only the bytes a read gave are ever handed on.
            buffer = MemoryChunk::Unset(
                uint32_t(std::min<uint64_t>(uint64_t(blockBytes_) * kBlocksPerBuffer, UINT32_MAX)),
                0, 0);
            filled = 0;
        }
        // Into bytes no block handed on shows: the slices taken so far never change.
        const uint64_t read = file_->Read(buffer.Data(filled), n);
        const bool failed = file_->IsError() || read > n;
        MemoryChunk block;
        if (!failed && read != 0) {
            block = buffer.Slice(filled, uint32_t(read));
            filled += uint32_t(read);
        }
        std::lock_guard<std::mutex> lock(lock_);
        if (failed) {
            failed_ = true;
            break;
        }
        if (read != 0) {
            blocks_.push_back(std::move(block));
        }
        left_ -= read;
        if (takerWaits_) blockReady_.notify_one();
        if (read < n) break;  // the end of the file
    }
    std::lock_guard<std::mutex> lock(lock_);
    ended_ = true;
    blockReady_.notify_one();
}

MemoryChunk FileReadAhead::Take() {
    std::unique_lock<std::mutex> lock(lock_);
    while (blocks_.empty() && !ended_ && IsRunning()) {
        takerWaits_ = true;
        blockReady_.wait(lock);
    }
    takerWaits_ = false;
    if (blocks_.empty()) return MemoryChunk();
    MemoryChunk block = std::move(blocks_.front());
    blocks_.pop_front();
    if (readerWaits_ && blocks_.size() <= depth_ / 2) roomMade_.notify_one();
    return block;
}

bool FileReadAhead::IsDrained() {
    std::lock_guard<std::mutex> lock(lock_);
    return blocks_.empty() && (ended_ || !IsRunning());
}

bool FileReadAhead::Failed() {
    std::lock_guard<std::mutex> lock(lock_);
    return failed_;
}

uint64_t FileReadAhead::Stop() {
    if (!IsRunning()) return 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        stop_ = true;
        roomMade_.notify_one();
    }
    reader_.join();
    uint64_t dropped = 0;
    for (const MemoryChunk& block : blocks_) dropped += block.Size();
    blocks_.clear();
    file_ = nullptr;
    return dropped;
}

}  // namespace SarvelonMediaKit
