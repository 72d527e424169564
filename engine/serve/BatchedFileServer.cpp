#include "engine/serve/BatchedFileServer.h"

#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <system_error>
#include <utility>

#include "engine/core/Session.h"

namespace SarvelonMediaKit {

BatchedFileServer::BatchedFileServer(Session* session) : FileServer(session) {}

BatchedFileServer::~BatchedFileServer() { StopWriter(); }

std::string BatchedFileServer::GetTypeName() const { return "SarvelonMediaKit::BatchedFileServer"; }

void BatchedFileServer::DoSetName(const std::string& name, bool flag) {
    HandOver();
    WaitUntilWritten();
    StopWriter();
    {
        std::lock_guard<std::mutex> lock(lock_);
        writerFailed_ = false;
    }
    FileServer::DoSetName(name, flag);
}

void BatchedFileServer::DoAdd(const MemoryChunk& chunk) {
    const uint32_t size = chunk.Size();
    if (size == 0) return;
    pending_.push_back(chunk);
    pendingBytes_ += size;
    taken_ += size;
    takenSinceTick_ = true;
    if (pendingBytes_ >= kWriteBytes) HandOver();
}

bool BatchedFileServer::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
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

void BatchedFileServer::DoTick() {
    FileServer::DoTick();
    // Nothing came in this pass: what waits goes out now rather than with later batches.
    if (!takenSinceTick_) WakeWriter();
    if (endOfStream_ && !takenSinceTick_ && !complete_) {
        HandOver();
        complete_ = WaitUntilWritten();
        if (session_) session_->Stop(false);
    }
    takenSinceTick_ = false;
}

void BatchedFileServer::CancelWrites() {
    cancelled_ = true;
    const int wakeSignal = wakeSignal_;
    // A thread blocked in a write (a pipe nobody reads) returns from it only when a signal
    // interrupts it. The signal may come just before the thread enters the call, so it is sent
    // again until the thread has left the write. The writer clears writing_ under lock_ before
    // it can end, so its id is valid while the flag is seen set under the lock.
    while (writing_ && wakeSignal != 0) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (writing_) pthread_kill(writerThread_, wakeSignal);
        }
        usleep(kWakeIntervalMicroseconds);
    }
}

void BatchedFileServer::DoStop() {
    FileServer::DoStop();
    StopWriter();
}

// Pump side: queues the pending chunks for the writer, waiting while the queue is full.
// Batches already written come back here to be let go on this thread, whose cache of freed
// buffers the multiplexer's next chunks are taken from.
void BatchedFileServer::HandOver() {
    if (pending_.empty()) return;
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
        const auto room = [&] {
            return writerFailed_ || queuedBytes_ == 0 || queuedBytes_ + batch.bytes <= kQueueBytes;
        };
        if (!room()) {
            // What fills the queue may still be short of a wake-up (a batch larger than it).
            if (writerWaiting_) work_.notify_one();
            changed_.wait(lock, room);
        }
        released.swap(done_);
        if (!writerFailed_) {
            queuedBytes_ += batch.bytes;
            queue_.push_back(std::move(batch));
            if (writerWaiting_ && queuedBytes_ >= kWakeBytes) work_.notify_one();
        }
    }
    if (!released.empty()) {
        // The vector's room is kept for the next batch; its chunks go now.
        pending_.swap(released.back());
        pending_.clear();
    }
}

// Pump side: waits until every batch handed over has been written or dropped. True when nothing
// has failed.
bool BatchedFileServer::WaitUntilWritten() {
    bool failed = false;
    {
        std::unique_lock<std::mutex> lock(lock_);
        if (writerWaiting_ && !queue_.empty()) work_.notify_one();
        changed_.wait(lock, [&] { return writerFailed_ || queuedBytes_ == 0; });
        failed = writerFailed_;
    }
    // The writer touches the file server only while it holds a batch, and none is left: its
    // state can be read here.
    return !failed && !HasFailed();
}

void BatchedFileServer::WakeWriter() {
    std::lock_guard<std::mutex> lock(lock_);
    if (writerWaiting_ && !queue_.empty()) work_.notify_one();
}

// True when the writer runs (started now if needed); false when no thread can be made.
bool BatchedFileServer::StartWriter() {
    if (writer_.joinable()) return true;
    try {
        writer_ = std::thread(&BatchedFileServer::WriterLoop, this);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Without a thread the batch is written on the calling thread, as a plain sink would.
void BatchedFileServer::WriteHere(const std::vector<MemoryChunk>& chunks) {
    bool failed = true;
    try {
        WriteChunks(chunks);
        failed = HasFailed();
    } catch (...) {
        if (session_) session_->Stop(false);  // out of memory: nothing more can be stored
    }
    if (failed) {
        std::lock_guard<std::mutex> lock(lock_);
        writerFailed_ = true;
    }
}

// Drops what is queued, lets the write under way end and joins the writer.
void BatchedFileServer::StopWriter() {
    std::vector<Batch> dropped;  // let go last, outside the lock
    if (WriterOfThisThread() == this) {
        // The writer's own failure stopped a session without a pump thread, whose shutdown then
        // runs here: the writer ends by itself and is joined by the next stop.
        std::lock_guard<std::mutex> lock(lock_);
        closing_ = true;
        DropQueued(dropped);
        return;
    }
    if (!writer_.joinable()) return;
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
void BatchedFileServer::DropQueued(std::vector<Batch>& dropped) {
    for (Batch& batch : queue_) {
        queuedBytes_ -= batch.bytes;
        dropped.push_back(std::move(batch));
    }
    queue_.clear();
    changed_.notify_all();
}

const BatchedFileServer*& BatchedFileServer::WriterOfThisThread() {
    static thread_local const BatchedFileServer* sink = nullptr;
    return sink;
}

void BatchedFileServer::WriterLoop() {
    // The pump blocks every signal, and so would this thread; it takes only the one that may be
    // sent to wake a blocked write.
    sigset_t signals;
    sigfillset(&signals);
    if (wakeSignal_ != 0) sigdelset(&signals, wakeSignal_);
    pthread_sigmask(SIG_SETMASK, &signals, nullptr);
    pthread_setname_np(pthread_self(), "BatchWriter");
    WriterOfThisThread() = this;

    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        writerWaiting_ = true;
        work_.wait(lock, [&] { return !queue_.empty() || closing_; });
        writerWaiting_ = false;
        if (queue_.empty()) return;  // closing, nothing left
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        writerThread_ = pthread_self();
        writing_ = true;
        lock.unlock();
        bool failed = true;
        try {
            WriteChunks(batch.chunks);
            failed = HasFailed();
        } catch (...) {
            if (session_) session_->Stop(false);  // out of memory: nothing more can be stored
        }
        lock.lock();
        writing_ = false;
        queuedBytes_ -= batch.bytes;
        done_.push_back(std::move(batch.chunks));
        if (failed) {
            // Nothing more can be stored in order: what waits is dropped, and the pump, which
            // may wait for room, goes on.
            writerFailed_ = true;
            for (Batch& left : queue_) done_.push_back(std::move(left.chunks));
            queue_.clear();
            queuedBytes_ = 0;
            changed_.notify_all();
            return;
        }
        changed_.notify_all();
    }
}

}  // namespace SarvelonMediaKit
