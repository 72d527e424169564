#include "SVLibrary/Socket/PilSocketHolder.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SVLibrary/Exception/Exception.h"

namespace SV {

namespace {

constexpr int kListenBacklog = 100;

}  // namespace

PilSocketHolder::~PilSocketHolder() { Close(); }

void PilSocketHolder::Close() {
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
}

void PilSocketHolder::Swap(PilSocketHolder& other) { std::swap(fd, other.fd); }

int PilSocketHolder::SetSocketNoSigPipe(int descriptor) {
    struct stat info;
    if (::fstat(descriptor, &info) != 0) return -1;
    if (!S_ISSOCK(info.st_mode)) {
        errno = ENOTSOCK;
        return -1;
    }
    return 0;
}

void PilSocketHolder::Listen(uint16_t port, uint32_t address) {
    Close();

    sockaddr_in socketAddress;
    std::memset(&socketAddress, 0, sizeof socketAddress);
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    socketAddress.sin_addr.s_addr = htonl(address);

    // Close-on-exec from the start: a program this process starts (a web view's process) must
    // not keep the port bound after the server closed it.
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd == -1) throw SVLibraryException(SVL_CouldNotOpenPort, "Could not allocate socket");

    // A failed step must not leave a half-made socket behind in the holder.
    auto fail = [this](const char* detail) {
        Close();
        throw SVLibraryException(SVL_CouldNotOpenPort, detail);
    };
    if (reuseAddress) {
        int on = 1;
        if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
            fail("Could not set socket reuse option");
    }
    if (SetSocketNoSigPipe(fd) < 0) fail("Could not set blocking on socket");
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress) == -1)
        fail("Could not bind");
    if (::listen(fd, kListenBacklog) == -1) fail("Could not listen");
}

void PilSocketHolder::Accept(int listeningDescriptor) {
    Close();
    sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    int accepted;
    do {
        peerLength = sizeof peer;
        accepted = ::accept4(listeningDescriptor, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                             SOCK_CLOEXEC);
    } while (accepted == -1 && errno == EINTR);
    if (accepted == -1) throw SVLibraryException(SVL_SocketInit, "Accept failed");
    fd = accepted;
}

ssize_t PilSocketHolder::Send(const void* bytes, size_t length) {
    if (fd == -1) return -1;
    return ::send(fd, bytes, length, MSG_NOSIGNAL);
}

}  // namespace SV
