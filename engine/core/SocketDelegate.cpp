#include "engine/core/SocketDelegate.h"

#include <boost/make_shared.hpp>

#include <errno.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/Component.h"
#include "engine/core/Task.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

namespace {

// One read takes at most this much; a larger burst arrives over several passes.
const uint32_t kReceiveBytes = 10000;
const uint32_t kTaskCategory = 8;

typedef TaskTemplate0<SocketDelegate*, void (SocketDelegate::*)()> HookTask;
typedef TaskTemplate1<SocketDelegate*, void (SocketDelegate::*)(MemoryChunk), MemoryChunk> DataTask;

}  // namespace

SocketDelegate::SocketDelegate(SocketMaster* master, Component* component)
    : socketMaster_(master), component_(component), announced_(false) {
    if (master != nullptr) master->RegisterDelegate(this);
}

SocketDelegate::~SocketDelegate() {
    Detach();
    boost::shared_ptr<void> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        sessionSocket_.Close();
        slot.swap(connectionSlot_);
    }
}

void SocketDelegate::Detach() {
    SocketMaster* master = socketMaster_.exchange(nullptr);
    if (master == nullptr) return;
    // Waits for a dispatch to us that is running on the master's thread.
    master->RemoveSocket(GetSessionDescriptor());
    master->UnregisterDelegate(this);
}

void SocketDelegate::DoSocketReadable(int /*fd*/) {
    const int fd = GetSessionDescriptor();
    if (fd < 0) return;
    MemoryChunk chunk = component_ != nullptr ? component_->CreateMemoryChunk(kReceiveBytes, 0, 0)
                                              : MemoryChunk(kReceiveBytes, 0, 0);
    // Never blocks the master's thread, even on a readiness that has passed.
    const ssize_t received = recv(fd, chunk.Data(), kReceiveBytes, MSG_DONTWAIT);
    if (received > 0) {
        chunk.SetSize(static_cast<uint32_t>(received));
        ProcessSessionData(chunk);
        return;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // The peer has closed its end, or the connection failed.
    SessionSocketClosed();
}

void SocketDelegate::DoSessionSocketOpen() {}

void SocketDelegate::DoProcessSessionData(MemoryChunk /*chunk*/) {}

void SocketDelegate::DoSessionSocketClosed() {}

void SocketDelegate::SetSocketMaster(SocketMaster* master) {
    int fd = -1;
    bool announced = false;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        fd = sessionSocket_.fd;
        announced = announced_;
    }
    SocketMaster* previous = socketMaster_.exchange(nullptr);
    if (previous != nullptr) {
        previous->RemoveSocket(fd);
        previous->UnregisterDelegate(this);
    }
    socketMaster_ = master;
    if (master != nullptr) {
        master->RegisterDelegate(this);
        // A connection handed over but not announced yet is watched from SessionSocketOpen:
        // read now, its data could be queued ahead of its open task, and the master's thread
        // would read through a chain its maker is still setting up.
        if (announced) master->AddSocket(fd, this);  // nothing when the socket is not open
    }
}

void SocketDelegate::SwapSocket(SV::PilSocketHolder& holder) {
    std::lock_guard<std::mutex> lock(socketLock_);
    sessionSocket_.Swap(holder);
    announced_ = false;
}

void SocketDelegate::SessionSocketOpen() {
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        announced_ = true;
    }
    SocketMaster* master = socketMaster_;
    if (master == nullptr) return;
    // Queued before the socket is watched, so the open task runs before any data task.
    master->PostTask(boost::make_shared<HookTask>(kTaskCategory, StackIdServing,
                                                  "SocketDelegate::SessionSocketOpen", this,
                                                  &SocketDelegate::DoSessionSocketOpen));
    master->AddSocket(GetSessionDescriptor(), this);
}

void SocketDelegate::ProcessSessionData(const MemoryChunk& chunk) {
    SocketMaster* master = socketMaster_;
    if (master == nullptr) return;
    master->PostTask(boost::make_shared<DataTask>(kTaskCategory, StackIdServing,
                                                  "SocketDelegate::ProcessSessionData", this,
                                                  &SocketDelegate::DoProcessSessionData, chunk));
}

void SocketDelegate::SessionSocketClosed() {
    const int fd = GetSessionDescriptor();
    if (fd < 0) return;
    SocketMaster* master = socketMaster_;
    // Taken off the master first: this waits for a dispatch that may be reading the socket.
    if (master != nullptr) master->RemoveSocket(fd);
    bool closedHere = false;
    boost::shared_ptr<void> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        // Another thread may have closed it meanwhile; only one of us reports it.
        if (sessionSocket_.fd == fd) {
            sessionSocket_.Close();
            slot.swap(connectionSlot_);
            closedHere = true;
        }
    }
    slot.reset();
    if (!closedHere || master == nullptr) return;
    master->PostTask(boost::make_shared<HookTask>(kTaskCategory, StackIdServing,
                                                  "SocketDelegate::SessionSocketClosed", this,
                                                  &SocketDelegate::DoSessionSocketClosed));
}

void SocketDelegate::CloseSessionSocket() {
    if (GetSessionDescriptor() >= 0) SessionSocketClosed();
}

int SocketDelegate::GetSessionDescriptor() const {
    std::lock_guard<std::mutex> lock(socketLock_);
    return sessionSocket_.fd;
}

void SocketDelegate::HoldConnectionSlot(const boost::shared_ptr<void>& slot) {
    boost::shared_ptr<void> unused;
    std::lock_guard<std::mutex> lock(socketLock_);
    // A connection that has already ended gives its slot back at once (outside the lock).
    if (sessionSocket_.fd >= 0) {
        unused.swap(connectionSlot_);
        connectionSlot_ = slot;
    } else {
        unused = slot;
    }
}

}  // namespace SarvelonMediaKit
