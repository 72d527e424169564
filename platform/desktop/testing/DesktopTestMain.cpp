// The desktop test program: every test runs on this thread, the GTK thread, with the private
// display of DesktopEnvironment. Listing the tests starts no display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/desktop/testing/DesktopEnvironment.h"

// LeakSanitizer's defaults for this program: the suppressions of the libraries' own
// process-long allocations (see lsan.supp; nothing of ours is in it).
extern "C" const char* __lsan_default_options() {
    return "suppressions=" SV_DESKTOP_LSAN_SUPPRESSIONS;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // WebKit under the test display: no GPU (a composited page can show blank in pictures for
    // a while) and, as root without user namespaces to spare, no sandbox for its processes.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
    setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
    ::testing::AddGlobalTestEnvironment(new ns::desktop::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
