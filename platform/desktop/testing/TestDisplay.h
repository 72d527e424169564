#ifndef PLATFORM_DESKTOP_TESTING_TEST_DISPLAY_H
#define PLATFORM_DESKTOP_TESTING_TEST_DISPLAY_H
// GTK on a private Xvfb, for desktop tests and benchmarks: starts the server, points DISPLAY
// at it (GDK's X11 backend, no accessibility bus, settings in memory: the machine may have
// neither D-Bus nor a session) and initialises GTK on the calling thread, which becomes the
// GTK thread. GTK can be initialised once per process, so make one TestDisplay per process
// (the desktop test program's environment does) and keep it until GTK is no longer used.

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "platform/desktop/testing/XvfbServer.h"

namespace ns::desktop {

class TestDisplay {
public:
    // Throws std::runtime_error when Xvfb cannot be started or GTK cannot open the display,
    // std::logic_error when GTK was already initialised in this process.
    explicit TestDisplay(int width = 1280, int height = 1024);
    // Stops the server and puts DISPLAY back. GTK is unusable afterwards (and cannot be
    // initialised again): destroy the display when the process is done with GTK.
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    // The X display name, such as ":3".
    const std::string& Name() const { return server_.Display(); }
    GdkDisplay* Display() const { return display_; }
    // The X server's process.
    pid_t ServerPid() const { return server_.Pid(); }

private:
    XvfbServer server_;
    std::optional<std::string> previousDisplay_;
    GdkDisplay* display_ = nullptr;
};

}  // namespace ns::desktop

#endif
