#include "tests/support/TestOrigin.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace SvTestSupport {

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 401: return "Unauthorized";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

// "bytes=first-last" or "bytes=first-" or "bytes=-suffix"; false for anything else (several
// ranges included), which is then ignored as a server may.
bool ParseRange(const std::string& value, uint64_t size, uint64_t* first, uint64_t* last,
                bool* unsatisfiable) {
    *unsatisfiable = false;
    const std::string v = Trim(value);
    if (v.compare(0, 6, "bytes=") != 0 || v.find(',') != std::string::npos) return false;
    const std::string spec = v.substr(6);
    const size_t dash = spec.find('-');
    if (dash == std::string::npos) return false;
    const std::string a = spec.substr(0, dash);
    const std::string b = spec.substr(dash + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() < 20 &&
               std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (a.empty()) {
        if (!digits(b)) return false;
        const uint64_t suffix = std::stoull(b);
        if (suffix == 0 || size == 0) {
            *unsatisfiable = true;
            return true;
        }
        *first = size > suffix ? size - suffix : 0;
        *last = size - 1;
        return true;
    }
    if (!digits(a) || (!b.empty() && !digits(b))) return false;
    *first = std::stoull(a);
    // An open range from the end on or past it is unsatisfiable (416), as a real server
    // answers it; only a written last before the first makes the range invalid (ignored).
    if (b.empty() && *first >= size) {
        *unsatisfiable = true;
        return true;
    }
    *last = b.empty() ? size - 1 : std::stoull(b);
    if (*last < *first) return false;
    if (*first >= size) {
        *unsatisfiable = true;
        return true;
    }
    *last = std::min(*last, size - 1);
    return true;
}

}  // namespace

TestOrigin::TestOrigin() : listener_(-1), port_(0), stop_(false), connections_(0) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("TestOrigin: no socket");
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener_);
        throw std::runtime_error("TestOrigin: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread(&TestOrigin::AcceptLoop, this);
}

TestOrigin::~TestOrigin() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        for (const std::unique_ptr<Connection>& connection : open_) {
            if (connection->fd >= 0) shutdown(connection->fd, SHUT_RDWR);
        }
    }
    stopped_.notify_all();
    acceptThread_.join();
    ReapConnections(true);
    close(listener_);
}

std::string TestOrigin::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestOrigin::Serve(const std::string& path, const std::string& bytes) {
    Resource resource;
    resource.bytes = std::make_shared<const std::string>(bytes);
    resource.size = bytes.size();
    std::lock_guard<std::mutex> lock(mutex_);
    resources_[path] = resource;
}

void TestOrigin::ServeFile(const std::string& path, const std::string& filePath) {
    const int fd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("TestOrigin: cannot open " + filePath);
    const off_t size = lseek(fd, 0, SEEK_END);
    close(fd);
    Resource resource;
    resource.filePath = filePath;
    resource.size = static_cast<uint64_t>(size);
    std::lock_guard<std::mutex> lock(mutex_);
    resources_[path] = resource;
}

void TestOrigin::SetFault(const std::string& path, const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[path] = fault;
}

std::vector<TestOrigin::Request> TestOrigin::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool TestOrigin::Pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return stop_.load(); });
}

void TestOrigin::ReapConnections(bool all) {
    std::vector<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < open_.size();) {
            if (all || open_[i]->done.load()) {
                finished.push_back(std::move(open_[i]));
                open_.erase(open_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    for (std::unique_ptr<Connection>& connection : finished) {
        connection->thread.join();
        // -1 when the serving thread already closed it with a reset.
        if (connection->fd >= 0) close(connection->fd);
    }
}

void TestOrigin::ResetConnection(int fd) {
    // A reset, not an orderly close: with a zero linger time close() discards what is unsent
    // and answers with RST, so the peer sees its connection torn down. shutdown() would send a
    // FIN whatever the linger setting. Closed under the lock, and the descriptor forgotten, so
    // that neither the destructor's shutdown nor the reaper's close can reach a descriptor
    // number the system has handed out again.
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Connection>& connection : open_) {
        if (connection->fd != fd) continue;
        linger hard = {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(fd);
        connection->fd = -1;
        return;
    }
}

void TestOrigin::AcceptLoop() {
    while (!stop_.load()) {
        pollfd p = {listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            ReapConnections(false);
            continue;
        }
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A head and its body go out in separate sends; without this the body of a small
        // response waits for the client's delayed acknowledgement (tens of milliseconds).
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        ++connections_;
        std::unique_ptr<Connection> connection(new Connection);
        connection->fd = fd;
        Connection* raw = connection.get();
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_.load()) {
            close(fd);
            break;
        }
        raw->thread = std::thread([this, raw] {
            Serve(raw->fd);
            raw->done = true;
        });
        open_.push_back(std::move(connection));
    }
}

void TestOrigin::Serve(int fd) {
    std::string buffer;
    char chunk[16384];
    for (;;) {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHead) return;
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            buffer.append(chunk, static_cast<size_t>(n));
        }
        Request request;
        request.head = buffer.substr(0, end);
        buffer.erase(0, end + 4);
        const size_t lineEnd = request.head.find("\r\n");
        const std::string requestLine = request.head.substr(0, lineEnd);
        const size_t space1 = requestLine.find(' ');
        const size_t space2 = requestLine.rfind(' ');
        if (space1 == std::string::npos || space2 == space1) return;
        request.method = requestLine.substr(0, space1);
        request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
        size_t at = lineEnd;
        while (at != std::string::npos && at < request.head.size()) {
            const size_t next = request.head.find("\r\n", at + 2);
            const std::string line = request.head.substr(
                at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
            }
            at = next;
        }
        std::string path = request.target;
        if (path.compare(0, 7, "http://") == 0) {
            const size_t slash = path.find('/', 7);
            path = slash == std::string::npos ? "/" : path.substr(slash);
        }
        request.path = path.substr(0, path.find('?'));
        if (request.headers.count("content-length") != 0) {
            const uint64_t length =
                std::strtoull(request.headers["content-length"].c_str(), nullptr, 10);
            if (length > kMaxBody) return;
            while (buffer.size() < length) {
                const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) return;
                buffer.append(chunk, static_cast<size_t>(n));
            }
            request.body = buffer.substr(0, length);
            buffer.erase(0, length);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        bool keepAlive = Lower(request.headers["connection"]) != "close";
        if (!Answer(fd, request, &keepAlive) || !keepAlive || stop_.load()) return;
    }
}

bool TestOrigin::Answer(int fd, const Request& request, bool* keepAlive) {
    Fault fault;
    Resource resource;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::string, Fault>::const_iterator f = faults_.find(request.path);
        if (f != faults_.end()) fault = f->second;
        std::map<std::string, Resource>::const_iterator r = resources_.find(request.path);
        if (r != resources_.end()) {
            resource = r->second;
            found = true;
        }
    }
    if (fault.headDelayMs > 0 && !Pause(fault.headDelayMs)) return false;

    int status = 200;
    std::string headers;
    std::string textBody;
    uint64_t first = 0;
    uint64_t length = resource.size;
    for (const std::pair<std::string, std::string>& header : fault.headers) {
        headers += header.first + ": " + header.second + "\r\n";
    }
    std::map<std::string, std::string>::const_iterator authorization =
        request.headers.find("authorization");
    if (!fault.authorization.empty() &&
        (authorization == request.headers.end() || authorization->second != fault.authorization)) {
        status = 401;
        headers += "WWW-Authenticate: Basic realm=\"" + fault.realm + "\"\r\n";
        textBody = std::string(Reason(status)) + "\n";
    } else if (fault.status != 0 || !found) {
        status = fault.status != 0 ? fault.status : 404;
        if (!fault.location.empty()) headers += "Location: " + fault.location + "\r\n";
        textBody = std::string(Reason(status)) + "\n";
    } else if (request.headers.count("range") != 0 && !fault.ignoreRange) {
        uint64_t last = 0;
        bool unsatisfiable = false;
        if (ParseRange(request.headers.at("range"), resource.size, &first, &last, &unsatisfiable)) {
            if (unsatisfiable) {
                status = 416;
                headers += "Content-Range: bytes */" + std::to_string(resource.size) + "\r\n";
                textBody = "Range Not Satisfiable\n";
            } else {
                status = 206;
                length = last - first + 1;
                headers += "Content-Range: bytes " + std::to_string(first) + "-" +
                           std::to_string(last) + "/" +
                           (fault.totalUnknown ? std::string("*") : std::to_string(resource.size)) +
                           "\r\n";
            }
        } else {
            first = 0;
        }
    }
    if (!textBody.empty()) length = textBody.size();
    const bool head = request.method == "HEAD";
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    response += headers;
    // A path whose headers name a type of their own (an HTML page for a web view) keeps it.
    bool typed = false;
    for (const std::pair<std::string, std::string>& header : fault.headers) {
        if (Lower(header.first) == "content-type") typed = true;
    }
    if (!typed) response += "Content-Type: application/octet-stream\r\n";
    const bool chunked = fault.chunked && textBody.empty();
    if (fault.noContentLength) {
        response += "Connection: close\r\n";
        *keepAlive = false;
    } else if (chunked) {
        response += "Transfer-Encoding: chunked\r\n";
        response += *keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    } else {
        response += "Content-Length: " + std::to_string(length) + "\r\n";
        response += *keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    }
    response += "\r\n";
    if (!SendAll(fd, response.data(), response.size())) return false;
    if (head) return true;
    if (!textBody.empty()) {
        Resource text;
        text.bytes = std::make_shared<const std::string>(textBody);
        text.size = textBody.size();
        // Only the resource's body ends in the faults at its end, or comes in chunks.
        Fault textFault = fault;
        textFault.chunked = false;
        textFault.stallAtEndMs = 0;
        textFault.dropAtEnd = false;
        return SendBody(fd, text, 0, text.size, textFault);
    }
    return SendBody(fd, resource, first, length, fault);
}

bool TestOrigin::SendBody(int fd, const Resource& resource, uint64_t first, uint64_t length,
                          const Fault& fault) {
    int file = -1;
    if (!resource.filePath.empty()) {
        file = open(resource.filePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) return false;
    }
    std::vector<char> buffer(65536);
    uint64_t sent = 0;
    bool stalled = false;
    bool ok = true;
    while (ok && sent < length) {
        uint64_t piece = std::min<uint64_t>(length - sent, buffer.size());
        if (fault.bytesPerSecond > 0)
            piece = std::min<uint64_t>(piece, std::max<uint64_t>(1, fault.bytesPerSecond / 20));
        if (!stalled && sent < fault.stallAfter) piece = std::min(piece, fault.stallAfter - sent);
        if (sent < fault.dropAfter) piece = std::min(piece, fault.dropAfter - sent);
        if (sent == fault.dropAfter) {
            ResetConnection(fd);
            ok = false;
            break;
        }
        if (!stalled && sent == fault.stallAfter) {
            stalled = true;
            if (!Pause(fault.stallMs)) {
                ok = false;
                break;
            }
            continue;
        }
        const char* data;
        if (file >= 0) {
            const ssize_t n = pread(file, buffer.data(), piece, static_cast<off_t>(first + sent));
            if (n <= 0) {
                ok = false;
                break;
            }
            piece = static_cast<uint64_t>(n);
            data = buffer.data();
        } else {
            data = resource.bytes->data() + first + sent;
        }
        if (fault.chunked) {
            char size[32];
            snprintf(size, sizeof size, "%llx\r\n", static_cast<unsigned long long>(piece));
            ok = SendAll(fd, size, strlen(size)) && SendAll(fd, data, piece) &&
                 SendAll(fd, "\r\n", 2);
        } else {
            ok = SendAll(fd, data, piece);
        }
        sent += piece;
        if (ok && fault.bytesPerSecond > 0)
            ok = Pause(static_cast<int>(piece * 1000 / fault.bytesPerSecond));
    }
    if (file >= 0) close(file);
    if (ok && fault.stallAtEndMs > 0) ok = Pause(fault.stallAtEndMs);
    if (ok && fault.dropAtEnd) {
        // Closed, not reset: a reset would throw away what the peer has not read yet.
        shutdown(fd, SHUT_WR);
        return false;
    }
    if (ok && fault.chunked) ok = SendAll(fd, "0\r\n\r\n", 5);
    if (ok && fault.noContentLength) {
        shutdown(fd, SHUT_WR);
        return false;
    }
    return ok;
}

bool TestOrigin::SendAll(int fd, const char* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace SvTestSupport
