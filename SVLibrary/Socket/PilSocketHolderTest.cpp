#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Socket/CloseOnExec.h"
#include "SVLibrary/Socket/PilSocketHolder.h"
#include "tests/support/ChildDescriptors.h"
#include "tests/support/LoopbackConnect.h"

namespace {

using SvTestSupport::Connect;
using SvTestSupport::kLoopback;

uint16_t BoundPort(int fd) {
    sockaddr_in address;
    socklen_t length = sizeof address;
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    return ntohs(address.sin_port);
}

bool IsOpenDescriptor(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(PilSocketHolder, ListenOnEphemeralPortAndAcceptAConnection) {
    SV::PilSocketHolder listener;
    listener.Listen(0, kLoopback);
    ASSERT_NE(listener.fd, -1);
    uint16_t port = BoundPort(listener.fd);
    ASSERT_NE(port, 0);

    int client = Connect(port);
    ASSERT_NE(client, -1);
    SV::PilSocketHolder connection;
    connection.Accept(listener.fd);
    ASSERT_NE(connection.fd, -1);

    const char text[] = "hello";
    ASSERT_EQ(connection.Send(text, 5), 5);
    std::string got;
    while (got.size() < 5) {
        char received[8];
        ssize_t n = recv(client, received, sizeof received, 0);
        ASSERT_GT(n, 0);
        got.append(received, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "hello");
    close(client);
}

TEST(PilSocketHolder, ListenOnAHeldPortThrowsAndLeavesNothingOpen) {
    SV::PilSocketHolder first;
    first.Listen(0, kLoopback);
    uint16_t port = BoundPort(first.fd);

    SV::PilSocketHolder second;  // reuse-address is set on both, yet a listener holds the port
    try {
        second.Listen(port, kLoopback);
        FAIL() << "Listen on a held port did not throw";
    } catch (const SV::SVLibraryException& e) {
        EXPECT_STREQ(e.what(), "SVL_Internal: Could not open port error");
        EXPECT_EQ(e.GetCode(), 0x2a);
    }
    EXPECT_EQ(second.fd, -1);
    // The first listener is untouched.
    int client = Connect(port);
    EXPECT_NE(client, -1);
    if (client != -1) close(client);
}

TEST(PilSocketHolder, AcceptFailureThrowsSocketInit) {
    SV::PilSocketHolder holder;
    try {
        holder.Accept(-1);
        FAIL() << "Accept on an invalid descriptor did not throw";
    } catch (const SV::SVLibraryException& e) {
        EXPECT_STREQ(e.what(), "SVL_Internal: SOCKETINIT failed");
    }
    EXPECT_EQ(holder.fd, -1);
}

TEST(PilSocketHolder, SendAfterPeerClosedFailsWithoutSigpipe) {
    // SIGPIPE keeps its default action here: if a send raised it, the test program would die.
    SV::PilSocketHolder listener;
    listener.Listen(0, kLoopback);
    int client = Connect(BoundPort(listener.fd));
    ASSERT_NE(client, -1);
    SV::PilSocketHolder connection;
    connection.Accept(listener.fd);
    ASSERT_EQ(SV::PilSocketHolder::SetSocketNoSigPipe(connection.fd), 0);
    close(client);

    // The first send after the close may still be accepted by the kernel; the peer's reset
    // then makes a later one fail.
    const char byte = 'x';
    ssize_t result = 0;
    for (int attempt = 0; attempt < 200 && result != -1; ++attempt) {
        result = connection.Send(&byte, 1);
        if (result != -1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << std::strerror(errno);
}

TEST(PilSocketHolder, EmptyHolderSendCloseAndSwap) {
    SV::PilSocketHolder empty;
    const char byte = 'x';
    EXPECT_EQ(empty.Send(&byte, 1), -1);

    SV::PilSocketHolder listener;
    listener.Listen(0, kLoopback);
    int listening = listener.fd;
    listener.Swap(empty);
    EXPECT_EQ(listener.fd, -1);
    EXPECT_EQ(empty.fd, listening);
    EXPECT_TRUE(IsOpenDescriptor(listening));

    // A second Close must not close a descriptor that has since reused the number.
    empty.Close();
    EXPECT_EQ(empty.fd, -1);
    int reused = dup(STDERR_FILENO);
    ASSERT_NE(reused, -1);
    empty.Close();
    EXPECT_TRUE(IsOpenDescriptor(reused));
    close(reused);
}

TEST(PilSocketHolder, DestructorClosesTheDescriptor) {
    int fd;
    {
        SV::PilSocketHolder holder;
        holder.Listen(0, kLoopback);
        fd = holder.fd;
        EXPECT_TRUE(IsOpenDescriptor(fd));
    }
    EXPECT_FALSE(IsOpenDescriptor(fd));
}

// What this process held before any test ran, passed on by whoever started it.
const std::map<int, std::string> kSocketTestDescriptorsAtStart = SvTestSupport::OpenDescriptors();

// A program the process starts (a web view's process) keeps no socket of the server's: a
// listening socket it kept would hold the port after the server closed it.
TEST(PilSocketHolder, AChildStartedMeanwhileHoldsNeitherTheListeningNorTheAcceptedSocket) {
    SV::PilSocketHolder listener;
    listener.Listen(0, kLoopback);
    const uint16_t port = BoundPort(listener.fd);
    const int client = Connect(port);
    ASSERT_NE(client, -1);
    SV::PilSocketHolder connection;
    connection.Accept(listener.fd);
    ASSERT_NE(connection.fd, -1);
    // A library's descriptors, made without the flag, marked after the call that made them; one
    // made before that call is left as it was.
    int before[2];
    ASSERT_EQ(pipe(before), 0);
    const std::vector<int> open = SV::OpenDescriptorNumbers();
    EXPECT_TRUE(std::binary_search(open.begin(), open.end(), before[0]));
    int library[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, library), 0);
    SV::MarkOpenedSinceCloseOnExec(open);

    std::vector<std::string> passed =
        SvTestSupport::DescriptorsPassedToAChild(kSocketTestDescriptorsAtStart);
    std::vector<std::string> expected;
    for (const int fd : before) {
        expected.push_back(std::to_string(fd) + " -> " + SvTestSupport::OpenDescriptors()[fd]);
    }
    std::sort(passed.begin(), passed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, passed) << "only the pipe made before the marked call is passed on";
    for (const int fd : {before[0], before[1], library[0], library[1], client}) close(fd);
}

TEST(PilSocketHolder, SetSocketNoSigPipeRejectsNonSockets) {
    EXPECT_EQ(SV::PilSocketHolder::SetSocketNoSigPipe(-1), -1);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_EQ(SV::PilSocketHolder::SetSocketNoSigPipe(pipeFds[0]), -1);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

}  // namespace
