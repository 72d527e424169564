// svremux on titles that nginx serves: what it writes equals, byte for byte, what it writes from
// the same title's file (that run is checked against the sources by SvremuxTest), also through
// a throttled origin; an origin's refusal is told with its status and leaves no output. The
// progress line of a download, from the test origin that can hold back half a title.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tools/svremux/SvremuxTerminalRun.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::NginxOrigin;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

class SvremuxHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
        ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    }
    // The title in the origin's folder under name.
    void Publish(const std::string& title, const std::string& name) {
        ASSERT_EQ(0, symlink(title.c_str(), (root + "/" + name).c_str()));
    }
    int Remux(const std::string& title, const std::string& output, std::string* report) {
        return RunProgram({SV_SVREMUX_PATH, title, "-o", output}, report);
    }

    TemporaryDirectory dir{"svremuxhttp"};
    const std::string root = dir.File("www");
};

SV_SUITE_LABEL(SvremuxHttpTest, e2e);  // checked with outside clients
TEST_F(SvremuxHttpTest, ATitleFromNginxIsWrittenAsFromItsFile) {
    const struct {
        std::string title;
        std::string name;
    } cases[] = {{Fixtures::ShortTitle(), "short.svm"},
                 // Of three renditions only the first is written, over HTTP too.
                 {Fixtures::MultiRateTitle(), "multirate.svm"},
                 {Fixtures::Eac3Title(), "eac3.svm"}};
    for (const auto& c : cases) Publish(c.title, c.name);
    NginxOrigin origin(root);
    // Throttled to about a tenth of a second per 200 KB: the download trickles in while the
    // chain waits for it, as on a slow line.
    NginxOrigin slow(root, 2u << 20);
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    ASSERT_TRUE(slow.Start(&reason)) << reason;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string report;
        const std::string local = dir.File("local.ts");
        ASSERT_EQ(0, Remux(c.title, local, &report)) << report;
        const std::string expected = SvTestSupport::ReadWholeFile(local);
        ASSERT_FALSE(expected.empty());
        for (NginxOrigin* from : {&origin, &slow}) {
            const std::string output = dir.File("http.ts");
            ASSERT_EQ(0, Remux(from->Url("/" + c.name), output, &report)) << report;
            EXPECT_EQ("", report);  // not a terminal: nothing to say
            const std::string got = SvTestSupport::ReadWholeFile(output);
            EXPECT_EQ(expected.size(), got.size());
            EXPECT_TRUE(got == expected);
        }
    }
    // Standard output takes the stream as it takes a local run's (run in the test's folder, so
    // that a stray file named "-" would be found there).
    std::string streamed;
    ASSERT_EQ(
        0, RunProgram({"sh", "-c", "cd \"$3\" && exec \"$0\" \"$1\" -o - >\"$2\"", SV_SVREMUX_PATH,
                       origin.Url("/short.svm"), dir.File("stdout.ts"), dir.File("")},
                      &streamed))
        << streamed;
    EXPECT_NE(0, access(dir.File("-").c_str(), F_OK)) << "a file named - was written";
    ASSERT_EQ(0, Remux(Fixtures::ShortTitle(), dir.File("local.ts"), &streamed));
    EXPECT_TRUE(SvTestSupport::ReadWholeFile(dir.File("stdout.ts")) ==
                SvTestSupport::ReadWholeFile(dir.File("local.ts")));
}

TEST_F(SvremuxHttpTest, AnOriginThatRefusesOrIsNotThereFailsWithTheReasonAndNoOutput) {
    Publish(Fixtures::ShortTitle(), "short.svm");
    NginxOrigin origin(root);
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    const std::string output = dir.File("out.ts");
    std::string report;
    const std::string missing = origin.Url("/missing.svm");
    EXPECT_EQ(1, Remux(missing, output, &report));
    EXPECT_EQ("svremux: cannot open " + missing + ": HTTP Error 404 (404)\n", report);
    EXPECT_FALSE(SvTestSupport::PathExists(output));

    // Nothing listens on the port any more once the origin has stopped.
    const std::string gone = origin.Url("/short.svm");
    origin.Stop();
    EXPECT_EQ(1, Remux(gone, output, &report));
    EXPECT_EQ(0u, report.find("svremux: cannot open " + gone + ": ")) << report;
    EXPECT_NE(std::string::npos, report.find("onnect")) << report;
    EXPECT_FALSE(SvTestSupport::PathExists(output));
}

TEST_F(SvremuxHttpTest, ATitleCutShortOnTheOriginFails) {
    // The first half of the title only: its index promises more than the origin has.
    const std::string title = SvTestSupport::ReadWholeFile(Fixtures::ShortTitle());
    std::ofstream(root + "/cut.svm", std::ios::binary) << title.substr(0, title.size() / 2);
    NginxOrigin origin(root);
    std::string reason;
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    const std::string output = dir.File("out.ts");
    std::string report;
    const std::string url = origin.Url("/cut.svm");
    EXPECT_EQ(1, Remux(url, output, &report));
    EXPECT_FALSE(SvTestSupport::PathExists(output));
    // Told as for the same bytes in a file.
    std::string local;
    EXPECT_EQ(1, Remux(root + "/cut.svm", output, &local));
    ASSERT_EQ(0u, local.find("svremux: " + root + "/cut.svm: ")) << local;
    EXPECT_EQ("svremux: " + url + ": " + local.substr(local.find(": ", 9) + 2), report);
}

// On a terminal the progress line counts a download as it counts a file: against the size the
// response tells, or, from an origin that never tells it, against the end of the rendition its
// index gives. While the origin holds back the second half of the title the line shows about
// half; a whole run ends at 100 %.
TEST(SvremuxDownloadProgress, CountsAgainstTheSizeOnceTheDownloadKnowsIt) {
    using SvremuxTestSupport::TerminalRun;
    // Bounds a run that fails, nothing more.
    constexpr std::chrono::seconds kBound(30);
    const TemporaryDirectory dir("svremuxprogress");
    const std::string title = SvTestSupport::ReadWholeFile(Fixtures::ShortTitle());
    ASSERT_GT(title.size(), 100000u);
    const struct {
        const char* name;
        bool sizeUntold;  // chunked, and a Content-Range total of "*"
    } cases[] = {{"size told", false}, {"size never told", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SvTestSupport::TestOrigin origin;
        origin.Serve("/title.svm", title);
        SvTestSupport::TestOrigin::Fault fault;
        fault.chunked = c.sizeUntold;
        fault.totalUnknown = c.sizeUntold;
        fault.stallAfter = title.size() / 2;
        fault.stallMs = 3600 * 1000;  // until the run is stopped
        origin.SetFault("/title.svm", fault);
        const std::string output = dir.File("out.ts");
        {
            TerminalRun run({origin.Url("/title.svm"), "-o", output});
            ASSERT_TRUE(run.Started());
            // Half the title has come: the line reaches near 50 % and no further.
            int shown = 0;
            EXPECT_TRUE(run.ReadUntil(
                [&shown](const std::string& text) {
                    const std::vector<int> percentages = TerminalRun::Percentages(text);
                    shown = percentages.empty() ? 0 : percentages.back();
                    return shown >= 45;
                },
                kBound))
                << run.Text();
            EXPECT_LE(shown, 50) << run.Text();
            run.Signal(SIGINT);
            const std::optional<int> status = run.Finish(kBound);
            EXPECT_TRUE(status && WIFSIGNALED(*status)) << run.Text();
        }
        EXPECT_FALSE(SvTestSupport::PathExists(output));

        fault.stallAfter = SvTestSupport::TestOrigin::kNever;
        origin.SetFault("/title.svm", fault);
        TerminalRun run({origin.Url("/title.svm"), "-o", output});
        ASSERT_TRUE(run.Started());
        const std::optional<int> status = run.Finish(kBound);
        ASSERT_TRUE(status && WIFEXITED(*status)) << run.Text();
        EXPECT_EQ(0, WEXITSTATUS(*status)) << run.Text();
        EXPECT_EQ(0u, TerminalRun::LastState(run.Text()).find("svremux: 100%")) << run.Text();
        // Never back, never past the end.
        const std::vector<int> percentages = TerminalRun::Percentages(run.Text());
        for (size_t i = 1; i < percentages.size(); ++i) {
            EXPECT_LE(percentages[i - 1], percentages[i]) << run.Text();
        }
        EXPECT_EQ(0, unlink(output.c_str()));
    }
}

}  // namespace
