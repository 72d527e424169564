// The time-out of a load bounds all of it: an answer that trickles in, a redirect's next hop
// and a body that goes up slowly each fail as timed out once the time-out has passed since the
// load started, on a loop whose clock the test moves.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/core/ManualClock.h"
#include "platform/core/RunLoop.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionTestFixture.h"
#include "tests/support/TestOrigin.h"

namespace {

using namespace URLConnectionTesting;

// A load on a loop whose clock moves only when the test moves it; what comes over the loopback
// still comes in real time.
struct ManualLoad {
    explicit ManualLoad(ns::CookieStorage& jar) : jar_(jar) {}
    void Start(const std::string& url, double timeoutSeconds) {
        ns::URLRequest request(ns::URL::Parse(url).value());
        request.SetTimeoutInterval(timeoutSeconds);
        URLConnection::Start(request, &recorder, loop, jar_);
    }
    void Start(const ns::URLRequest& request) {
        URLConnection::Start(request, &recorder, loop, jar_);
    }
    // Steps the loop (the clock standing still) until pred holds; false after 10 s.
    bool RunUntil(const std::function<bool()>& pred) {
        return loop.RunUntil(pred, std::chrono::seconds(10));
    }
    void Advance(double seconds) {
        clock->Advance(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
        loop.RunOnce(std::chrono::milliseconds(0));
    }
    // The load has ended by itself within a moment (true), or not (false).
    bool EndsNow() {
        return loop.RunUntil([this] { return recorder.ended; }, std::chrono::seconds(2));
    }

    std::shared_ptr<ns::ManualClock> clock = std::make_shared<ns::ManualClock>();
    ns::RunLoop loop{clock};
    Recorder recorder;

private:
    ns::CookieStorage& jar_;
};

// An answer that trickles in (a byte every 50 ms here) keeps the connection busy, but the whole
// load fails once the time-out has passed since it started: the bytes that came are handed
// over first.
TEST_F(URLConnectionTest, TricklingBodyFailsAtTheTimeoutThoughBytesKeepComing) {
    TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/trickle", trickle);
    origin_.Serve("/trickle", std::string(4000, 'x'));
    ManualLoad load(jar_);
    load.Start(origin_.Url("/trickle"), 10);
    ASSERT_TRUE(load.RunUntil([&] { return !load.recorder.body.empty(); }));
    load.Advance(6);
    const size_t received = load.recorder.body.size();
    ASSERT_TRUE(load.RunUntil([&] { return load.recorder.body.size() > received; }));
    load.Advance(3.9);
    EXPECT_FALSE(load.EndsNow());
    load.Advance(0.1);
    ASSERT_TRUE(load.EndsNow());
    EXPECT_EQ(load.recorder.events, (Events{"response 200", "data", "fail -1001"}));
    EXPECT_EQ(load.recorder.error->FailingURL(), origin_.Url("/trickle"));
    EXPECT_LT(load.recorder.body.size(), 4000u);
}

// The time-out counts from the start of the load, not of its last hop: a redirect does not
// earn the next hop a time-out of its own.
TEST_F(URLConnectionTest, TimeoutSpansEveryHopOfTheLoad) {
    TestOrigin::Fault first;
    first.headDelayMs = 100;
    first.status = 302;
    first.location = "/silent";
    origin_.SetFault("/first", first);
    TestOrigin::Fault silent;
    silent.headDelayMs = 600000;
    origin_.SetFault("/silent", silent);
    origin_.Serve("/silent", "never sent");
    ManualLoad load(jar_);
    load.Start(origin_.Url("/first"), 10);
    ASSERT_TRUE(load.RunUntil([&] { return origin_.Requests().size() == 1; }));
    load.Advance(6);
    ASSERT_TRUE(load.RunUntil([&] { return origin_.Requests().size() == 2; }));
    load.Advance(3.9);
    EXPECT_FALSE(load.EndsNow());
    load.Advance(0.1);
    ASSERT_TRUE(load.EndsNow());
    EXPECT_EQ(load.recorder.events, (Events{"redirect 302", "fail -1001"}));
    EXPECT_EQ(load.recorder.error->FailingURL(), origin_.Url("/silent"));
}

// A one-request origin that reads a request body slowly, like a server behind a slow link.
class SlowReader {
public:
    // Listens on the loopback and serves one request on a thread of its own.
    void Start() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener_, 0) << strerror(errno);
        int small = 256 * 1024;  // a fixed window: the kernel does not take in the body for us
        ASSERT_EQ(0, setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small))
            << strerror(errno);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address))
            << strerror(errno);
        ASSERT_EQ(0, getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length))
            << strerror(errno);
        port_ = ntohs(address.sin_port);
        ASSERT_EQ(0, listen(listener_, 1)) << strerror(errno);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SlowReader() {
        stop_ = true;
        if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/upload"; }
    size_t BodyBytes() const { return bodyBytes_; }

private:
    void Serve() {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::string head;
        std::vector<char> buffer(256 * 1024);
        char* chunk = buffer.data();
        size_t end;
        while ((end = head.find("\r\n\r\n")) == std::string::npos && head.size() < 65536) {
            const ssize_t n = recv(fd, chunk, 1024, 0);
            if (n <= 0) break;
            head.append(chunk, static_cast<size_t>(n));
        }
        bodyBytes_ = end == std::string::npos ? 0 : head.size() - end - 4;
        const size_t at = head.find("Content-Length: ");
        const size_t expected = at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
        // At most 256 KiB each 20 ms: several megabytes take a second or so to go up.
        while (bodyBytes_ < expected && !stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const ssize_t n = recv(fd, chunk, buffer.size(), 0);
            if (n <= 0) break;
            bodyBytes_ += static_cast<size_t>(n);
        }
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(fd);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> bodyBytes_{0};
    std::thread thread_;
};

// A body that goes up slowly keeps the connection busy, but does not hold the load past its
// time-out either.
TEST_F(URLConnectionTest, SlowUploadFailsAtTheTimeoutThoughItKeepsGoing) {
    const std::string body = Pattern(20 << 20);
    SlowReader server;
    ASSERT_NO_FATAL_FAILURE(server.Start());
    ns::URLRequest request(ns::URL::Parse(server.Url()).value());
    request.SetHTTPMethod("POST");
    request.SetHTTPBody(body);
    request.SetTimeoutInterval(10);
    ManualLoad load(jar_);
    load.Start(request);
    ASSERT_TRUE(load.RunUntil([&] { return server.BodyBytes() > 0; }));
    load.Advance(6);
    const size_t sent = server.BodyBytes();
    ASSERT_TRUE(load.RunUntil([&] { return server.BodyBytes() > sent; }));
    load.Advance(4);
    ASSERT_TRUE(load.EndsNow());
    EXPECT_EQ(load.recorder.events, (Events{"fail -1001"}));
    EXPECT_LT(server.BodyBytes(), body.size());
}

}  // namespace
