// The application's test program. Before any test runs, everything the application would
// store under the user's home (settings, keychain, documents) is pointed into a folder of the
// program's own, removed at the end, so that no test reads or changes the real ones.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/store/Keychain.h"
#include "platform/store/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabelScript.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const std::optional<int> status = SvTestSupport::LabelScriptRequested(argc, argv)) {
        return *status;
    }
    SvTestSupport::TemporaryDirectory root("zul-app-tests-");
    const std::string home = root.File("home");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("SV_DOCUMENTS_DIR", (home + "/Documents").c_str(), 1);
    ns::UserDefaults::SetStandardFolder(root.File("defaults"));
    ns::Keychain::SetStandardFolder(root.File("keychain"));
    return RUN_ALL_TESTS();
}
