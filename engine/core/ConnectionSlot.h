#ifndef ENGINE_CORE_CONNECTIONSLOT_H
#define ENGINE_CORE_CONNECTIONSLOT_H

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace SarvelonMediaKit {

// One connection a server handed out, as that server sees it: counted while it is open,
// whether a request is in progress on it, whether one has ever been answered on it, how long it
// has been without one, and a way for the server to cut it from its own thread.
//
// The delegate serving the connection attaches its descriptor and detaches it (under its own
// socket lock) before it closes it, so a cut never reaches a descriptor number that has gone to
// another connection. Any thread.
class ConnectionSlot {
public:
    // Counts one more open connection.
    explicit ConnectionSlot(const boost::shared_ptr<std::atomic<int>>& count);
    // Gives the count back unless a cut already did.
    ~ConnectionSlot();

    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

    // The connection's descriptor while it is open (-1: closed).
    void Attach(int fd);
    // Whether a request is in progress; the end of one starts the connection's idle time anew.
    void SetBusy(bool busy);
    // Bytes were taken from the connection and are on their way to the protocol (a data task
    // queued or running); as long as the mark lives, the connection is busy. Taken before the
    // bytes leave the socket, so at no moment are they neither readable there nor marked here.
    // The mark may outlive the slot.
    static boost::shared_ptr<void> MarkUnread(const boost::shared_ptr<ConnectionSlot>& slot);

    // A request in progress, or received bytes not yet handed to the protocol.
    bool IsBusy() const { return busy_ || unread_ > 0; }
    // Orders connections by the start of their idle time: the smaller, the longer idle.
    uint64_t IdleSince() const { return idleSince_; }
    // A request has been answered on the connection (its first request in progress has ended).
    bool WasAnswered() const { return answered_; }

    // Cuts the connection when it is open, has no request in progress and no received bytes
    // waiting to be read or handed to the protocol (a whole request that has arrived is never
    // lost to a newcomer; a head still coming in part by part is not yet a request, so peers
    // that trickle heads cannot hold every place): both directions are shut down, so its
    // delegate sees the end and closes it the usual way. The count is given back at once, as
    // the connection no longer serves anyone. True when cut.
    bool CutIfIdle();

private:
    boost::shared_ptr<std::atomic<int>> count_;
    mutable std::mutex lock_;
    int fd_;        // under lock_
    bool counted_;  // under lock_
    std::atomic<bool> busy_;
    std::atomic<int> unread_;  // marks of MarkUnread alive
    std::atomic<uint64_t> idleSince_;
    std::atomic<bool> answered_;
};

}  // namespace SarvelonMediaKit

#endif
