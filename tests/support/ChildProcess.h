#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H
// Header-only: a program a test starts in the background, so that it can act on it while it
// runs (a signal, its window, a FIFO it waits on) and then see how it ended. RunProgram
// (Fixtures.h) is for a program run to its end.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace SvTestSupport {

// The program (a path: no PATH lookup, no shell) with standard input from /dev/null, standard
// output into outFile and standard error into errFile, each made or emptied; when both are one
// path it is opened once, so the two streams follow each other as on a terminal. It runs in
// `environment` ("NAME=value" entries), or in this process's when none is given. A process
// still running when the object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 std::optional<std::vector<std::string>> environment, const std::string& outFile,
                 const std::string& errFile) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        if (environment) {
            for (std::string& e : *environment) envp.push_back(e.data());
            envp.push_back(nullptr);
        }
        constexpr int kMade = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), kMade, 0600);
        if (errFile == outFile) {
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        } else {
            posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), kMade, 0600);
        }
        // Nothing else reaches the child, not even what a library opened without close-on-exec.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(),
                        environment ? envp.data() : environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // -1 when it could not be started, or once it has been waited for.
    pid_t Pid() const { return pid_; }
    bool Running() const { return pid_ > 0; }

    // How it ended (waitpid's status), once it has; nothing when it still runs after `timeout`
    // (which only bounds a test that fails; zero looks once).
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        if (pid_ <= 0) return std::nullopt;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            if (done < 0 || std::chrono::steady_clock::now() >= end) return std::nullopt;
            const timespec step{0, 20 * 1000 * 1000};
            nanosleep(&step, nullptr);
        }
    }

private:
    pid_t pid_ = -1;
};

}  // namespace SvTestSupport

#endif  // TESTS_SUPPORT_CHILDPROCESS_H
