// The application's window tests: one private display for the run (as the desktop test
// program has), and everything the application would store under the user's home pointed
// into a folder of the program's own, removed at the end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/desktop/testing/DesktopEnvironment.h"
#include "platform/store/Keychain.h"
#include "platform/store/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    SvTestSupport::TemporaryDirectory root("zul-app-desktop-tests-");
    const std::string home = root.File("home");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("SV_DOCUMENTS_DIR", (home + "/Documents").c_str(), 1);
    ns::UserDefaults::SetStandardFolder(root.File("defaults"));
    ns::Keychain::SetStandardFolder(root.File("keychain"));
    ::testing::AddGlobalTestEnvironment(new ns::desktop::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
