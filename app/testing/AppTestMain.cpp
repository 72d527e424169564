// The application's test program: its tests run with a home of their own (PrivateHome.h), made
// before the first and removed after the last.
#include <gtest/gtest.h>

#include "app/testing/PrivateHome.h"
#include "platform/media/HeadlessMoviePlayer.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabelScript.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const std::optional<int> status = SvTestSupport::LabelScriptRequested(argc, argv)) {
        return *status;
    }
    SvTestSupport::TemporaryDirectory root("zul-app-tests-");
    AppTestSupport::UsePrivateHome(root);
    // The player screens of these tests play without a window.
    ns::HeadlessMoviePlayer::MakeDefault();
    return RUN_ALL_TESTS();
}
