// What serving a title costs at the least on this machine, whatever the chain does between its
// input and its sockets: the title read in 256 KiB blocks as the file client reads it, every
// 184 bytes laid into a 188-byte transport packet of a 1.2 MB segment (a ring of 14 of them,
// as many as the segmenter keeps), and each segment sent to a loopback reader 128 KiB per send,
// the part of a response one serving pass sends. Nothing is parsed, nothing allocated per
// segment. bench/HlsServeBench.sh prints its figure beside the chain's and nginx's.
//
//   ServeFloorBench FILE
//
// Prints "floor_ms X": the process's CPU (user and system) per 1.2 MB sent, the reader's not
// counted (it is a process of its own, draining 32 KiB at a time as a player's reads do).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/CpuTime.h"
namespace {

constexpr size_t kBlockBytes = 256 * 1024;
constexpr size_t kPacketBytes = 188;
constexpr size_t kPayloadBytes = 184;
constexpr size_t kSegmentPackets = 6383;  // 1.2 MB of packets
constexpr size_t kRingSegments = 14;
constexpr size_t kSendBytes = 128 * 1024;

bool SendAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        size -= size_t(sent);
    }
    return true;
}

// Reads the connection to its end, 32 KiB at a time; exits 0 once the peer has closed.
[[noreturn]] void Drain(const sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        _exit(1);
    }
    static uint8_t buffer[32 * 1024];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0) _exit(0);
        if (got < 0 && errno != EINTR) _exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const int file = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("loopback listener");
        return 1;
    }
    const pid_t reader = fork();
    if (reader < 0) {
        std::perror("fork");
        return 1;
    }
    if (reader == 0) Drain(address);
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0) {
        std::perror("accept");
        return 1;
    }

    std::vector<uint8_t> block(kBlockBytes);
    // Touched once before the clock starts: a serving process's segments are in memory it
    // has used before.
    std::vector<uint8_t> ring(kRingSegments * kSegmentPackets * kPacketBytes, 0xFF);
    size_t segment = 0;
    size_t packets = 0;  // in the segment being filled
    uint64_t sent = 0;
    uint8_t counter = 0;
    bool ok = true;
    const double start = bench::ProcessCpuSeconds();
    for (;;) {
        const ssize_t got = read(file, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::perror("read");
            return 1;
        }
        if (got == 0) break;
        for (size_t at = 0; at < size_t(got) && ok; at += kPayloadBytes) {
            uint8_t* packet = &ring[(segment * kSegmentPackets + packets) * kPacketBytes];
            const size_t take = std::min(kPayloadBytes, size_t(got) - at);
            packet[0] = 0x47;
            packet[1] = 0x01;
            packet[2] = 0x00;
            packet[3] = uint8_t(0x10 | (counter++ & 0x0F));
            std::memcpy(packet + 4, &block[at], take);
            if (++packets < kSegmentPackets) continue;
            const uint8_t* bytes = &ring[segment * kSegmentPackets * kPacketBytes];
            const size_t size = kSegmentPackets * kPacketBytes;
            for (size_t off = 0; off < size && ok; off += kSendBytes) {
                ok = SendAll(peer, bytes + off, std::min(kSendBytes, size - off));
            }
            sent += size;
            packets = 0;
            segment = (segment + 1) % kRingSegments;
        }
        if (!ok) break;
    }
    const double cpu = bench::ProcessCpuSeconds() - start;
    shutdown(peer, SHUT_WR);
    close(peer);
    int status = 0;
    waitpid(reader, &status, 0);
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || sent == 0) {
        std::fprintf(stderr, "the loopback reader did not take every byte\n");
        return 1;
    }
    std::printf("floor_ms %.6f\n", cpu * 1000.0 * 1.2e6 / double(sent));
    return 0;
}
