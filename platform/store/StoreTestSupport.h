#ifndef PLATFORM_STORE_STORETESTSUPPORT_H
#define PLATFORM_STORE_STORETESTSUPPORT_H

// Header-only, for the store's tests: whole-file reads and running outside programs. A folder
// of a test's own is SvTestSupport::TemporaryDirectory, which this header brings along.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TemporaryDirectory.h"

extern char** environ;

namespace StoreTestSupport {

// The bytes of a file; empty when it cannot be read.
inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs argv (from PATH, no shell) with standard input from /dev/null and standard output into
// output; answers the exit status, or -1 when it could not run or did not exit.
inline int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
    close(fds[0]);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Keeps an environment variable's value (or its absence) and puts it back when destroyed, so a
// test may change it freely.
class SavedEnvironment {
public:
    explicit SavedEnvironment(std::string name) : name_(std::move(name)) {
        const char* value = std::getenv(name_.c_str());
        present_ = value != nullptr;
        value_ = present_ ? value : "";
    }
    ~SavedEnvironment() {
        present_ ? setenv(name_.c_str(), value_.c_str(), 1) : unsetenv(name_.c_str());
    }
    SavedEnvironment(const SavedEnvironment&) = delete;
    SavedEnvironment& operator=(const SavedEnvironment&) = delete;

private:
    std::string name_;
    std::string value_;
    bool present_ = false;
};

}  // namespace StoreTestSupport

#endif
