#include "portal/server/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "SVLibrary/Http/HttpFieldText.h"

namespace ZulPortal {

namespace {

// Parallel clients queue here rather than being refused: a small backlog turned 20 parallel
// requests from milliseconds into seconds.
constexpr int kBacklog = 128;

std::string TrimHeaderValue(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

std::string HttpRequest::Header(const std::string& name, const std::string& fallback) const {
    const auto found = headers.find(SV::HttpFieldText::Lower(name));
    return found == headers.end() ? fallback : found->second;
}

bool HttpConnection::SendAll(const char* data, size_t size) {
    if (reset_) return false;
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(fd_, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void HttpConnection::Reset() {
    if (reset_) return;
    reset_ = true;
    server_.ResetConnection(fd_);
}

void HttpConnection::CloseWrite() {
    if (!reset_) shutdown(fd_, SHUT_WR);
}

bool HttpConnection::Pause(int milliseconds) { return server_.Pause(milliseconds); }

HttpServer::HttpServer(Handler handler) : HttpServer(std::move(handler), Options()) {}

HttpServer::HttpServer(Handler handler, Options options)
    : handler_(std::move(handler)),
      options_(std::move(options)),
      listener_(-1),
      port_(0),
      stop_(false),
      connections_(0) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error(std::string("no socket: ") + strerror(errno));
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    socklen_t length = sizeof address;
    const bool parsed = inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) == 1;
    if (!parsed || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, kBacklog) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = parsed ? errno : EINVAL;
        close(listener_);
        throw std::runtime_error("cannot listen on " + options_.address + ":" +
                                 std::to_string(options_.port) + ": " + strerror(error));
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread(&HttpServer::AcceptLoop, this);
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (listener_ < 0) return;
        stop_ = true;
        for (const std::unique_ptr<Connection>& connection : open_) {
            if (connection->fd >= 0) shutdown(connection->fd, SHUT_RDWR);
        }
    }
    stopped_.notify_all();
    acceptThread_.join();
    ReapConnections(true);
    std::lock_guard<std::mutex> lock(mutex_);
    close(listener_);
    listener_ = -1;
}

std::string HttpServer::Url(const std::string& path) const {
    return "http://" + options_.address + ":" + std::to_string(port_) + path;
}

std::vector<HttpRequest> HttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<HttpRequest>(requests_.begin(), requests_.end());
}

bool HttpServer::Pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return stop_.load(); });
}

void HttpServer::ReapConnections(bool all) {
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

void HttpServer::ResetConnection(int fd) {
    // A reset, not an orderly close: with a zero linger time close() discards what is unsent
    // and answers with RST, so the peer sees its connection torn down. shutdown() would send a
    // FIN whatever the linger setting. Closed under the lock, and the descriptor forgotten, so
    // that neither Stop's shutdown nor the reaper's close can reach a descriptor number the
    // system has handed out again.
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

void HttpServer::AcceptLoop() {
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
        if (open_.size() >= options_.maxConnections) {
            // A thread per connection: past the cap a client is turned away, not given one more.
            close(fd);
            continue;
        }
        raw->thread = std::thread([this, raw] {
            ServeConnection(raw->fd);
            raw->done = true;
        });
        open_.push_back(std::move(connection));
    }
}

bool HttpServer::ReadRequest(int fd, std::string& buffer, HttpRequest& request) {
    char chunk[16384];
    size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > options_.maxHead) return false;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    if (end > options_.maxHead) return false;
    request.head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    const size_t lineEnd = request.head.find("\r\n");
    const std::string requestLine = request.head.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.rfind(' ');
    if (space1 == std::string::npos || space2 == space1) return false;
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    size_t at = lineEnd;
    while (at != std::string::npos && at < request.head.size()) {
        const size_t next = request.head.find("\r\n", at + 2);
        const std::string line = request.head.substr(
            at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            const std::string name = TrimHeaderValue(line.substr(0, colon));
            const std::string value = TrimHeaderValue(line.substr(colon + 1));
            request.fields.emplace_back(name, value);
            request.headers[SV::HttpFieldText::Lower(name)] = value;
        }
        at = next;
    }
    // A request in absolute form ("GET http://host/path") is served by its path, so the
    // server also stands in for a forward proxy.
    std::string path = request.target;
    if (path.compare(0, 7, "http://") == 0) {
        const size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    const size_t question = path.find('?');
    request.path = path.substr(0, question);
    if (question != std::string::npos) request.query = path.substr(question + 1);
    const auto contentLength = request.headers.find("content-length");
    if (contentLength != request.headers.end()) {
        uint64_t length = 0;
        if (!SV::HttpFieldText::ParseDecimal(contentLength->second, &length) ||
            length > options_.maxBody) {
            return false;
        }
        while (buffer.size() < length) {
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<size_t>(n));
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
    }
    return true;
}

void HttpServer::ServeConnection(int fd) {
    std::string buffer;
    HttpConnection connection(*this, fd);
    ServeRequests(connection, fd, buffer);
    // The peer sees the end at once; the descriptor itself is closed when the thread is
    // reaped.
    connection.CloseWrite();
}

void HttpServer::ServeRequests(HttpConnection& connection, int fd, std::string& buffer) {
    for (;;) {
        HttpRequest request;
        if (!ReadRequest(fd, buffer, request)) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            if (options_.logLimit != 0 && requests_.size() > options_.logLimit) {
                requests_.pop_front();
            }
        }
        if (options_.observer) options_.observer(request);
        bool keepAlive = SV::HttpFieldText::Lower(request.Header("connection")) != "close";
        if (!handler_(connection, request, &keepAlive) || !keepAlive || stop_.load()) return;
    }
}

}  // namespace ZulPortal
