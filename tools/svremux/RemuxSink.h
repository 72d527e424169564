#ifndef TOOLS_SVREMUX_REMUXSINK_H
#define TOOLS_SVREMUX_REMUXSINK_H

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/core/Session.h"
#include "engine/input/FileClient.h"
#include "engine/serve/FileServer.h"

namespace SarvelonMediaKit {

// The file sink of the chain, which also tells when the stream is complete: after the end of
// the stream, a whole pump pass that takes nothing more means the multiplexer has handed on
// everything it held, and once the writer has stored all of it the stream is complete. It
// samples the input position for the progress line on the pump thread, where the chain lives.
//
// The multiplexer hands on one chunk per PES packet (a few KiB). Here the chunks are held back
// until about 1 MiB has come and then written in one gathered write: the output costs a few
// hundred system calls instead of one per audio frame and picture. The chunks are kept, not
// copied: the multiplexer makes a new one for every PES packet and never touches it again.
//
// The gathered writes run on a thread of their own ("RemuxWriter"), so that the time the system
// takes to store a batch overlaps the reading, parsing and multiplexing of the next ones on the
// pump thread. Batches are written in the order they were handed over. At most kQueueBytes wait
// or are being written: beyond that the pump waits for the writer, so memory stays bounded
// whatever the speed of the output. Every write goes through FileServer::WriteChunks on the
// writer thread, which publishes a failure (error 1013) and stops the session as it does for a
// plain sink; the writer then ends, drops what was still queued, and lets the pump go on.
//
// The writer takes no signal except SIGUSR1 and SIGUSR2: a caller may send one of them to it
// to interrupt a write that waits on a reader that does not read (a pipe or FIFO), once it has
// told the file server to give such writes up. A write that never returns otherwise holds the
// stop of the sink, as it would hold the pump without a writer thread.
//
// Stopping the sink (the session's shutdown) or destroying it drops what is still queued,
// waits for the write under way and joins the writer.
class RemuxSink : public FileServer {
public:
    static constexpr size_t kWriteBytes = 1u << 20;
    static constexpr size_t kQueueBytes = 8u << 20;

    // The client is the chain's source, whose read position read_ follows (none: read_ stays 0).
    RemuxSink(Session* session, FileClient* client) : FileServer(session), client_(client) {}

    // read_ follows this position instead (a source that is no file client); called on the
    // pump thread at every tick. Set before the session runs.
    void FollowReadPosition(std::function<uint64_t()> position) {
        readPosition_ = std::move(position);
    }
    ~RemuxSink() override { StopWriter(); }

    void DoSetName(const std::string& name, bool flag) override {
        // What was handed on goes to the file it was meant for, and the new file starts afresh.
        HandOver();
        WaitUntilWritten();
        StopWriter();
        {
            std::lock_guard<std::mutex> lock(lock_);
            writerFailed_ = false;
        }
        FileServer::DoSetName(name, flag);
    }

    void DoAdd(const MemoryChunk& chunk) override {
        const uint32_t size = chunk.Size();
        if (size == 0) {
            return;
        }
        pending_.push_back(chunk);
        pendingBytes_ += size;
        written_ += size;
        writtenSinceTick_ = true;
        if (pendingBytes_ >= kWriteBytes) {
            HandOver();
        }
    }

    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override {
        if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
            endOfStream_ = true;
            HandOver();
        } else if (marker && marker->GetType() == MemoryMarkerTypeEndOfData) {
            // It stops the session as if every byte were with the system: make that so.
            HandOver();
            WaitUntilWritten();
        }
        return FileServer::DoProcessMemoryMarker(marker);
    }

    void DoTick() override {
        FileServer::DoTick();
        if (readPosition_) {
            read_ = readPosition_();
        } else if (client_ != nullptr) {
            read_ = client_->GetReadPosition();
        }
        if (endOfStream_ && !writtenSinceTick_ && !complete_) {
            HandOver();
            complete_ = WaitUntilWritten();
            session_->Stop(false);
        }
        writtenSinceTick_ = false;
    }

    void DoStop() override {
        FileServer::DoStop();
        StopWriter();
    }

    std::atomic<uint64_t> written_{0};  // bytes taken from the chain
    std::atomic<uint64_t> read_{0};
    std::atomic<bool> complete_{false};  // every byte of a whole stream is with the system

private:
    struct Batch {
        std::vector<MemoryChunk> chunks;
        size_t bytes;
    };

    // Pump side: queues the pending chunks for the writer, waiting while the queue is full.
    // Batches already written come back here to be let go on this thread, whose cache of freed
    // buffers the multiplexer's next chunks are taken from.
    void HandOver() {
        if (pending_.empty()) {
            return;
        }
        Batch batch = {std::move(pending_), pendingBytes_};
        pending_.clear();
        pendingBytes_ = 0;
        if (!StartWriter()) {
            WriteHere(batch.chunks);
            return;
        }
        std::vector<std::vector<MemoryChunk>> released;
        {
            std::unique_lock<std::mutex> lock(lock_);
            // A batch larger than the whole queue still goes, alone.
            changed_.wait(lock, [&] {
                return writerFailed_ || queuedBytes_ == 0 ||
                       queuedBytes_ + batch.bytes <= kQueueBytes;
            });
            released.swap(done_);
            if (!writerFailed_) {
                queuedBytes_ += batch.bytes;
                queue_.push_back(std::move(batch));
                work_.notify_one();
            }
        }
        if (!released.empty()) {
            // The vector's room is kept for the next batch; its chunks go now.
            pending_.swap(released.back());
            pending_.clear();
        }
    }

    // Pump side: waits until every batch handed over has been written or dropped. True when
    // nothing has failed.
    bool WaitUntilWritten() {
        bool failed = false;
        {
            std::unique_lock<std::mutex> lock(lock_);
            changed_.wait(lock, [&] { return writerFailed_ || queuedBytes_ == 0; });
            failed = writerFailed_;
        }
        // The writer touches the file server only while it holds a batch, and none is left:
        // its state can be read here.
        return !failed && !HasFailed();
    }

    // True when the writer runs (started now if needed); false when no thread can be made.
    bool StartWriter() {
        if (writer_.joinable()) {
            return true;
        }
        try {
            writer_ = std::thread(&RemuxSink::WriterLoop, this);
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    // Without a thread the batch is written on the calling thread, as a plain sink would.
    void WriteHere(const std::vector<MemoryChunk>& chunks) {
        bool failed = true;
        try {
            WriteChunks(chunks);
            failed = HasFailed();
        } catch (...) {
            session_->Stop(false);  // out of memory: nothing more can be stored in order
        }
        if (failed) {
            std::lock_guard<std::mutex> lock(lock_);
            writerFailed_ = true;
        }
    }

    // Drops what is queued, lets the write under way end and joins the writer.
    void StopWriter() {
        std::vector<Batch> dropped;
        if (WriterOfThisThread() == this) {
            // The writer's own failure stopped a session without a pump thread, whose shutdown
            // then runs here: the writer ends by itself and is joined by the next stop.
            std::lock_guard<std::mutex> lock(lock_);
            closing_ = true;
            DropQueued(dropped);
            return;
        }
        if (!writer_.joinable()) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
            closing_ = true;
            DropQueued(dropped);
            work_.notify_one();
        }
        writer_.join();
        std::vector<std::vector<MemoryChunk>> released;
        std::lock_guard<std::mutex> lock(lock_);
        closing_ = false;
        released.swap(done_);
    }

    // Under lock_.
    void DropQueued(std::vector<Batch>& dropped) {
        for (Batch& batch : queue_) {
            queuedBytes_ -= batch.bytes;
            dropped.push_back(std::move(batch));
        }
        queue_.clear();
        changed_.notify_all();
    }

    // The sink whose writer runs on the calling thread, if any.
    static const RemuxSink*& WriterOfThisThread() {
        static thread_local const RemuxSink* sink = nullptr;
        return sink;
    }

    void WriterLoop() {
        // The pump blocks every signal, and so would this thread; it takes only the two that
        // may be sent to wake a blocked write.
        sigset_t signals;
        sigfillset(&signals);
        sigdelset(&signals, SIGUSR1);
        sigdelset(&signals, SIGUSR2);
        pthread_sigmask(SIG_SETMASK, &signals, nullptr);
        pthread_setname_np(pthread_self(), "RemuxWriter");
        WriterOfThisThread() = this;

        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            work_.wait(lock, [&] { return !queue_.empty() || closing_; });
            if (queue_.empty()) {
                return;  // closing, nothing left
            }
            Batch batch = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            bool failed = true;
            try {
                WriteChunks(batch.chunks);
                failed = HasFailed();
            } catch (...) {
                session_->Stop(false);  // out of memory: nothing more can be stored in order
            }
            lock.lock();
            queuedBytes_ -= batch.bytes;
            done_.push_back(std::move(batch.chunks));
            if (failed) {
                // Nothing more can be stored in order: what waits is dropped, and the pump,
                // which may wait for room, goes on.
                writerFailed_ = true;
                for (Batch& left : queue_) {
                    done_.push_back(std::move(left.chunks));
                }
                queue_.clear();
                queuedBytes_ = 0;
                changed_.notify_all();
                return;
            }
            changed_.notify_all();
        }
    }

    FileClient* client_;
    std::function<uint64_t()> readPosition_;
    // Pump thread only.
    std::vector<MemoryChunk> pending_;
    size_t pendingBytes_ = 0;
    bool endOfStream_ = false;
    bool writtenSinceTick_ = false;
    std::thread writer_;  // started and joined on the pump thread (or the owner's, once idle)

    // Shared with the writer, under lock_.
    std::mutex lock_;
    std::condition_variable work_;     // a batch was queued, or the writer is to end
    std::condition_variable changed_;  // a batch was written or dropped, or the writer failed
    std::deque<Batch> queue_;
    std::vector<std::vector<MemoryChunk>> done_;  // written or dropped, to be let go
    size_t queuedBytes_ = 0;                      // queued plus the batch being written
    bool closing_ = false;
    bool writerFailed_ = false;
};

}  // namespace SarvelonMediaKit

#endif  // TOOLS_SVREMUX_REMUXSINK_H
