// svplay on a title from an origin that closes every body after 1 MB and answers its first
// request 503: ffmpeg reads it to the end through the engine's playlist with every frame, and
// svplay reports no error. The engine's pause before a resume is set to 0 for the run
// (SV_HTTP_RETRY_PAUSE_MS): each resume then waits only for the next stall check.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "tests/support/Fixtures.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tests/support/TestLabels.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::ScopedEnvironment;
using SvTestSupport::TemporaryDirectory;
using SvTestSupport::TestOrigin;
using namespace SvplayTestSupport;

SV_SUITE_LABEL(SvplayResumeTest, e2e);  // checked with outside clients
TEST(SvplayResumeTest, ATitleFromAnOriginThatDropsIsReadToTheEnd) {
    TemporaryDirectory dir("svplayresume");
    TestOrigin origin;
    origin.ServeFile("/title.svm", Fixtures::HlsTitle());
    TestOrigin::Fault fault;
    fault.closeAfter = 1000000;  // the title is about 5 MB: four cuts at least
    fault.failEvery = 1000;      // the first request only
    fault.failStatus = 503;
    origin.SetFault("/title.svm", fault);
    ScopedEnvironment pause("SV_HTTP_RETRY_PAUSE_MS", "0");

    const uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Svplay svplay({origin.Url("/title.svm"), "--port", std::to_string(port)}, dir.File("stderr"));
    ASSERT_TRUE(svplay.Started());
    std::string url;
    ASSERT_TRUE(svplay.ReadLine(url, std::chrono::seconds(30))) << svplay.Errors();
    ASSERT_EQ("http://localhost:" + std::to_string(port) + "/title.m3u8", url) << svplay.Errors();

    ASSERT_NO_FATAL_FAILURE(ExpectEveryFrameOfTheHlsClip(url));
    EXPECT_GE(origin.Requests().size(), 6u) << "the 503 and five bodies";

    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(std::chrono::seconds(20))) << svplay.Errors();
    EXPECT_EQ(std::string::npos, svplay.Output().find("StoppingOnError")) << svplay.Output();
    EXPECT_EQ(std::string::npos, svplay.Output().find("Error")) << svplay.Output();
}

}  // namespace
