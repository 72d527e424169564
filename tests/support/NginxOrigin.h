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
// it first (nginx then ends at once), tries another. Stop (also the destructor) ends nginx and
// waits for it; every wait is bounded.
class NginxOrigin {
public:
    static const char kProgram[];

    // root: the folder served at "/". bytesPerSecond: limit_rate of every response (0: none).
    explicit NginxOrigin(const std::string& root, uint64_t bytesPerSecond = 0);
    ~NginxOrigin();
    NginxOrigin(const NginxOrigin&) = delete;
    NginxOrigin& operator=(const NginxOrigin&) = delete;

    // True once nginx accepts connections; false with the reason (its error log included).
    bool Start(std::string* reason = nullptr);
    void Stop();

    bool Running() const { return pid_ > 0; }
    uint16_t Port() const { return port_; }
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

    TemporaryDirectory folder_;
    std::string root_;
    uint64_t bytesPerSecond_;
    pid_t pid_;
    uint16_t port_;
};

}  // namespace SvTestSupport

#endif
