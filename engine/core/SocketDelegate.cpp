#include "engine/core/SocketDelegate.h"

#include <boost/make_shared.hpp>

#include <errno.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/Component.h"
#include "engine/core/ConnectionSlot.h"
#include "engine/core/Task.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

namespace {

// One read takes at most this much; a larger burst arrives over several passes.
const uint32_t kReceiveBytes = 10000;
const uint32_t kTaskCategory = 8;

typedef TaskTemplate0<SocketDelegate*, void (SocketDelegate::*)()> HookTask;
typedef TaskTemplate2<SocketDelegate*,
                      void (SocketDelegate::*)(MemoryChunk, boost::shared_ptr<void>), MemoryChunk,
                      boost::shared_ptr<void>>
    DataTask;

}  // namespace

SocketDelegate::SocketDelegate(SocketMaster* master, Component* component)
    : socketMaster_(master),
      component_(component),
      announced_(false),
      descriptorUsers_(0),
      closeWhenGivenBack_(-1),
      taken_(false) {
    if (master != nullptr) master->RegisterDelegate(this);
}

SocketDelegate::~SocketDelegate() {
    Detach();
    boost::shared_ptr<ConnectionSlot> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        CloseSessionSocketLocked(&slot);
        // No send can still hold it: they run on the session's queue, which is over by now.
        if (closeWhenGivenBack_ >= 0) close(closeWhenGivenBack_);
        closeWhenGivenBack_ = -1;
    }
}

void SocketDelegate::CloseSessionSocketLocked(boost::shared_ptr<ConnectionSlot>* slot) {
    if (connectionSlot_) connectionSlot_->Attach(-1);  // before its number can be reused
    slot->swap(connectionSlot_);
    taken_ = false;
    if (sessionSocket_.fd < 0) return;
    if (descriptorUsers_ > 0) {
        // A send is writing to it: the socket is gone for everyone else, and the last send
        // closes it.
        closeWhenGivenBack_ = sessionSocket_.fd;
        sessionSocket_.fd = -1;
    } else {
        sessionSocket_.Close();
    }
}

int SocketDelegate::TakeSessionDescriptor(bool* firstUse) {
    std::lock_guard<std::mutex> lock(socketLock_);
    if (sessionSocket_.fd < 0) return -1;
    *firstUse = !taken_;
    taken_ = true;
    ++descriptorUsers_;
    return sessionSocket_.fd;
}

void SocketDelegate::GiveBackSessionDescriptor(int fd) {
    std::lock_guard<std::mutex> lock(socketLock_);
    if (descriptorUsers_ > 0) --descriptorUsers_;
    if (descriptorUsers_ == 0 && closeWhenGivenBack_ >= 0 && closeWhenGivenBack_ == fd) {
        close(closeWhenGivenBack_);
        closeWhenGivenBack_ = -1;
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
    int fd = -1;
    boost::shared_ptr<ConnectionSlot> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        fd = sessionSocket_.fd;
        slot = connectionSlot_;
    }
    if (fd < 0) return;
    // Until its task has handed them on, the bytes keep the connection from counting as idle.
    const boost::shared_ptr<void> unread = ConnectionSlot::MarkUnread(slot);
    MemoryChunk chunk = component_ != nullptr ? component_->CreateMemoryChunk(kReceiveBytes, 0, 0)
                                              : MemoryChunk(kReceiveBytes, 0, 0);
    // Never blocks the master's thread, even on a readiness that has passed.
    const ssize_t received = recv(fd, chunk.Data(), kReceiveBytes, MSG_DONTWAIT);
    if (received > 0) {
        chunk.SetSize(static_cast<uint32_t>(received));
        PostSessionData(chunk, unread);
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
    taken_ = false;
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
    PostSessionData(chunk, boost::shared_ptr<void>());
}

void SocketDelegate::PostSessionData(const MemoryChunk& chunk,
                                     const boost::shared_ptr<void>& unread) {
    SocketMaster* master = socketMaster_;
    if (master == nullptr) return;
    master->PostTask(boost::make_shared<DataTask>(kTaskCategory, StackIdServing,
                                                  "SocketDelegate::ProcessSessionData", this,
                                                  &SocketDelegate::TakeSessionData, chunk, unread));
}

void SocketDelegate::TakeSessionData(MemoryChunk chunk, boost::shared_ptr<void> /*unread*/) {
    // The mark goes with the task, once the bytes are the protocol's.
    DoProcessSessionData(chunk);
}

void SocketDelegate::SessionSocketClosed() {
    const int fd = GetSessionDescriptor();
    if (fd < 0) return;
    SocketMaster* master = socketMaster_;
    // Taken off the master first: this waits for a dispatch that may be reading the socket.
    if (master != nullptr) master->RemoveSocket(fd);
    bool closedHere = false;
    boost::shared_ptr<ConnectionSlot> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        // Another thread may have closed it meanwhile; only one of us reports it.
        if (sessionSocket_.fd == fd) {
            CloseSessionSocketLocked(&slot);
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

void SocketDelegate::HoldConnectionSlot(const boost::shared_ptr<ConnectionSlot>& slot) {
    boost::shared_ptr<ConnectionSlot> unused;
    std::lock_guard<std::mutex> lock(socketLock_);
    // A connection that has already ended gives its slot back at once (outside the lock).
    if (sessionSocket_.fd >= 0 && slot) {
        unused.swap(connectionSlot_);
        if (unused) unused->Attach(-1);
        connectionSlot_ = slot;
        connectionSlot_->Attach(sessionSocket_.fd);
    } else {
        unused = slot;
    }
}

void SocketDelegate::SetRequestInProgress(bool inProgress) {
    boost::shared_ptr<ConnectionSlot> slot;
    {
        std::lock_guard<std::mutex> lock(socketLock_);
        slot = connectionSlot_;
    }
    if (slot) slot->SetBusy(inProgress);
}

}  // namespace SarvelonMediaKit
