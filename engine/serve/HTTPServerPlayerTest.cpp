// The loopback server as an outside client (curl) sees it: which host names it answers, and that
// peers holding every connection without asking anything do not lock a player out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::DirectoryFileSource;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

class HTTPServerPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir.File("a.bin"), Pattern(1000, 3));
        front.reset(new LiveFront(&source));
        port = std::to_string(front->Port());
    }
    void TearDown() override {
        EXPECT_TRUE(front->ReapAll());
        front.reset();
    }
    // The status curl got for the URL with the extra arguments.
    std::string Status(const std::vector<std::string>& extra, const std::string& url) {
        std::vector<std::string> argv = {"curl", "-sS",       "-m", "5",
                                         "-o",   "/dev/null", "-w", "%{http_code}"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(url);
        std::string out;
        EXPECT_EQ(0, RunProgram(argv, &out)) << out;
        return out;
    }

    int Open() { return Connect(front->Port()); }

    TemporaryDirectory dir{"httpplayer"};
    DirectoryFileSource source{dir.Path()};
    std::unique_ptr<LiveFront> front;
    std::string port;
};

SV_SUITE_LABEL(HTTPServerPlayerTest, e2e);  // checked with an outside client
TEST_F(HTTPServerPlayerTest, ARebindingNameIsRefusedAndTheLoopbackNamesAreServed) {
    // A web page that had a name of its own resolve to 127.0.0.1 sends that name as its Host:
    // curl's --resolve makes exactly that request without touching the resolver. A page at
    // evil.example whose name now resolves to the loopback address.
    EXPECT_EQ("403", Status({"--resolve", "evil.example:" + port + ":127.0.0.1"},
                            "http://evil.example:" + port + "/a.bin"));
    // The same with the name given in the field only.
    EXPECT_EQ("403", Status({"-H", "Host: evil.example"}, "http://127.0.0.1:" + port + "/a.bin"));
    // The names a player uses, with the port as curl sends it.
    EXPECT_EQ("200", Status({}, "http://localhost:" + port + "/a.bin"));
    EXPECT_EQ("200", Status({}, "http://127.0.0.1:" + port + "/a.bin"));
    // Without the port, and the IPv6 loopback name (the server listens on IPv4 only, so the
    // name is given in the field).
    EXPECT_EQ("200", Status({"-H", "Host: localhost"}, "http://127.0.0.1:" + port + "/a.bin"));
    EXPECT_EQ("200", Status({"-H", "Host: [::1]"}, "http://127.0.0.1:" + port + "/a.bin"));
    EXPECT_EQ("200", Status({"-H", "Host: [::1]:" + port}, "http://127.0.0.1:" + port + "/a.bin"));
    // No Host at all (curl leaves the field out when told to).
    EXPECT_EQ("200", Status({"-H", "Host:", "--http1.0"}, "http://127.0.0.1:" + port + "/a.bin"));
}

TEST_F(HTTPServerPlayerTest, PeersHoldingEveryConnectionDoNotShutAPlayerOut) {
    // Half the connections never ask anything; the other half trickle a head that never ends.
    std::vector<int> peers;
    for (int i = 0; i < MultiSocketDelegateServer::kMaxServingConnections; ++i) {
        peers.push_back(Open());
        if (i % 2 == 1) {
            ASSERT_TRUE(SendAll(peers.back(), "GET /a.bin HTTP/1.1\r\nX-Slow:"));
        }
    }
    // They wait for a whole head without a session, and hold no place a player needs.
    ASSERT_TRUE(WaitUntil([&]() {
        return front->Listener().GetWaitingConnections() ==
               MultiSocketDelegateServer::kMaxServingConnections;
    }));
    EXPECT_EQ(0u, front->Sessions());
    // A player gets in at once (the bound only keeps a fault from hanging the test) and gets
    // the whole file, twice in a row.
    std::string out;
    const std::string url = "http://localhost:" + port + "/a.bin";
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-m", "20", "-o", dir.File("one"), "-o",
                             dir.File("two"), "-w", "%{http_code};", url, url},
                            &out))
        << out;
    EXPECT_EQ("200;200;", out);
    EXPECT_TRUE(ReadWholeFile(dir.File("one")) == Pattern(1000, 3));
    EXPECT_TRUE(ReadWholeFile(dir.File("two")) == Pattern(1000, 3));
    // No peer had to give way for it.
    EXPECT_FALSE(PeerCloses(peers[0], 50));
    EXPECT_EQ(MultiSocketDelegateServer::kMaxServingConnections,
              front->Listener().GetWaitingConnections());
    for (int fd : peers) close(fd);
}

}  // namespace
}  // namespace SarvelonMediaKit
