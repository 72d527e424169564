#include "engine/serve/ListeningPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>

namespace SarvelonMediaKit {

namespace {

const uint16_t kDefaultLoopbackPort = 20001;

// Trivially destructible, so it may be read while the process exits.
std::atomic<uint16_t> gLoopbackPort(kDefaultLoopbackPort);

}  // namespace

uint16_t GetLoopbackPort() { return gLoopbackPort; }

void SetLoopbackPort(uint16_t port) { gLoopbackPort = port; }

uint16_t LocalPortOf(int fd) {
    if (fd < 0) return 0;
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.sin_family != AF_INET) return 0;
    return ntohs(address.sin_port);
}

}  // namespace SarvelonMediaKit
