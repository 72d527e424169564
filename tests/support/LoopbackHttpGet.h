#ifndef TESTS_SUPPORT_LOOPBACKHTTPGET_H
#define TESTS_SUPPORT_LOOPBACKHTTPGET_H

// Test helper (included by *Test.cpp only): one HTTP/1.1 GET on 127.0.0.1 over a connection of
// its own, the head read whole and then the body to its Content-Length (or to the close).
// Plain sockets only, so any test folder can use it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/LoopbackConnect.h"

namespace SvTestSupport {

struct HttpAnswer {
    int status = 0;         // 0: no answer (no connection, or no well-formed head)
    bool complete = false;  // the body holds exactly the announced length, or ran to the close
    std::string head;       // status line and header fields, with the blank line that ends them
    std::string body;
};

namespace loopback_http_detail {

enum class ReadResult { kData, kClosed, kTimedOut };

// Appends what one recv returns once the socket is readable within timeoutMs.
inline ReadResult ReadSome(int fd, std::string& into, int timeoutMs) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs) <= 0) return ReadResult::kTimedOut;
    char buffer[16384];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return ReadResult::kClosed;
    into.append(buffer, static_cast<size_t>(n));
    return ReadResult::kData;
}

// The value of the Content-Length field in head (field names compare without case); false when
// the field is absent or its value is not a plain decimal number.
inline bool ContentLength(const std::string& head, uint64_t& length) {
    size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
        const size_t start = line + 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start) break;
        const size_t colon = head.find(':', start);
        static const char kName[] = "content-length";
        const size_t nameLength = sizeof kName - 1;
        bool match = colon != std::string::npos && colon < end && colon - start == nameLength;
        for (size_t i = 0; match && i < nameLength; ++i) {
            match = std::tolower(static_cast<unsigned char>(head[start + i])) == kName[i];
        }
        if (match) {
            size_t at = colon + 1;
            while (at < end && (head[at] == ' ' || head[at] == '\t')) ++at;
            size_t stop = end;
            while (stop > at && (head[stop - 1] == ' ' || head[stop - 1] == '\t')) --stop;
            if (at == stop || stop - at > 19) return false;
            uint64_t value = 0;
            for (size_t i = at; i < stop; ++i) {
                if (!std::isdigit(static_cast<unsigned char>(head[i]))) return false;
                value = value * 10 + static_cast<uint64_t>(head[i] - '0');
            }
            length = value;
            return true;
        }
        line = end;
    }
    return false;
}

}  // namespace loopback_http_detail

// Whether a connection to 127.0.0.1:port is accepted within timeoutMs (tried every 10 ms). The
// engine opens its port on its own thread after the playback starts: a test that acts as a
// player waits for it before its first request.
inline bool WaitForListener(uint16_t port, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int fd = Connect(port);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        poll(nullptr, 0, 10);
    }
}

// GET path (a leading '/' is added when missing) on 127.0.0.1:port. The head may take up to
// timeoutMs between two arrivals; the body then has timeoutMs in all.
inline HttpAnswer HttpGet(uint16_t port, const std::string& path, int timeoutMs = 10000) {
    using namespace loopback_http_detail;
    HttpAnswer answer;
    const int fd = Connect(port);
    if (fd < 0) return answer;
    const std::string target = !path.empty() && path[0] == '/' ? path : "/" + path;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            close(fd);
            return answer;
        }
        sent += static_cast<size_t>(n);
    }

    std::string all;
    size_t headEnd = std::string::npos;
    ReadResult last = ReadResult::kData;
    while ((headEnd = all.find("\r\n\r\n")) == std::string::npos) {
        last = ReadSome(fd, all, timeoutMs);
        if (last != ReadResult::kData) break;
    }
    const bool wellFormed = headEnd != std::string::npos && all.size() >= 12 &&
                            all.compare(0, 7, "HTTP/1.") == 0 &&
                            std::isdigit(static_cast<unsigned char>(all[7])) && all[8] == ' ';
    if (wellFormed) {
        answer.status = std::atoi(all.c_str() + 9);
        answer.head = all.substr(0, headEnd + 4);
        answer.body = all.substr(headEnd + 4);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto left = [&deadline] {
            return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        };
        uint64_t length = 0;
        if (ContentLength(answer.head, length)) {
            while (answer.body.size() < length && left() > 0 &&
                   ReadSome(fd, answer.body, left()) == ReadResult::kData) {
            }
            answer.complete = answer.body.size() == length;
        } else {
            // No announced length: the body ends where the server closes the connection.
            while (left() > 0 && (last = ReadSome(fd, answer.body, left())) == ReadResult::kData) {
            }
            answer.complete = last == ReadResult::kClosed;
        }
    }
    close(fd);
    return answer;
}

}  // namespace SvTestSupport

#endif  // TESTS_SUPPORT_LOOPBACKHTTPGET_H
