// The loopback GET helper against a one-shot server that answers with canned bytes.

#include "tests/support/LoopbackHttpGet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace SvTestSupport {
namespace {

// Accepts one connection on 127.0.0.1 (a port of the system's choice), reads the request head,
// writes the parts given one send each, and closes.
class CannedServer {
public:
    explicit CannedServer(std::vector<std::string> parts) : parts_(std::move(parts)) {
        listener_ = BindAnyLoopbackPort(true, &port_);
        if (listener_ >= 0) thread_ = std::thread([this] { Serve(); });
    }
    ~CannedServer() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }

    uint16_t Port() const { return port_; }
    // The request head as it arrived; read once the answer was taken.
    std::string Request() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

private:
    void Serve() {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        char buffer[1024];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request_.append(buffer, static_cast<size_t>(n));
        }
        for (const std::string& part : parts_) {
            send(fd, part.data(), part.size(), MSG_NOSIGNAL);
        }
        close(fd);
    }

    std::vector<std::string> parts_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::string request_;
    std::thread thread_;
};

TEST(LoopbackHttpGet, ReadsTheHeadAndTheBodyToItsAnnouncedLength) {
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 11\r\n\r\n";
    CannedServer server({head + "hello", " world"});
    ASSERT_NE(0, server.Port());
    const HttpAnswer answer = HttpGet(server.Port(), "a/b.ts");
    EXPECT_EQ(200, answer.status);
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ(head, answer.head);
    EXPECT_EQ("hello world", answer.body);
    // The leading slash is added; a path that has one keeps it single.
    EXPECT_EQ("GET /a/b.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", server.Request());

    CannedServer slashed({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
    const HttpAnswer missing = HttpGet(slashed.Port(), "/x.m3u8");
    EXPECT_EQ(404, missing.status);
    EXPECT_TRUE(missing.complete);
    EXPECT_EQ("", missing.body);
    EXPECT_EQ("GET /x.m3u8 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", slashed.Request());
}

TEST(LoopbackHttpGet, TheLengthFieldIsFoundWhateverItsCaseAndSpacing) {
    CannedServer server({"HTTP/1.1 200 OK\r\ncontent-LENGTH:   4  \r\n\r\nabcd"});
    const HttpAnswer answer = HttpGet(server.Port(), "x");
    EXPECT_EQ(200, answer.status);
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ("abcd", answer.body);
}

TEST(LoopbackHttpGet, ABodyShorterOrLongerThanAnnouncedIsNotComplete) {
    CannedServer cut({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", "12345"});
    const HttpAnswer shorter = HttpGet(cut.Port(), "x");
    EXPECT_EQ(200, shorter.status);
    EXPECT_FALSE(shorter.complete);
    EXPECT_EQ("12345", shorter.body);

    CannedServer extra({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabc"});
    const HttpAnswer longer = HttpGet(extra.Port(), "x");
    EXPECT_EQ(200, longer.status);
    EXPECT_FALSE(longer.complete);
}

TEST(LoopbackHttpGet, WithoutALengthTheBodyRunsToTheClose) {
    CannedServer server({"HTTP/1.0 200 OK\r\n\r\n", "first ", "second"});
    const HttpAnswer answer = HttpGet(server.Port(), "x");
    EXPECT_EQ(200, answer.status);
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ("first second", answer.body);
}

TEST(LoopbackHttpGet, NoServerOrNoHttpAnswerGivesStatusZero) {
    CannedServer garbage({"SOMETHING ELSE\r\n\r\nbody"});
    const HttpAnswer notHttp = HttpGet(garbage.Port(), "x");
    EXPECT_EQ(0, notHttp.status);
    EXPECT_FALSE(notHttp.complete);
    EXPECT_EQ("", notHttp.body);

    CannedServer cutHead({"HTTP/1.1 200 OK\r\nContent-Len"});
    const HttpAnswer noHeadEnd = HttpGet(cutHead.Port(), "x");
    EXPECT_EQ(0, noHeadEnd.status);
    EXPECT_FALSE(noHeadEnd.complete);

    // A port bound but not listening refuses the connection.
    uint16_t port = 0;
    const int holder = BindAnyLoopbackPort(false, &port);
    ASSERT_GE(holder, 0);
    const HttpAnswer refused = HttpGet(port, "x");
    close(holder);
    EXPECT_EQ(0, refused.status);
    EXPECT_FALSE(refused.complete);
}

}  // namespace
}  // namespace SvTestSupport
