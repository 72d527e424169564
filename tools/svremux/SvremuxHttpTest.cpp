// svremux on titles that nginx serves: what it writes equals, byte for byte, what it writes from
// the same title's file (that run is checked against the sources by SvremuxTest), also through
// a throttled origin; an origin's refusal is told with its status and leaves no output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

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

}  // namespace
