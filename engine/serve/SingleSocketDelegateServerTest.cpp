#include "engine/serve/SingleSocketDelegateServer.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/SocketTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;

typedef Recording<SingleSocketDelegateServer> RecordingServer;

// Keeps listening after each accept, so the waiting and refusing paths are reached.
class KeepListening : public RecordingServer {
public:
    using RecordingServer::RecordingServer;
    bool DoStopListeningAfterAccept() override { return false; }
};

TEST(SingleSocketDelegateServerTest, StopsListeningAfterTheFirstConnection) {
    Station station;
    {
        RecordingServer server(station.master.get(), station.pump.get());
        server.Listen(0, kLoopback);
        const uint16_t port = server.GetListeningPort();
        ASSERT_NE(0, port);

        const int first = Connect(port);
        ASSERT_GE(first, 0);
        ASSERT_TRUE(WaitUntil([&]() { return server.Count("open") == 1; }));
        ASSERT_TRUE(SendAll(first, "one"));
        ASSERT_TRUE(WaitUntil([&]() { return server.Data() == "one"; }));

        ASSERT_TRUE(WaitUntil([&]() { return server.GetListeningPort() == 0; }));
        errno = 0;
        EXPECT_EQ(-1, Connect(port));
        EXPECT_EQ(ECONNREFUSED, errno);
        close(first);
        station.Halt();
    }
}

TEST(SingleSocketDelegateServerTest, OneServedOneWaitingTheRestRefused) {
    Station station;
    {
        KeepListening server(station.master.get(), station.pump.get());
        server.Listen(0, kLoopback);
        const uint16_t port = server.GetListeningPort();

        const int active = Connect(port);
        ASSERT_GE(active, 0);
        ASSERT_TRUE(WaitUntil([&]() { return server.Count("open") == 1; }));
        const int activeFd = server.GetSessionDescriptor();

        testing::internal::CaptureStderr();
        const int waiting = Connect(port);
        const int refused = Connect(port);
        ASSERT_GE(waiting, 0);
        ASSERT_GE(refused, 0);
        const bool refusedClosed = PeerCloses(refused);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(refusedClosed);
        EXPECT_EQ("Rejecting connection" + std::to_string(activeFd) + "\n", errors);
        ASSERT_TRUE(SendAll(waiting, "two"));  // queued until it is served

        // The active connection ends: the waiting one takes its place, is announced and read.
        close(active);
        ASSERT_TRUE(WaitUntil([&]() { return server.Count("open") == 2; }));
        ASSERT_TRUE(WaitUntil([&]() { return server.Data() == "two"; }));
        const std::vector<std::string> expected = {"open", "closed", "open"};
        EXPECT_EQ(expected, server.Events());
        EXPECT_EQ(0, server.OffThread());

        close(waiting);
        close(refused);
        ASSERT_TRUE(WaitUntil([&]() { return server.Count("closed") == 2; }));
        station.Halt();
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
