#include "platform/desktop/testing/TestDisplay.h"

#include <cstdlib>
#include <stdexcept>

namespace ns::desktop {

namespace {

bool gGtkInitialised = false;

}  // namespace

TestDisplay::TestDisplay(int width, int height) : server_(width, height) {
    if (gGtkInitialised) {
        throw std::logic_error("GTK was already initialised in this process: one TestDisplay");
    }
    if (const char* old = std::getenv("DISPLAY")) previousDisplay_ = old;
    setenv("DISPLAY", server_.Display().c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    if (!gtk_init_check(nullptr, nullptr)) {
        throw std::runtime_error("GTK cannot open the display " + server_.Display());
    }
    gGtkInitialised = true;
    display_ = gdk_display_get_default();
}

TestDisplay::~TestDisplay() {
    // GTK 3 cannot close its default display cleanly (its own handlers of "closed" trip over
    // each other), so the connection is left as it is: everything sent is taken first, and no
    // GTK call may follow, since GDK ends the process when it finds the server gone.
    if (display_ != nullptr) gdk_display_sync(display_);
    if (previousDisplay_) {
        setenv("DISPLAY", previousDisplay_->c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

}  // namespace ns::desktop
