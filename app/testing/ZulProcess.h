#ifndef APP_TESTING_ZULPROCESS_H
#define APP_TESTING_ZULPROCESS_H
// Header-only, for the tests of the `zul` program itself: the environment it is started with,
// and the program started in the background so that a test can act on it while it runs (its
// window, a signal) and then see how it ended.

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

namespace AppTestSupport {

// This process's environment with HOME set to `home`, and without the variables that would
// move the program's folders or change its device (XDG_*, SV_DOCUMENTS_DIR, ZUL_DEVICE_*) or
// give it a display (DISPLAY); `display`, when given, is the display it gets. In a sanitized
// build the program unwinds as the test programs do (fast_unwind_on_malloc=0): GLib is built
// without frame pointers, and LeakSanitizer's suppressions of the desktop libraries' lifelong
// allocations need whole stacks to name them.
inline std::vector<std::string> ZulEnvironment(const std::string& home,
                                               const std::string& display = std::string()) {
    std::vector<std::string> environment;
    std::string asanOptions = "fast_unwind_on_malloc=0";
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "HOME" || name.compare(0, 4, "XDG_") == 0 || name == "SV_DOCUMENTS_DIR" ||
            name.compare(0, 11, "ZUL_DEVICE_") == 0 || name == "DISPLAY") {
            continue;
        }
        if (name == "ASAN_OPTIONS") {
            asanOptions = entry.substr(name.size() + 1) + ":" + asanOptions;
            continue;
        }
        environment.push_back(entry);
    }
    environment.push_back("ASAN_OPTIONS=" + asanOptions);
    environment.push_back("HOME=" + home);
    if (!display.empty()) environment.push_back("DISPLAY=" + display);
    return environment;
}

// The program running in the background, its standard output and error into files. A process
// still running when the object goes is killed and reaped.
class ZulProcess {
public:
    ZulProcess(const std::string& program, const std::vector<std::string>& arguments,
               std::vector<std::string> environment, const std::string& outFile,
               const std::string& errFile) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ZulProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ZulProcess(const ZulProcess&) = delete;
    ZulProcess& operator=(const ZulProcess&) = delete;

    // -1 when it could not be started.
    pid_t Pid() const { return pid_; }
    bool Running() const { return pid_ > 0; }

    // How it ended (waitpid's status), once it has; nothing when it still runs after `timeout`
    // (only bounds a test that fails).
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

}  // namespace AppTestSupport

#endif  // APP_TESTING_ZULPROCESS_H
