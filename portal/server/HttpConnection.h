#ifndef PORTAL_SERVER_HTTPCONNECTION_H
#define PORTAL_SERVER_HTTPCONNECTION_H

#include <cstddef>
#include <string>

namespace ZulPortal {

class HttpServer;

// The connection one request arrived on, as its handler sees it: bytes out, and the ways a
// server can misbehave on purpose (a reset, a half close, a pause that ends when the server
// stops). Lives on the connection's own thread.
class HttpConnection {
public:
    HttpConnection(HttpServer& server, int fd) : server_(server), fd_(fd) {}

    // False once the peer is gone or the connection was reset.
    bool SendAll(const char* data, size_t size);
    bool SendAll(const std::string& bytes) { return SendAll(bytes.data(), bytes.size()); }
    // Tears the connection down with a reset (RST) at once: the peer sees it cut, and nothing
    // more is sent on it.
    void Reset();
    // Ends the sending side (FIN) and keeps what the peer has not read yet.
    void CloseWrite();
    // Sleeps, or less when the server stops; false when it stops.
    bool Pause(int milliseconds);

private:
    HttpServer& server_;
    int fd_;
    bool reset_ = false;
};

}  // namespace ZulPortal

#endif
