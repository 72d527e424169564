#include "tests/support/TemporaryDirectory.h"

#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>

namespace SvTestSupport {
namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

TEST(TemporaryDirectory, GoesWithWhatWasMadeInItButNotWhatLinksPointTo) {
    TemporaryDirectory outside("tempdirtest-outside");
    const std::string kept = outside.File("kept");
    { std::ofstream(kept) << "stays"; }

    std::string path;
    {
        TemporaryDirectory dir("tempdirtest");
        path = dir.Path();
        EXPECT_EQ(0u, path.rfind(TemporaryRoot() + "/tempdirtest", 0)) << path;
        EXPECT_EQ(path + "/a", dir.File("a"));
        ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0700));
        { std::ofstream(dir.File("sub/file")) << "x"; }
        { std::ofstream(dir.File("a")) << "y"; }
        ASSERT_EQ(0, symlink(outside.Path().c_str(), dir.File("link").c_str()));
        EXPECT_TRUE(Exists(dir.File("sub/file")));
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(Exists(kept));  // the link was removed, not followed

    TemporaryDirectory first("tempdirtest");
    TemporaryDirectory second("tempdirtest");
    EXPECT_NE(first.Path(), second.Path());
}

// Temporary folders go where TMPDIR says, and under /tmp without it.
TEST(TemporaryDirectory, IsMadeUnderTmpdir) {
    TemporaryDirectory given("tempdirtest-root");
    {
        // A trailing slash makes no double one.
        ScopedEnvironment tmpdir("TMPDIR", (given.Path() + "/").c_str());
        EXPECT_EQ(given.Path(), TemporaryRoot());
        TemporaryDirectory dir("inside");
        EXPECT_EQ(given.Path() + "/inside", dir.Path().substr(0, dir.Path().size() - 6));
        EXPECT_TRUE(Exists(dir.Path()));
    }
    EXPECT_EQ(std::set<std::string>(), DirectoryEntries(given.Path()));  // removed again
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnvironment tmpdir("TMPDIR", unset);
        EXPECT_EQ("/tmp", TemporaryRoot());
        TemporaryDirectory dir("tempdirtest");
        EXPECT_EQ(0u, dir.Path().rfind("/tmp/tempdirtest", 0)) << dir.Path();
    }
}

}  // namespace
}  // namespace SvTestSupport
