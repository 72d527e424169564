#ifndef TESTS_SUPPORT_TESTLABELS_H
#define TESTS_SUPPORT_TESTLABELS_H

// ctest labels beyond the folder's own, set beside the tests they mark:
//
//     SV_SUITE_LABEL(SvplayHttpTest, e2e);                  // every test of the suite
//     SV_TEST_LABEL(HTTPClientOriginFaultTest, AStalledBody, slow);  // one test
//
// `e2e` marks checks with outside clients (ffmpeg, ffprobe, tsinfo, curl, nginx), `slow` tests
// over 10 s. The suite is the name written in TEST, TEST_F, TEST_P or TYPED_TEST (without an
// instantiation's prefix); a test's name is written without its parameter's suffix. When the
// test program is built, its main (TestProgram_main.cpp) writes the labels out as a ctest
// script; a mark that names no test of the program, or a label other than these two, fails
// the build.

#include <string>
#include <vector>

namespace SvTestSupport {

struct TestLabelMark {
    std::string suite;
    std::string test;  // empty: the whole suite
    std::string label;
};

inline std::vector<TestLabelMark>& TestLabelMarks() {
    static std::vector<TestLabelMark> marks;
    return marks;
}

inline bool MarkTests(const char* suite, const char* test, const char* label) {
    TestLabelMarks().push_back({suite, test, label});
    return true;
}

}  // namespace SvTestSupport

// __COUNTER__, not __LINE__: in a unity build two marks on the same line of different files
// share one translation unit.
#define SV_TEST_LABEL_JOIN2(a, b) a##b
#define SV_TEST_LABEL_JOIN(a, b) SV_TEST_LABEL_JOIN2(a, b)
#define SV_SUITE_LABEL(suite, label)                                                      \
    [[maybe_unused]] static const bool SV_TEST_LABEL_JOIN(svTestLabelMark, __COUNTER__) = \
        ::SvTestSupport::MarkTests(#suite, "", #label)
#define SV_TEST_LABEL(suite, test, label)                                                 \
    [[maybe_unused]] static const bool SV_TEST_LABEL_JOIN(svTestLabelMark, __COUNTER__) = \
        ::SvTestSupport::MarkTests(#suite, #test, #label)

#endif
