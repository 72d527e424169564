#ifndef PLATFORM_DESKTOP_TESTING_XVFB_SERVER_H
#define PLATFORM_DESKTOP_TESTING_XVFB_SERVER_H
// A private virtual X server for tests and benchmarks. Xvfb picks the first free display itself
// and names it on a pipe (-displayfd), so programs started side by side never race for a
// display number. It ends with its owner: stopped by the destructor, and sent SIGTERM by the
// kernel should the owning process die first.

#include <sys/types.h>

#include <string>

namespace ns::desktop {

class XvfbServer {
public:
    // Starts `Xvfb` (found on PATH) with one screen of width x height at 24 bits and waits up to
    // 10 s for it to name its display. Throws std::runtime_error saying why when it cannot.
    explicit XvfbServer(int width = 1280, int height = 1024);
    // Asks the server to end and reaps it (killed after 5 s).
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The display name, such as ":3".
    const std::string& Display() const { return display_; }
    pid_t Pid() const { return pid_; }

private:
    void Stop();

    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace ns::desktop

#endif
