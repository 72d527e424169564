#include "app/ZULImageDownload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/testing/AppTestSupport.h"
#include "platform/ui/Loop.h"
#include "tests/support/BlackPng.h"
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

// Ids that are one plain file name keep it; any other is replaced by the SHA-256 of its bytes
// (the digests are sha256sum's of those bytes), so no id names a path outside the folder.
TEST(ZULImageDownloadNameTest, ImageNamesNeverLeaveTheCacheFolder) {
    EXPECT_EQ("101.jpg", ZULImageDownload::imageNameForID("101"));
    EXPECT_EQ("a b..c.jpg", ZULImageDownload::imageNameForID("a b..c"));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.jpg",
              ZULImageDownload::imageNameForID(""));
    EXPECT_EQ("cdb4ee2aea69cc6a83331bbe96dc2caa9a299d21329efb0336fc02a82e1839a8.jpg",
              ZULImageDownload::imageNameForID("."));
    EXPECT_EQ("5ec1f7e700f37c3d0b2981d04855fc34b94aaa15457b05ca571817442d228f81.jpg",
              ZULImageDownload::imageNameForID(".."));
    EXPECT_EQ("8a5edab282632443219e051e4ade2d1d5bbc671c781051bf1437897cbdfea0f1.jpg",
              ZULImageDownload::imageNameForID("/"));
    EXPECT_EQ("c14cddc033f64b9dea80ea675cf280a015e672516090a5626781153dc68fea11.jpg",
              ZULImageDownload::imageNameForID("a/b"));
    EXPECT_EQ("59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138.jpg",
              ZULImageDownload::imageNameForID(std::string("a\0b", 3)));
}

// A result without an id is named after its thumbnail URL: "thumb-", sha256sum of the URL's
// bytes, ".jpg"; two URLs, two names.
TEST(ZULImageDownloadNameTest, ResultsWithoutIdAreNamedAfterTheirThumbnailURL) {
    EXPECT_EQ("thumb-53fef8291e7e0b2e110b66e808ededd2f417c7be005e56060778db261a66d919.jpg",
              ZULImageDownload::imageNameForThumbURL("http://127.0.0.1:8080/t/0.jpg"));
    EXPECT_EQ("thumb-24f385cf84efc2a63b6b23f0672da1d67ff27fac76b6d8e55e2e55805512298f.jpg",
              ZULImageDownload::imageNameForThumbURL("http://127.0.0.1:8080/t/1.jpg"));
    // The URL's digest never takes the name of an id whose own digest it is.
    EXPECT_EQ("thumb-e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.jpg",
              ZULImageDownload::imageNameForThumbURL(""));
}

// A name handed in that is not one plain file name is never used as a path.
TEST_F(ZULImageDownloadTest, NameThatIsNoPlainFileNameIsNotAPath) {
    AppTestSupport::WriteFile(folder_.File("Documents/x.jpg"), "x");
    for (const char* name : {"../x.jpg", "", "..", "sub/x.jpg"}) {
        ZULImageDownload download("http://127.0.0.1:1/x.jpg", name, ui::IndexPath(0, 0),
                                  std::nullopt);
        EXPECT_EQ("", download.imagePath()) << name;
        EXPECT_EQ(nullptr, download.thumbnail()) << name;
    }
    ZULImageDownload plain("http://127.0.0.1:1/x.jpg", "x.jpg", ui::IndexPath(0, 0), std::nullopt);
    EXPECT_EQ(thumbs_ + "/x.jpg", plain.imagePath());
}

// What the downloads tell their delegate, by image name.
class DownloadRecorder : public ZULImageDownloadDelegate {
public:
    void zulImageDownloadDidFinishDownloading(ZULImageDownload& download, const std::string&,
                                              const ui::IndexPath&) override {
        finished.push_back(download.imageName());
    }
    void zulImageDownloadDidReceiveError(ZULImageDownload& download, const ns::Error&,
                                         const ui::IndexPath&) override {
        failed.push_back(download.imageName());
    }
    std::vector<std::string> finished;
    std::vector<std::string> failed;
};

// Pictures already in the cache are decoded from there, one after the other on the decoding
// thread. One cancelled right after it started brings nothing, though its decode may have
// begun: no picture, no word to its delegate. The one started after it gets its picture (64 x
// 64 inside the default 400 x 340 box: as it is), so the cancelled one's turn has passed.
TEST_F(ZULImageDownloadTest, ACancelledDecodeBringsNothing) {
    ASSERT_TRUE(ZULImageDownload::createCache());
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(thumbs_ + "/a.jpg", 64, 64));
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(thumbs_ + "/b.jpg", 64, 64));
    auto recorder = std::make_shared<DownloadRecorder>();
    auto a = std::make_shared<ZULImageDownload>("http://127.0.0.1:1/a.jpg", "a.jpg",
                                                ui::IndexPath(0, 0), std::nullopt);
    auto b = std::make_shared<ZULImageDownload>("http://127.0.0.1:1/b.jpg", "b.jpg",
                                                ui::IndexPath(0, 1), std::nullopt);
    a->setDelegate(recorder);
    b->setDelegate(recorder);

    a->downloadImage();
    EXPECT_TRUE(a->isDownloading());
    a->cancelDownloadImage();
    EXPECT_FALSE(a->isDownloading());
    b->downloadImage();
    ASSERT_TRUE(
        ui::Loop().RunUntil([&] { return b->thumbnail() != nullptr; }, std::chrono::seconds(10)));
    EXPECT_EQ(64, b->thumbnail()->PixelWidth());
    EXPECT_EQ(64, b->thumbnail()->PixelHeight());
    EXPECT_EQ(thumbs_ + "/b.jpg", b->thumbnail()->Path());
    EXPECT_EQ(nullptr, a->thumbnail());
    EXPECT_EQ((std::vector<std::string>{"b.jpg"}), recorder->finished);
    EXPECT_TRUE(recorder->failed.empty());
}

}  // namespace
