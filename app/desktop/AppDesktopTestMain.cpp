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
