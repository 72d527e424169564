#include "engine/serve/HTTPServer.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "engine/core/Session.h"

namespace SarvelonMediaKit {

const int HTTPServer::kSendTimeoutSeconds;
const size_t HTTPServer::kMaxDrainBytes;

HTTPServer::HTTPServer(Session* session)
    : HTTPServerInternal(session),
      SingleSocketDelegateServer(session, this),
      timeoutSetOn_(-1),
      draining_(false),
      drained_(0) {}

HTTPServer::~HTTPServer() {
    // The master must not read for us while we go.
    Detach();
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

bool HTTPServer::SendToPeer(const void* bytes, size_t size) {
    // The socket stays ours while we write: a close on the master's thread waits, so the bytes
    // never reach a descriptor number that was closed and given to another connection.
    std::lock_guard<std::mutex> lock(SocketLock());
    const int fd = SessionSocket().fd;
    if (fd < 0 || draining_) return false;
    if (fd != timeoutSetOn_) {
        timeval timeout = {kSendTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        timeoutSetOn_ = fd;
    }
    const char* next = static_cast<const char*>(bytes);
    size_t left = size;
    while (left > 0) {
        const ssize_t sent = send(fd, next, left, MSG_NOSIGNAL);
        if (sent > 0) {
            next += sent;
            left -= static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return false;  // failed, or no progress within the time-out
        }
    }
    return true;
}

void HTTPServer::CloseConnection() {
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        const int fd = SessionSocket().fd;
        if (fd >= 0 && !draining_) {
            draining_ = true;
            // Our end is finished; the peer closes its own once it has read everything.
            if (shutdown(fd, SHUT_WR) == 0) return;
        }
    }
    CloseSessionSocket();
}

}  // namespace SarvelonMediaKit
