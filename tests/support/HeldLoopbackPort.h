#ifndef TESTS_SUPPORT_HELDLOOPBACKPORT_H
#define TESTS_SUPPORT_HELDLOOPBACKPORT_H

// Header-only: a loopback port held by a listening socket, as another program that took the
// port first would hold it. The system chooses the port; the socket closes with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "tests/support/LoopbackConnect.h"

namespace SvTestSupport {

class HeldLoopbackPort {
public:
    HeldLoopbackPort() : fd_(BindAnyLoopbackPort(true, &port_)) {}
    ~HeldLoopbackPort() {
        if (fd_ >= 0) close(fd_);
    }
    HeldLoopbackPort(const HeldLoopbackPort&) = delete;
    HeldLoopbackPort& operator=(const HeldLoopbackPort&) = delete;

    // The port, 0 when none could be held.
    uint16_t Port() const { return port_; }

private:
    uint16_t port_ = 0;  // before fd_: set while fd_ is made
    int fd_ = -1;
};

}  // namespace SvTestSupport

#endif
