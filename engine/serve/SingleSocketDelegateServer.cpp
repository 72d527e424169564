#include "engine/serve/SingleSocketDelegateServer.h"

#include <cstdio>

#include "engine/serve/ListeningPort.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

SingleSocketDelegateServer::SingleSocketDelegateServer(SocketMaster* master, Component* component)
    : SocketDelegate(master, component) {
    listenSocket_.reuseAddress = false;
}

SingleSocketDelegateServer::~SingleSocketDelegateServer() {
    int listenFd = -1;
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        listenFd = listenSocket_.fd;
    }
    if (SocketMaster* master = GetSocketMaster()) master->RemoveSocket(listenFd);
    Detach();
    std::lock_guard<std::mutex> lock(SocketLock());
    waitingSocket_.Close();
    listenSocket_.Close();
}

void SingleSocketDelegateServer::Listen(uint16_t port, uint32_t address) {
    SocketMaster* master = GetSocketMaster();
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        fd = listenSocket_.fd;
    }
    if (fd >= 0 && master != nullptr) master->RemoveSocket(fd);
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        listenSocket_.Listen(port, address);
        fd = listenSocket_.fd;
    }
    if (master != nullptr) master->AddSocket(fd, this);
}

uint16_t SingleSocketDelegateServer::GetListeningPort() const {
    std::lock_guard<std::mutex> lock(SocketLock());
    return LocalPortOf(listenSocket_.fd);
}

bool SingleSocketDelegateServer::DoStopListeningAfterAccept() { return true; }

void SingleSocketDelegateServer::DoSocketReadable(int fd) {
    enum { kIgnored, kRead, kIntoSession, kIntoWaiting, kRefused } action = kIgnored;
    int activeFd = -1;
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        if (fd >= 0 && fd == listenSocket_.fd) {
            // Accept throws on failure; the master carries on.
            if (SessionSocket().fd < 0) {
                SessionSocket().Accept(fd);
                SV::PilSocketHolder::SetSocketNoSigPipe(SessionSocket().fd);
                action = kIntoSession;
            } else if (waitingSocket_.fd < 0) {
                waitingSocket_.Accept(fd);
                SV::PilSocketHolder::SetSocketNoSigPipe(waitingSocket_.fd);
                action = kIntoWaiting;
            } else {
                activeFd = SessionSocket().fd;
                action = kRefused;
            }
        } else if (fd >= 0 && fd == SessionSocket().fd) {
            action = kRead;
        }
    }

    switch (action) {
        case kIgnored: return;
        case kRead: SocketDelegate::DoSocketReadable(fd); return;
        case kRefused: {
            fprintf(stderr, "Rejecting connection%d\n", activeFd);
            SV::PilSocketHolder refused;
            refused.Accept(fd);
            refused.Close();
            break;
        }
        case kIntoSession: SessionSocketOpen(); break;
        case kIntoWaiting:
            // Neither watched nor announced until it becomes the session socket.
            break;
    }

    if (DoStopListeningAfterAccept()) {
        if (SocketMaster* master = GetSocketMaster()) master->RemoveSocket(fd);
        std::lock_guard<std::mutex> lock(SocketLock());
        if (listenSocket_.fd == fd) listenSocket_.Close();
    }
}

void SingleSocketDelegateServer::DoSessionSocketClosed() {
    SocketDelegate::DoSessionSocketClosed();
    int promoted = -1;
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        if (waitingSocket_.fd >= 0 && SessionSocket().fd < 0) {
            SessionSocket().Swap(waitingSocket_);
            promoted = SessionSocket().fd;
        }
    }
    if (promoted < 0) return;
    // The promoted connection is watched like the first one, or nothing would ever be read
    // from it. We already run on the task queue: its open hook runs right here, before any of
    // its data tasks.
    DoSessionSocketOpen();
    if (SocketMaster* master = GetSocketMaster()) master->AddSocket(promoted, this);
}

}  // namespace SarvelonMediaKit
