#include "platform/store/SearchPaths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <string>

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using SvTestSupport::ScopedEnvironment;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(SearchPathsTest, DocumentsDirectoryFollowsTheOverrideThenHome) {
    {
        ScopedEnvironment docs("SV_DOCUMENTS_DIR", "/data/docs//");
        EXPECT_EQ(ns::SearchPaths::DocumentsDirectory(), "/data/docs");
    }
    {
        ScopedEnvironment docs("SV_DOCUMENTS_DIR", nullptr);
        ScopedEnvironment home("HOME", "/home/tester/");
        EXPECT_EQ(ns::SearchPaths::DocumentsDirectory(), "/home/tester/Documents");
    }
    {
        ScopedEnvironment docs("SV_DOCUMENTS_DIR", "~/Stuff");
        ScopedEnvironment home("HOME", "/home/tester");
        EXPECT_EQ(ns::SearchPaths::DocumentsDirectory(), "/home/tester/Stuff");
    }
    {
        // An empty override counts as none.
        ScopedEnvironment docs("SV_DOCUMENTS_DIR", "");
        ScopedEnvironment home("HOME", "/h");
        EXPECT_EQ(ns::SearchPaths::DocumentsDirectory(), "/h/Documents");
    }
}

TEST(SearchPathsTest, WithoutHomeTheAccountDatabaseGivesTheHomeDirectory) {
    ScopedEnvironment docs("SV_DOCUMENTS_DIR", nullptr);
    ScopedEnvironment home("HOME", nullptr);
    const std::string documents = ns::SearchPaths::DocumentsDirectory();
    // Whatever the account's home is, the documents directory sits in it.
    ASSERT_FALSE(documents.empty());
    EXPECT_EQ(documents, ns::SearchPaths::HomeDirectory() + "/Documents");
    EXPECT_EQ(documents.front(), '/');
}

TEST(SearchPathsTest, CreateDirectoryMakesIntermediatesAndAcceptsAnExistingOne) {
    SvTestSupport::TemporaryDirectory tmp("svsearch");
    const std::string deep = tmp.File("a/b/c");
    EXPECT_TRUE(ns::SearchPaths::CreateDirectory(deep));
    EXPECT_TRUE(IsDirectory(tmp.File("a")));
    EXPECT_TRUE(IsDirectory(tmp.File("a/b")));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_TRUE(ns::SearchPaths::CreateDirectory(deep)) << "an existing directory is success";
    EXPECT_TRUE(ns::SearchPaths::CreateDirectory(deep + "/")) << "a trailing slash is harmless";
}

TEST(SearchPathsTest, CreateDirectoryFailsOnFilesAndEmptyPathsWithoutHarm) {
    SvTestSupport::TemporaryDirectory tmp("svsearch");
    const std::string file = tmp.File("plain");
    { std::ofstream(file) << "keep me"; }
    EXPECT_FALSE(ns::SearchPaths::CreateDirectory(file));
    EXPECT_FALSE(ns::SearchPaths::CreateDirectory(file + "/below"));
    EXPECT_FALSE(ns::SearchPaths::CreateDirectory(""));
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me") << "a failed creation must not touch the file in the way";
}

}  // namespace
