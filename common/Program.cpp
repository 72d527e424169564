#include "common/Program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace SvTools {

int RunProgram(const std::vector<std::string>& argv, std::string* output, size_t keep, int stopFd) {
    if (argv.empty()) return -1;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    // Descriptors that some library opened without close-on-exec stay here too: a socket held
    // open by a child would keep its peer from seeing the connection end.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // A caller that takes its signals with them blocked (sigwait, signalfd) would hand the block
    // on, and one a shell started in the background would hand on an ignored SIGINT: either way
    // the program would outlive the interrupt that ends the rest of its process group.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[1]);
    std::string collected;
    if (spawned == 0) {
        char buffer[4096];
        for (;;) {
            pollfd watched[2] = {{pipeFds[0], POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (poll(watched, stopFd >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (watched[1].revents != 0) {
                kill(child, SIGKILL);
                break;
            }
            const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
            if (got > 0) {
                if (collected.size() < keep) collected.append(buffer, static_cast<size_t>(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                break;
            }
        }
    }
    close(pipeFds[0]);
    if (output) *output = collected;
    if (spawned != 0) {
        if (output) *output = "cannot start " + argv[0] + ": " + strerror(spawned);
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = TemporaryName(path);
    FILE* file = std::fopen(temporary.c_str(), "wbe");
    bool written = false;
    if (file != nullptr) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = std::fclose(file) == 0 && written;
    }
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace SvTools
