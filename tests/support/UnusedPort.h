#ifndef TESTS_SUPPORT_UNUSEDPORT_H
#define TESTS_SUPPORT_UNUSEDPORT_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <random>

namespace SvTestSupport {

// A loopback port that nothing holds at the moment, for a server a test starts and stops.
// Taken at random below the range the system hands out for port 0 and for outgoing
// connections (32768 and up), so that once the test's server has let it go no other test
// process running at the same time picks it up by asking for any free port: a test that
// checks the port is free again after a stop would otherwise see a stranger there. 0 when
// none could be found.
inline uint16_t UnusedLoopbackPort() {
    static thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(20100, 32700);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const uint16_t port = static_cast<uint16_t>(pick(random));
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return 0;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (free) return port;
    }
    return 0;
}

}  // namespace SvTestSupport

#endif
