#ifndef ENGINE_SERVE_MULTISOCKETDELEGATESERVER_H
#define ENGINE_SERVE_MULTISOCKETDELEGATESERVER_H

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "SVLibrary/Socket/PilSocketHolder.h"
#include "SVLibrary/Time/PilTime.h"
#include "engine/core/SocketDelegate.h"
#include "engine/core/TaskManager.h"

namespace SarvelonMediaKit {

class ConnectionSlot;

// Builds the delegate that serves one accepted connection: called on the master's thread with
// the server's master, the server's component and the holder of the connection. It moves the
// descriptor into the delegate (SwapSocket) and attaches the delegate to the master that will
// watch it (SetSocketMaster), then returns it; or returns null to refuse the connection. The
// returned delegate stays the factory's to own.
typedef boost::function<SocketDelegate*(SocketMaster*, Component*, SV::PilSocketHolder&)>
    SocketFactory;

// The front door of the local server: listens on one port and hands every connection that has
// sent a whole request head to a delegate of its own, built by the factory. Its session socket
// is the listening socket.
//
// A connection is taken from the listening socket at once and waits here, at the cost of a
// descriptor and no more, until its first request head has arrived whole (or has filled the
// most a head may take); only then is a delegate (a session and its threads) made for it. A
// peer that connects and asks nothing, or trickles a head that never ends, thus never holds a
// place a player needs, and the player's own connections are not left in the listening queue
// behind such peers: at the cap of waiting connections, the one that has waited longest gives
// way to a newcomer once it has had the first-request time to send its head, however many bytes
// of it it trickled meanwhile.
class MultiSocketDelegateServer : public SocketDelegate {
public:
    // Connections served at the same time. Each one costs a session and two threads. At the
    // cap, a connection whose head has come takes the place of the one that has been longest
    // without a request in progress (that one is cut; a whole request that has arrived counts
    // as in progress, read from its socket or not, a head still coming in part by part does
    // not). Only a connection that has had an answer may be cut, or one that has asked nothing
    // whole for the first-request time since it was handed out. When no connection may be cut,
    // the new one keeps waiting (looked at again every kFullLookMilliseconds) until one of them
    // ends or may be cut.
    static const int kMaxServingConnections = 32;
    // Connections waiting for their first whole head, at most; fewer when the process may open
    // few descriptors (a quarter of its limit), so waiting peers cannot starve the rest of it.
    static const int kMaxWaitingConnections = 1024;
    static const int kFullLookMilliseconds = 10;
    static const uint32_t kDefaultFirstRequestMilliseconds = 1000;

    MultiSocketDelegateServer(SocketMaster* master, Component* component,
                              const SocketFactory& factory);
    ~MultiSocketDelegateServer() override;

    // Opens the listening socket on the address and port (host byte order; port 0 takes a free
    // one) and has the master watch it. Throws SVLibraryException when it cannot listen;
    // nothing is registered then.
    void Listen(uint16_t port, uint32_t address);
    // The port actually listened on, 0 when not listening.
    uint16_t GetListeningPort() const;
    // Connections handed out and still open.
    int GetServingConnections() const { return *serving_; }
    // Connections taken that wait for their first whole head (or for a place to be served).
    int GetWaitingConnections() const { return waitingCount_; }
    // Entries kept to find the longest-idle connection, ended ones included until swept.
    size_t GetTrackedSlots() const { return trackedSlots_; }
    // How long a connection is safe from the cut: one waiting for its head, from when it was
    // taken; one handed out without an answer yet, from when it was handed out. Any thread.
    void SetFirstRequestMilliseconds(uint32_t milliseconds) {
        firstRequestMilliseconds_ = milliseconds;
    }
    // Where the times above are read; tests drive it. Before Listen.
    void SetClock(const TaskManager::Clock& clock);
    // The most connections that wait for their head; before Listen.
    void SetMaxWaitingConnections(int count) { maxWaiting_ = count > 0 ? count : 1; }

    // The listening socket: takes the connections queued there, as far as places can be made.
    // A waiting connection: looks whether its head has come, and hands it out when it has.
    void DoSocketReadable(int fd) override;

private:
    struct Waiting {
        int fd;
        SV::PilTime since;  // taken from the listening socket
        size_t seen;        // bytes looked at so far
        bool whole;         // a head has come whole: waits for a place to be served
    };
    struct Handed {
        boost::weak_ptr<ConnectionSlot> slot;
        SV::PilTime since;  // handed out
    };

    // Takes queued connections while there is room among the waiting ones, or one that may
    // give way; pauses when one is queued that cannot be taken yet.
    void AcceptQueued();
    // Makes room for a newcomer by closing the connection that has waited longest without its
    // head, once it has had the first-request time; false when none may go.
    bool DropLongestWaiting();
    // Looks at what has arrived on a waiting connection; drops it when it has ended.
    void Examine(int fd);
    // Hands out the connections whose heads have come, oldest first, while places can be had.
    void HandOutWhole();
    // Makes a delegate for the connection (taken out of waiting_) through the factory.
    void HandOut(int fd);
    void Forget(std::deque<Waiting>::iterator entry, bool close);
    // Has the master bring us back after kFullLookMilliseconds, through the look timer.
    void LookAgainLater();
    // The look timer has fired: hands out what can be and takes the queued connections again.
    void LookAgain();
    // Cuts the connection longest without a request in progress among those that may be cut;
    // false when there is none.
    bool CutLongestIdle();
    // Drops the entries of connections that have ended.
    void ForgetEndedSlots();

    SocketFactory factory_;
    TaskManager::Clock clock_;
    // Shared with the slots of the connections handed out, which may outlive the server.
    boost::shared_ptr<std::atomic<int>> serving_;
    // The rest is the master's thread's only (and the destructor's once detached).
    std::vector<Handed> slots_;
    std::deque<Waiting> waiting_;  // in the order they were taken
    int maxWaiting_;
    int wholeWaiting_;  // entries of waiting_ whose head has come
    // Not watched while a queued connection cannot be taken: it would stay ready.
    bool listeningPaused_;
    int lookTimer_;           // a timer descriptor, watched by the master; -1 until Listen
    bool lookArmed_;          // the look timer will fire
    std::vector<char> peek_;  // what a waiting connection has sent, looked at in place
    std::atomic<int> waitingCount_{0};     // waiting_.size(), for any thread
    std::atomic<size_t> trackedSlots_{0};  // slots_.size(), for any thread
    std::atomic<uint32_t> firstRequestMilliseconds_{kDefaultFirstRequestMilliseconds};
};

}  // namespace SarvelonMediaKit

#endif
