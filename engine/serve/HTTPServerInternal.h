#ifndef ENGINE_SERVE_HTTPSERVERINTERNAL_H
#define ENGINE_SERVE_HTTPSERVERINTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/uio.h>

#include "engine/core/Component.h"
#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

class HTTPRequestReader;

// The protocol side of one loopback HTTP/1.1 connection, as the output end of its session's
// chain: it assembles requests from the received bytes, answers them one at a time (further
// requests wait in the input), writes each response head, limits what the session pulls to the
// bytes still owed and sends the body the chain delivers through DoAdd. While the peer takes
// what it is sent and more is owed, the next pump pass follows at once (Pump::
// NoteMoreOutputReady), so a body longer than one pass's pull is paced by its peer, not by the
// pump's interval.
//
// Answers: GET and HEAD get "200" (with Content-Length, or without one for a resource that is
// still growing, which then ends by closing the connection), "206" for a single satisfiable
// byte range, "416" for an unsatisfiable one and "404" for a name that does not exist; any other
// method gets "405". A head larger than 16 KiB gets "431" and a malformed request "400", and the
// connection is closed after either. A request whose Host (or absolute target) names anything
// but "localhost", "127.0.0.1" or "[::1]" (with or without a port) gets "403" and the connection
// is closed; a request without Host is served. Persistent connections follow HTTP/1.1 (HTTP/1.0
// only with "Connection: keep-alive"); a response that says "Connection: close" closes the
// connection once it is complete.
//
// Everything runs on the session's task thread.
class HTTPServerInternal : public Component {
public:
    // A request head may take this much; a larger one is refused.
    static const size_t kMaxHeadBytes = 16384;
    // Received bytes that may wait behind the response in progress; beyond them the client is
    // not one we serve and the connection is closed.
    static const size_t kMaxQueuedBytes = 65536;

    explicit HTTPServerInternal(Session* session);
    ~HTTPServerInternal() override;

    // Component.
    void PrePullData(ByteAmount& amount) override;
    // Sends what the pass delivered.
    void PostPullData(ByteAmount& amount) override;
    // Sends a head still held (a pass whose pull did not run).
    void DoTick() override;
    void DoAdd(const MemoryChunk& chunk) override;
    ByteAmount DoGetBytesWanted() override;
    std::string GetTypeName() const override;
    using Component::DoSeek;
    void DoSeek(BytePosition start, BytePosition end, bool flag) override;

    // Received bytes of the connection, in order.
    virtual void HandleRequestData(MemoryChunk chunk);
    // Stops serving: nothing more is read or sent, and the connection is ended.
    virtual void Close();
    // Starts the answer to the request just read (a GET or a HEAD). The default serves the
    // chain's resource at once (StartResponse).
    virtual void ProcessRequest();
    // Answers the current request with "404"; keeps the connection when the client may.
    virtual void SendNotFound();
    // 503 for a request that will not be answered, and the connection closed: requests the
    // client sent behind it would wait on the same thing.
    void SendUnavailable();

    // A response without length (the resource is still growing): it ends by closing the
    // connection, so keep-alive is given up with it.
    void SetNoContentLength(bool noContentLength);
    bool GetNoContentLength() const { return noContentLength_; }

protected:
    enum ResponseState {
        ResponseIdle,     // no request in progress
        ResponseWaiting,  // a request read, its answer not started (waiting for the resource)
        ResponseSending,  // head sent, body on its way
        ResponseClosed,   // the connection has ended
    };

    // Sends the whole of the bytes to the peer; false when the connection failed (the caller
    // then closes it).
    virtual bool SendToPeer(const void* bytes, size_t size) = 0;
    // The same for several pieces in order; by default one SendToPeer each.
    virtual bool SendPiecesToPeer(const iovec* pieces, size_t count);
    // Ends the connection.
    virtual void CloseConnection() = 0;
    // True when the caller runs in a pass of this connection's own pump, whose pull and tick
    // (PostPullData, DoTick) follow on this thread: a response head may then wait for them to
    // go out in one send with the first part of its body. False by default: every head is sent
    // at once.
    virtual bool HoldsHeadUntilPassEnd() const;
    // A request has been read and is being answered (true), or its answer is over (false).
    virtual void DoRequestInProgress(bool inProgress);
    // The head of a "200" or "206" answer has gone out (status 200 or 206).
    virtual void DoResponseStarted(int status);
    // The current response is complete, or the connection ends while one was in progress.
    virtual void DoResponseFinished();

    // Answers the current request from the resource of EndPosition() bytes: picks the status
    // from the Range, sends the head, and (GET) seeks the chain to the first byte so the pulls
    // deliver the body. Returns the status sent, 0 when the connection failed.
    int StartResponse();
    // The body is complete: the next request is taken up, or the connection closed.
    void FinishResponse();

    ResponseState GetResponseState() const { return state_; }
    // Part of a request head has come and the rest has not, with no request in progress.
    bool HasPartialHead() const { return state_ == ResponseIdle && !input_.empty(); }
    // Counts the responses started, so a caller can tell that the one it fed has ended.
    uint64_t GetResponseSerial() const { return serial_; }
    uint32_t GetMethod() const { return method_; }
    const std::string& GetPath() const { return path_; }
    const std::string& GetRangeValue() const { return range_; }
    bool HasRange() const { return hasRange_; }
    uint64_t GetSentPosition() const { return sentPosition_; }
    uint64_t GetRangeEnd() const { return rangeEnd_; }

private:
    void SetState(ResponseState state);
    void ProcessInput();
    void StartRequest(const HTTPRequestReader& reader, bool valid);
    // A response without body; closes afterwards when the client or close asks.
    void SendEmptyResponse(const std::string& statusLine, const std::string& fields, bool close);
    std::string ConnectionField() const;
    bool Send(const std::string& bytes);
    // Sends the body pieces held back so far; false (and the connection closed) on failure.
    bool SendHeldBody();

    ResponseState state_;
    bool processing_;  // ProcessInput is running (a response finished inside it continues it)
    uint64_t serial_;
    std::string input_;    // received bytes not yet taken as requests
    uint64_t bodyToSkip_;  // request body bytes still to drop from the input
    uint32_t method_;
    std::string path_;
    std::string contentType_;  // a Content-Type field when not empty
    std::string range_;        // the Range value of the current request
    bool hasRange_;
    bool keepAlive_;
    bool noContentLength_;
    uint64_t rangeStart_;
    uint64_t rangeEnd_;  // one past the last body byte
    uint64_t sentPosition_;
    // Body pieces delivered during a pump pass go out together at its end (one system call for
    // many small chunks); each holds its chunk until then.
    bool pulling_;
    // The response and its position when the pass's pull began.
    uint64_t pullSerial_;
    uint64_t pullPosition_;
    std::vector<MemoryChunk> heldChunks_;
    std::vector<iovec> heldPieces_;
    // The head of the response whose body is on its way, held among the pieces in front of
    // the body until they go out together; empty when none is held.
    std::string heldHead_;
};

}  // namespace SarvelonMediaKit

#endif
