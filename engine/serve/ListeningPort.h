#ifndef ENGINE_SERVE_LISTENINGPORT_H
#define ENGINE_SERVE_LISTENINGPORT_H

#include <cstdint>

namespace SarvelonMediaKit {

// The port the engine's loopback server listens on: 20001 unless a test or a tool sets another
// (tests pick free ports so they can run side by side). Process-wide; any thread.
uint16_t GetLoopbackPort();
void SetLoopbackPort(uint16_t port);

// The local port a socket is bound to, 0 for none.
uint16_t LocalPortOf(int fd);

}  // namespace SarvelonMediaKit

#endif
