// The batched file sink: every byte in order whatever the chunk sizes, a bounded queue, a
// writer thread that ends with the sink, and failures told once.
#include "engine/serve/BatchedFileServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ReadWholeFile;

// The bytes the tests send, made here and never read back through the sink: byte i of the
// stream is a function of i alone, so any lost, doubled or reordered byte shows.
unsigned char StreamByte(uint64_t i) { return static_cast<unsigned char>((i * 131) ^ (i >> 9)); }

// Adds size bytes of the stream, starting at its byte *offset, in one chunk with room around
// it as the multiplexer's chunks have.
void AddBytes(BatchedFileServer& sink, uint64_t* offset, uint32_t size) {
    MemoryChunk chunk(size, 8, 8);
    for (uint32_t i = 0; i < size; ++i) {
        chunk.Data(0)[i] = StreamByte(*offset + i);
    }
    *offset += size;
    sink.Add(chunk);
}

std::string Expected(uint64_t size) {
    std::string bytes(size, '\0');
    for (uint64_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(StreamByte(i));
    }
    return bytes;
}

// The ids of this process's threads with the given name, read from the system.
std::vector<std::string> ThreadsNamed(const std::string& name) {
    std::vector<std::string> found;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return found;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name) found.push_back(entry->d_name);
    }
    closedir(dir);
    return found;
}

// The blocked-signal mask of one of this process's threads, as the system reports it.
uint64_t BlockedSignals(const std::string& tid) {
    std::ifstream in("/proc/self/task/" + tid + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "SigBlk:") == 0) return std::stoull(line.substr(7), nullptr, 16);
    }
    return 0;
}

bool IsBlocked(uint64_t mask, int signal) { return (mask >> (signal - 1)) & 1; }

using SvTestSupport::ThisThreadId;
using SvTestSupport::WaitUntil;

// True once the thread sleeps on a lock or a condition (a futex), as the system reports where it
// waits; a bounded while (10 s).
bool ComesToWaitOnALock(const std::atomic<pid_t>& tid) {
    return WaitUntil([&] {
        std::ifstream in("/proc/self/task/" + std::to_string(tid.load()) + "/wchan");
        std::string function;
        std::getline(in, function);
        return tid.load() != 0 && function.find("futex") != std::string::npos;
    });
}

class BatchedFileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        session = Session::Create();
        // No source: the tests drive the sink as the multiplexer would.
        sink = boost::make_shared<BatchedFileServer>(session.get());
        sink->AddMonitor(&errors);
    }
    void TearDown() override {
        sink.reset();
        if (reader >= 0) close(reader);
    }

    // The end of the stream, then two pump passes: the first still saw bytes, the second is
    // the pass that writes nothing more.
    void EndTheStream() {
        sink->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
        sink->Tick();
        sink->Tick();
    }

    // A FIFO whose reader holds it open but reads nothing yet; the sink writes into it.
    void WriteToAFifoNobodyReads() {
        const std::string fifo = dir.File("out.fifo");
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
        reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        capacity = fcntl(reader, F_GETPIPE_SZ);
        ASSERT_GT(capacity, 0);
        sink->SetName(fifo, true);
        ASSERT_FALSE(sink->HasFailed());
    }
    bool PipeIsFull() const {
        int queued = 0;
        return ioctl(reader, FIONREAD, &queued) == 0 && queued >= capacity;
    }

    SvTestSupport::TemporaryDirectory dir{"batchedfileserver"};
    SvTestSupport::ErrorRecorder errors;
    boost::shared_ptr<Session> session;
    boost::shared_ptr<BatchedFileServer> sink;
    int reader = -1;
    int capacity = 0;
};

// Chunks of every size, from a TS packet to more than the whole queue at once, with markers
// and empty chunks among them: the file holds exactly the bytes in their order, and the stream
// is complete only once a pass after its end wrote nothing more.
TEST_F(BatchedFileServerTest, WritesEveryByteInOrderAndTellsWhenComplete) {
    const std::string path = dir.File("out.ts");
    sink->SetWakeSignal(SIGUSR1);
    sink->SetName(path, true);
    uint64_t offset = 0;
    const uint32_t sizes[] = {188, 1, 65536, 188 * 7, 300000, 4096, 2};
    for (int round = 0; round < 40; ++round) {
        for (uint32_t size : sizes) AddBytes(*sink, &offset, size);
        sink->Add(MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(round)));
        sink->Add(MemoryChunk());
    }
    AddBytes(*sink, &offset, uint32_t(BatchedFileServer::kQueueBytes + 12345));  // alone in a batch
    for (uint32_t size : sizes) AddBytes(*sink, &offset, size);
    ASSERT_GT(offset, 2 * BatchedFileServer::kQueueBytes);

    // The writer runs apart and takes no signal but the one that may wake a blocked write.
    const std::vector<std::string> writers = ThreadsNamed("BatchWriter");
    ASSERT_EQ(1u, writers.size());
    const uint64_t blocked = BlockedSignals(writers[0]);
    EXPECT_FALSE(IsBlocked(blocked, SIGUSR1));
    EXPECT_TRUE(IsBlocked(blocked, SIGUSR2));
    EXPECT_TRUE(IsBlocked(blocked, SIGINT));
    EXPECT_TRUE(IsBlocked(blocked, SIGTERM));
    EXPECT_TRUE(IsBlocked(blocked, SIGPIPE));

    sink->Add(MemoryChunk(boost::make_shared<MemoryMarkerEndOfStream>()));
    sink->Tick();  // this pass still took bytes
    EXPECT_FALSE(sink->IsComplete());
    sink->Tick();
    EXPECT_TRUE(sink->IsComplete());
    EXPECT_EQ(offset, sink->BytesTaken());
    EXPECT_TRUE(ReadWholeFile(path) == Expected(offset));  // not printed: megabytes
    EXPECT_TRUE(errors.Errors().empty());

    sink->Stop();
    EXPECT_TRUE(ThreadsNamed("BatchWriter").empty());
}

// An output that takes nothing: the pump may run ahead of the writer by the queue and one
// batch, no more, and goes on as soon as the output takes bytes again; nothing is lost.
TEST_F(BatchedFileServerTest, ThePumpWaitsWhenTheQueueIsFull) {
    WriteToAFifoNobodyReads();
    const uint32_t kChunk = 65536;
    const uint64_t kTotal = 4 * BatchedFileServer::kQueueBytes;
    std::atomic<bool> done{false};
    std::atomic<pid_t> pumpId{0};
    std::thread pump([&] {
        pumpId = ThisThreadId();
        uint64_t offset = 0;
        while (offset < kTotal) AddBytes(*sink, &offset, kChunk);
        done = true;
    });
    EXPECT_TRUE(WaitUntil(
        [&] { return PipeIsFull() && sink->BytesTaken() >= BatchedFileServer::kQueueBytes; }));
    EXPECT_TRUE(ComesToWaitOnALock(pumpId)) << "the pump waits for room";
    // The batch being written counts in the queue; the pump holds one more batch, waiting.
    EXPECT_LE(sink->BytesTaken(), BatchedFileServer::kQueueBytes + BatchedFileServer::kWriteBytes);
    EXPECT_FALSE(done.load());

    std::string received;
    std::thread drain([&] {
        const int flags = fcntl(reader, F_GETFL);
        fcntl(reader, F_SETFL, flags & ~O_NONBLOCK);
        char buffer[65536];
        ssize_t n;
        while ((n = read(reader, buffer, sizeof buffer)) > 0) received.append(buffer, size_t(n));
    });
    pump.join();
    EXPECT_TRUE(done.load());
    EndTheStream();
    EXPECT_TRUE(sink->IsComplete());
    sink.reset();  // closes the FIFO: the reader sees its end
    drain.join();
    EXPECT_EQ(kTotal, received.size());
    EXPECT_TRUE(received == Expected(kTotal));
    EXPECT_TRUE(errors.Errors().empty());
}

// The writer is woken for several batches at a time, never at the cost of bytes: one batch
// short of a wake-up goes out as soon as a pass takes nothing, a batch larger than the queue
// behind it does not wait for a wake-up that never comes, and everything arrives in order.
TEST_F(BatchedFileServerTest, BatchesShortOfAWakeUpStillGoOut) {
    const std::string path = dir.File("out.ts");
    sink->SetName(path, true);
    uint64_t offset = 0;
    // One batch handed over, less than a wake-up's worth.
    while (offset < BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 188 * 100);
    ASSERT_LT(offset, BatchedFileServer::kWakeBytes);
    sink->Tick();  // this pass took bytes
    sink->Tick();  // this one took nothing: the stream paused
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(path).size() >= offset - 188 * 100; }))
        << "a paused stream's batch waits for nothing";
    // A batch short of a wake-up, then one larger than the whole queue.
    while (offset < 2 * BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 188 * 100);
    AddBytes(*sink, &offset, uint32_t(BatchedFileServer::kQueueBytes + 188));
    AddBytes(*sink, &offset, uint32_t(BatchedFileServer::kQueueBytes + 188));
    EndTheStream();
    EXPECT_TRUE(sink->IsComplete());
    EXPECT_EQ(offset, sink->BytesTaken());
    EXPECT_TRUE(ReadWholeFile(path) == Expected(offset));  // not printed: megabytes
    EXPECT_TRUE(errors.Errors().empty());
}

// A failed write is told once, through the sink's errors and by stopping the session; what
// comes after it is dropped without waiting, and the stream is never complete.
TEST_F(BatchedFileServerTest, AFailedWriteIsToldOnceAndNothingWaitsAfterIt) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    // A pump without a thread: the writer's stop shuts the session down on its own thread.
    session->StartPump(0);
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink});
    session->SetComponentStack(stack);
    sink->SetName("/dev/full", true);
    uint64_t offset = 0;
    while (offset < 4 * BatchedFileServer::kQueueBytes) AddBytes(*sink, &offset, 100000);
    EndTheStream();
    EXPECT_FALSE(sink->IsComplete());
    EXPECT_TRUE(sink->HasFailed());
    const std::vector<SvTestSupport::ErrorRecorder::Report> reports = errors.Errors();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(SVStatus(SVStatusFileInput), reports[0].first);
    EXPECT_EQ("Could not write bytes", reports[0].second);
    EXPECT_TRUE(session->WaitForStop(0));
    sink.reset();  // joins a writer that stopped its own session
}

// Ignores SIGPIPE for its scope, and puts back what was set before.
class SigpipeIgnored {
public:
    SigpipeIgnored() {
        struct sigaction ignore;
        std::memset(&ignore, 0, sizeof ignore);
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &old_);
    }
    ~SigpipeIgnored() { sigaction(SIGPIPE, &old_, nullptr); }

private:
    struct sigaction old_;
};

// The reader goes away while the pump waits for room and the writer is blocked: the write
// fails, the pump is let go, and the failure is told once.
TEST_F(BatchedFileServerTest, AReaderThatLeavesReleasesAWaitingPump) {
    const SigpipeIgnored sigpipe;  // a write to a reader that left fails instead
    WriteToAFifoNobodyReads();
    std::atomic<bool> done{false};
    std::thread pump([&] {
        uint64_t offset = 0;
        while (offset < 4 * BatchedFileServer::kQueueBytes) AddBytes(*sink, &offset, 65536);
        done = true;
    });
    EXPECT_TRUE(WaitUntil(
        [&] { return PipeIsFull() && sink->BytesTaken() >= BatchedFileServer::kQueueBytes; }));
    EXPECT_FALSE(done.load());
    close(reader);
    reader = -1;
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    pump.join();
    EndTheStream();
    EXPECT_FALSE(sink->IsComplete());
    ASSERT_EQ(1u, errors.Errors().size());
    EXPECT_EQ(SVStatus(SVStatusFileInput), errors.Errors()[0].first);
    sink->Stop();
    EXPECT_TRUE(ThreadsNamed("BatchWriter").empty());
}

// A stop while the writer is blocked waits for that write only: it returns once the write
// ends (here, the reader leaves), and the batches still queued are not written.
TEST_F(BatchedFileServerTest, AStopWhileTheWriterIsBlockedEndsWithTheWrite) {
    const SigpipeIgnored sigpipe;  // a write to a reader that left fails instead
    WriteToAFifoNobodyReads();
    uint64_t offset = 0;
    while (offset < 3 * BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 65536);  // queued
    EXPECT_TRUE(WaitUntil([&] { return PipeIsFull(); }));
    std::atomic<bool> stopped{false};
    std::atomic<pid_t> stopperId{0};
    std::thread stopper([&] {
        stopperId = ThisThreadId();
        sink->Stop();
        stopped = true;
    });
    EXPECT_TRUE(ComesToWaitOnALock(stopperId)) << "the stop waits for the writer";
    EXPECT_FALSE(stopped.load());  // the write under way still holds the writer
    close(reader);
    reader = -1;
    EXPECT_TRUE(WaitUntil([&] { return stopped.load(); }));
    stopper.join();
    EXPECT_TRUE(ThreadsNamed("BatchWriter").empty());
    EXPECT_EQ(1u, errors.Errors().size());
}

// A stop or the sink's end with batches still queued to a file: no hang, and what reached the
// file is the stream's beginning, unbroken.
TEST_F(BatchedFileServerTest, StoppingWithBatchesQueuedLeavesAnUnbrokenBeginning) {
    const std::string path = dir.File("out.ts");
    sink->SetName(path, true);
    uint64_t offset = 0;
    while (offset < 6 * BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 188 * 100);
    sink.reset();
    const std::string written = ReadWholeFile(path);
    EXPECT_LE(written.size(), offset);
    EXPECT_TRUE(written == Expected(written.size()));
    EXPECT_TRUE(errors.Errors().empty());
}

void IgnoreSignal(int) {}

// A FIFO whose reader has it open but never reads: the writer blocks once the pipe is full, and
// only a cancel lets it go, so that the sink can be stopped and joined. The failure is told
// once with its reason, and nothing written later blocks.
TEST_F(BatchedFileServerTest, CancelWritesEndsAWriteBlockedOnAReaderThatDoesNotRead) {
    struct sigaction wake;
    std::memset(&wake, 0, sizeof wake);
    wake.sa_handler = IgnoreSignal;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0;  // no SA_RESTART: the blocked write returns EINTR
    struct sigaction old;
    ASSERT_EQ(0, sigaction(SIGUSR1, &wake, &old));
    sink->SetWakeSignal(SIGUSR1);
    WriteToAFifoNobodyReads();
    uint64_t offset = 0;
    while (offset < 2 * BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 65536);
    EXPECT_TRUE(WaitUntil([&] { return PipeIsFull(); }));

    sink->CancelWrites();
    EXPECT_TRUE(sink->HasFailed());
    EXPECT_EQ(ECANCELED, sink->FailureReason());
    ASSERT_EQ(1u, errors.Errors().size());
    EXPECT_EQ(SVStatus(SVStatusFileInput), errors.Errors()[0].first);
    EXPECT_EQ("Could not write bytes", errors.Errors()[0].second);
    // Nothing more goes out, and nothing blocks.
    while (offset < 4 * BatchedFileServer::kWriteBytes) AddBytes(*sink, &offset, 65536);
    EndTheStream();
    EXPECT_FALSE(sink->IsComplete());
    sink->Stop();
    EXPECT_TRUE(ThreadsNamed("BatchWriter").empty());
    EXPECT_EQ(1u, errors.Errors().size());
    sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
}  // namespace SarvelonMediaKit
