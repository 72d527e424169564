#ifndef ENGINE_INPUT_HTTPCLIENTTASKS_H
#define ENGINE_INPUT_HTTPCLIENTTASKS_H

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/Task.h"

namespace SarvelonMediaKit {

class HTTPClient;
class TaskManager;

// Whether an HTTP client still exists, shared by the client with every handler it gives a
// transport and every task those handlers post. The client clears it first thing when it goes
// (and when it stops), under the lock a running handler holds, so a delivery that comes late
// (a transport that outlived its owner) or a task still queued finds no client and drops its
// work instead of using freed memory.
//
// Each transport's handlers get a guard of their own made under the client's (the root): the
// client cuts it when it lets that one transport go without its having reported closed, so the
// late work of that transport goes nowhere while the other transports and the client's own
// queued tasks (errors, a fresh start) carry on. A cut does not wait: a handler that is running
// only posts tasks, and those find the cut when they run.
class HTTPClientGuard {
public:
    // The root guard of a client.
    explicit HTTPClientGuard(HTTPClient* client) : client_(client), cut_(false) {}
    // The guard of one transport, under the client's root guard.
    explicit HTTPClientGuard(const boost::shared_ptr<HTTPClientGuard>& parent)
        : parent_(parent), client_(nullptr), cut_(false) {}

    HTTPClientGuard(const HTTPClientGuard&) = delete;
    HTTPClientGuard& operator=(const HTTPClientGuard&) = delete;

    // Root: waits for a handler that is running, then no handler or task reaches the client
    // again. A transport's guard: cut at once, for this transport's handlers and tasks only.
    void Clear() {
        if (parent_) {
            cut_ = true;
            return;
        }
        std::lock_guard<std::mutex> lock(lock_);
        client_ = nullptr;
    }
    // Held by a handler while it works on the client: the root's lock.
    std::mutex& Lock() { return parent_ ? parent_->Lock() : lock_; }
    // The client, or null once this guard or the root was cleared; the caller holds Lock().
    HTTPClient* ClientLocked() const {
        if (cut_.load()) return nullptr;
        return parent_ ? parent_->ClientLocked() : client_;
    }
    // The client, or null once cleared. For tasks, which run on the client's task thread: the
    // only thread that changes the client, so it cannot go while the task uses it.
    HTTPClient* Client() {
        std::lock_guard<std::mutex> lock(Lock());
        return ClientLocked();
    }

private:
    const boost::shared_ptr<HTTPClientGuard> parent_;  // null for a root
    std::mutex lock_;                                  // a root's
    HTTPClient* client_;                               // a root's, under lock_
    std::atomic<bool> cut_;
};

// The handlers a client gives its transports. Each is called on the download thread, wraps
// what it received into a task and posts it to the task queue of the client's session, where
// the task does the work on the task thread. They hold the queue, not the session (a weak
// pointer, locked for the call only): a delivery never holds the session, so the session is
// never destroyed on the download thread by a handler letting go of it last. They never touch
// a client that has gone (the guard, held for the call).

class HTTPClientHandlerBase {
public:
    HTTPClientHandlerBase() {}
    HTTPClientHandlerBase(const boost::weak_ptr<TaskManager>& queue,
                          const boost::shared_ptr<HTTPClientGuard>& guard)
        : queue_(queue), guard_(guard) {}

protected:
    boost::weak_ptr<TaskManager> queue_;
    boost::shared_ptr<HTTPClientGuard> guard_;
};

// Told the size of the resource; posts an HTTPClientSetEndPositionTask.
class HTTPClientSetEndPositionHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(unsigned long long end) const;
};

// Bytes as a pointer and a count: copied into a chunk with the client's margins and posted as
// an HTTPClientDataTask. False when the task queue or the client is gone.
class HTTPClientDataHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    bool operator()(const signed char* data, unsigned int size) const;
};

// Bytes the transport already put in a chunk: posted without a copy. False when the task
// queue or the client is gone.
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

// The main transport's request refused as not satisfiable (416), with the size the server
// gave (0: none): posts "HTTPClient::RangeRefused" (category 1: it belongs to that transfer and
// goes with it when a new range starts).
class HTTPClientRangeRefusedHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(unsigned long long total) const;
};

// A bandwidth sample of the main transport: hands it to HTTPClient::BandwidthHandlerInTask
// (which marks the transport idle or not and posts the sample) while the client exists.
class HTTPClientBandwidthHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(const SV::PilTime& time, unsigned int bytes) const;
};

// The read-ahead the main transport reports: posted ("HTTPClient::SetReportedReadAhead",
// category 8) so the client changes its transport on its own thread.
class HTTPClientReadAheadHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    void operator()(unsigned int value) const;
};

// Bytes of an out-of-band request: copied into a chunk with 64 bytes of room on each side and
// posted as an HTTPClientOutOfBandDataTask. Always true: the consumer knows the length it asked
// for, and a refusal would change nothing.
class HTTPClientOutOfBandDataHandler : public HTTPClientHandlerBase {
public:
    using HTTPClientHandlerBase::HTTPClientHandlerBase;
    bool operator()(const signed char* data, unsigned int size) const;
};

// The end of an out-of-band request: posts "HTTPClient::OutOfBandDone" (category 8), which
// lets the request's transport go (only that request's: a newer one keeps its own).
class HTTPClientOutOfBandDoneHandler : public HTTPClientHandlerBase {
public:
    HTTPClientOutOfBandDoneHandler() : request_(0) {}
    HTTPClientOutOfBandDoneHandler(const boost::weak_ptr<TaskManager>& queue,
                                   const boost::shared_ptr<HTTPClientGuard>& guard,
                                   uint32_t request)
        : HTTPClientHandlerBase(queue, guard), request_(request) {}
    void operator()(bool failed) const;

private:
    uint32_t request_;
};

// The errors of the main transport, as a monitor of its error source: each is posted as
// "HTTPClient::TransportError" (category 1: it belongs to that transfer, like its end, and
// goes with it when a new range starts), so the client decides on its own thread whether it
// may pass; warnings are posted as the client's own. One per transport, let go with it.
class HTTPClientTransportErrors : public ErrorInfoMonitor {
public:
    HTTPClientTransportErrors(const boost::weak_ptr<TaskManager>& queue,
                              const boost::shared_ptr<HTTPClientGuard>& guard)
        : queue_(queue), guard_(guard) {}
    // Detached first: an error being published on the download thread is waited for.
    ~HTTPClientTransportErrors() override { DetachFromSources(); }

    void SetError(SVStatus status, std::string text) override;
    void SetWarning(SVStatus status, std::string text) override;

private:
    const boost::weak_ptr<TaskManager> queue_;
    const boost::shared_ptr<HTTPClientGuard> guard_;
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
    // queued counts the bytes of the data tasks that are waiting: this one's from now until
    // it hands its chunk to the client, or until it is dropped unrun.
    HTTPClientDataTask(const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId,
                       const MemoryChunk& chunk,
                       const boost::shared_ptr<std::atomic<uint64_t>>& queued);
    ~HTTPClientDataTask() override;
    bool Execute() override;
    ByteAmount PendingDataSize() const override;

private:
    void Unqueue();

    boost::shared_ptr<HTTPClientGuard> guard_;
    MemoryChunk chunk_;
    boost::shared_ptr<std::atomic<uint64_t>> queued_;  // null once this task's bytes left it
};

// "HTTPClient::OutOfBandData", category 8: hands the chunk to HTTPClient::DeliverOutOfBandData.
// Its pending data is 0: the bytes are control data a consumer asked for, not part of the
// transfer, so the session's drop-data mode during a seek or a rate change keeps them (a
// dropped answer would leave the asker waiting for ever).
class HTTPClientOutOfBandDataTask : public Task {
public:
    HTTPClientOutOfBandDataTask(const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId,
                                const MemoryChunk& chunk);
    bool Execute() override;

private:
    boost::shared_ptr<HTTPClientGuard> guard_;
    MemoryChunk chunk_;
};

// Any member of the client with copies of its arguments, run only while the client exists:
// the done task, the bandwidth samples, errors and warnings, the end of an out-of-band request
// and the fresh start are all of this kind. Member is the member-function pointer type, Args the
// types of the stored copies. Its pending data is that of its arguments (a chunk counts its size).
template <typename Member, typename... Args>
class HTTPClientMemberTask : public Task {
public:
    HTTPClientMemberTask(uint32_t category, StackId stackId, const std::string& name,
                         const boost::shared_ptr<HTTPClientGuard>& guard, Member member,
                         const Args&... args)
        : Task(category, stackId, name), guard_(guard), member_(member), args_(args...) {}

    bool Execute() override {
        if (HTTPClient* client = guard_->Client()) {
            Call(client, std::index_sequence_for<Args...>());
        }
        return false;
    }

    ByteAmount PendingDataSize() const override { return Sum(std::index_sequence_for<Args...>()); }

private:
    template <size_t... I>
    void Call(HTTPClient* client, std::index_sequence<I...>) {
        (client->*member_)(std::get<I>(args_)...);
    }
    template <size_t... I>
    ByteAmount Sum(std::index_sequence<I...>) const {
        uint32_t total = 0;
        const uint32_t sizes[] = {0u, TaskArgumentDataSize(std::get<I>(args_))...};
        for (uint32_t size : sizes) total += size;
        return ByteAmount(total);
    }

    boost::shared_ptr<HTTPClientGuard> guard_;
    Member member_;
    std::tuple<Args...> args_;
};

}  // namespace SarvelonMediaKit

#endif
