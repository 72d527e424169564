// The desktop test program: every test runs on this thread, the GTK thread, with the private
// display of DesktopEnvironment. Listing the tests starts no display.
#include <gtest/gtest.h>

#include "platform/desktop/testing/DesktopEnvironment.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ns::desktop::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
