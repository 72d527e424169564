// The main of every test program: GoogleTest and GoogleMock as usual, and, asked with
// --sv_ctest_labels=FOLDER_LABEL:SCRIPT when the program is built, the ctest script that gives
// the tests marked with SV_SUITE_LABEL / SV_TEST_LABEL their further labels.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/TestLabelScript.h"

int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    if (const std::optional<int> status = SvTestSupport::LabelScriptRequested(argc, argv)) {
        return *status;
    }
    return RUN_ALL_TESTS();
}
