// The application's window tests: one private display for the run (as the desktop test
// program has), movies played silently (GstMoviePlayer's switch to fakeaudiosink), and
// everything the application would store under the user's home pointed into a folder of the
// program's own, removed at the end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/testing/PrivateHome.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/testing/DesktopEnvironment.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabelScript.h"

// GLib and GStreamer are built without frame pointers: AddressSanitizer's fast unwinder stops
// at g_malloc, and the suppressions of their process-long allocations (lsan.supp) could name
// no function of theirs. The full unwinder sees the whole stack (a sanitized build only).
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
// WebKit's script engine releases its own objects through the program's instrumented copy of a
// library template; ubsan.supp says why that one check is left out.
extern "C" const char* __ubsan_default_options() {
    return "suppressions=" SV_APP_DESKTOP_UBSAN_SUPPRESSIONS;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const std::optional<int> status = SvTestSupport::LabelScriptRequested(argc, argv)) {
        return *status;
    }
    setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
    SvTestSupport::TemporaryDirectory root("zul-app-desktop-tests-");
    AppTestSupport::UsePrivateHome(root);
    ::testing::AddGlobalTestEnvironment(new ns::desktop::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
