#include "engine/serve/MultiSocketDelegateServer.h"

#include <errno.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/core/ConnectionSlot.h"
#include "engine/core/SocketMaster.h"
#include "engine/serve/HTTPRequestReader.h"
#include "engine/serve/HTTPServerInternal.h"
#include "engine/serve/ListeningPort.h"

namespace SarvelonMediaKit {

const int MultiSocketDelegateServer::kMaxServingConnections;
const int MultiSocketDelegateServer::kMaxWaitingConnections;
const int MultiSocketDelegateServer::kFullLookMilliseconds;
const uint32_t MultiSocketDelegateServer::kDefaultFirstRequestMilliseconds;

namespace {

// Connections taken from the listening socket in one look; the rest wait for the next pass, so
// the master also gets to the sockets it watches besides.
const int kAcceptsPerLook = 64;

// Spans are read on a clock that is never set back.
SV::PilTime FrontMonotonicNow() {
    return SV::PilTime(
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count()));
}

// The waiting connections may take a quarter of the descriptors the process may open.
int WaitingBound() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return MultiSocketDelegateServer::kMaxWaitingConnections;
    }
    const rlim_t quarter = limit.rlim_cur / 4;
    if (quarter < 1) return 1;
    return quarter < rlim_t(MultiSocketDelegateServer::kMaxWaitingConnections)
               ? static_cast<int>(quarter)
               : MultiSocketDelegateServer::kMaxWaitingConnections;
}

// A whole head among the bytes, after the line ends a server tolerates before a request.
bool HoldsWholeHead(const char* data, size_t size) {
    size_t blank = 0;
    while (blank < size && (data[blank] == '\r' || data[blank] == '\n')) ++blank;
    return blank < size && HTTPRequestReader::FindHeadEnd(data + blank, size - blank) > 0;
}

// Readiness is told only once at least this many bytes are there (or the peer has gone).
void SetReadyAt(int fd, size_t bytes) {
    const int value = static_cast<int>(bytes);
    setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value);
}

}  // namespace

MultiSocketDelegateServer::MultiSocketDelegateServer(SocketMaster* master, Component* component,
                                                     const SocketFactory& factory)
    : SocketDelegate(master, component),
      factory_(factory),
      clock_(&FrontMonotonicNow),
      serving_(new std::atomic<int>(0)),
      maxWaiting_(WaitingBound()),
      wholeWaiting_(0),
      listeningPaused_(false),
      lookTimer_(-1),
      lookArmed_(false),
      peek_(HTTPServerInternal::kMaxHeadBytes) {}

MultiSocketDelegateServer::~MultiSocketDelegateServer() {
    // The master must not accept for us while the factory goes; it forgets our other sockets
    // with us.
    Detach();
    for (const Waiting& entry : waiting_) close(entry.fd);
    if (lookTimer_ >= 0) close(lookTimer_);
}

void MultiSocketDelegateServer::SetClock(const TaskManager::Clock& clock) {
    clock_ = clock ? clock : TaskManager::Clock(&FrontMonotonicNow);
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
    listeningPaused_ = false;
    if (lookTimer_ < 0) lookTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    // No open task for a listening socket.
    if (master != nullptr) {
        master->AddSocket(fd, this);
        master->AddSocket(lookTimer_, this);
    }
}

uint16_t MultiSocketDelegateServer::GetListeningPort() const {
    return LocalPortOf(GetSessionDescriptor());
}

void MultiSocketDelegateServer::DoSocketReadable(int fd) {
    if (fd == lookTimer_) {
        LookAgain();
    } else if (fd == GetSessionDescriptor()) {
        AcceptQueued();
    } else {
        Examine(fd);
    }
    if (wholeWaiting_ > 0) HandOutWhole();
}

void MultiSocketDelegateServer::LookAgainLater() {
    if (lookArmed_ || lookTimer_ < 0) return;
    struct itimerspec when = {};
    when.it_value.tv_nsec = static_cast<long>(kFullLookMilliseconds) * 1000000L;
    lookArmed_ = timerfd_settime(lookTimer_, 0, &when, nullptr) == 0;
}

void MultiSocketDelegateServer::LookAgain() {
    uint64_t expirations = 0;
    if (read(lookTimer_, &expirations, sizeof expirations) < 0 && errno == EAGAIN) return;
    lookArmed_ = false;
    if (listeningPaused_) {
        listeningPaused_ = false;
        if (SocketMaster* master = GetSocketMaster()) {
            master->AddSocket(GetSessionDescriptor(), this);
        }
        AcceptQueued();
    }
}

void MultiSocketDelegateServer::AcceptQueued() {
    const int listening = GetSessionDescriptor();
    if (listening < 0 || listeningPaused_) return;
    for (int taken = 0; taken < kAcceptsPerLook; ++taken) {
        pollfd queued = {listening, POLLIN, 0};
        if (poll(&queued, 1, 0) != 1 || (queued.revents & POLLIN) == 0) return;
        if (static_cast<int>(waiting_.size()) >= maxWaiting_ && !DropLongestWaiting()) {
            // Left queued until a waiting connection has had its time: the socket stays ready
            // meanwhile, so it is not watched until the next look.
            if (SocketMaster* master = GetSocketMaster()) master->RemoveSocket(listening);
            listeningPaused_ = true;
            LookAgainLater();
            return;
        }
        SV::PilSocketHolder accepted;
        // A failure throws; the master carries on and the connection stays queued.
        accepted.Accept(listening);
        SV::PilSocketHolder::SetSocketNoSigPipe(accepted.fd);
        const Waiting entry = {accepted.fd, clock_(), 0, false};
        accepted.fd = -1;  // ours now
        waiting_.push_back(entry);
        waitingCount_ = static_cast<int>(waiting_.size());
        if (SocketMaster* master = GetSocketMaster()) master->AddSocket(entry.fd, this);
        // A player's request has usually come with its connection.
        Examine(entry.fd);
    }
}

bool MultiSocketDelegateServer::DropLongestWaiting() {
    const SV::PilTime now = clock_();
    const int64_t firstRequest = firstRequestMilliseconds_;
    // In the order they were taken: the first one without a whole head has waited longest.
    for (std::deque<Waiting>::iterator entry = waiting_.begin(); entry != waiting_.end(); ++entry) {
        if (entry->whole) continue;
        if (now - entry->since < firstRequest) return false;
        DebugPrint("MultiSocketDelegateServer: no whole request in time, a newcomer takes over\n");
        Forget(entry, true);
        return true;
    }
    return false;
}

void MultiSocketDelegateServer::Examine(int fd) {
    std::deque<Waiting>::iterator entry = std::find_if(
        waiting_.begin(), waiting_.end(), [fd](const Waiting& w) { return w.fd == fd; });
    if (entry == waiting_.end() || entry->whole) return;
    const ssize_t got = recv(fd, peek_.data(), peek_.size(), MSG_PEEK | MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // Ended, failed, or ready without a byte more than last time: the readiness told only at
    // one byte past what had come was the end of the connection.
    if (got <= 0 || static_cast<size_t>(got) <= entry->seen) {
        Forget(entry, true);
        return;
    }
    entry->seen = static_cast<size_t>(got);
    if (entry->seen >= peek_.size() || HoldsWholeHead(peek_.data(), entry->seen)) {
        // A head too large for any request is handed out too: the server refuses it in words.
        entry->whole = true;
        ++wholeWaiting_;
        // Its bytes stay unread until it is handed out: still watched, the socket would be
        // ready at every look and keep the master spinning while the connection waits for a
        // place. The look timer brings it back instead.
        if (SocketMaster* master = GetSocketMaster()) master->RemoveSocket(fd);
        return;
    }
    // Nothing to do until more has come: one byte more, or the end.
    SetReadyAt(fd, entry->seen + 1);
}

void MultiSocketDelegateServer::HandOutWhole() {
    std::deque<Waiting>::iterator entry = waiting_.begin();
    while (entry != waiting_.end() && wholeWaiting_ > 0) {
        if (!entry->whole) {
            ++entry;
            continue;
        }
        if (*serving_ >= kMaxServingConnections && !CutLongestIdle()) {
            LookAgainLater();
            return;
        }
        const int fd = entry->fd;
        const size_t at = static_cast<size_t>(entry - waiting_.begin());
        Forget(entry, false);
        HandOut(fd);
        entry = waiting_.begin() + static_cast<std::ptrdiff_t>(at);
    }
}

void MultiSocketDelegateServer::Forget(std::deque<Waiting>::iterator entry, bool closeIt) {
    if (SocketMaster* master = GetSocketMaster()) master->RemoveSocket(entry->fd);
    if (closeIt) close(entry->fd);
    if (entry->whole) --wholeWaiting_;
    waiting_.erase(entry);
    waitingCount_ = static_cast<int>(waiting_.size());
}

void MultiSocketDelegateServer::HandOut(int fd) {
    // Its delegate reads as usual again.
    SetReadyAt(fd, 1);
    SV::PilSocketHolder accepted;
    accepted.fd = fd;
    SocketDelegate* delegate =
        factory_ ? factory_(GetSocketMaster(), GetComponent(), accepted) : nullptr;
    // Refused: the connection is closed with the holder.
    if (delegate == nullptr) return;
    boost::shared_ptr<ConnectionSlot> slot(new ConnectionSlot(serving_));
    // A server that never reaches the cap would otherwise keep an entry for every connection it
    // ever took.
    if (slots_.size() >= 2 * static_cast<size_t>(kMaxServingConnections)) ForgetEndedSlots();
    const Handed handed = {slot, clock_()};
    slots_.push_back(handed);
    trackedSlots_ = slots_.size();
    delegate->HoldConnectionSlot(slot);
    delegate->SessionSocketOpen();
}

void MultiSocketDelegateServer::ForgetEndedSlots() {
    slots_.erase(std::remove_if(slots_.begin(), slots_.end(),
                                [](const Handed& handed) { return handed.slot.expired(); }),
                 slots_.end());
    trackedSlots_ = slots_.size();
}

bool MultiSocketDelegateServer::CutLongestIdle() {
    // Each idle time is read once: the connections' own threads move them while we look, and a
    // sort whose keys change under it may step outside the list.
    ForgetEndedSlots();
    const SV::PilTime now = clock_();
    const int64_t firstRequest = firstRequestMilliseconds_;
    std::vector<std::pair<uint64_t, boost::shared_ptr<ConnectionSlot>>> idle;
    for (const Handed& handed : slots_) {
        boost::shared_ptr<ConnectionSlot> slot = handed.slot.lock();
        if (!slot || slot->IsBusy()) continue;
        // Both only ever turn true, so a connection found here stays one that may be cut.
        if (slot->WasAnswered() || now - handed.since >= firstRequest) {
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
