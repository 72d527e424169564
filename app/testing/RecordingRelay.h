#ifndef APP_TESTING_RECORDINGRELAY_H
#define APP_TESTING_RECORDINGRELAY_H
// Header-only, for tests that play through the engine: a relay between the headless movie
// player and the engine's loopback server that writes down what the player asked the server
// for, and the movie player that goes through it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/HeadlessMoviePlayer.h"

namespace AppTestSupport {

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

}  // namespace AppTestSupport

#endif  // APP_TESTING_RECORDINGRELAY_H
