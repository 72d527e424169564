#ifndef TESTS_SUPPORT_TESTORIGIN_H
#define TESTS_SUPPORT_TESTORIGIN_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace SvTestSupport {

// A small HTTP/1.1 origin on 127.0.0.1 and a port of its own (ephemeral), for tests of HTTP
// clients. It serves byte buffers and files by path, keeps connections alive, answers a single
// byte range with 206 (416 when it starts past the end), and can be told to misbehave per path.
// Every request head it receives is logged. A request in absolute form ("GET http://host/path")
// is served by its path, so the origin also stands in for a forward proxy. Started by the
// constructor, stopped (connections cut, threads joined) by the destructor.
class TestOrigin {
public:
    static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

    // How a path misbehaves.
    struct Fault {
        int status = 0;                // answer with this status and a short text body
        std::string location;          // Location header (with a 3xx status)
        bool totalUnknown = false;     // Content-Range total "*"
        bool noContentLength = false;  // body ended by closing the connection
        int headDelayMs = 0;           // wait before the response head
        uint64_t stallAfter = kNever;  // body bytes sent before a stall ...
        int stallMs = 0;               // ... of this long
        uint64_t dropAfter = kNever;   // body bytes sent before the connection is reset
        uint64_t bytesPerSecond = 0;   // throttle (0: as fast as possible)
        bool ignoreRange = false;      // answer 200 with everything to a ranged request
        // The body in chunks (Transfer-Encoding: chunked) and no Content-Length: a response
        // whose size is never announced (with totalUnknown, not even by a 206).
        bool chunked = false;
        // Once the whole body is sent, before its end is marked (the last chunk; the closing of
        // a body without length): wait this long ...
        int stallAtEndMs = 0;
        // ... then close the connection instead of ending the body. Neither touches the short
        // text body of an error answer.
        bool dropAtEnd = false;
        // Extra response header lines, sent in this order after the status line. A
        // Content-Type among them replaces the default application/octet-stream.
        std::vector<std::pair<std::string, std::string>> headers;
        // When set, a request whose Authorization header is not exactly this value is answered
        // 401 with the challenge `WWW-Authenticate: Basic realm="<realm>"`.
        std::string authorization;
        std::string realm = "origin";
    };

    // One request as received.
    struct Request {
        std::string method;
        std::string target;  // as sent (origin or absolute form)
        std::string path;    // the path it was served by (no query)
        std::string head;    // request line and header lines as received (wire order),
                             // CRLF-separated, without the blank line
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };

    TestOrigin();
    ~TestOrigin();

    TestOrigin(const TestOrigin&) = delete;
    TestOrigin& operator=(const TestOrigin&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port><path>".
    std::string Url(const std::string& path) const;

    void Serve(const std::string& path, const std::string& bytes);
    void ServeFile(const std::string& path, const std::string& filePath);
    void SetFault(const std::string& path, const Fault& fault);

    std::vector<Request> Requests() const;
    size_t ConnectionCount() const { return connections_.load(); }

private:
    struct Resource {
        std::shared_ptr<const std::string> bytes;
        std::string filePath;
        uint64_t size = 0;
    };
    struct Connection {
        int fd;  // -1 once the serving thread has reset and closed it; under mutex_
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Serve(int fd);
    bool Answer(int fd, const Request& request, bool* keepAlive);
    bool SendBody(int fd, const Resource& resource, uint64_t first, uint64_t length,
                  const Fault& fault);
    bool SendAll(int fd, const char* data, size_t size);
    // Tears the connection down with a reset (RST) at once; the serving thread then stops.
    void ResetConnection(int fd);
    // Sleeps, or less when the origin stops; false when it stops.
    bool Pause(int milliseconds);
    void ReapConnections(bool all);

    int listener_;
    uint16_t port_;
    std::atomic<bool> stop_;
    std::atomic<size_t> connections_;
    std::thread acceptThread_;
    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable stopped_;
    std::map<std::string, Resource> resources_;
    std::map<std::string, Fault> faults_;
    std::vector<Request> requests_;
    std::vector<std::unique_ptr<Connection>> open_;
};

}  // namespace SvTestSupport

#endif
