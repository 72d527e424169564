#ifndef TESTS_SUPPORT_HELDLOOPBACKPORT_H
#define TESTS_SUPPORT_HELDLOOPBACKPORT_H

// Header-only: a loopback port held by a listening socket, as another program that took the
// port first would hold it. The system chooses the port; the socket closes with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace SvTestSupport {

class HeldLoopbackPort {
public:
    HeldLoopbackPort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~HeldLoopbackPort() {
        if (fd_ >= 0) close(fd_);
    }
    HeldLoopbackPort(const HeldLoopbackPort&) = delete;
    HeldLoopbackPort& operator=(const HeldLoopbackPort&) = delete;

    // The port, 0 when none could be held.
    uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace SvTestSupport

#endif
