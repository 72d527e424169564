#ifndef ENGINE_API_TRANSFORMERSERVINGTESTSUPPORT_H
#define ENGINE_API_TRANSFORMERSERVINGTESTSUPPORT_H

// Shared by the Transformer's tests (included by *Test.cpp only): a free loopback port for the
// engine's server, a raw HTTP GET, and what the independent transport-stream reader finds at
// the start of a served segment.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine/serve/ListeningPort.h"
#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/UnusedPort.h"
#include "common/TsReader.h"

namespace SarvelonMediaKit {
namespace test {

// A socket bound to 127.0.0.1 (port 0: any free one), listening when asked; -1 on failure.
inline int BindLoopback(uint16_t port, bool listenToo) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Connections the engine closed may linger in TIME_WAIT on the port; only a socket that
    // still listens there may make the bind fail.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(kLoopback);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listenToo && listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Picks a port that is free now and makes it the engine's loopback port.
inline uint16_t UseFreeLoopbackPort() {
    const uint16_t port = SvTestSupport::UnusedLoopbackPort();
    SetLoopbackPort(port);
    return port;
}

// A raw GET on the engine's loopback port, the body read to its announced length.
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;

// The presentation time (90 kHz) of the first H.264 access unit in transport-stream bytes, as
// the tools' independent reader sees it; -1 when there is none.
inline int64_t FirstVideoPts(const std::string& bytes) {
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.streamType == 0x1B) return static_cast<int64_t>(pes.pts);
    }
    return -1;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
