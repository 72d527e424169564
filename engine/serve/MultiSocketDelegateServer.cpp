#include "engine/serve/MultiSocketDelegateServer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/ConnectionSlot.h"
#include "engine/serve/ListeningPort.h"
#include "engine/core/SocketMaster.h"

namespace SarvelonMediaKit {

const int MultiSocketDelegateServer::kMaxServingConnections;
const int MultiSocketDelegateServer::kFullLookMilliseconds;
const uint32_t MultiSocketDelegateServer::kDefaultFirstRequestMilliseconds;

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
    if (*serving_ >= kMaxServingConnections && !CutLongestIdle()) {
        // No place may be given up: the newcomer waits in the backlog, and the
        // socket, still readable, brings us back here after a pause (the master dispatches
        // nothing else of ours meanwhile, and a stop waits for the pause at most).
        std::this_thread::sleep_for(std::chrono::milliseconds(kFullLookMilliseconds));
        return;
    }
    SV::PilSocketHolder accepted;
    // A failure throws; the master carries on and the connection stays queued.
    accepted.Accept(GetSessionDescriptor());
    SV::PilSocketHolder::SetSocketNoSigPipe(accepted.fd);
    SocketDelegate* delegate =
        factory_ ? factory_(GetSocketMaster(), GetComponent(), accepted) : nullptr;
    // Refused: the connection is closed with the holder.
    if (delegate == nullptr) return;
    boost::shared_ptr<ConnectionSlot> slot(new ConnectionSlot(serving_));
    // A server that never reaches the cap would otherwise keep an entry for every connection it
    // ever took.
    if (slots_.size() >= 2 * static_cast<size_t>(kMaxServingConnections)) ForgetEndedSlots();
    slots_.push_back(slot);
    trackedSlots_ = slots_.size();
    delegate->HoldConnectionSlot(slot);
    delegate->SessionSocketOpen();
}

void MultiSocketDelegateServer::ForgetEndedSlots() {
    slots_.erase(
        std::remove_if(slots_.begin(), slots_.end(),
                       [](const boost::weak_ptr<ConnectionSlot>& slot) { return slot.expired(); }),
        slots_.end());
    trackedSlots_ = slots_.size();
}

bool MultiSocketDelegateServer::CutLongestIdle() {
    // Each idle time is read once: the connections' own threads move them while we look, and a
    // sort whose keys change under it may step outside the list.
    ForgetEndedSlots();
    const uint64_t firstRequest = firstRequestMilliseconds_;
    std::vector<std::pair<uint64_t, boost::shared_ptr<ConnectionSlot>>> idle;
    for (const boost::weak_ptr<ConnectionSlot>& entry : slots_) {
        boost::shared_ptr<ConnectionSlot> slot = entry.lock();
        if (!slot || slot->IsBusy()) continue;
        // Both only ever turn true, so a connection found here stays one that may be cut.
        if (slot->WasAnswered() || slot->OpenMilliseconds() >= firstRequest) {
            idle.emplace_back(slot->IdleSince(), slot);
        }
    }
    std::sort(idle.begin(), idle.end(),
              [](const std::pair<uint64_t, boost::shared_ptr<ConnectionSlot>>& a,
                 const std::pair<uint64_t, boost::shared_ptr<ConnectionSlot>>& b) {
                  return a.first < b.first;
              });
    // One may have taken a request (or been cut already) since we looked: the cut checks again
    // and the next one is tried.
    for (const auto& entry : idle) {
        if (entry.second->CutIfIdle()) {
            DebugPrint(
                "MultiSocketDelegateServer: at the cap, the longest idle connection is cut\n");
            return true;
        }
    }
    return false;
}

}  // namespace SarvelonMediaKit
