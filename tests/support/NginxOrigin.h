#ifndef TESTS_SUPPORT_NGINXORIGIN_H
#define TESTS_SUPPORT_NGINXORIGIN_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tests/support/TemporaryDirectory.h"

namespace SvTestSupport {

// A real web origin for end-to-end checks: nginx in the foreground, one process, serving a
// folder on a loopback port of its own, with its configuration, pid file, logs and temporary
// files in a temporary folder that goes with it. Ranges are served as nginx serves static files;
// a rate limit throttles every response as a CDN would.
//
// Start picks a free port below the system's ephemeral range and, should another process take
// it first (nginx then ends at once), tries another. nginx counts as started only once its pid
// file holds the pid of the process started here: nginx writes that file after it has bound
// and is listening, and ends without it when the port is taken, so a stranger that answers on
// the port is never taken for it. Stop (also the destructor) ends nginx and waits for it; every
// wait is bounded.
//
// nginx dies with the thread that started it (the kernel sends it SIGKILL), so a test that
// crashes, aborts under a sanitizer or is killed for its time leaves no server behind. Start
// must therefore be called from a thread that outlives the origin, such as the test's own
// thread, never from a short-lived helper thread. The folder of a process that died that way
// is removed by the next origin that starts.
class NginxOrigin {
public:
    static const char kProgram[];

    // root: the folder served at "/". bytesPerSecond: limit_rate of every response (0: none).
    explicit NginxOrigin(const std::string& root, uint64_t bytesPerSecond = 0);
    ~NginxOrigin();
    NginxOrigin(const NginxOrigin&) = delete;
    NginxOrigin& operator=(const NginxOrigin&) = delete;

    // True once nginx serves; false with the reason (its error log included).
    bool Start(std::string* reason = nullptr);
    // The same on this port only: false when nginx cannot have it.
    bool StartOnPort(uint16_t port, std::string* reason = nullptr);
    void Stop();

    bool Running() const { return pid_ > 0; }
    uint16_t Port() const { return port_; }
    // nginx's process id while it runs, else -1.
    pid_t Pid() const { return pid_; }
    // The folder of its configuration, pid file and logs.
    const std::string& Folder() const { return folder_.Path(); }
    // "http://127.0.0.1:PORT" followed by path (which starts with '/').
    std::string Url(const std::string& path) const;
    // What nginx wrote to its error log so far.
    std::string ErrorLog() const;

    // True when the program is installed (scripts/deps installs it).
    static bool Installed();

private:
    bool WriteConfiguration(uint16_t port, std::string* reason);
    // Starts nginx on the port; 1 ready, 0 it ended (the port was taken), -1 other failure.
    int TryPort(uint16_t port, std::string* reason);
    // True when the pid file names the process.
    bool PidFileNames(pid_t pid) const;
    // Notes this process as the folder's owner, for RemoveLeftovers.
    bool WriteOwner(std::string* reason);
    // Removes the folders of origins whose process has gone without removing them.
    void RemoveLeftovers() const;

    TemporaryDirectory folder_;
    std::string root_;
    uint64_t bytesPerSecond_;
    pid_t pid_;
    uint16_t port_;
};

}  // namespace SvTestSupport

#endif
