#ifndef TOOLS_SVPLAY_SVPLAYTESTSUPPORT_H
#define TOOLS_SVPLAY_SVPLAYTESTSUPPORT_H

// Test helper (included by the svplay tests only): svplay run as a child process, and what the
// checks read from its players' output.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"

extern char** environ;

namespace SvplayTestSupport {

// What every svplay test uses.
using SvTestSupport::Fixtures;
using SvTestSupport::NginxOrigin;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

using Clock = std::chrono::steady_clock;

// How long a test waits for svplay to print its playback URL, and to exit once told to stop.
const std::chrono::seconds kStart(20);
const std::chrono::seconds kStop(20);

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A loopback socket bound to the port (0: one the system chooses; Port() tells which). Bound
// as a server binds, with SO_REUSEADDR: connections that linger in TIME_WAIT after a server
// stopped do not hold its port, a socket still listening there does.
class BoundSocket {
public:
    explicit BoundSocket(uint16_t port = 0, bool listen = false) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (listen && ::listen(fd_, 4) != 0)) {
            Close();
            return;
        }
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~BoundSocket() { Close(); }
    bool Bound() const { return fd_ >= 0; }
    uint16_t Port() const { return port_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A port nobody listens on at the moment.
inline uint16_t FreePort() { return SvTestSupport::UnusedLoopbackPort(); }

// svplay (or another of the tools, given as program) as a child process: standard output read
// line by line through a pipe, standard error collected in a file. Every wait is bounded; a
// child still running at the end is killed.
class Svplay {
public:
    Svplay(const std::vector<std::string>& args, const std::string& errorFile,
           const char* program = SV_SVPLAY_PATH)
        : errorFile_(errorFile) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Nothing else reaches the child, not even what a library opened without close-on-exec.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~Svplay() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    bool Started() const { return pid_ > 0; }

    // The next line of standard output; false at its end or after `timeout`.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
        const Clock::time_point until = Clock::now() + timeout;
        for (;;) {
            const size_t end = pending_.find('\n', taken_);
            if (end != std::string::npos) {
                line = pending_.substr(taken_, end - taken_);
                taken_ = end + 1;
                return true;
            }
            if (!Fill(until)) return false;
        }
    }
    // Reads lines until one starts with `prefix` (that line in `line`).
    bool WaitForLine(const std::string& prefix, std::string& line,
                     std::chrono::milliseconds timeout) {
        const Clock::time_point until = Clock::now() + timeout;
        while (Clock::now() < until) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (!ReadLine(line, left)) return false;
            if (line.compare(0, prefix.size(), prefix) == 0) return true;
        }
        return false;
    }

    void Signal(int signal) {
        if (pid_ > 0) kill(pid_, signal);
    }
    // The exit status (128 + signal when a signal ended it), -1 when it did not end in time.
    // All of standard output is read meanwhile, so a full pipe never holds the child up.
    int Wait(std::chrono::milliseconds timeout) {
        const Clock::time_point until = Clock::now() + timeout;
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                while (Fill(Clock::now() + std::chrono::seconds(2))) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (Clock::now() >= until) return -1;
            Fill(std::min(until, Clock::now() + std::chrono::milliseconds(50)));
        }
        return -1;
    }

    // Everything standard output gave so far, and standard error.
    const std::string& Output() const { return pending_; }
    std::string Errors() const { return ReadFile(errorFile_); }

private:
    // Reads what the pipe has, waiting until `until`; false at its end or on timeout.
    bool Fill(Clock::time_point until) {
        if (out_ < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd p = {out_, POLLIN, 0};
        if (poll(&p, 1, left.count() > 0 ? int(left.count()) : 0) <= 0) return false;
        char buffer[4096];
        const ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        pending_.append(buffer, size_t(got));
        return true;
    }

    std::string errorFile_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    size_t taken_ = 0;
};

// Reads svplay's first line, the playback URL, into `url`: a fatal failure (with what svplay
// said on standard error) when it did not start or printed no line within kStart.
inline void ReadPlaybackUrl(Svplay& svplay, std::string& url) {
    ASSERT_TRUE(svplay.Started());
    ASSERT_TRUE(svplay.ReadLine(url, kStart)) << svplay.Errors();
}

// The file name without its folder and without its last extension.
inline std::string BaseName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

using SarvelonMediaKit::test::DecodedFramesPerStream;
using SarvelonMediaKit::test::FramesPerStream;

// Reads the HLS title at `url` to its end with ffmpeg, stopping at the first error, and checks
// that every picture of the clip the title was made from comes out, and as many audio frames
// as ffmpeg decodes from that clip. (The multiplexer merges audio frames four to a PES for HLS;
// a last group still short when the title ends goes out as it is, so no frame is missing.)
inline void ExpectEveryFrameOfTheHlsClip(const std::string& url) {
    const std::map<int, size_t> servedFrames = DecodedFramesPerStream(url, true);
    const std::map<int, size_t> sourceFrames =
        DecodedFramesPerStream(SvTestSupport::Fixtures::HlsClip(), false);
    ASSERT_EQ(2u, servedFrames.size());
    EXPECT_EQ(SvTestSupport::Fixtures::kHlsClipFrames, servedFrames.at(0));
    EXPECT_EQ(sourceFrames.at(1), servedFrames.at(1));
}

// The hashes of the video frames (stream 0) of a framemd5 listing, in order.
inline std::vector<std::string> VideoHashes(const std::string& listing) {
    std::vector<std::string> hashes;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#' || std::atoi(line.c_str()) != 0) continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
        while (!hashes.back().empty() && hashes.back()[0] == ' ') hashes.back().erase(0, 1);
    }
    return hashes;
}

// What curl gets for a URL: the HTTP code, and the body in `body` when asked.
inline std::string HttpCode(const std::string& url, std::string* body = nullptr) {
    TemporaryDirectory dir("svplaycurl");
    std::string code;
    RunProgram({"curl", "-sS", "--path-as-is", "-m", "10", "-o", dir.File("body"), "-w",
                "%{http_code}", url},
               &code);
    if (body) *body = ReadFile(dir.File("body"));
    return code;
}

}  // namespace SvplayTestSupport

#endif
