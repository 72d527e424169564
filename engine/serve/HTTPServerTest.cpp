#include "engine/serve/HTTPServer.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Pump.h"
#include "engine/core/Session.h"
#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/TaskTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using test::WaitUntil;

// A server on one end of a socket pair (the test holds the other, `peer`), over a resource of
// 1000 bytes.
class SocketPairServer : public HTTPServer {
public:
    explicit SocketPairServer(Session* session) : HTTPServer(session) {
        int ends[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends));
        SV::PilSocketHolder holder;
        holder.fd = ends[0];
        SwapSocket(holder);
        peer = ends[1];
    }
    ~SocketPairServer() override { close(peer); }

    bool KnowEndPosition() override { return true; }
    BytePosition DoEndPosition() override { return BytePosition(1000); }

    int peer = -1;
};

// Without a session, on a clock the test moves.
class Probe : public SocketPairServer {
public:
    Probe() : SocketPairServer(nullptr) {
        SetClock([this]() { return SV::PilTime(now.load()); });
    }

    void Request(const std::string& text) {
        DeliverRequestData(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                                               static_cast<uint32_t>(text.size())));
    }
    // A pump pass at the time.
    void TickAt(uint64_t milliseconds) {
        now = milliseconds;
        DoTick();
    }
    bool Open() const { return GetSessionDescriptor() >= 0; }
    using HTTPServer::SendPiecesToPeer;
    using HTTPServer::SendToPeer;

    std::atomic<uint64_t> now{1000};
};

// What the peer can read now, without waiting; closed is set when it read the end.
std::string Pending(int fd, bool* closed) {
    std::string all;
    *closed = false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            all.append(buffer, static_cast<size_t>(n));
            continue;
        }
        *closed = n == 0;
        return all;
    }
}

TEST(HTTPServerTest, AHalfClosedPeerThatStaysIsCutAfterTheDrainTime) {
    Probe server;
    server.SetDrainMilliseconds(5000);
    server.TickAt(1000);
    server.Request("POST /x HTTP/1.1\r\nConnection: close\r\n\r\n");
    bool closed = false;
    EXPECT_EQ(
        "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Length: 0\r\n"
        "Connection: close\r\n\r\n",
        Pending(server.peer, &closed));
    EXPECT_TRUE(closed);  // our half-close
    // The peer keeps its end open: the connection is kept until the drain time is over.
    server.TickAt(5999);
    EXPECT_TRUE(server.Open());
    // Whatever the peer sends meanwhile is dropped, not answered.
    server.Request("GET /x HTTP/1.1\r\n\r\n");
    EXPECT_EQ("", Pending(server.peer, &closed));
    server.TickAt(6000);
    EXPECT_FALSE(server.Open());
    // Gone for good: the peer's next write finds no one.
    char byte = 'x';
    EXPECT_TRUE(send(server.peer, &byte, 1, MSG_NOSIGNAL) < 0 ||
                send(server.peer, &byte, 1, MSG_NOSIGNAL) < 0);
}

TEST(HTTPServerTest, AConnectionWithoutARequestIsCutAfterTheIdleTime) {
    Probe server;
    server.SetIdleMilliseconds(60000);
    // Opened, nothing asked: 60 s from the first pass.
    server.TickAt(1000);
    server.TickAt(60999);
    EXPECT_TRUE(server.Open());
    server.TickAt(61000);
    EXPECT_FALSE(server.Open());
    bool closed = false;
    EXPECT_EQ("", Pending(server.peer, &closed));
    EXPECT_TRUE(closed);
}

TEST(HTTPServerTest, EachAnswerRestartsTheIdleTimeAndARequestInProgressIsNeverIdle) {
    Probe server;
    server.SetIdleMilliseconds(60000);
    server.TickAt(1000);
    // Answered in full between two passes: the connection was busy all the same.
    server.Request("HEAD /x HTTP/1.1\r\n\r\n");
    server.TickAt(50000);
    server.TickAt(109999);
    EXPECT_TRUE(server.Open());
    // Part of a head does not count as activity: a head must come whole within the time.
    server.Request("GET /x HT");
    server.TickAt(110000);
    EXPECT_FALSE(server.Open());

    Probe busy;
    busy.SetIdleMilliseconds(60000);
    busy.TickAt(1000);
    // A GET whose body is not pulled yet: in progress however long it takes.
    busy.Request("GET /x HTTP/1.1\r\n\r\n");
    busy.TickAt(2000);
    busy.TickAt(10000000);
    EXPECT_TRUE(busy.Open());
}

TEST(HTTPServerTest, ASendThatWaitsForThePeerHoldsUpNoCloseAndReachesOnlyItsPeer) {
    Probe server;
    const std::string payload = test::Pattern(8 << 20, 7);  // far more than a socket buffers
    std::atomic<bool> returned{false};
    bool sent = false;
    std::thread sender([&]() {
        sent = server.SendToPeer(payload.data(), payload.size());
        returned = true;
    });
    // The peer reads nothing yet: the send is under way and waits.
    ASSERT_TRUE(WaitUntil([&]() {
        int queued = 0;
        return ioctl(server.peer, FIONREAD, &queued) == 0 && queued > 0;
    }));
    // The connection is closed meanwhile (as the master does when the peer ends): this does
    // not wait for the send.
    server.CloseSessionSocket();
    EXPECT_FALSE(returned);
    EXPECT_FALSE(server.Open());
    // The number just freed goes to another connection; the waiting send never writes there.
    int other[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, other));
    // The peer now reads: every byte of the send, then the end.
    const std::string received = test::ReadUntilClosed(server.peer, 20000);
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == payload) << received.size();
    bool closed = false;
    EXPECT_EQ("", Pending(other[1], &closed));
    EXPECT_FALSE(closed);
    EXPECT_EQ("", Pending(other[0], &closed));
    close(other[0]);
    close(other[1]);
}

TEST(HTTPServerTest, ARequestNamingAnotherHostIsForbiddenAndTheConnectionClosed) {
    const char* const refused[] = {
        "HEAD /x HTTP/1.1\r\nHost: evil.example\r\n\r\n",
        "HEAD /x HTTP/1.1\r\nHost: evil.example:20001\r\n\r\n",
        "HEAD /x HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n\r\n",
        // The absolute form names the host itself, whatever the field says.
        "HEAD http://evil.example/x HTTP/1.1\r\nHost: localhost\r\n\r\n",
    };
    for (const char* request : refused) {
        Probe server;
        server.Request(request);
        bool closed = false;
        EXPECT_EQ(
            "HTTP/1.1 403 Forbidden\r\n"  // refused, not missing
            "Content-Length: 0\r\n"       // nothing of the resource
            "Connection: close\r\n"       // and no further request on it
            "\r\n",
            Pending(server.peer, &closed))
            << request;
        EXPECT_TRUE(closed) << request;
    }
    const char* const served[] = {
        "HEAD /x HTTP/1.1\r\nHost: localhost:20001\r\n\r\n",
        "HEAD /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "HEAD /x HTTP/1.1\r\nHost: [::1]:8\r\n\r\n",
        "HEAD /x HTTP/1.0\r\n\r\n",  // no Host at all
        "HEAD http://localhost:9/x HTTP/1.1\r\n\r\n",
    };
    for (const char* request : served) {
        Probe server;
        server.Request(request);
        bool closed = false;
        EXPECT_EQ(0u, Pending(server.peer, &closed).find("HTTP/1.1 200 OK\r\n")) << request;
    }
}

TEST(HTTPServerTest, AHeadThatDoesNotComeWholeWithinTheHeadTimeIsCut) {
    Probe server;
    server.SetHeadMilliseconds(5000);
    server.TickAt(1000);
    // A trickling peer: a few bytes now and then, never the blank line.
    server.Request("GET /x HT");
    server.TickAt(2000);  // the head is seen to have begun here
    server.Request("TP/1.1\r\nX: 1");
    server.TickAt(6999);
    EXPECT_TRUE(server.Open());
    server.TickAt(7000);
    EXPECT_FALSE(server.Open());
    bool closed = false;
    EXPECT_EQ("", Pending(server.peer, &closed));  // nothing answered
    EXPECT_TRUE(closed);

    // A head that ends in time is answered, and the next one has a time of its own.
    Probe patient;
    patient.SetHeadMilliseconds(5000);
    patient.TickAt(1000);
    patient.Request("HEAD /x HTTP/1.1\r\n");
    patient.TickAt(5000);
    patient.Request("\r\nHEAD /x HT");  // the end of the first, part of the second
    patient.TickAt(5999);  // the second began after the last pass: its time starts here
    patient.TickAt(10998);
    EXPECT_TRUE(patient.Open());
    EXPECT_EQ(0u, Pending(patient.peer, &closed).find("HTTP/1.1 200 OK\r\n"));
    patient.TickAt(10999);
    EXPECT_FALSE(patient.Open());
}

TEST(HTTPServerTest, PiecesSentTogetherArriveWholeAndInOrderThoughTheSocketTakesThemInParts) {
    Probe server;
    // Sizes that make the socket stop inside a piece, at a piece's end and on an empty one.
    const std::string all = test::Pattern(3 << 20, 11);
    const size_t sizes[] = {1, 0, 4095, 1 << 20, 188, 0, 65536, (1 << 20) + 7};
    std::vector<iovec> pieces;
    size_t at = 0;
    for (size_t size : sizes) {
        pieces.push_back({const_cast<char*>(all.data() + at), size});
        at += size;
    }
    pieces.push_back({const_cast<char*>(all.data() + at), all.size() - at});
    bool sent = false;
    std::thread sender([&]() {
        sent = server.SendPiecesToPeer(pieces.data(), pieces.size());
        server.CloseSessionSocket();
    });
    const std::string received = test::ReadUntilClosed(server.peer, 20000);
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(all.size(), received.size());
    EXPECT_TRUE(received == all);
}

// A server on its own session, whose pump runs its passes a minute apart, on one end of a
// socket pair: each GET of its 1000-byte resource gets the whole body from the pass's pull (a
// pattern). It notes the first bytes of every send.
class PassServer : public SocketPairServer {
public:
    explicit PassServer(Session* session) : SocketPairServer(session) {}

    void DoPullData(ByteAmount& amount) override {
        const std::string body = test::Pattern(1000, 5);
        const uint32_t size = amount.Get() < 1000 ? amount.Get() : 1000;
        Add(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(body.data()), size));
    }
    bool SendPiecesToPeer(const iovec* pieces, size_t count) override {
        std::string start;
        for (size_t i = 0; i < count && start.size() < 16; ++i) {
            start.append(static_cast<const char*>(pieces[i].iov_base), pieces[i].iov_len);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sendStarts_.push_back(start.substr(0, 16));
        }
        return HTTPServer::SendPiecesToPeer(pieces, count);
    }
    std::vector<std::string> SendStarts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sendStarts_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> sendStarts_;
};

// Starts a session whose front is server, its passes pulling pullAmount bytes, and posts one
// GET to it.
template <typename Server>
void StartWithAGet(const boost::shared_ptr<Session>& session,
                   const boost::shared_ptr<Server>& server, uint32_t pullAmount) {
    ComponentStack stack;
    stack.AddComponent(server);
    session->SetComponentStack(stack);
    session->StartPump(MediaTime(60000000));
    session->SetPullAmount(ByteAmount(pullAmount));
    session->Start();
    session->GetTaskManager()->AddTask(SvTestSupport::MakeTask("Test::Request", [server]() {
        const std::string text = "GET /x HTTP/1.1\r\nHost: localhost\r\n\r\n";
        server->DeliverRequestData(MemoryChunk::CopyOf(
            reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size())));
    }));
}

// The response to one GET, sent as a post to a session whose passes pull pullAmount bytes, as
// the peer reads it (head and body); sends: how the server's sends began.
std::string AnswerInAPass(uint32_t pullAmount, std::vector<std::string>* sends) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<PassServer> server = boost::make_shared<PassServer>(session.get());
    StartWithAGet(session, server, pullAmount);
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
        "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n";
    const size_t expected = pullAmount == 0 ? head.size() : head.size() + 1000;
    std::string received;
    WaitUntil([&]() {
        char buffer[4096];
        ssize_t n;
        while ((n = recv(server->peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            received.append(buffer, static_cast<size_t>(n));
        }
        return received.size() >= expected;
    });
    session->Stop(true);
    *sends = server->SendStarts();
    return received;
}

TEST(HTTPServerPassTest, AHeadGoesOutWithTheFirstPartOfItsBodyInOneSend) {
    std::vector<std::string> sends;
    const std::string received = AnswerInAPass(131072, &sends);
    EXPECT_EQ(std::string("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
                          "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n") +
                  test::Pattern(1000, 5),
              received);
    // One send, head first, for the whole answer.
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ("HTTP/1.1 200 OK\r", sends[0]);
}

TEST(HTTPServerPassTest, AHeadWhoseBodyThePassDoesNotPullStillGoesOutInThatPass) {
    // No pull at all: the pass's tick sends the head it held, and nothing more is owed yet.
    std::vector<std::string> sends;
    const std::string received = AnswerInAPass(0, &sends);
    EXPECT_EQ(
        "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\n"
        "Cache-Control: no-store\r\nConnection: Keep-Alive\r\n\r\n",
        received);
    ASSERT_FALSE(sends.empty());
    EXPECT_EQ("HTTP/1.1 200 OK\r", sends[0]);
}

// A PassServer whose resource is `count` transport packets (188 bytes each, a pattern), every
// one a chunk of its own, as a segment reaches the server; a pass's pull gives as many as fit.
class PacketsServer : public PassServer {
public:
    PacketsServer(Session* session, size_t count)
        : PassServer(session), body(test::Pattern(static_cast<uint32_t>(count * 188), 7)) {}
    BytePosition DoEndPosition() override { return BytePosition(body.size()); }
    void DoPullData(ByteAmount& amount) override {
        for (uint32_t taken = 0; given_ < body.size() && taken + 188 <= amount.Get();
             taken += 188, given_ += 188) {
            Add(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(body.data() + given_), 188));
        }
    }
    const std::string body;

private:
    size_t given_ = 0;
};

// What one pass pulls goes out in as few sends as the system allows (1024 pieces at most each,
// the head among them), whole and in order.
TEST(HTTPServerPassTest, APassSendsWhatItPulledInOneSendPerThousandPieces) {
    const struct {
        size_t packets;
        size_t sends;
    } rows[] = {{1, 1}, {1000, 1}, {1023, 1}, {1024, 2}, {1500, 2}, {3000, 3}};
    for (const auto& row : rows) {
        boost::shared_ptr<Session> session = Session::Create();
        boost::shared_ptr<PacketsServer> server =
            boost::make_shared<PacketsServer>(session.get(), row.packets);
        StartWithAGet(session, server, 1 << 20);
        const std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(server->body.size()) +
            "\r\nAccept-Ranges: bytes\r\nCache-Control: no-store\r\n"
            "Connection: Keep-Alive\r\n\r\n";
        std::string received;
        EXPECT_TRUE(WaitUntil([&]() {
            char buffer[65536];
            ssize_t n;
            while ((n = recv(server->peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
                received.append(buffer, static_cast<size_t>(n));
            }
            return received.size() >= head.size() + server->body.size();
        })) << row.packets;
        session->Stop(true);
        EXPECT_TRUE(received == head + server->body) << row.packets;
        const std::vector<std::string> sends = server->SendStarts();
        EXPECT_EQ(row.sends, sends.size()) << row.packets;
        if (!sends.empty()) {
            EXPECT_EQ("HTTP/1.1 200 OK\r", sends[0]) << row.packets;
        }
    }
}

// A Probe whose pull delivers the body's bytes (a pattern), or nothing while starved.
class PulledProbe : public Probe {
public:
    void DoPullData(ByteAmount& amount) override {
        if (starved) return;
        const uint32_t size = amount.Get();
        MemoryChunk chunk(size, 0, 0);
        for (uint32_t i = 0; i < size; ++i) chunk.Data()[i] = static_cast<uint8_t>(given + i);
        given += size;
        Add(chunk);
    }
    std::atomic<bool> starved{false};
    uint32_t given = 0;
};

// A probe served by a pump of its own whose passes pull 100 bytes each, a minute apart: a body
// that waited for the interval between its parts would not come within a test.
struct PumpedProbe {
    PumpedProbe() : pump(nullptr) {
        pump.SetPullAmount(ByteAmount(100));
        pump.SetPullHandler([this](ByteAmount amount) { server.PullData(amount); });
        pump.SetTickHandler([this]() { ++passes; });
        pump.CreateThread(MediaTime(60000000));
        pump.Start();
    }
    ~PumpedProbe() { pump.RequestStop(); }
    void Get() {
        pump.GetTaskManager()->AddTask(SvTestSupport::MakeTask(
            "Test::Get", [this]() { server.Request("GET /x HTTP/1.1\r\n\r\n"); }));
    }
    // Passes that come within a while after the count was taken.
    int PassesWithin(int milliseconds) {
        const int before = passes;
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return passes - before;
    }

    PulledProbe server;
    std::atomic<int> passes{0};
    Pump pump;  // after the server: stopped before it goes
};

TEST(HTTPServerTest, ABodyOwedOverManyPassesGoesOutWithoutWaitingTheIntervalBetweenThem) {
    PumpedProbe probe;
    probe.Get();
    // The 1000-byte body takes ten passes.
    std::string received;
    ASSERT_TRUE(WaitUntil([&]() {
        bool closed = false;
        received += Pending(probe.server.peer, &closed);
        const size_t head = received.find("\r\n\r\n");
        return head != std::string::npos && received.size() >= head + 4 + 1000;
    }));
    const size_t bodyAt = received.find("\r\n\r\n") + 4;
    ASSERT_EQ(1000u, received.size() - bodyAt);
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(static_cast<char>(i), received[bodyAt + i]);
    // Nothing owed any more: the passes are back to the interval.
    EXPECT_LE(probe.PassesWithin(20), 1);
}

TEST(HTTPServerTest, ABodyWhoseBytesAreNotThereYetDoesNotSpinThePump) {
    PumpedProbe probe;
    probe.server.starved = true;
    probe.Get();
    ASSERT_TRUE(WaitUntil([&]() {
        bool closed = false;
        return Pending(probe.server.peer, &closed).find("200 OK") != std::string::npos;
    }));
    EXPECT_LE(probe.PassesWithin(20), 1);
}

}  // namespace
}  // namespace SarvelonMediaKit
