#include "platform/desktop/testing/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ns::desktop {

namespace {

constexpr std::chrono::seconds kStartTimeout(10);
constexpr std::chrono::seconds kStopTimeout(5);

std::string Describe(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Waits up to `timeout` for the child to end; true when it was reaped.
bool Reap(pid_t pid, std::chrono::steady_clock::duration timeout, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pid_t got = waitpid(pid, status, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

XvfbServer::XvfbServer(int width, int height) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("Xvfb: no pipe: ") + std::strerror(errno));
    }
    int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    // Everything the child needs is made before fork: after it, only system calls.
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string displayFd = std::to_string(pipeFds[1]);
    std::vector<const char*> argv = {"Xvfb",      "-displayfd", displayFd.c_str(),
                                     "-screen",   "0",          screen.c_str(),
                                     "-nolisten", "tcp",        nullptr};
    const pid_t parent = getpid();

    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (nullFd >= 0) {
            dup2(nullFd, STDIN_FILENO);
            dup2(nullFd, STDOUT_FILENO);
            dup2(nullFd, STDERR_FILENO);
        }
        fcntl(pipeFds[1], F_SETFD, 0);  // the one descriptor Xvfb keeps
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    const int forkErrno = errno;
    close(pipeFds[1]);
    if (nullFd >= 0) close(nullFd);
    if (pid < 0) {
        close(pipeFds[0]);
        throw std::runtime_error(std::string("Xvfb: cannot fork: ") + std::strerror(forkErrno));
    }
    pid_ = pid;

    // The server writes its display number and a newline once it accepts clients.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string failure;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            failure = "named no display within 10 s";
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buf[32];
        ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int status = 0;
            if (Reap(pid_, kStopTimeout, &status)) {
                pid_ = -1;
                failure = "ended before naming its display (" + Describe(status) +
                          "; is Xvfb installed?)";
            } else {
                failure = "closed its display pipe without naming a display";
            }
            break;
        }
        number.append(buf, static_cast<size_t>(n));
        if (number.size() > 16) {
            failure = "named no display number";
            break;
        }
        auto newline = number.find('\n');
        if (newline == std::string::npos) continue;
        number.resize(newline);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
            failure = "named no display number";
        }
        break;
    }
    close(pipeFds[0]);
    if (!failure.empty()) {
        Stop();
        throw std::runtime_error("Xvfb " + failure);
    }
    display_ = ":" + number;
}

XvfbServer::~XvfbServer() { Stop(); }

void XvfbServer::Stop() {
    if (pid_ <= 0) return;
    int status = 0;
    kill(pid_, SIGTERM);
    if (!Reap(pid_, kStopTimeout, &status)) {
        kill(pid_, SIGKILL);
        Reap(pid_, kStopTimeout, &status);
    }
    pid_ = -1;
}

}  // namespace ns::desktop
