#include "app/ZULImageDownload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/testing/AppTestSupport.h"
#include "tests/support/ScopedEnvironment.h"

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class ZULImageDownloadTest : public ::testing::Test {
protected:
    SvTestSupport::TemporaryDirectory folder_{"zul-thumbs-"};
    SvTestSupport::ScopedEnvironment documents_{"SV_DOCUMENTS_DIR",
                                                folder_.File("Documents").c_str()};
    const std::string thumbs_ = folder_.File("Documents/Thumbs");
    const std::string outside_ = folder_.File("outside");
};

TEST_F(ZULImageDownloadTest, ResetEmptiesTheCacheFolderAndMakesItAgain) {
    EXPECT_EQ(thumbs_, ZULImageDownload::cachePath());
    ZULImageDownload::resetCache();
    ASSERT_TRUE(IsFolder(thumbs_));
    ASSERT_EQ(0, mkdir((thumbs_ + "/sub").c_str(), 0755));
    AppTestSupport::WriteFile(thumbs_ + "/sub/a.jpg", "a");
    AppTestSupport::WriteFile(thumbs_ + "/7.jpg", "7");

    ZULImageDownload::resetCache();
    EXPECT_TRUE(IsFolder(thumbs_));
    EXPECT_TRUE(SvTestSupport::DirectoryEntries(thumbs_).empty());
}

// Links inside the cache, or the cache folder itself replaced by a link, go; what they point
// at stays where it is.
TEST_F(ZULImageDownloadTest, ResetNeverRemovesWhatALinkPointsAt) {
    ASSERT_EQ(0, mkdir(outside_.c_str(), 0755));
    AppTestSupport::WriteFile(outside_ + "/keep.txt", "keep");
    ASSERT_TRUE(ZULImageDownload::createCache());
    ASSERT_EQ(0, symlink(outside_.c_str(), (thumbs_ + "/link").c_str()));
    ZULImageDownload::resetCache();
    EXPECT_FALSE(Exists(thumbs_ + "/link"));
    EXPECT_TRUE(Exists(outside_ + "/keep.txt"));

    ASSERT_EQ(0, rmdir(thumbs_.c_str()));
    ASSERT_EQ(0, symlink(outside_.c_str(), thumbs_.c_str()));
    ZULImageDownload::resetCache();
    EXPECT_TRUE(IsFolder(thumbs_));
    EXPECT_TRUE(Exists(outside_ + "/keep.txt"));
}

// A relative home would put the cache, and its removal, wherever the program runs.
TEST_F(ZULImageDownloadTest, RelativeDocumentsFolderIsNotUsed) {
    SvTestSupport::ScopedEnvironment noDocuments("SV_DOCUMENTS_DIR", nullptr);
    SvTestSupport::ScopedEnvironment relativeHome("HOME", "relative-home");
    EXPECT_EQ("", ZULImageDownload::cachePath());
    EXPECT_FALSE(ZULImageDownload::deleteCache());
    EXPECT_FALSE(ZULImageDownload::createCache());
    EXPECT_FALSE(Exists("relative-home"));
}

}  // namespace
