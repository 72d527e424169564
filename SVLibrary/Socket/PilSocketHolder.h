#ifndef SVLIBRARY_SOCKET_PILSOCKETHOLDER_H
#define SVLIBRARY_SOCKET_PILSOCKETHOLDER_H

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace SV {

// Owns one socket descriptor: the listening socket of the local HTTP server or one accepted
// connection. Listen and Accept throw SV::SVLibraryException; Send and Close never throw.
class PilSocketHolder {
public:
    PilSocketHolder() = default;
    ~PilSocketHolder();

    PilSocketHolder(const PilSocketHolder&) = delete;
    PilSocketHolder& operator=(const PilSocketHolder&) = delete;

    // Opens a blocking IPv4 TCP listening socket (backlog 100, close-on-exec) on the address and
    // port, both in host byte order (127.0.0.1 is 0x7F000001). Any descriptor held before is closed
    // first. Every failure throws code 0x2a ("Could not open port") and leaves the holder empty.
    void Listen(uint16_t port, uint32_t address);

    // Accepts one connection on the listening descriptor into this holder (closing what it
    // held), close-on-exec. A failure throws code 0x2e and leaves the holder empty.
    void Accept(int listeningDescriptor);

    // One send of the bytes. Returns the count sent, or -1 with errno set; -1 at once when the
    // holder is empty. A peer that has gone away gives -1 (EPIPE), never a SIGPIPE.
    ssize_t Send(const void* bytes, size_t length);

    // Closes the descriptor if one is held.
    void Close();

    // Exchanges the descriptors; the reuse-address flags stay with their holders.
    void Swap(PilSocketHolder& other);

    // Makes writes to a connection whose peer has closed fail with an error rather than raise
    // SIGPIPE. Linux has no per-socket option for this: every send of this layer passes
    // MSG_NOSIGNAL instead, so here we only check that the descriptor is a socket, the one
    // failure the option would report. Returns 0, or -1 with errno set.
    static int SetSocketNoSigPipe(int descriptor);

    // The descriptor, -1 when none.
    int fd = -1;
    // Whether Listen sets SO_REUSEADDR.
    bool reuseAddress = true;
};

}  // namespace SV

#endif
