#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/store/AtomicFile.h"
#include "platform/store/StoreTestSupport.h"

namespace {

using ns::AtomicFile;
using StoreTestSupport::FileText;

class AtomicFileTest : public ::testing::Test {
protected:
    size_t Entries() const {
        size_t count = 0;
        DIR* dir = opendir(folder_.c_str());
        while (const dirent* entry = readdir(dir)) {
            count += entry->d_name[0] == '.' &&
                             (entry->d_name[1] == 0 || std::string(entry->d_name) == "..")
                         ? 0
                         : 1;
        }
        closedir(dir);
        return count;
    }
    SvTestSupport::TemporaryDirectory directory_{"atomic-test-"};
    const std::string folder_ = directory_.Path();
};

TEST_F(AtomicFileTest, AWriteCutOffHalfWayLeavesTheOldFileWhole) {
    const std::string path = folder_ + "/settings.plist";
    std::string error;
    ASSERT_TRUE(AtomicFile::Write(path, "old contents", 0600, error)) << error;
    // In a child whose file size limit is 4 KiB, a 64 KiB write stops part way (EFBIG).
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string childError;
        const bool ok = AtomicFile::Write(path, std::string(65536, 'n'), 0600, childError);
        _exit(!ok && childError.find(path) != std::string::npos ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail";
    EXPECT_EQ(FileText(path), "old contents");
    EXPECT_EQ(Entries(), 1u) << "the temporary file was left behind";
}

TEST_F(AtomicFileTest, AFailedRenameRemovesTheTemporaryFile) {
    const std::string path = folder_ + "/occupied";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((path + "/inside").c_str(), 0700), 0);  // not empty: rename must fail
    std::string error;
    EXPECT_FALSE(AtomicFile::Write(path, "text", 0600, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFileTest, ReadCapsTheSizeAndRefusesFolders) {
    const std::string path = folder_ + "/ten";
    std::string error;
    ASSERT_TRUE(AtomicFile::Write(path, "0123456789", 0644, error)) << error;
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    std::string out = "untouched";
    EXPECT_TRUE(AtomicFile::Read(path, 10, out, error));
    EXPECT_EQ(out, "0123456789");
    out = "untouched";
    EXPECT_FALSE(AtomicFile::Read(path, 9, out, error));
    EXPECT_EQ(out, "untouched");
    bool missing = true;
    EXPECT_FALSE(AtomicFile::Read(folder_, 100, out, error, &missing));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(AtomicFile::Read(folder_ + "/none", 100, out, error, &missing));
    EXPECT_TRUE(missing);
}

// Runs `read` in a child process with an alarm, so a read that blocks ends as a failed test
// instead of a hung suite. Answers the child's exit status (-1 when a signal ended it).
int InChildWithAlarm(const std::function<bool()>& read) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(5);
        _exit(read() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(AtomicFileTest, ReadRefusesPipesAndLinksWithoutBlocking) {
    const std::string pipe = folder_ + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string target = folder_ + "/target";
    std::ofstream(target) << "linked text";
    const std::string link = folder_ + "/link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const std::string linkToPipe = folder_ + "/link-to-pipe";
    ASSERT_EQ(symlink(pipe.c_str(), linkToPipe.c_str()), 0);

    // A pipe with no writer: a plain open would wait for ever.
    for (const auto links : {AtomicFile::Links::Refuse, AtomicFile::Links::Follow}) {
        for (const std::string& path : {pipe, linkToPipe}) {
            EXPECT_EQ(InChildWithAlarm([&] {
                          std::string out, error;
                          auto failure = AtomicFile::ReadFailure::None;
                          return !AtomicFile::Read(path, 100, out, error, &failure, links) &&
                                 failure == AtomicFile::ReadFailure::NotRegularFile && out.empty();
                      }),
                      0)
                << path;
        }
    }

    std::string out, error;
    auto failure = AtomicFile::ReadFailure::None;
    EXPECT_FALSE(AtomicFile::Read(link, 100, out, error, &failure, AtomicFile::Links::Refuse));
    EXPECT_EQ(failure, AtomicFile::ReadFailure::NotRegularFile);
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    bool missing = true;
    EXPECT_FALSE(AtomicFile::Read(link, 100, out, error, &missing));  // the stores' form
    EXPECT_FALSE(missing);
    EXPECT_TRUE(AtomicFile::Read(link, 100, out, error, &failure, AtomicFile::Links::Follow))
        << error;
    EXPECT_EQ(out, "linked text");
    EXPECT_EQ(failure, AtomicFile::ReadFailure::None);

    // The other reasons, each told apart.
    EXPECT_FALSE(
        AtomicFile::Read(folder_ + "/none", 100, out, error, &failure, AtomicFile::Links::Refuse));
    EXPECT_EQ(failure, AtomicFile::ReadFailure::Missing);
    EXPECT_FALSE(AtomicFile::Read(target, 5, out, error, &failure, AtomicFile::Links::Refuse));
    EXPECT_EQ(failure, AtomicFile::ReadFailure::TooLarge);
    EXPECT_FALSE(
        AtomicFile::Read(target + "/below", 100, out, error, &failure, AtomicFile::Links::Refuse));
    EXPECT_EQ(failure, AtomicFile::ReadFailure::System);  // ENOTDIR: not a missing file
}

TEST_F(AtomicFileTest, MakeFolderSetsTheModeAndNarrowsOnlyWhenAsked) {
    const std::string nested = folder_ + "/a/b/c";
    std::string error;
    const mode_t old = umask(077);
    EXPECT_TRUE(AtomicFile::MakeFolder(nested, 0750, false, error)) << error;
    umask(old);
    struct stat status {};
    ASSERT_EQ(stat(nested.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);  // not cut by the umask
    EXPECT_TRUE(AtomicFile::MakeFolder(nested, 0700, false, error));
    ASSERT_EQ(stat(nested.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0750u);  // existing, left alone
    EXPECT_TRUE(AtomicFile::MakeFolder(nested, 0700, true, error));
    ASSERT_EQ(stat(nested.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);  // narrowed
    std::ofstream(folder_ + "/file") << "x";
    EXPECT_FALSE(AtomicFile::MakeFolder(folder_ + "/file", 0700, false, error));
    EXPECT_FALSE(AtomicFile::MakeFolder(folder_ + "/file/below", 0700, false, error));
}

}  // namespace
