#ifndef PORTAL_SERVER_HTTPSERVER_H
#define PORTAL_SERVER_HTTPSERVER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "portal/server/HttpConnection.h"
#include "portal/server/HttpRequest.h"

namespace ZulPortal {

// A small HTTP/1.1 server on a loopback address (127.0.0.1 unless told another): one thread
// accepts, one thread per connection reads requests (keep-alive, bodies by Content-Length) and
// hands each to the handler. Every request head is kept as received, header order included, in a
// request log. Started by the constructor, stopped (connections cut, threads joined) by Stop or the
// destructor.
class HttpServer {
public:
    // Answers one request on the connection. keepAlive comes in as the client asked and may be
    // cleared; false ends the connection.
    using Handler = std::function<bool(HttpConnection&, const HttpRequest&, bool* keepAlive)>;
    // Called on the connection's thread for each request as it is logged.
    using Observer = std::function<void(const HttpRequest&)>;

    struct Options {
        uint16_t port = 0;  // 0: a free port the system picks
        // The IPv4 address listened on: a second loopback address (127.0.0.2) is a host of
        // its own to a client, another origin than 127.0.0.1 on any port.
        std::string address = "127.0.0.1";
        // Requests kept in the log, the oldest dropped first; 0 keeps every one (tests).
        size_t logLimit = 0;
        // Connections served at once; a connection past it is closed unanswered.
        size_t maxConnections = 512;
        size_t maxHead = 64 * 1024;
        size_t maxBody = 16 * 1024 * 1024;
        Observer observer;
    };

    // Throws std::runtime_error with the reason when it cannot listen.
    explicit HttpServer(Handler handler);
    HttpServer(Handler handler, Options options);
    ~HttpServer();

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Cuts every connection and joins the threads; a handler that pauses wakes at once.
    void Stop();

    uint16_t Port() const { return port_; }
    // "http://<address>:<port><path>".
    std::string Url(const std::string& path) const;

    std::vector<HttpRequest> Requests() const;
    size_t ConnectionCount() const { return connections_.load(); }

private:
    friend class HttpConnection;
    struct Connection {
        int fd;  // -1 once the serving thread has reset and closed it; under mutex_
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void ServeConnection(int fd);
    void ServeRequests(HttpConnection& connection, int fd, std::string& buffer);
    // Reads one request into request; false when the connection is to end.
    bool ReadRequest(int fd, std::string& buffer, HttpRequest& request);
    void ResetConnection(int fd);
    bool Pause(int milliseconds);
    void ReapConnections(bool all);

    Handler handler_;
    Options options_;
    int listener_;
    uint16_t port_;
    std::atomic<bool> stop_;
    std::atomic<size_t> connections_;
    std::thread acceptThread_;
    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable stopped_;
    std::deque<HttpRequest> requests_;
    std::vector<std::unique_ptr<Connection>> open_;
};

}  // namespace ZulPortal

#endif
