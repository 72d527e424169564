// svremux on titles from an origin whose transfers fail: bodies closed after a stretch, every
// other answer a 503, resumed bodies shifted against their Content-Range, an origin that never
// comes back. What it writes when it exits 0 is byte for byte what it writes from the title's
// file; otherwise it exits 1 with the reason and writes nothing. The engine's pause before a
// resume is set to 0 for the runs (SV_HTTP_RETRY_PAUSE_MS): each resume then waits only for
// the next stall check, a second later.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;
using SvTestSupport::TestOrigin;

class SvremuxResumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string report;
        ASSERT_EQ(0, Remux(Fixtures::ShortTitle(), dir.File("local.ts"), &report)) << report;
        expected = SvTestSupport::ReadWholeFile(dir.File("local.ts"));
        ASSERT_FALSE(expected.empty());
        origin.ServeFile("/short.svm", Fixtures::ShortTitle());
    }
    int Remux(const std::string& title, const std::string& output, std::string* report) {
        return RunProgram({"env", "SV_HTTP_RETRY_PAUSE_MS=0", SV_SVREMUX_PATH, title, "-o", output},
                          report);
    }
    // svremux of the origin's title under the fault: its exit status, its messages in report
    // and what it wrote in written.
    int RemuxWith(const TestOrigin::Fault& fault, std::string* report, std::string* written) {
        origin.SetFault("/short.svm", fault);
        const std::string output = dir.File("http.ts");
        const int status = Remux(origin.Url("/short.svm"), output, report);
        *written = SvTestSupport::PathExists(output) ? SvTestSupport::ReadWholeFile(output)
                                                     : std::string();
        remove(output.c_str());
        return status;
    }
    // Under the fault svremux exits 0 with the file's output byte for byte; its messages in
    // report.
    void ExpectTheFilesOutput(const TestOrigin::Fault& fault, std::string* report) {
        std::string written;
        ASSERT_EQ(0, RemuxWith(fault, report, &written)) << *report;
        EXPECT_TRUE(written == expected) << written.size() << " bytes for " << expected.size();
    }

    TemporaryDirectory dir{"svremuxresume"};
    TestOrigin origin;
    std::string expected;
};

SV_SUITE_LABEL(SvremuxResumeTest, e2e);  // checked with outside clients
// The short title is about 200 KB: a close every 70 KB cuts its download twice or three times
// (every 3 MB would for a title of 9 MB).
TEST_F(SvremuxResumeTest, BodiesClosedEvery70KBGiveTheFilesOutput) {
    TestOrigin::Fault fault;
    fault.closeAfter = 70000;
    std::string report;
    ASSERT_NO_FATAL_FAILURE(ExpectTheFilesOutput(fault, &report));
    EXPECT_GE(origin.Requests().size(), 3u);
    // Each cut is a warning that is withdrawn; nothing else is said.
    EXPECT_NE(std::string::npos,
              report.find("svremux: warning: Data stopped arriving, will retry (2000)\n"))
        << report;
    EXPECT_EQ(std::string::npos, report.find("error")) << report;
}

TEST_F(SvremuxResumeTest, EveryOtherAnswerA503GivesTheFilesOutput) {
    // The first request, and every other after it, 503; the bodies between closed after 100 KB.
    TestOrigin::Fault fault;
    fault.failEvery = 2;
    fault.failStatus = 503;
    fault.closeAfter = 100000;
    std::string report;
    ASSERT_NO_FATAL_FAILURE(ExpectTheFilesOutput(fault, &report));
    EXPECT_GE(origin.Requests().size(), 4u);
}

// A resume whose body starts a byte later than its Content-Range says: once, the output is
// the file's; always (by 1 byte or by 1000), svremux fails with the seam's error and leaves no
// output. Never exit 0 with other bytes.
TEST_F(SvremuxResumeTest, ShiftedResumesAreAskedAgainOrFailTheRun) {
    TestOrigin::Fault once;
    once.closeAfter = 100000;
    once.resumeShift = 1;
    once.shiftedResumes = 1;
    std::string report;
    ASSERT_NO_FATAL_FAILURE(ExpectTheFilesOutput(once, &report));
    std::string written;

    TestOrigin::Fault always;
    always.closeAfter = 100000;
    always.resumeShift = 1000;
    EXPECT_EQ(1, RemuxWith(always, &report, &written)) << report;
    EXPECT_TRUE(written.empty());
    const std::string url = origin.Url("/short.svm");
    EXPECT_NE(std::string::npos,
              report.find("svremux: " + url +
                          ": Resumed download does not continue the data already received (at "
                          "byte 100000) (1032)\n"))
        << report;
}

// Reset after 100 KB, and every request after that reset before an answer: five resumes, then
// the transport's error.
TEST_F(SvremuxResumeTest, AnOriginThatNeverComesBackFailsWith1010) {
    TestOrigin::Fault fault;
    fault.dropAfter = 100000;
    fault.goneAfterCut = true;
    std::string report;
    std::string written;
    EXPECT_EQ(1, RemuxWith(fault, &report, &written)) << report;
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(6u, origin.Requests().size()) << "the first and five resumes";
    const std::string url = origin.Url("/short.svm");
    const size_t failure = report.find("svremux: " + url + ": CFStream error: ");
    ASSERT_NE(std::string::npos, failure) << report;
    EXPECT_NE(std::string::npos, report.find(" (1010)\n", failure)) << report;
}

}  // namespace
