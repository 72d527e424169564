#ifndef ENGINE_SERVE_LIVEHTTPTESTSUPPORT_H
#define ENGINE_SERVE_LIVEHTTPTESTSUPPORT_H

// Shared by the live server's tests (included by *Test.cpp only): the loopback front door with
// one serving session per connection, as the engine builds it, and a raw HTTP client.

#include <boost/make_shared.hpp>

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpServer.h"
#include "engine/serve/MultiSocketDelegateServer.h"
#include "tests/support/DirectoryFileSource.h"
#include "tests/support/SocketTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace test {

// Listens on an ephemeral loopback port; every accepted connection gets a session of its own
// (pump every 5 ms pulling 131072 bytes) whose only component is a LiveHttpServer over the
// source. Sessions stop themselves when their connection closes and are let go by Reap. The
// configure function, when given, sets up each server before its session starts.
class LiveFront {
public:
    typedef std::function<void(LiveHttpServer&)> Configure;

    // Each connection's session passes every intervalMicroseconds unless woken.
    explicit LiveFront(LiveHttpFileSource* source, const Configure& configure = Configure(),
                       uint64_t intervalMicroseconds = 5000)
        : source_(source),
          configure_(configure),
          interval_(intervalMicroseconds),
          server_(front_.master.get(), nullptr,
                  [this](SocketMaster*, Component*, SV::PilSocketHolder& accepted) {
                      return Make(accepted);
                  }) {
        server_.Listen(0, kLoopback);
    }
    ~LiveFront() {
        front_.Halt();
        std::vector<boost::shared_ptr<Session>> sessions;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sessions.swap(sessions_);
        }
        sessions.clear();
    }

    uint16_t Port() const { return server_.GetListeningPort(); }
    MultiSocketDelegateServer& Listener() { return server_; }

    // Lets the stopped sessions go; true once none is left within the time.
    bool ReapAll(int timeoutMs = 5000) {
        return WaitUntil(
            [this]() {
                Reap();
                std::lock_guard<std::mutex> lock(mutex_);
                return sessions_.empty();
            },
            timeoutMs);
    }
    size_t Sessions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sessions_.size();
    }
    // Every session's pump comes round now: an idle server sleeps until the deadline it named
    // on the real clock, so a test that moves its servers' clock tells them.
    void WakeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const boost::shared_ptr<Session>& session : sessions_) {
            if (const boost::shared_ptr<Pump> pump = session->GetPump()) pump->Wake();
        }
    }

private:
    SocketDelegate* Make(SV::PilSocketHolder& accepted) {
        Reap();
        boost::shared_ptr<Session> session = Session::Create();
        session->StartPump(MediaTime(interval_));
        session->SetPullAmount(ByteAmount(131072));
        boost::shared_ptr<LiveHttpServer> server =
            boost::make_shared<LiveHttpServer>(session.get());
        server->SetFileSource(source_);
        if (configure_) configure_(*server);
        ComponentStack stack = SvTestSupport::BuildChain(StackIdServing, {server});
        session->SetComponentStack(stack);
        server->SwapSocket(accepted);
        server->SetSocketMaster(session.get());
        session->Start();
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.push_back(session);
        return server.get();
    }
    void Reap() {
        std::vector<boost::shared_ptr<Session>> stopped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (size_t i = 0; i < sessions_.size();) {
                if (sessions_[i]->WaitForStop(0)) {
                    stopped.push_back(sessions_[i]);
                    sessions_.erase(sessions_.begin() + static_cast<long>(i));
                } else {
                    ++i;
                }
            }
        }
        // Destroyed outside the lock: a session waits for its threads as it goes.
    }

    LiveHttpFileSource* source_;
    const Configure configure_;
    const uint64_t interval_;
    Station front_;
    std::mutex mutex_;
    std::vector<boost::shared_ptr<Session>> sessions_;
    MultiSocketDelegateServer server_;
};

// What the peer sends until DONE holds for it, the peer closes or the time is up.
template <typename Done>
std::string ReadUntil(int fd, int timeoutMs, Done done) {
    std::string all;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done(all)) return all;
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              end - std::chrono::steady_clock::now())
                                              .count());
        if (left <= 0) return all;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char buffer[65536];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return all;
        all.append(buffer, static_cast<size_t>(n));
    }
}

// One response to a request whose body has BODY bytes: its head and body, or what came before
// the peer closed or the time was up.
inline std::string ReadOneResponse(int fd, size_t body, int timeoutMs = 10000) {
    return ReadUntil(fd, timeoutMs, [body](const std::string& all) {
        const size_t head = all.find("\r\n\r\n");
        return head != std::string::npos && all.size() >= head + 4 + body;
    });
}

// Everything the peer sends until it closes or the time is up.
inline std::string ReadUntilClosed(int fd, int timeoutMs = 5000) {
    return ReadUntil(fd, timeoutMs, [](const std::string&) { return false; });
}

// Reads until at least count bytes are there (or the peer closes, or the time is up).
inline std::string ReadAtLeast(int fd, size_t count, int timeoutMs = 5000) {
    std::string all;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (all.size() < count) {
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              end - std::chrono::steady_clock::now())
                                              .count());
        if (left <= 0) break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char buffer[65536];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that differ at every position within a long stretch, so a body out of place shows.
inline std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

inline int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
