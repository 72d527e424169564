#ifndef ENGINE_SERVE_HTTPSERVER_H
#define ENGINE_SERVE_HTTPSERVER_H

#include <cstddef>
#include <cstdint>

#include "SVLibrary/Time/PilTime.h"
#include "engine/core/MemoryChunk.h"
#include "engine/core/TaskManager.h"
#include "engine/serve/HTTPServerInternal.h"
#include "engine/serve/SingleSocketDelegateServer.h"

namespace SarvelonMediaKit {

class Session;

// The HTTP protocol core on one connection: the received bytes of the socket delegate become
// requests, and responses go out on its socket. Built on its session, whose socket master
// watches the connection; a connection accepted elsewhere is handed over with SwapSocket and
// SetSocketMaster, then SessionSocketOpen.
//
// Sends block until every byte is out, for at most 30 s without progress (the time-out is set
// on the socket once per connection); a connection that fails or stalls that long is ended. A
// send holds no lock while it waits: it writes to the connection's own descriptor, taken for
// the send, so the socket master and a close on another thread go on meanwhile; a close then
// leaves the descriptor open until the send is over, so the bytes can only ever reach the
// connection they belong to.
//
// A connection ends with a half-close, so the peer reads the whole of the last response before
// it sees the end; a peer that then neither closes nor goes quiet is cut after the drain time.
// A connection with no request in progress (just opened, or kept alive after a response) is cut
// after the idle time, and one that has sent part of a request head and not the rest within the
// head time is cut too (a peer that trickles a head holds its slot no longer). All are checked on
// every pump pass (DoTick), so they hold only for a server that is its session's front component.
// While it waits for its peer, the server names the end of the time it may wait to its pump
// (Pump::NoteIdleUntil): what the peer sends wakes the pump as a post, and the pump sleeps until
// then instead of looking again every interval.
class HTTPServer : public HTTPServerInternal, public SingleSocketDelegateServer {
public:
    // The longest a send may wait for the peer to take bytes.
    static const int kSendTimeoutSeconds = 30;
    // Bytes still read (and dropped) from a peer after our half-close before the connection is
    // cut outright.
    static const size_t kMaxDrainBytes = 1 << 20;
    // How long a half-closed connection may stay before it is cut outright.
    static const uint32_t kDefaultDrainMilliseconds = 5000;
    // How long a connection may wait for its next request.
    static const uint32_t kDefaultIdleMilliseconds = 60000;
    // How long a request head may take from its first byte to its end.
    static const uint32_t kDefaultHeadMilliseconds = 5000;

    explicit HTTPServer(Session* session);
    ~HTTPServer() override;

    // Hands the bytes to HandleRequestData.
    virtual void DeliverRequestData(MemoryChunk chunk);

    // SocketDelegate hooks (on the session's task thread).
    void DoProcessSessionData(MemoryChunk chunk) override;
    void DoSessionSocketClosed() override;

    // Component: a stopped session serves nothing more; its connection is cut.
    void DoStop() override;
    // Component: cuts a connection whose drain or idle time is over.
    void DoTick() override;

    // The deadlines and the clock they are read on (by default a monotonic one). Set before the
    // server joins its session's stack: they are read on the session's thread without a lock.
    void SetDrainMilliseconds(uint32_t milliseconds) { drainMilliseconds_ = milliseconds; }
    void SetIdleMilliseconds(uint32_t milliseconds) { idleMilliseconds_ = milliseconds; }
    void SetHeadMilliseconds(uint32_t milliseconds) { headMilliseconds_ = milliseconds; }
    void SetClock(const TaskManager::Clock& clock);

protected:
    bool SendToPeer(const void* bytes, size_t size) override;
    bool SendPiecesToPeer(const iovec* pieces, size_t count) override;
    void CloseConnection() override;
    // True in a pass of this session's own pump: its pull and its tick send what is held.
    bool HoldsHeadUntilPassEnd() const override;
    // The connection's slot learns whether it may be cut for a newcomer.
    void DoRequestInProgress(bool inProgress) override;

private:
    // Everything below on the session's task thread.
    bool draining_;  // half-closed: what still arrives is dropped
    size_t drained_;
    SV::PilTime drainSince_;
    bool idle_;  // no request in progress at the last tick
    SV::PilTime idleSince_;
    uint64_t idleSerial_;  // the response count when idleSince_ was taken
    bool heading_;         // part of a head had come at the last tick
    SV::PilTime headSince_;
    uint64_t headSerial_;  // the response count when headSince_ was taken
    uint32_t drainMilliseconds_;
    uint32_t idleMilliseconds_;
    uint32_t headMilliseconds_;
    TaskManager::Clock clock_;
};

}  // namespace SarvelonMediaKit

#endif
