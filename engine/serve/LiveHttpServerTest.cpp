#include "engine/serve/LiveHttpServer.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::DirectoryFileSource;
using SvTestSupport::TemporaryDirectory;

class LiveHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        data = Pattern(1000, 1);
        big = Pattern(300000, 2);  // more than two pump passes, many chunks
        WriteFile(dir.File("a.bin"), data);
        WriteFile(dir.File("big.ts"), big);
        WriteFile(dir.File("empty.m3u8"), "");
        front.reset(new LiveFront(&source));
    }
    void TearDown() override {
        EXPECT_TRUE(front->ReapAll());
        front.reset();
    }
    int Open() {
        const int fd = Connect(front->Port());
        EXPECT_GE(fd, 0);
        return fd;
    }
    // One request on a new connection, everything until the server closes.
    std::string Exchange(const std::string& request) {
        const int fd = Open();
        EXPECT_TRUE(SendAll(fd, request));
        const std::string response = ReadUntilClosed(fd);
        close(fd);
        return response;
    }

    TemporaryDirectory dir{"livehttp"};
    DirectoryFileSource source{dir.Path()};
    std::unique_ptr<LiveFront> front;
    std::string data, big;
};

TEST_F(LiveHttpServerTest, AWholeFileGetsTheExactHeadAndItsBytes) {
    const std::string response =
        Exchange("GET /a.bin HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\n"          // status line
                          "Content-Length: 1000\r\n"     // the file's size
                          "Accept-Ranges: bytes\r\n"     // ranges are served
                          "Cache-Control: no-store\r\n"  // files of a live title change
                          "Connection: close\r\n"        // as the client asked
                          "\r\n") +
                  data,
              response);
    EXPECT_EQ(LiveHttpFile::StateServed, source.StateOf("a.bin"));
    // The source heard 3 (loaded), 4 (sending), 5 (served), once each.
    std::vector<std::pair<std::string, int>> expected = {{"a.bin", 3}, {"a.bin", 4}, {"a.bin", 5}};
    EXPECT_EQ(expected, source.StateChanges());
}

TEST_F(LiveHttpServerTest, SingleRangesAsHttpDefinesThem) {
    struct Case {
        const char* range;
        std::string head;
        std::string body;
    } cases[] = {
        {"bytes=100-199",
         "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 100\r\n"
         "Content-Range: bytes 100-199/1000\r\nCache-Control: no-store\r\nConnection: "
         "close\r\n\r\n",
         data.substr(100, 100)},
        {"bytes=900-",
         "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 100\r\n"
         "Content-Range: bytes 900-999/1000\r\nCache-Control: no-store\r\nConnection: "
         "close\r\n\r\n",
         data.substr(900)},
        // A suffix: the last 300 bytes.
        {"bytes=-300",
         "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 300\r\n"
         "Content-Range: bytes 700-999/1000\r\nCache-Control: no-store\r\nConnection: "
         "close\r\n\r\n",
         data.substr(700)},
        // The end clamped to the size.
        {"bytes=990-5000",
         "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 10\r\n"
         "Content-Range: bytes 990-999/1000\r\nCache-Control: no-store\r\nConnection: "
         "close\r\n\r\n",
         data.substr(990)},
        {"bytes=1000-",
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
         "Content-Length: 0\r\nConnection: close\r\n\r\n",
         ""},
        // Malformed, or several ranges: the whole file.
        {"bytes=abc",
         "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
         "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
         data},
        {"bytes=0-1,5-6",
         "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
         "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
         data},
    };
    for (const Case& c : cases) {
        // The field name in any case.
        const std::string response = Exchange(std::string("GET /a.bin HTTP/1.1\r\nrAnGe: ") +
                                              c.range + "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(c.head + c.body, response) << c.range;
    }
}

TEST_F(LiveHttpServerTest, OneConnectionAnswersEveryKindOfRequestInTurn) {
    const int fd = Open();
    // HEAD, a 404, a 405 with a body to skip, then two GETs in one write and one GET in two
    // writes: all answered in order on the one connection, which stays open (HTTP/1.1).
    ASSERT_TRUE(SendAll(fd, "HEAD /a.bin HTTP/1.1\n\n"));
    const std::string head200 =
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
        "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(head200, ReadAtLeast(fd, head200.size()));
    ASSERT_TRUE(SendAll(fd, "GET /missing HTTP/1.1\r\n\r\n"));
    const std::string notFound =
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(notFound, ReadAtLeast(fd, notFound.size()));
    ASSERT_TRUE(SendAll(fd, "POST /a.bin HTTP/1.1\r\nContent-Length: 5\r\n\r\nHELLO"));
    const std::string notAllowed =
        "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Length: 0\r\n"
        "Connection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(notAllowed, ReadAtLeast(fd, notAllowed.size()));
    ASSERT_TRUE(SendAll(fd,
                        "GET /a.bin HTTP/1.1\r\nRange: bytes=0-9\r\n\r\n"
                        "GET /a.bin HTTP/1.1\r\nRange: bytes=10-19\r\n\r\n"));
    const std::string range0 =
        "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 10\r\n"
        "Content-Range: bytes 0-9/1000\r\nCache-Control: no-store\r\nConnection: "
        "Keep-Alive\r\n\r\n" +
        data.substr(0, 10);
    const std::string range1 =
        "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 10\r\n"
        "Content-Range: bytes 10-19/1000\r\nCache-Control: no-store\r\nConnection: "
        "Keep-Alive\r\n\r\n" +
        data.substr(10, 10);
    EXPECT_EQ(range0 + range1, ReadAtLeast(fd, range0.size() + range1.size()));
    ASSERT_TRUE(SendAll(fd, "GET /a.bin HT"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(SendAll(fd, "TP/1.1\r\nConnection: close\r\n\r\n"));
    const std::string whole = ReadUntilClosed(fd);
    EXPECT_EQ(1000u, whole.size() - whole.find("\r\n\r\n") - 4);
    EXPECT_EQ(0u, whole.find("HTTP/1.1 200 OK\r\n"));
    close(fd);
}

TEST_F(LiveHttpServerTest, BadRequestsGetAnAnswerAndTheConnectionEnds) {
    // No blank line within 16 KiB: 431, then the connection closes.
    const std::string huge =
        "GET /a.bin HTTP/1.1\r\nX-Big: " + std::string(20000, 'x') + "\r\n\r\n";
    EXPECT_EQ(
        "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n",
        Exchange(huge));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
              Exchange("\x01\x02 garbage\r\n\r\n"));
    // A name outside the folder is simply not there.
    EXPECT_EQ(0u, Exchange("GET /../../etc/passwd HTTP/1.0\r\n\r\n").find("HTTP/1.1 404 "));
    // HTTP/1.0 closes after the answer unless it asks to keep the connection.
    EXPECT_NE(std::string::npos,
              Exchange("GET /empty.m3u8 HTTP/1.0\r\n\r\n").find("Content-Length: 0\r\n"));
    // The server still serves.
    // "token::" in front of a name is not part of it.
    EXPECT_EQ(
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
        "Cache-Control: no-store\r\nConnection: close\r\n\r\n" +
            data,
        Exchange("GET /x::a.bin HTTP/1.1\r\nConnection: close\r\n\r\n"));
}

TEST_F(LiveHttpServerTest, TwoConnectionsReadingOneFileGetWholeBodiesEach) {
    const int a = Open();
    const int b = Open();
    const std::string request = "GET /big.ts HTTP/1.1\r\nConnection: close\r\n\r\n";
    ASSERT_TRUE(SendAll(a, request));
    ASSERT_TRUE(SendAll(b, request));
    std::string bodyA, bodyB;
    std::thread readB([&]() { bodyB = ReadUntilClosed(b); });
    bodyA = ReadUntilClosed(a);
    readB.join();
    close(a);
    close(b);
    ASSERT_NE(std::string::npos, bodyA.find("\r\n\r\n"));
    ASSERT_NE(std::string::npos, bodyB.find("\r\n\r\n"));
    EXPECT_TRUE(bodyA.substr(bodyA.find("\r\n\r\n") + 4) == big);
    EXPECT_TRUE(bodyB.substr(bodyB.find("\r\n\r\n") + 4) == big);
}

TEST_F(LiveHttpServerTest, AFileLeftMidBodyCountsAsServed) {
    const int fd = Open();
    ASSERT_TRUE(SendAll(fd, "GET /big.ts HTTP/1.1\r\n\r\n"));
    ReadAtLeast(fd, 1000);
    close(fd);  // the peer goes mid-body
    EXPECT_TRUE(WaitUntil([&]() { return source.StateOf("big.ts") == LiveHttpFile::StateServed; }));
}

TEST_F(LiveHttpServerTest, AFileANewRequestDropsMidBodyCountsAsServed) {
    const int fd = Open();
    // The first 1000 bytes of the segment: its body is left mid-way, and the connection kept.
    ASSERT_TRUE(SendAll(fd, "GET /big.ts HTTP/1.1\r\nRange: bytes=0-999\r\n\r\n"));
    const std::string partial =
        "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 1000\r\n"
        "Content-Range: bytes 0-999/300000\r\nCache-Control: no-store\r\nConnection: "
        "Keep-Alive\r\n\r\n" +
        big.substr(0, 1000);
    EXPECT_TRUE(ReadAtLeast(fd, partial.size()) == partial);
    // Still being served: the player may read on.
    EXPECT_EQ(LiveHttpFile::StateCompleteServed, source.StateOf("big.ts"));
    // The next request, for another file, drops it: it counts as served from then on.
    ASSERT_TRUE(SendAll(fd, "HEAD /a.bin HTTP/1.1\r\n\r\n"));
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
        "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n";
    EXPECT_EQ(head, ReadAtLeast(fd, head.size()));
    EXPECT_EQ(LiveHttpFile::StateServed, source.StateOf("big.ts"));
    close(fd);
}

TEST_F(LiveHttpServerTest, AGrowingFileIsServedWithoutLengthAndClosedAtItsEnd) {
    source.StartGrowing("live.ts", 7);
    source.Grow("live.ts", "first;");
    const int whole = Open();
    const int fromZero = Open();
    const int ranged = Open();
    ASSERT_TRUE(SendAll(whole, "GET /live.ts HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(SendAll(fromZero, "GET /live.ts HTTP/1.1\r\nRange: bytes=0-\r\n\r\n"));
    ASSERT_TRUE(SendAll(ranged, "GET /live.ts HTTP/1.1\r\nRange: bytes=2-8\r\n\r\n"));
    const std::string head =
        "HTTP/1.1 200 OK\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(head + "first;", ReadAtLeast(whole, head.size() + 6));
    EXPECT_EQ(head + "first;", ReadAtLeast(fromZero, head.size() + 6));
    EXPECT_EQ(LiveHttpFile::StateWritingServed, source.StateOf("live.ts"));
    source.Grow("live.ts", "second;");
    source.Grow("live.ts", "third");
    source.Complete("live.ts");
    EXPECT_EQ("second;third", ReadUntilClosed(whole));
    EXPECT_EQ("second;third", ReadUntilClosed(fromZero));
    // The other range waited for the end and then got the length of the finished file.
    const std::string rangedAnswer =
        "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\nContent-Length: 7\r\n"
        "Content-Range: bytes 2-8/18\r\nCache-Control: no-store\r\nConnection: Keep-Alive"
        "\r\n\r\nrst;sec";
    EXPECT_EQ(rangedAnswer, ReadAtLeast(ranged, rangedAnswer.size()));
    close(whole);
    close(fromZero);
    close(ranged);
    EXPECT_TRUE(
        WaitUntil([&]() { return source.StateOf("live.ts") == LiveHttpFile::StateServed; }));
}

TEST_F(LiveHttpServerTest, AFolderFileIsHandedOutOnlyOnceComplete) {
    // Many names loaded by several askers at once while a watcher looks at what the source
    // holds: it must never hold a file that is not complete (a connection given such a file
    // would serve it as still growing).
    const int kNames = 300;
    for (int i = 0; i < kNames; ++i) WriteFile(dir.File("n" + std::to_string(i)), "abc");
    LiveHttpServer requester(nullptr);  // without a session: the answers go nowhere
    std::atomic<bool> done{false};
    std::atomic<int> incomplete{0};
    std::atomic<int> target{0};
    std::thread watcher([&]() {
        while (!done) {
            const int state = source.StateOf("n" + std::to_string(target.load()));
            if (state >= 0 && state < LiveHttpFile::StateComplete) ++incomplete;
        }
    });
    std::vector<std::thread> askers;
    for (int t = 0; t < 3; ++t) {
        askers.emplace_back([&]() {
            for (int i = 0; i < kNames; ++i) {
                target = i;
                source.GetFile("n" + std::to_string(i), &requester, boost::shared_ptr<Component>());
            }
        });
    }
    for (std::thread& asker : askers) asker.join();
    done = true;
    watcher.join();
    EXPECT_EQ(0, incomplete.load());
    // One file per name, each loaded and told once.
    EXPECT_EQ(static_cast<size_t>(kNames), source.StateChanges().size());
    for (int i = 0; i < kNames; ++i) {
        EXPECT_EQ(LiveHttpFile::StateComplete, source.StateOf("n" + std::to_string(i)));
    }
}

// A server without a session: a task it posted would never run, so whatever reaches the peer
// came within the calls the test makes, as it would within one pump pass.
TEST(LiveHttpServerAnswerTest, AnAnswerTheSourceHasAtOnceGoesOutWithinTheRequestsPass) {
    TemporaryDirectory dir{"liveanswer"};
    const std::string data = Pattern(1000, 3);
    WriteFile(dir.File("a.bin"), data);
    DirectoryFileSource source{dir.Path()};
    boost::shared_ptr<LiveHttpServer> server = boost::make_shared<LiveHttpServer>(nullptr);
    server->SetFileSource(&source);
    int ends[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends));
    SV::PilSocketHolder holder;
    holder.fd = ends[0];
    server->SwapSocket(holder);
    const int peer = ends[1];
    const auto request = [&](const std::string& text) {
        server->HandleRequestData(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                                                      static_cast<uint32_t>(text.size())));
    };
    // What the peer can read now, without waiting.
    const auto pending = [&]() {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while ((n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            all.append(buffer, static_cast<size_t>(n));
        }
        return all;
    };

    request("GET /a.bin HTTP/1.1\r\nHost: localhost\r\n\r\n");
    server->PullData(ByteAmount(131072));  // the same pass pulls the body
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\n"
                          "Content-Length: 1000\r\n"
                          "Accept-Ranges: bytes\r\n"
                          "Cache-Control: no-store\r\n"
                          "Connection: Keep-Alive\r\n"  // HTTP/1.1 keeps the connection
                          "\r\n") +
                  data,
              pending());
    EXPECT_EQ(LiveHttpFile::StateServed, source.StateOf("a.bin"));
    // A name the folder does not have is answered at once too, on the same connection.
    request("GET /none.ts HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n",
              pending());
    // Requests sent together are answered in turn, each from its own bytes: 10-19 of the file.
    request(
        "HEAD /a.bin HTTP/1.1\r\nHost: localhost\r\n\r\n"
        "GET /a.bin HTTP/1.1\r\nHost: localhost\r\nRange: bytes=10-19\r\n\r\n");
    server->PullData(ByteAmount(131072));
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
                          "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n"
                          "HTTP/1.1 206 Partial Content\r\nAccept-Ranges: bytes\r\n"
                          "Content-Length: 10\r\nContent-Range: bytes 10-19/1000\r\n"
                          "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n") +
                  data.substr(10, 10),
              pending());
    server.reset();
    close(peer);
}

// The servers of this front read one clock that the test moves.
class LiveHttpServerDeadlineTest : public LiveHttpServerTest {
protected:
    void SetUp() override {
        WriteFile(dir.File("a.bin"), Pattern(1000, 1));
        front.reset(new LiveFront(&source, [this](LiveHttpServer& server) {
            server.SetClock([this]() { return SV::PilTime(now.load()); });
        }));
    }
    std::atomic<uint64_t> now{1000000};
};

TEST_F(LiveHttpServerDeadlineTest, IdlePeersInEverySlotAreCutSoOthersGetServedAgain) {
    // Every slot is taken by a peer that asked once, had its answer and asks nothing more.
    std::vector<int> idle;
    for (int i = 0; i < MultiSocketDelegateServer::kMaxServingConnections; ++i) {
        idle.push_back(Open());
        ASSERT_TRUE(SendAll(idle.back(), "GET /a.bin HTTP/1.1\r\n\r\n"));
        ASSERT_EQ(0u, ReadOneResponse(idle.back(), 1000).find("HTTP/1.1 200 OK\r\n"));
    }
    ASSERT_EQ(static_cast<size_t>(MultiSocketDelegateServer::kMaxServingConnections),
              front->Sessions());
    // One more takes the place of the peer idle longest.
    const int newcomer = Open();
    ASSERT_TRUE(SendAll(newcomer, "GET /a.bin HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(PeerCloses(idle[0]));
    EXPECT_EQ(0u, ReadOneResponse(newcomer, 1000).find("HTTP/1.1 200 OK\r\n"));
    close(idle[0]);
    idle[0] = newcomer;
    // Their idle time passes: each of them is cut. A server counts from its first pass, which
    // may come after a move of the clock, so the clock moves on until all are gone.
    for (int fd : idle) {
        EXPECT_TRUE(WaitUntil([&]() {
            now += HTTPServer::kDefaultIdleMilliseconds;
            front->WakeAll();
            return PeerCloses(fd, 50);
        }));
        close(fd);
    }
    ASSERT_TRUE(front->ReapAll());
    EXPECT_EQ(
        0u,
        Exchange("GET /a.bin HTTP/1.1\r\nConnection: close\r\n\r\n").find("HTTP/1.1 200 OK\r\n"));
}

TEST_F(LiveHttpServerDeadlineTest, APeerThatNeverClosesAfterTheLastAnswerIsLetGo) {
    const int fd = Open();
    ASSERT_TRUE(SendAll(fd, "GET /a.bin HTTP/1.1\r\nConnection: close\r\n\r\n"));
    // The whole answer and our end of the connection; the peer keeps its own end.
    const std::string response = ReadUntilClosed(fd);
    EXPECT_EQ(1000u, response.size() - response.find("\r\n\r\n") - 4);
    EXPECT_EQ(1u, front->Sessions());
    now += HTTPServer::kDefaultDrainMilliseconds;
    front->WakeAll();
    // The connection is cut and its session goes, though the peer still holds its end.
    EXPECT_TRUE(front->ReapAll());
    close(fd);
}

// Players who open their connections well before they ask, three times as many as the server
// serves at once: they wait without a session until they ask, and then each is answered,
// though most ask while every place is taken, and the server never holds more than its places.
TEST_F(LiveHttpServerTest, AFloodPastTheConnectionCapIsAnsweredWholeWithinTheCap) {
    const int cap = MultiSocketDelegateServer::kMaxServingConnections;
    MultiSocketDelegateServer& listener = front->Listener();
    // However slow the machine, no connection here asks too late to be safe from the cut.
    listener.SetFirstRequestMilliseconds(3600 * 1000);
    std::vector<int> players;
    for (int i = 0; i < 3 * cap; ++i) players.push_back(Open());
    ASSERT_TRUE(WaitUntil([&]() { return listener.GetWaitingConnections() == 3 * cap; }));
    EXPECT_EQ(0u, front->Sessions());
    for (int fd : players) ASSERT_TRUE(SendAll(fd, "GET /a.bin HTTP/1.1\r\n\r\n"));
    int most = 0;
    for (size_t i = 0; i < players.size(); ++i) {
        const std::string response = ReadOneResponse(players[i], data.size());
        most = std::max(most, listener.GetServingConnections());
        ASSERT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n")) << i << ": " << response;
        EXPECT_EQ(data, response.substr(response.find("\r\n\r\n") + 4)) << i;
    }
    EXPECT_LE(most, cap);
    EXPECT_LE(listener.GetTrackedSlots(), static_cast<size_t>(2 * cap));
    for (int fd : players) close(fd);
}

// Connections opened without waiting for each to be taken, as a flooding program opens them.
class Flood {
public:
    ~Flood() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (trickler_.joinable()) trickler_.join();
        for (int fd : silent_) close(fd);
        for (int fd : trickling_) close(fd);
    }
    // count connections in batches, each batch established before the next one starts (a burst
    // past the listening queue would wait out the system's retries); false when one was not.
    bool Open(uint16_t port, int count, bool trickle) {
        std::vector<int>& into = trickle ? trickling_ : silent_;
        for (int done = 0; done < count;) {
            std::vector<pollfd> batch;
            for (; done < count && batch.size() < 50; ++done) {
                const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                if (fd < 0) return false;
                into.push_back(fd);
                sockaddr_in address = {};
                address.sin_family = AF_INET;
                address.sin_port = htons(port);
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                    errno != EINPROGRESS) {
                    return false;
                }
                batch.push_back(pollfd{fd, POLLOUT, 0});
            }
            for (pollfd& p : batch) {
                int error = 0;
                socklen_t size = sizeof error;
                if (poll(&p, 1, 10000) != 1 ||
                    getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
                    return false;
                }
                if (trickle && send(p.fd, "GET /a.bin HTTP/1.1\r\n", 21, MSG_NOSIGNAL) != 21) {
                    return false;
                }
            }
        }
        return true;
    }
    // From now on each trickling connection sends one more byte of its head every 200 ms.
    void Trickle() {
        trickler_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!changed_.wait_for(lock, std::chrono::milliseconds(200),
                                      [this] { return stop_; })) {
                for (int fd : trickling_) send(fd, "X", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
        });
    }

private:
    std::vector<int> silent_;
    std::vector<int> trickling_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread trickler_;
};

// A local program holds the port with connections that ask nothing and connections that trickle
// a head that never ends, many times the connections served at once: a player's requests are
// still answered within a second each, and none of the flood gets a session.
TEST_F(LiveHttpServerTest, APlayerIsAnsweredWithinASecondUnderAFloodOfIdleAndTricklingPeers) {
    // Both ends of every flooding connection are in this process: room for them, and for the
    // server to keep them all waiting (it takes a quarter of what the process may open).
    int each = 300;
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    const rlim_t wanted = 16 * static_cast<rlim_t>(each);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max < wanted ? limit.rlim_max : wanted;
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
        each = static_cast<int>(limit.rlim_cur / 16);
        // The front reads the limit when it is made.
        front.reset(new LiveFront(&source));
    }
    ASSERT_GT(each, MultiSocketDelegateServer::kMaxServingConnections);

    Flood flood;
    ASSERT_TRUE(flood.Open(front->Port(), each, false));
    ASSERT_TRUE(flood.Open(front->Port(), each, true));
    flood.Trickle();
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int fd = Open();
        ASSERT_TRUE(SendAll(fd, "GET /a.bin HTTP/1.1\r\nConnection: close\r\n\r\n"));
        const std::string response = ReadOneResponse(fd, data.size(), 30000);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        close(fd);
        ASSERT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n")) << i << ": " << response;
        EXPECT_EQ(data, response.substr(response.find("\r\n\r\n") + 4)) << i;
        EXPECT_LT(took.count(), 1000) << i;
    }
    // Only the player's connections were given a session (gone or going once answered).
    EXPECT_LE(front->Sessions(), 2u);
}

// A source that answers nothing at once: it keeps each request until the test answers it from
// its own thread, as a segmenter answers a request for a segment it is still cutting.
class LaterSource : public LiveHttpFileSource {
public:
    explicit LaterSource(LiveHttpFileSource* inner) : inner_(inner) {}
    void GetFile(const std::string& name, LiveHttpServer* requester,
                 boost::shared_ptr<Component> handle) override {
        std::lock_guard<std::mutex> lock(mutex_);
        kept_.push_back(KeptRequest{name, requester, handle});
    }
    void FileStateChanged(LiveHttpFile* file) override { inner_->FileStateChanged(file); }
    size_t KeptCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept_.size();
    }
    // Answers the oldest request kept, as the inner source would have.
    void AnswerOldest() {
        KeptRequest request;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request = kept_.front();
            kept_.erase(kept_.begin());
        }
        inner_->GetFile(request.name, request.requester, request.handle);
    }

private:
    struct KeptRequest {
        std::string name;
        LiveHttpServer* requester = nullptr;
        boost::shared_ptr<Component> handle;
    };
    LiveHttpFileSource* inner_;
    std::mutex mutex_;
    std::vector<KeptRequest> kept_;
};

// One file, a.bin, in a folder of its own, served by a LaterSource; Ask sends a GET for it on a
// new connection and returns once the source keeps the request.
struct OneFileLater {
    OneFileLater(const char* folder, uint32_t seed)
        : dir{folder}, data(Pattern(1000, seed)), files{dir.Path()}, source{&files} {
        WriteFile(dir.File("a.bin"), data);
    }
    int Ask(uint16_t port) {
        const int fd = Connect(port);
        if (fd < 0) return fd;
        EXPECT_TRUE(SendAll(fd, "GET /a.bin HTTP/1.1\r\nConnection: close\r\n\r\n"));
        EXPECT_TRUE(WaitUntil([&]() { return source.KeptCount() == 1; }, 10000));
        return fd;
    }
    TemporaryDirectory dir;
    std::string data;
    DirectoryFileSource files;
    LaterSource source;
};

// Each connection's pump passes every 3 s unless woken, and a post wakes it only while it
// waits for one (a pass that did work waits out the interval). The answer comes while the
// pump waits after the request's pass: it must go out at once, not at the next pass.
TEST(LiveHttpServerLaterAnswerTest, AnAnswerThatComesLaterGoesOutAsSoonAsItComes) {
    OneFileLater later{"livelater", 4};
    LaterSource& source = later.source;
    const std::string& data = later.data;
    std::unique_ptr<LiveFront> front(new LiveFront(&source, LiveFront::Configure(), 3000000));
    const int fd = later.Ask(front->Port());
    ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the request's pass ends
    const auto answered = std::chrono::steady_clock::now();
    source.AnswerOldest();
    const std::string response = ReadUntilClosed(fd, 10000);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - answered)
                            .count();
    close(fd);
    ASSERT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(data, response.substr(response.find("\r\n\r\n") + 4));
    // Far less than the interval, which a missed wake-up would cost.
    EXPECT_LT(waited, 1500);
    EXPECT_TRUE(front->ReapAll(10000));
}

// Real time on a clock that counts its readings: the server reads it once on every tick, so
// the count is the number of passes its pump made.
struct CountingClock {
    std::atomic<int> readings{0};
    TaskManager::Clock Clock() {
        return [this]() {
            ++readings;
            return SV::PilTime(
                static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count()));
        };
    }
};

// A connection that waits for its player (the next request, the rest of a head, the close
// after the last answer) costs no pump passes meanwhile, though its pump's interval is 5 ms:
// only the end of the time it may wait brings one, and the connection is cut then.
TEST(LiveHttpServerRestTest, AConnectionThatWaitsForItsPeerIsCutOnTimeWithoutPassesMeanwhile) {
    TemporaryDirectory dir{"liverest"};
    WriteFile(dir.File("a.bin"), Pattern(1000, 5));
    DirectoryFileSource files{dir.Path()};
    struct Row {
        const char* what;
        const char* request;  // answered whole; then the peer sends `after`
        const char* after;
    };
    const Row rows[] = {
        {"idle after an answer", "GET /a.bin HTTP/1.1\r\n\r\n", ""},
        {"a head that stops", "GET /a.bin HTTP/1.1\r\n\r\n", "GET /a.bin HT"},
        {"half-closed, the peer stays", "GET /a.bin HTTP/1.1\r\nConnection: close\r\n\r\n", ""},
    };
    const uint32_t kWait = 500;
    for (const Row& row : rows) {
        CountingClock clock;
        LiveFront front(&files, [&](LiveHttpServer& server) {
            server.SetClock(clock.Clock());
            server.SetIdleMilliseconds(kWait);
            server.SetHeadMilliseconds(kWait);
            server.SetDrainMilliseconds(kWait);
        });
        const int fd = Connect(front.Port());
        ASSERT_GE(fd, 0) << row.what;
        ASSERT_TRUE(SendAll(fd, row.request)) << row.what;
        ASSERT_EQ(0u, ReadOneResponse(fd, 1000).find("HTTP/1.1 200 OK\r\n")) << row.what;
        ASSERT_TRUE(SendAll(fd, row.after)) << row.what;
        const int before = clock.readings;
        const auto start = std::chrono::steady_clock::now();
        // Cut: the session stops with its connection (the half-closed peer has read its end
        // already, so the session's end is what shows the cut).
        EXPECT_TRUE(front.ReapAll(10000)) << row.what;
        const int readings = clock.readings - before;
        close(fd);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kWait / 2))
            << row.what;
        // At 5 ms a pass, looking again at most every 100 ms while idle, the wait would have
        // cost a dozen passes: here the end of the answer's pass, the pass of what the peer
        // sent and one after it, and the one at the end, whose cut reads the clock once more.
        EXPECT_LE(readings, 6) << row.what;
    }
}

// A request the source answers later (a segment still being cut) costs no passes while it
// waits: the answer comes as a post.
TEST(LiveHttpServerRestTest, ARequestWaitingForItsAnswerCostsNoPassesMeanwhile) {
    OneFileLater later{"livewait", 6};
    LaterSource& source = later.source;
    const std::string& data = later.data;
    CountingClock clock;
    LiveFront front(&source, [&](LiveHttpServer& server) { server.SetClock(clock.Clock()); });
    const int fd = later.Ask(front.Port());
    ASSERT_GE(fd, 0);
    // Sixty intervals: the end of the request's pass and one more at most, where looking
    // again every 5 ms, then less often up to every 100 ms, would cost seven.
    const int before = clock.readings;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(clock.readings - before, 2);
    source.AnswerOldest();
    const std::string response = ReadUntilClosed(fd, 10000);
    close(fd);
    ASSERT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(data, response.substr(response.find("\r\n\r\n") + 4));
    EXPECT_TRUE(front.ReapAll(10000));
}

}  // namespace
}  // namespace SarvelonMediaKit
