#ifndef ENGINE_SERVE_BATCHEDFILESERVER_H
#define ENGINE_SERVE_BATCHEDFILESERVER_H

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/serve/FileServer.h"

namespace SarvelonMediaKit {

// A file sink for whole-title output that writes in large batches on a thread of its own, and
// tells when the stream is complete: after the end of the stream, a whole pump pass that takes
// nothing more means the multiplexer has handed on everything it held; once the writer has
// stored all of it the stream is complete and the sink stops the session.
//
// The multiplexer hands on one chunk per PES packet (a few KiB). Here the chunks are held back
// until kWriteBytes have come and then written in one gathered write: the output costs a few
// hundred system calls instead of one per audio frame and picture. The chunks are kept, not
// copied: the multiplexer makes a new one for every PES packet and never touches it again.
//
// The gathered writes run on the thread "BatchWriter", so that the time the system takes to
// store a batch overlaps the reading, parsing and multiplexing of the next ones on the pump
// thread. Batches are written in the order they were handed over, a few per wake-up of the
// writer (kWakeBytes). At most kQueueBytes wait or
// are being written: beyond that the pump waits for the writer, so memory stays bounded
// whatever the speed of the output. Every write goes through FileServer::WriteChunks on the
// writer thread, which publishes a failure (error 1013) and stops the session as it does for a
// plain sink; the writer then ends, drops what was still queued, and lets the pump go on.
//
// The writer takes no signal except the wake signal its owner may set: CancelWrites sends it
// to interrupt a write that waits on a reader that does not read (a pipe or FIFO). A write that
// never returns otherwise holds the stop of the sink, as it would hold the pump without a
// writer thread.
//
// Stopping the sink (the session's shutdown) or destroying it drops what is still queued,
// waits for the write under way and joins the writer.
class BatchedFileServer : public FileServer {
public:
    static constexpr size_t kWriteBytes = 1u << 20;
    static constexpr size_t kQueueBytes = 4u << 20;
    // A writer that has caught up sleeps until this much waits for it: it then writes two
    // batches per wake-up instead of one, and the pump pays for half as many wake-ups. A pass
    // that takes nothing (the stream paused or ended), a wait for room or for the writes, and a
    // stop wake it whatever waits.
    static constexpr size_t kWakeBytes = kQueueBytes / 2;

    explicit BatchedFileServer(Session* session);
    ~BatchedFileServer() override;

    // What was handed on goes to the file it was meant for, and the new file starts afresh.
    void DoSetName(const std::string& name, bool flag) override;
    void DoAdd(const MemoryChunk& chunk) override;
    // The end of the stream hands the last batch over; the end of data waits until every byte
    // is with the system, as it stops the session.
    bool DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) override;
    // Completes the stream a pass after its end that took nothing more.
    void DoTick() override;
    void DoStop() override;
    std::string GetTypeName() const override;

    // Bytes taken from the chain (queued, written or being written); any thread.
    uint64_t BytesTaken() const { return taken_.load(); }
    // True once every byte of a whole stream is with the system; any thread.
    bool IsComplete() const { return complete_.load(); }

    // The signal that CancelWrites sends to the writer blocked in a write, set before anything
    // is written. The owner installs a handler for it without SA_RESTART; its signals then also
    // end an open that waits (a FIFO nobody reads yet), so that it can stop. 0 (the default):
    // nothing is sent, for outputs that never block.
    void SetWakeSignal(int signal) { wakeSignal_ = signal; }
    // From any thread: the write under way and every later one fail (reason ECANCELED), so that
    // the chain can be stopped and joined. With a wake signal set it returns once the writer is
    // out of its write.
    void CancelWrites();

protected:
    bool WritingCancelled() const override { return cancelled_.load(); }
    bool OpenEndsOnSignal() const override { return wakeSignal_.load() != 0; }

private:
    struct Batch {
        std::vector<MemoryChunk> chunks;
        size_t bytes;
    };

    void HandOver();
    // Wakes a sleeping writer when anything waits for it.
    void WakeWriter();
    bool WaitUntilWritten();
    bool StartWriter();
    void WriteHere(const std::vector<MemoryChunk>& chunks);
    void StopWriter();
    void DropQueued(std::vector<Batch>& dropped);
    void WriterLoop();
    static const BatchedFileServer*& WriterOfThisThread();

    static constexpr unsigned kWakeIntervalMicroseconds = 10000;

    std::atomic<uint64_t> taken_{0};
    std::atomic<bool> complete_{false};
    // Pump thread only.
    std::vector<MemoryChunk> pending_;
    size_t pendingBytes_ = 0;
    bool endOfStream_ = false;
    bool takenSinceTick_ = false;
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
    bool writerWaiting_ = false;  // the writer sleeps until work_ is signalled

    std::atomic<int> wakeSignal_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> writing_{false};  // the writer is inside a write; set under lock_
    pthread_t writerThread_{};          // the writer's id while writing_; under lock_
};

}  // namespace SarvelonMediaKit

#endif
