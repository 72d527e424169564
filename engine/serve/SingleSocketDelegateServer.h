#ifndef ENGINE_SERVE_SINGLESOCKETDELEGATESERVER_H
#define ENGINE_SERVE_SINGLESOCKETDELEGATESERVER_H

#include <cstdint>

#include "SVLibrary/Socket/PilSocketHolder.h"
#include "engine/core/SocketDelegate.h"

namespace SarvelonMediaKit {

// A server of one connection at a time: its session socket is the connection it serves. When
// it listens itself, it keeps at most one more connection waiting and refuses any further one;
// by default it stops listening after the first accept. The HTTP servers derive from it and are
// usually handed their connection already accepted (SwapSocket, SetSocketMaster).
class SingleSocketDelegateServer : public SocketDelegate {
public:
    SingleSocketDelegateServer(SocketMaster* master, Component* component);
    // Stops listening and closes the waiting, listening and session sockets.
    ~SingleSocketDelegateServer() override;

    // Opens the listening socket on the address and port (host byte order; port 0 takes a free
    // one, without address reuse) and has the master watch it. Throws SVLibraryException when
    // it cannot listen; nothing is registered then.
    void Listen(uint16_t port, uint32_t address);
    // The port listened on, 0 when not listening.
    uint16_t GetListeningPort() const;

    // On the listening socket: accepts into the session socket, else into the waiting socket,
    // else refuses. On the session socket: the default read.
    void DoSocketReadable(int fd) override;
    // Runs the next waiting connection, if there is one.
    void DoSessionSocketClosed() override;
    // Whether to stop listening after an accept; default true.
    virtual bool DoStopListeningAfterAccept();

private:
    // Both under SocketLock.
    SV::PilSocketHolder listenSocket_;
    SV::PilSocketHolder waitingSocket_;
};

}  // namespace SarvelonMediaKit

#endif
