// The player screen with the real engine: a portal title's playback information names the
// portal's title file, SV_Play serves it as HLS on a loopback port, and the headless player
// plays what the engine serves to the end. A relay between the player and the engine's server
// writes down what the player asked the server for. The loop's clock follows real time here
// (the engine works in real time); the movie plays at eight times its speed, about two seconds.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/QplayerTestFixture.h"
#include "app/SarvelonBridge.h"
#include "engine/api/SViOsApiState.h"
#include "engine/serve/ListeningPort.h"
#include "tests/support/UnusedPort.h"

namespace {

using QplayerTest::QplayerTestBase;

// Relays connections from a loopback port of its own to the target port and keeps the
// request lines ("GET /102.m3u8 HTTP/1.1") the clients send.
class RecordingRelay {
public:
    explicit RecordingRelay(uint16_t target) : target_(target) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listen_, 128) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~RecordingRelay() {
        stop_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& relay : relays_) relay.join();
        close(listen_);
    }
    uint16_t Port() const { return port_; }
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Accept() {
        while (!stop_) {
            pollfd p = {listen_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) relays_.emplace_back([this, client] { Relay(client); });
        }
    }
    void Relay(int client) {
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(target_);
        if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            std::string line;
            char buffer[65536];
            while (!stop_) {
                pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
                if (poll(p, 2, 50) <= 0) continue;
                if (p[0].revents != 0) {
                    const ssize_t n = read(client, buffer, sizeof buffer);
                    if (n <= 0 || write(server, buffer, n) != n) break;
                    Note(line, buffer, static_cast<size_t>(n));
                }
                if (p[1].revents != 0) {
                    const ssize_t n = read(server, buffer, sizeof buffer);
                    if (n <= 0 || write(client, buffer, n) != n) break;
                }
            }
        }
        close(server);
        close(client);
    }
    // Requests carry no body here: every line that starts a request is a request line.
    void Note(std::string& line, const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                if (line.compare(0, 4, "GET ") == 0) {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(line);
                }
                line.clear();
            } else if (line.size() < 4096) {
                line += data[i];
            }
        }
    }

    uint16_t target_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> relays_;  // acceptor thread only, until joined
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// The headless player, reaching the engine through the relay; ContentUrl() is what the
// player screen gave it.
class RelayedMoviePlayer : public ns::HeadlessMoviePlayer {
public:
    RelayedMoviePlayer(uint16_t enginePort, uint16_t relayPort)
        : from_("http://localhost:" + std::to_string(enginePort) + "/"),
          to_("http://127.0.0.1:" + std::to_string(relayPort) + "/") {}
    void SetContentUrl(const std::string& url) override {
        given_ = url;
        const bool engine = url.compare(0, from_.size(), from_) == 0;
        HeadlessMoviePlayer::SetContentUrl(engine ? to_ + url.substr(from_.size()) : url);
    }
    const std::string& ContentUrl() const override { return given_; }

private:
    std::string from_;
    std::string to_;
    std::string given_;
};

class QplayerEngineTest : public QplayerTestBase {
protected:
    void SetUp() override {
        QplayerTestBase::SetUp();
        SarvelonBridge::SetCurrent(nullptr);
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
        enginePort_ = SvTestSupport::UnusedLoopbackPort();
        ASSERT_NE(0, enginePort_);
        SarvelonMediaKit::SetLoopbackPort(enginePort_);
        relay_ = std::make_unique<RecordingRelay>(enginePort_);
        ASSERT_NE(0, relay_->Port());
        ns::MoviePlayer::SetFactory([this]() -> std::unique_ptr<ns::MoviePlayer> {
            auto player = std::make_unique<RelayedMoviePlayer>(enginePort_, relay_->Port());
            player->SetRate(8);
            return player;
        });
        delegate_->dismisses = false;
    }
    void TearDown() override {
        QplayerTestBase::TearDown();
        relay_.reset();
        SarvelonMediaKit::SViOsApiState::Instance().ResetForTesting();
    }
    // Steps with the loop's clock following real time, until cond holds or `seconds` passed.
    bool RunRealTime(const std::function<bool()>& cond, double seconds) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end =
            Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        Clock::time_point last = Clock::now();
        while (Clock::now() < end) {
            DrainMain();
            loop_.Loop().RunOnce(std::chrono::milliseconds(5));
            const Clock::time_point now = Clock::now();
            loop_.Clock().Advance(now - last);
            last = now;
            if (cond()) return true;
        }
        return cond();
    }

    uint16_t enginePort_ = 0;
    std::unique_ptr<RecordingRelay> relay_;
};

TEST_F(QplayerEngineTest, APortalTitlePlaysThroughTheEngineToItsEnd) {
    Open(PlaybackUrl("102"));
    ASSERT_TRUE(RunRealTime([&] { return Movie() != nullptr || !delegate_->calls.empty(); }, 20));
    ASSERT_TRUE(delegate_->calls.empty()) << delegate_->calls.front();
    // The playback information names the portal's own title file; the engine fetched it.
    ASSERT_NE(nullptr, player_->dataObject());
    EXPECT_EQ(portal_->Url("/media/102.svm"), player_->dataObject()->sarvelonUri);
    bool fetched = false;
    for (const auto& request : portal_->Requests()) fetched |= request.path == "/media/102.svm";
    EXPECT_TRUE(fetched);
    // The movie player plays the engine's loopback playlist.
    const std::string playlist = "http://localhost:" + std::to_string(enginePort_) + "/102.m3u8";
    EXPECT_EQ(playlist, Movie()->ContentUrl());

    ASSERT_TRUE(RunRealTime(
        [&] {
            return delegate_->Count("complete") == 1 &&
                   Movie()->PlaybackState() == ns::MoviePlaybackState::Stopped;
        },
        30))
        << "position " << Movie()->CurrentPlaybackTime();
    EXPECT_EQ((std::vector<std::string>{"complete"}), delegate_->calls);

    // The server was asked for the playlist first, then for segments.
    const std::vector<std::string> requests = relay_->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("GET /102.m3u8 HTTP/1.1", requests.front());
    const auto segments = std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
        return r.find(".ts HTTP/1.1") != std::string::npos;
    });
    EXPECT_GE(segments, 2) << requests.size() << " requests";

    // Video from start to end of the 12 s title, its presentation times never going back.
    bool video = false;
    for (const ns::MovieStreamStatistics& stream : Movie()->Statistics()) {
        if (stream.mediaType != "video") continue;
        video = true;
        EXPECT_GT(stream.packets, 0u);
        EXPECT_EQ(0u, stream.ptsBackwards);
        EXPECT_GE(stream.lastPts - stream.firstPts, 11.0);
    }
    EXPECT_TRUE(video);

    player_->DismissViewController(false);
    loop_.Step();
    EXPECT_FALSE(SarvelonMediaKit::SViOsApiState::Instance().IsInitialized());
}

}  // namespace
