#include "engine/serve/HTTPServer.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "engine/core/Pump.h"
#include "engine/core/Session.h"

namespace SarvelonMediaKit {

const int HTTPServer::kSendTimeoutSeconds;
const size_t HTTPServer::kMaxDrainBytes;
const uint32_t HTTPServer::kDefaultDrainMilliseconds;
const uint32_t HTTPServer::kDefaultIdleMilliseconds;
const uint32_t HTTPServer::kDefaultHeadMilliseconds;

namespace {

// Deadlines are spans, so they are read on a clock that is never set back.
SV::PilTime MonotonicNow() {
    return SV::PilTime(
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count()));
}

}  // namespace

HTTPServer::HTTPServer(Session* session)
    : HTTPServerInternal(session),
      SingleSocketDelegateServer(session, this),
      draining_(false),
      drained_(0),
      drainSince_(0),
      idle_(false),
      idleSince_(0),
      idleSerial_(0),
      heading_(false),
      headSince_(0),
      headSerial_(0),
      drainMilliseconds_(kDefaultDrainMilliseconds),
      idleMilliseconds_(kDefaultIdleMilliseconds),
      headMilliseconds_(kDefaultHeadMilliseconds),
      clock_(&MonotonicNow) {}

HTTPServer::~HTTPServer() {
    // The master must not read for us while we go.
    Detach();
}

void HTTPServer::SetClock(const TaskManager::Clock& clock) {
    clock_ = clock ? clock : TaskManager::Clock(&MonotonicNow);
}

void HTTPServer::DeliverRequestData(MemoryChunk chunk) {
    if (draining_) {
        drained_ += chunk.Size();
        if (drained_ > kMaxDrainBytes) CloseSessionSocket();
        return;
    }
    HandleRequestData(chunk);
}

void HTTPServer::DoProcessSessionData(MemoryChunk chunk) { DeliverRequestData(chunk); }

void HTTPServer::DoSessionSocketClosed() {
    // The peer went (or we cut the connection): nothing is served on it any more. A waiting
    // connection is not taken up: a server of ours serves the one connection it was given.
    Close();
}

void HTTPServer::DoStop() {
    Close();
    CloseSessionSocket();
    Detach();
}

void HTTPServer::DoTick() {
    HTTPServerInternal::DoTick();
    if (GetSessionDescriptor() < 0) return;
    const SV::PilTime now = clock_();
    if (draining_) {
        const int64_t waited = now - drainSince_;
        if (waited < 0) {
            drainSince_ = now;  // a clock set back restarts the wait rather than lengthen it
        } else if (waited >= static_cast<int64_t>(drainMilliseconds_)) {
            // The peer has had its last response and its time to close: the slot is needed.
            CloseSessionSocket();
            return;
        }
        // What the peer still sends or its close comes as a post: only the end of the drain
        // time needs a pass of its own.
        Pump::NoteIdleUntil(static_cast<int64_t>(drainMilliseconds_) - (now - drainSince_));
        return;
    }
    // A request in progress (waiting for its resource, or sending) is never idle; its sends
    // have their own time-out.
    if (GetResponseState() != ResponseIdle) {
        idle_ = false;
        heading_ = false;
        return;
    }
    if (!HasPartialHead()) {
        heading_ = false;
    } else if (!heading_ || headSerial_ != GetResponseSerial() || now < headSince_) {
        // The head began since the last tick (a request answered in between began another).
        heading_ = true;
        headSerial_ = GetResponseSerial();
        headSince_ = now;
    } else if (now - headSince_ >= static_cast<int64_t>(headMilliseconds_)) {
        // Too slow to be a player: the slot goes to someone else.
        Close();
        CloseSessionSocket();
        return;
    }
    // A response that came and went between two ticks is activity too.
    if (!idle_ || idleSerial_ != GetResponseSerial() || now < idleSince_) {
        idle_ = true;
        idleSerial_ = GetResponseSerial();
        idleSince_ = now;
    } else if (now - idleSince_ >= static_cast<int64_t>(idleMilliseconds_)) {
        // Nothing is owed to the peer: the connection is cut outright.
        Close();
        CloseSessionSocket();
        return;
    }
    // The next request (or the rest of its head) comes as a post: until then the pump need
    // only come round when the idle or the head time runs out, not every interval.
    int64_t due = static_cast<int64_t>(idleMilliseconds_) - (now - idleSince_);
    if (heading_) {
        due = std::min(due, static_cast<int64_t>(headMilliseconds_) - (now - headSince_));
    }
    Pump::NoteIdleUntil(due);
}

bool HTTPServer::SendToPeer(const void* bytes, size_t size) {
    iovec piece = {const_cast<void*>(bytes), size};
    return SendPiecesToPeer(&piece, 1);
}

bool HTTPServer::SendPiecesToPeer(const iovec* pieces, size_t count) {
    if (draining_) return false;
    bool firstUse = false;
    const int fd = TakeSessionDescriptor(&firstUse);
    if (fd < 0) return false;
    if (firstUse) {
        // The time-out belongs to the socket: set once, it holds every send of the connection.
        timeval timeout = {kSendTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    // Most sends take everything at once, straight from the caller's pieces; only a send that
    // stops inside a piece copies what is left, once, and goes on from its copy.
    const iovec* next = pieces;
    size_t left = count;
    std::vector<iovec> rest;
    bool complete = true;
    for (;;) {
        while (left > 0 && next->iov_len == 0) {
            ++next;
            --left;
        }
        if (left == 0) break;
        msghdr message = {};
        message.msg_iov = const_cast<iovec*>(next);
        message.msg_iovlen = left;
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            complete = false;  // failed, or no progress within the time-out
            break;
        }
        // Past the pieces sent whole, into the one sent in part.
        size_t done = static_cast<size_t>(sent);
        while (left > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (done == 0) continue;
        if (rest.empty()) {
            rest.assign(next, next + left);
            next = rest.data();
        }
        iovec& partial = rest[static_cast<size_t>(next - rest.data())];
        partial.iov_base = static_cast<char*>(partial.iov_base) + done;
        partial.iov_len -= done;
    }
    GiveBackSessionDescriptor(fd);
    return complete;
}

void HTTPServer::DoRequestInProgress(bool inProgress) { SetRequestInProgress(inProgress); }

bool HTTPServer::HoldsHeadUntilPassEnd() const {
    if (session_ == nullptr) return false;
    const boost::shared_ptr<Pump> pump = session_->GetPump();
    return pump && Pump::CurrentPass() == pump.get();
}

void HTTPServer::CloseConnection() {
    const SV::PilTime now = clock_();
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        const int fd = SessionSocket().fd;
        if (fd >= 0 && !draining_) {
            draining_ = true;
            drainSince_ = now;
            // Our end is finished; the peer closes its own once it has read everything.
            if (shutdown(fd, SHUT_WR) == 0) return;
        }
    }
    CloseSessionSocket();
}

}  // namespace SarvelonMediaKit
