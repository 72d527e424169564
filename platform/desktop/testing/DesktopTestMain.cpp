// The desktop test program: every test runs on this thread, the GTK thread, with the private
// display of DesktopEnvironment. Listing the tests starts no display. Movies play silently
// (GstMoviePlayer's switch to fakeaudiosink): a test machine may have no sound device.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/desktop/GstMoviePlayer.h"
#include "platform/desktop/testing/DesktopEnvironment.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // WebKit as the application runs it (composited), but without the sandbox around the many
    // short-lived web processes these tests start (it guards nothing here and slows every
    // start); the application's window tests keep it, as `zul` does.
    setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
    setenv(ns::desktop::GstMoviePlayer::kSilentVariable, "1", 1);
    ::testing::AddGlobalTestEnvironment(new ns::desktop::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
