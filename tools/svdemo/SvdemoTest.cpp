// The tour program answers the shared options like every tool, and runs its tour.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/Fixtures.h"

namespace {

using SvTestSupport::RunProgram;

TEST(Svdemo, AnswersTheSharedOptionsAndRuns) {
    std::string out;
    EXPECT_EQ(0, RunProgram({SV_SVDEMO_PATH, "--help"}, &out));
    EXPECT_EQ(0u, out.find("usage: svdemo\n")) << out;
    EXPECT_EQ(0, RunProgram({SV_SVDEMO_PATH, "--version"}, &out));
    EXPECT_EQ(0u, out.find("svdemo ")) << out;
    EXPECT_EQ(2, RunProgram({SV_SVDEMO_PATH, "extra"}, &out));
    EXPECT_EQ(0u, out.find("svdemo: unexpected argument extra\n")) << out;
    EXPECT_EQ(2, RunProgram({SV_SVDEMO_PATH, "-x"}, &out));

    // The tour: five timer ticks, and the SHA-256 of 1 MiB of the pattern i * 7 (computed with
    // sha256sum over the same bytes).
    ASSERT_EQ(0, RunProgram({SV_SVDEMO_PATH}, &out)) << out;
    EXPECT_NE(std::string::npos, out.find("  timer tick 5\n")) << out;
    std::string digest;
    ASSERT_EQ(0, RunProgram({"sh", "-c",
                             "LC_ALL=C awk 'BEGIN { for (i = 0; i < 1048576; i++) printf \"%c\", "
                             "(i * 7) % 256 }' | sha256sum"},
                            &digest));
    EXPECT_NE(std::string::npos, out.find(digest.substr(0, 64))) << out << digest;
}

}  // namespace
