#ifndef APP_TESTING_ZULPROCESS_H
#define APP_TESTING_ZULPROCESS_H
// Header-only, for the tests of the `zul` program itself: the environment it is started with,
// and the program started in the background so that a test can act on it while it runs (its
// window, a signal) and then see how it ended.

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

extern char** environ;

namespace AppTestSupport {

// This process's environment with HOME set to `home`, and without the variables that would
// move the program's folders or change its device (XDG_*, SV_DOCUMENTS_DIR, ZUL_DEVICE_*) or
// give it a display (DISPLAY); `display`, when given, is the display it gets. In a sanitized
// build the program unwinds as the test programs do (fast_unwind_on_malloc=0): GLib is built
// without frame pointers, and LeakSanitizer's suppressions of the desktop libraries' lifelong
// allocations need whole stacks to name them.
inline std::vector<std::string> ZulEnvironment(const std::string& home,
                                               const std::string& display = std::string()) {
    std::vector<std::string> environment;
    std::string asanOptions = "fast_unwind_on_malloc=0";
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "HOME" || name.compare(0, 4, "XDG_") == 0 || name == "SV_DOCUMENTS_DIR" ||
            name.compare(0, 11, "ZUL_DEVICE_") == 0 || name == "DISPLAY") {
            continue;
        }
        if (name == "ASAN_OPTIONS") {
            asanOptions = entry.substr(name.size() + 1) + ":" + asanOptions;
            continue;
        }
        environment.push_back(entry);
    }
    environment.push_back("ASAN_OPTIONS=" + asanOptions);
    environment.push_back("HOME=" + home);
    if (!display.empty()) environment.push_back("DISPLAY=" + display);
    return environment;
}

// The program running in the background, its standard output and error into files.
using ZulProcess = SvTestSupport::ChildProcess;

}  // namespace AppTestSupport

#endif  // APP_TESTING_ZULPROCESS_H
