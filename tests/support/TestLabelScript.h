#ifndef TESTS_SUPPORT_TESTLABELSCRIPT_H
#define TESTS_SUPPORT_TESTLABELSCRIPT_H
// Asked with --sv_ctest_labels=FOLDER_LABEL:SCRIPT when a test program is built, a test program
// writes the ctest script that gives the tests marked with SV_SUITE_LABEL / SV_TEST_LABEL their
// further labels, and exits with what this answers. Call it after GoogleTest's initialisation.

#include <optional>

namespace SvTestSupport {

// The program's exit status when the option was given (the script written: 0), else nothing.
std::optional<int> LabelScriptRequested(int argc, char** argv);

}  // namespace SvTestSupport

#endif
