#ifndef APP_TESTING_PRIVATEHOME_H
#define APP_TESTING_PRIVATEHOME_H
// Header-only, for the mains of the application's test programs: everything the application
// would store under the user's home (settings, keychain, documents) pointed into a folder of
// the program's own, so that no test reads or changes the real ones.

#include <stdlib.h>

#include <string>

#include "platform/store/Keychain.h"
#include "platform/store/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace AppTestSupport {

// Call before any test runs; `root` outlives the tests and is removed at the end.
inline void UsePrivateHome(const SvTestSupport::TemporaryDirectory& root) {
    const std::string home = root.File("home");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("SV_DOCUMENTS_DIR", (home + "/Documents").c_str(), 1);
    ns::UserDefaults::SetStandardFolder(root.File("defaults"));
    ns::Keychain::SetStandardFolder(root.File("keychain"));
}

}  // namespace AppTestSupport

#endif  // APP_TESTING_PRIVATEHOME_H
