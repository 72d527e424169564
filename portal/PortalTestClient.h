#ifndef PORTAL_PORTALTESTCLIENT_H
#define PORTAL_PORTALTESTCLIENT_H
// A plain-socket HTTP/1.1 client for the portal's tests: one request per connection
// ("Connection: close"), the response read to its end, headers kept in wire order. It shares
// no code with the server it checks.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ZulPortal {
namespace test {

struct TestResponse {
    int status = 0;                                            // 0: no response at all
    std::vector<std::pair<std::string, std::string>> headers;  // wire order, names as sent
    std::string body;
    bool reset = false;  // the connection was reset

    // The first header of that exact name; "" without one.
    std::string Header(const std::string& name) const {
        for (const auto& header : headers) {
            if (header.first == name) return header.second;
        }
        return std::string();
    }
    bool Has(const std::string& name) const {
        for (const auto& header : headers) {
            if (header.first == name) return true;
        }
        return false;
    }
    std::vector<std::string> All(const std::string& name) const {
        std::vector<std::string> values;
        for (const auto& header : headers) {
            if (header.first == name) values.push_back(header.second);
        }
        return values;
    }
};

// Sends raw request bytes and reads until the server closes. timeoutMs bounds each read.
inline TestResponse Exchange(uint16_t port, const std::string& bytes, int timeoutMs = 10000) {
    TestResponse response;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return response;
    }
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string raw;
    char buffer[65536];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            raw.append(buffer, static_cast<size_t>(n));
        } else {
            if (n < 0 && errno == ECONNRESET) response.reset = true;
            break;
        }
    }
    close(fd);
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) return response;
    response.status = std::stoi(raw.substr(9, 3));
    size_t at = raw.find("\r\n") + 2;
    while (at < end) {
        const size_t next = raw.find("\r\n", at);
        const std::string line = raw.substr(at, next - at);
        const size_t colon = line.find(':');
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        response.headers.emplace_back(line.substr(0, colon), value);
        at = next + 2;
    }
    response.body = raw.substr(end + 4);
    return response;
}

inline TestResponse Get(uint16_t port, const std::string& target,
                        const std::string& extraHeaders = "") {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                              "Connection: close\r\n\r\n");
}

inline TestResponse Post(uint16_t port, const std::string& target, const std::string& body,
                         const std::string& extraHeaders = "") {
    return Exchange(port, "POST " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\n" +
                              extraHeaders + "Content-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body);
}

}  // namespace test
}  // namespace ZulPortal

#endif
