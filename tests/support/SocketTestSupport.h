#ifndef TESTS_SUPPORT_SOCKETTESTSUPPORT_H
#define TESTS_SUPPORT_SOCKETTESTSUPPORT_H

// Helpers shared by the tests of this folder (included by *Test.cpp only).

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/Pump.h"
#include "engine/core/Task.h"
#include "engine/core/SocketDelegate.h"
#include "tests/support/LoopbackConnect.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/TaskTestSupport.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {
namespace test {

using SvTestSupport::Connect;
using SvTestSupport::kLoopback;
using SvTestSupport::ThreadsNamed;
using SvTestSupport::WaitUntil;

inline bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// True when the other end closes the connection within the time (data before it is skipped).
inline bool PeerCloses(int fd, int timeoutMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              end - std::chrono::steady_clock::now())
                                              .count());
        if (left <= 0) return false;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char buffer[256];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
    }
}

using SvTestSupport::MakeTask;

// One session's worth of threads: a running pump and the socket master posting to it.
struct Station {
    boost::shared_ptr<Pump> pump;
    std::unique_ptr<SocketMaster> master;

    Station() : pump(new Pump(nullptr)), master(new SocketMaster(pump->GetTaskManager())) {
        pump->CreateThread(MediaTime(1000));
        pump->Start();
    }
    // Nothing is read or run any more afterwards, so delegates may go.
    void Halt() {
        master->Stop();
        pump->RequestStop();
        WaitUntil([this]() { return !pump->IsThreadRunning(); });
    }
};

// Records what reaches its hooks, and whether each ran on its session's pump thread.
template <typename Base>
class Recording : public Base {
public:
    Recording(SocketMaster* master, const Pump* pump) : Base(master, nullptr), pump_(pump) {}
    ~Recording() override { this->Detach(); }

    void DoSessionSocketOpen() override { Note("open"); }
    void DoProcessSessionData(MemoryChunk chunk) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pump_->IsPumpThread()) ++offThread_;
        data_.append(reinterpret_cast<const char*>(chunk.Data()), chunk.Size());
        chunkSizes_.push_back(chunk.Size());
    }
    void DoSessionSocketClosed() override {
        Note("closed");
        Base::DoSessionSocketClosed();
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int Count(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (size_t i = 0; i < events_.size(); ++i) n += events_[i] == event;
        return n;
    }
    std::string Data() {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }
    std::vector<uint32_t> ChunkSizes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return chunkSizes_;
    }
    int OffThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        return offThread_;
    }

private:
    void Note(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pump_->IsPumpThread()) ++offThread_;
        events_.push_back(event);
    }

    const Pump* pump_;
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::string data_;
    std::vector<uint32_t> chunkSizes_;
    int offThread_ = 0;
};

typedef Recording<SocketDelegate> RecordingDelegate;

// Hands one end of a fresh socket pair to the delegate; returns the peer's end.
inline int HandOver(SocketDelegate& delegate) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    SV::PilSocketHolder holder;
    holder.fd = pair[0];
    delegate.SwapSocket(holder);
    return pair[1];
}

// Runs a witness connection through the station: once the bytes it was sent in two rounds
// have both reached it, its master has finished a whole pass, with its closed-socket report,
// after the call began, and the pump has run every task queued before them. What a master or
// a pump was still to do about earlier events has been done then. The witness's own socket
// may show up in the master's closed-socket reports afterwards: callers count only theirs.
inline bool Settle(Station& station) {
    int peer = -1;
    bool settled = false;
    {
        RecordingDelegate witness(nullptr, station.pump.get());
        peer = HandOver(witness);
        if (peer < 0) return false;
        witness.SetSocketMaster(station.master.get());
        witness.SessionSocketOpen();
        settled = SendAll(peer, "x") && WaitUntil([&]() { return witness.Data() == "x"; }) &&
                  SendAll(peer, "y") && WaitUntil([&]() { return witness.Data() == "xy"; });
    }
    // The witness has left its master first: its end is closed behind it.
    close(peer);
    return settled;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
