#ifndef ENGINE_SERVE_HTTPSERVER_H
#define ENGINE_SERVE_HTTPSERVER_H

#include <cstddef>
#include <cstdint>

#include "engine/core/MemoryChunk.h"
#include "engine/serve/HTTPServerInternal.h"
#include "engine/serve/SingleSocketDelegateServer.h"

namespace SarvelonMediaKit {

class Session;

// The HTTP protocol core on one connection: the received bytes of the socket delegate become
// requests, and responses go out on its socket. Built on its session, whose socket master
// watches the connection; a connection accepted elsewhere is handed over with SwapSocket and
// SetSocketMaster, then SessionSocketOpen.
//
// Sends block until every byte is out, for at most 30 s without progress; a connection that
// fails or stalls that long is ended. A connection ends with a half-close, so the peer reads
// the whole of the last response before it sees the end.
class HTTPServer : public HTTPServerInternal, public SingleSocketDelegateServer {
public:
    // The longest a send may wait for the peer to take bytes.
    static const int kSendTimeoutSeconds = 30;
    // Bytes still read (and dropped) from a peer after our half-close before the connection is
    // cut outright.
    static const size_t kMaxDrainBytes = 1 << 20;

    explicit HTTPServer(Session* session);
    ~HTTPServer() override;

    // Hands the bytes to HandleRequestData.
    virtual void DeliverRequestData(MemoryChunk chunk);

    // SocketDelegate hooks (on the session's task thread).
    void DoProcessSessionData(MemoryChunk chunk) override;
    void DoSessionSocketClosed() override;

    // Component: a stopped session serves nothing more; its connection is cut.
    void DoStop() override;

protected:
    bool SendToPeer(const void* bytes, size_t size) override;
    void CloseConnection() override;

private:
    int timeoutSetOn_;  // the descriptor the send time-out was set on
    bool draining_;     // half-closed: what still arrives is dropped
    size_t drained_;
};

}  // namespace SarvelonMediaKit

#endif
