#ifndef TESTS_SUPPORT_TESTORIGIN_H
#define TESTS_SUPPORT_TESTORIGIN_H

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "portal/server/HttpServer.h"

namespace SvTestSupport {

// A small HTTP/1.1 origin on a loopback address (127.0.0.1 unless told another) and a port of
// its own (ephemeral), for tests of HTTP clients. It serves byte buffers and files by path, keeps
// connections alive, answers a single byte range with 206 (416 when it starts past the end), and
// can be told to misbehave per path. Every request head it receives is logged. A request in
// absolute form ("GET http://host/path") is served by its path, so the origin also stands in for a
// forward proxy. Started by the constructor, stopped (connections cut, threads joined) by the
// destructor. The connections, the request reading and the log are the portal's loopback server;
// this class adds the resources by path and their faults.
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
        // The answer waits before its head until Release(path) (or the origin stops): a test
        // lets it go once the client has reached the state the test is about, however long
        // a busy machine takes to get there.
        bool held = false;
        uint64_t stallAfter = kNever;  // body bytes sent before a stall ...
        int stallMs = 0;               // ... of this long
        uint64_t dropAfter = kNever;   // body bytes sent before the connection is reset
        uint64_t closeAfter = kNever;  // body bytes sent before the connection is closed (FIN)
        // Every failEvery-th request for the path, from the first on (1, 1 + failEvery, ...),
        // is answered with failStatus and a short text body; 0: none.
        int failEvery = 0;
        int failStatus = 503;
        // A ranged request that starts past byte 0 is answered 206 with the Content-Range of
        // the range asked for but the body taken from resumeShift bytes further on (cut at the
        // end of the resource): an origin whose resumed body does not continue the bytes sent
        // before. Only the first shiftedResumes such answers when that is not negative.
        uint64_t resumeShift = 0;
        int shiftedResumes = -1;
        // Once a body of the path was cut (closeAfter, dropAfter), every later request for it
        // is reset at once, without an answer: an origin that never comes back.
        bool goneAfterCut = false;
        uint64_t bytesPerSecond = 0;  // throttle (0: as fast as possible)
        bool ignoreRange = false;     // answer 200 with everything to a ranged request
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
        // The body never ends: chunks of the resource's bytes (or of the status text), over and
        // over, until the client goes away or the origin stops.
        bool endless = false;
        // Sent instead of any HTTP answer, then the connection is closed: an origin that does
        // not speak HTTP.
        std::string rawAnswer;
    };

    // One request as received (method, target, path, head in wire order, headers by lower-case
    // name, body).
    using Request = ZulPortal::HttpRequest;

    TestOrigin();
    // On another loopback address, such as 127.0.0.2: a second host, whatever the port.
    explicit TestOrigin(const std::string& address);
    ~TestOrigin();

    TestOrigin(const TestOrigin&) = delete;
    TestOrigin& operator=(const TestOrigin&) = delete;

    uint16_t Port() const { return server_.Port(); }
    // "http://<address>:<port><path>".
    std::string Url(const std::string& path) const;

    void Serve(const std::string& path, const std::string& bytes);
    void ServeFile(const std::string& path, const std::string& filePath);
    void SetFault(const std::string& path, const Fault& fault);
    // Lets the answers for path that its fault holds go on, and those to come pass.
    void Release(const std::string& path);

    std::vector<Request> Requests() const { return server_.Requests(); }
    // The requests for path whose answer has begun, its fault taken as it stood then: a test
    // that changes the fault afterwards knows which requests the change reaches.
    int AnswersBegun(const std::string& path) const;
    size_t ConnectionCount() const { return server_.ConnectionCount(); }

private:
    struct Resource {
        std::shared_ptr<const std::string> bytes;
        std::string filePath;
        uint64_t size = 0;
    };

    bool Answer(ZulPortal::HttpConnection& connection, const Request& request, bool* keepAlive);
    bool SendBody(ZulPortal::HttpConnection& connection, const Resource& resource, uint64_t first,
                  uint64_t length, const Fault& fault);
    static bool SendEndless(ZulPortal::HttpConnection& connection, const std::string& piece);

    mutable std::mutex mutex_;  // guards the two maps
    std::map<std::string, Resource> resources_;
    std::map<std::string, Fault> faults_;
    std::map<std::string, int> requestCounts_;  // requests per path
    std::map<std::string, int> shiftCounts_;    // shifted answers per path
    std::set<std::string> gone_;                // paths whose origin never comes back
    std::set<std::string> released_;            // paths whose held answers go on
    // Last, so that it stops (and its threads stop using the maps) before they go.
    ZulPortal::HttpServer server_;
};

}  // namespace SvTestSupport

#endif
