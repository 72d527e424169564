#include "engine/serve/MultiSocketDelegateServer.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/serve/ListeningPort.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

namespace {

// Counts one open connection for as long as it exists.
class ServingSlot {
public:
    explicit ServingSlot(const boost::shared_ptr<std::atomic<int>>& count) : count_(count) {
        ++*count_;
    }
    ~ServingSlot() { --*count_; }

    ServingSlot(const ServingSlot&) = delete;
    ServingSlot& operator=(const ServingSlot&) = delete;

private:
    boost::shared_ptr<std::atomic<int>> count_;
};

}  // namespace

const int MultiSocketDelegateServer::kMaxServingConnections;

MultiSocketDelegateServer::MultiSocketDelegateServer(SocketMaster* master, Component* component,
                                                     const SocketFactory& factory)
    : SocketDelegate(master, component), factory_(factory), serving_(new std::atomic<int>(0)) {}

MultiSocketDelegateServer::~MultiSocketDelegateServer() {
    // The master must not accept for us while the factory goes.
    Detach();
}

void MultiSocketDelegateServer::Listen(uint16_t port, uint32_t address) {
    SocketMaster* master = GetSocketMaster();
    const int previous = GetSessionDescriptor();
    if (previous >= 0 && master != nullptr) master->RemoveSocket(previous);
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(SocketLock());
        SessionSocket().Listen(port, address);
        fd = SessionSocket().fd;
    }
    // No open task for a listening socket.
    if (master != nullptr) master->AddSocket(fd, this);
}

uint16_t MultiSocketDelegateServer::GetListeningPort() const {
    return LocalPortOf(GetSessionDescriptor());
}

void MultiSocketDelegateServer::DoSocketReadable(int /*fd*/) {
    SV::PilSocketHolder accepted;
    // A failure throws; the master carries on and the connection stays queued.
    accepted.Accept(GetSessionDescriptor());
    SV::PilSocketHolder::SetSocketNoSigPipe(accepted.fd);
    if (*serving_ >= kMaxServingConnections) {
        DebugPrint("MultiSocketDelegateServer: %d connections served, closing a new one\n",
                   kMaxServingConnections);
        return;  // the holder closes it
    }
    SocketDelegate* delegate =
        factory_ ? factory_(GetSocketMaster(), GetComponent(), accepted) : nullptr;
    // Refused: the connection is closed with the holder.
    if (delegate == nullptr) return;
    delegate->HoldConnectionSlot(boost::shared_ptr<void>(new ServingSlot(serving_)));
    delegate->SessionSocketOpen();
}

}  // namespace SarvelonMediaKit
