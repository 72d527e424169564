#ifndef ENGINE_SERVE_MULTISOCKETDELEGATESERVER_H
#define ENGINE_SERVE_MULTISOCKETDELEGATESERVER_H

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <vector>

#include "SVLibrary/Socket/PilSocketHolder.h"
#include "engine/core/SocketDelegate.h"

namespace SarvelonMediaKit {

class ConnectionSlot;

// Builds the delegate that serves one accepted connection: called on the master's thread with
// the server's master, the server's component and the holder of the connection. It moves the
// descriptor into the delegate (SwapSocket) and attaches the delegate to the master that will
// watch it (SetSocketMaster), then returns it; or returns null to refuse the connection. The
// returned delegate stays the factory's to own.
typedef boost::function<SocketDelegate*(SocketMaster*, Component*, SV::PilSocketHolder&)>
    SocketFactory;

// The front door of the local server: listens on one port and hands every accepted connection
// to a delegate of its own, built by the factory. Its session socket is the listening socket.
class MultiSocketDelegateServer : public SocketDelegate {
public:
    // Connections served at the same time. Each one costs a session and two threads. At the
    // cap, a new connection takes the place of the one that has been longest without a request
    // in progress (that one is cut; a whole request that has arrived counts as in progress,
    // read from its socket or not, a head still coming in part by part does not). Only a
    // connection that has had an answer may be cut, or one that has asked nothing whole for
    // the first-request time since it was taken: a player's request follows its connection at
    // once but may still be on its way, and a connection cut before its first answer is a
    // player refused. When no connection may be cut, the new one stays queued on the listening
    // socket (looked at again every kFullLookMilliseconds) until one of them ends or may be
    // cut. Idle peers thus never lock a player out for long, and players beyond the cap are
    // served in their turn instead of being cut off.
    static const int kMaxServingConnections = 32;
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
    // Entries kept to find the longest-idle connection, ended ones included until swept.
    size_t GetTrackedSlots() const { return trackedSlots_; }
    // How long a connection without an answer is safe from the cut; any thread.
    void SetFirstRequestMilliseconds(uint32_t milliseconds) {
        firstRequestMilliseconds_ = milliseconds;
    }

    // Accepts one connection and hands it out, or leaves it queued while every place is busy.
    void DoSocketReadable(int fd) override;

private:
    // Cuts the connection longest without a request in progress among those that may be cut;
    // false when there is none.
    bool CutLongestIdle();
    // Drops the entries of connections that have ended.
    void ForgetEndedSlots();

    SocketFactory factory_;
    // Shared with the slots of the connections handed out, which may outlive the server.
    boost::shared_ptr<std::atomic<int>> serving_;
    // The slots handed out, on the master's thread only; the ones gone are dropped as found.
    std::vector<boost::weak_ptr<ConnectionSlot>> slots_;
    std::atomic<size_t> trackedSlots_{0};  // slots_.size(), for any thread
    std::atomic<uint32_t> firstRequestMilliseconds_{kDefaultFirstRequestMilliseconds};
};

}  // namespace SarvelonMediaKit

#endif
