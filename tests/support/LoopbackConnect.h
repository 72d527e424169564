#ifndef TESTS_SUPPORT_LOOPBACKCONNECT_H
#define TESTS_SUPPORT_LOOPBACKCONNECT_H

// Header-only, plain sockets: a test's client connection to a server it started on the
// loopback address and a socket bound there, for the tests of the portability layer's sockets and
// of the engine's socket servers alike.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace SvTestSupport {

// 127.0.0.1 in host order, the address the servers under test listen on.
const uint32_t kLoopback = 0x7F000001;

// A client connection to 127.0.0.1:port; -1 when it fails.
inline int Connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(kLoopback);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A socket bound to 127.0.0.1 on a port the system chooses, listening when asked; the port in
// *port. -1 when it fails.
inline int BindAnyLoopbackPort(bool listening, uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listening && listen(fd, 4) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace SvTestSupport

#endif
