#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
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
        EXPECT_EQ(0u, path.rfind("/tmp/tempdirtest", 0));
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

}  // namespace
}  // namespace SvTestSupport
