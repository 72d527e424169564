#ifndef ENGINE_INPUT_HTTPCLIENTTASKS_H
#define ENGINE_INPUT_HTTPCLIENTTASKS_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <mutex>

#include "engine/core/MemoryChunk.h"
#include "engine/core/Task.h"

namespace SarvelonMediaKit {

class HTTPClient;
class Session;

// Whether an HTTP client still exists, shared by the client with every handler it gives a
// transport and every task those handlers post. The client clears it first thing when it goes
// (and when it stops), under the lock a running handler holds, so a delivery that comes late
// (a transport that outlived its owner) or a task still queued finds no client and drops its
// work instead of using freed memory.
class HTTPClientGuard {
public:
    explicit HTTPClientGuard(HTTPClient* client) : client_(client) {}

    // Waits for a handler that is running, then no handler or task reaches the client again.
    void Clear() {
        std::lock_guard<std::mutex> lock(lock_);
        client_ = nullptr;
    }
    // The client, or null once cleared. Held by a handler while it works on the client.
    std::mutex& Lock() { return lock_; }
    HTTPClient* Client() const { return client_; }

private:
    std::mutex lock_;
    HTTPClient* client_;  // under lock_
};

// The handlers a client gives its main transport. Each is called on the download thread,
// wraps what it received into a task and posts it to the client's session, where the task does
// the work on the task thread. They never keep the session alive (a weak pointer, locked for
// the call only) and never touch a client that has gone (the guard, held for the call).

class HTTPClientHandlerBase {
public:
    HTTPClientHandlerBase() {}
    HTTPClientHandlerBase(const boost::weak_ptr<Session>& session,
                          const boost::shared_ptr<HTTPClientGuard>& guard)
        : session_(session), guard_(guard) {}

protected:
    boost::weak_ptr<Session> session_;
    boost::shared_ptr<HTTPClientGuard> guard_;
};

// Told the size of the resource; posts an HTTPClientSetEndPositionTask.
class HTTPClientSetEndPositionHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(unsigned long long end) const;
};

// Bytes as a pointer and a count: copied into a chunk with the client's margins and posted as
// an HTTPClientDataTask. False when the session or the client is gone.
class HTTPClientDataHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    bool operator()(const signed char* data, unsigned int size) const;
};

// Bytes the transport already put in a chunk: posted without a copy. False when the session
// or the client is gone.
class HTTPClientMemoryChunkDataHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    bool operator()(MemoryChunk chunk) const;
};

// The end of the transfer (failed or not): posts the done task "HTTPClientDoneHandler".
class HTTPClientDoneHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(bool failed) const;
};

// Tasks of the client; each does nothing when the client has gone.

// Category 8 (control): sets the size of the resource.
class HTTPClientSetEndPositionTask : public Task {
public:
    HTTPClientSetEndPositionTask(const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId,
                                 uint64_t end);
    bool Execute() override;

private:
    boost::shared_ptr<HTTPClientGuard> guard_;
    uint64_t end_;
};

// Category 1 (data of the transfer, dropped when a new range starts): hands the chunk to
// Component::Add on the client. Its pending data is the chunk's size.
class HTTPClientDataTask : public Task {
public:
    HTTPClientDataTask(const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId,
                       const MemoryChunk& chunk);
    bool Execute() override;
    ByteAmount PendingDataSize() const override;

private:
    boost::shared_ptr<HTTPClientGuard> guard_;
    MemoryChunk chunk_;
};

// Any member of the client with copies of its arguments, run only while the client exists:
// the done task, the bandwidth samples, errors and warnings, out-of-band data and the fresh
// start are all of this kind.
template <typename Member, typename... Args>
class HTTPClientMemberTask;

}  // namespace SarvelonMediaKit

#endif
