#include "engine/input/HTTPClientTasks.h"

#include <boost/make_shared.hpp>

#include <cstring>

#include "engine/core/Session.h"
#include "engine/core/TaskManager.h"
#include "engine/input/HTTPClient.h"

namespace SarvelonMediaKit {

namespace {

// Out-of-band chunks carry room for a header and a trailer on each side.
const uint32_t kReceivedChunkRoom = 64;

typedef HTTPClientMemberTask<void (HTTPClient::*)(bool), bool> DoneTask;
typedef HTTPClientMemberTask<void (HTTPClient::*)(unsigned), unsigned> ReadAheadTask;
typedef HTTPClientMemberTask<void (HTTPClient::*)(uint32_t), uint32_t> OutOfBandDoneTask;
typedef HTTPClientMemberTask<void (HTTPClient::*)(uint64_t), uint64_t> RangeRefusedTask;
typedef HTTPClientMemberTask<void (HTTPClient::*)(SVStatus, std::string), SVStatus, std::string>
    StatusTask;

// Every handler's start: the task queue for the call only (declared first, so it is let go
// after the guard's lock: letting go of the queue's last owner releases the tasks it still
// holds, and what they hold may be a client, whose end takes that lock), then the guard's lock
// for the rest of the call, so the client cannot go while it is used. Calls work(queue, client)
// and answers true, or answers false without calling it when the queue or the client is gone.
template <typename Work>
bool WithClient(const boost::weak_ptr<TaskManager>& weakQueue,
                const boost::shared_ptr<HTTPClientGuard>& guard, Work work) {
    boost::shared_ptr<TaskManager> queue = weakQueue.lock();
    if (!queue || !guard) return false;
    std::lock_guard<std::mutex> lock(guard->Lock());
    HTTPClient* client = guard->ClientLocked();
    if (client == nullptr) return false;
    work(*queue, *client);
    return true;
}

}  // namespace

void HTTPClientSetEndPositionHandler::operator()(unsigned long long end) const {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(
            boost::make_shared<HTTPClientSetEndPositionTask>(guard_, client.GetStackId(), end));
    });
}

bool HTTPClientDataHandler::operator()(const signed char* data, unsigned int size) const {
    bool taken = false;
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        MemoryChunk chunk;
        try {
            chunk = client.CreateMemoryChunk(size, 0, 0);
        } catch (...) {
            return;  // margins too large to make the chunk: the bytes are refused
        }
        if (size != 0) std::memcpy(chunk.Data(), data, size);
        queue.AddTask(boost::make_shared<HTTPClientDataTask>(guard_, client.GetStackId(), chunk,
                                                             client.QueuedData()));
        taken = true;
    });
    return taken;
}

bool HTTPClientMemoryChunkDataHandler::operator()(MemoryChunk chunk) const {
    return WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<HTTPClientDataTask>(guard_, client.GetStackId(), chunk,
                                                             client.QueuedData()));
    });
}

void HTTPClientDoneHandler::operator()(bool failed) const {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<DoneTask>(Session::TaskCategoryDownload,
                                                   client.GetStackId(), "HTTPClientDoneHandler",
                                                   guard_, &HTTPClient::DataDone, failed));
    });
}

void HTTPClientRangeRefusedHandler::operator()(unsigned long long total) const {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<RangeRefusedTask>(
            Session::TaskCategoryDownload, client.GetStackId(), "HTTPClient::RangeRefused", guard_,
            &HTTPClient::RangeRefused, static_cast<uint64_t>(total)));
    });
}

void HTTPClientBandwidthHandler::operator()(const SV::PilTime& time, unsigned int bytes) const {
    WithClient(queue_, guard_, [&](TaskManager&, HTTPClient& client) {
        client.BandwidthHandlerInTask(time, bytes);
    });
}

void HTTPClientReadAheadHandler::operator()(unsigned int value) const {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<ReadAheadTask>(
            Session::TaskCategorySession, client.GetStackId(), "HTTPClient::SetReportedReadAhead",
            guard_, &HTTPClient::SetReportedReadAhead, value));
    });
}

bool HTTPClientOutOfBandDataHandler::operator()(const signed char* data, unsigned int size) const {
    if (size == 0) return true;
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        MemoryChunk chunk(size, kReceivedChunkRoom, kReceivedChunkRoom);
        std::memcpy(chunk.Data(), data, size);
        queue.AddTask(
            boost::make_shared<HTTPClientOutOfBandDataTask>(guard_, client.GetStackId(), chunk));
    });
    return true;
}

void HTTPClientOutOfBandDoneHandler::operator()(bool) const {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<OutOfBandDoneTask>(
            Session::TaskCategorySession, client.GetStackId(), "HTTPClient::OutOfBandDone", guard_,
            &HTTPClient::ReleaseOutOfBandTransportOf, request_));
    });
}

void HTTPClientTransportErrors::SetError(SVStatus status, std::string text) {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<StatusTask>(
            Session::TaskCategoryDownload, client.GetStackId(), "HTTPClient::TransportError",
            guard_, &HTTPClient::TransportError, status, text));
    });
}

void HTTPClientTransportErrors::SetWarning(SVStatus status, std::string text) {
    WithClient(queue_, guard_, [&](TaskManager& queue, HTTPClient& client) {
        queue.AddTask(boost::make_shared<StatusTask>(
            Session::TaskCategorySession, client.GetStackId(), "HTTPClient::SetWarning", guard_,
            &HTTPClient::SetWarningInTask, status, text));
    });
}

HTTPClientSetEndPositionTask::HTTPClientSetEndPositionTask(
    const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId, uint64_t end)
    : Task(Session::TaskCategorySession, stackId, "HTTPClientSetEndPositionTask"),
      guard_(guard),
      end_(end) {}

bool HTTPClientSetEndPositionTask::Execute() {
    if (HTTPClient* client = guard_->Client()) client->SetEndPosition(end_);
    return false;
}

HTTPClientDataTask::HTTPClientDataTask(const boost::shared_ptr<HTTPClientGuard>& guard,
                                       StackId stackId, const MemoryChunk& chunk,
                                       const boost::shared_ptr<std::atomic<uint64_t>>& queued)
    : Task(Session::TaskCategoryDownload, stackId, "HTTPClientDataTask"),
      guard_(guard),
      chunk_(chunk),
      queued_(queued) {
    if (queued_) queued_->fetch_add(chunk_.Size());
}

HTTPClientDataTask::~HTTPClientDataTask() { Unqueue(); }

void HTTPClientDataTask::Unqueue() {
    if (!queued_) return;
    queued_->fetch_sub(chunk_.Size());
    queued_.reset();
}

bool HTTPClientDataTask::Execute() {
    // Counted no longer before the client takes the bytes: the allowance it grants after
    // them sees them in its cache, not twice.
    Unqueue();
    if (HTTPClient* client = guard_->Client()) client->Add(chunk_);
    return false;
}

ByteAmount HTTPClientDataTask::PendingDataSize() const { return ByteAmount(chunk_.Size()); }

HTTPClientOutOfBandDataTask::HTTPClientOutOfBandDataTask(
    const boost::shared_ptr<HTTPClientGuard>& guard, StackId stackId, const MemoryChunk& chunk)
    : Task(Session::TaskCategorySession, stackId, "HTTPClient::OutOfBandData"),
      guard_(guard),
      chunk_(chunk) {}

bool HTTPClientOutOfBandDataTask::Execute() {
    if (HTTPClient* client = guard_->Client()) client->DeliverOutOfBandData(chunk_);
    return false;
}

}  // namespace SarvelonMediaKit
