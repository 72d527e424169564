#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SVLibrary/File/DirectoryListing.h"
#include "SVLibrary/File/File.h"
#include "SVLibrary/File/FileLock.h"
#include "SVLibrary/File/FileSystem.h"
#include "SVLibrary/File/InputFileStream.h"
#include "tests/support/ChildDescriptors.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using SvTestSupport::TemporaryDirectory;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the check in a child process as user "nobody", so that file permissions apply even when
// the tests run as root. 0: check passed, 1: failed, 77: could not drop privileges.
int RunUnprivileged(const std::function<bool()>& check) {
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(77);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

TEST(File, OpenModes) {
    struct Case {
        const char* what;
        bool exists;  // a file with "0123456789" is there before the open
        uint32_t flags;
        bool opens;
        bool existsAfter;
        bool writable;             // a write through the open file reaches the disk
        std::string contentAfter;  // after the open and the attempted write of "Z"
    };
    const Case cases[] = {
        {"missing, binary read-only", false, 5, false, false, false, ""},
        {"missing, create binary read-only", false, 7, true, true, false, ""},
        {"missing, create update", false, 2, true, true, true, "Z"},
        {"missing, truncate", false, 8, false, false, false, ""},
        {"missing, update", false, 0, false, false, false, ""},
        {"existing, update", true, 0, true, true, true, "Z123456789"},
        {"existing, binary update", true, 1, true, true, true, "Z123456789"},
        {"existing, read-only", true, 4, true, true, false, "0123456789"},
        {"existing, create keeps content", true, 6, true, true, false, "0123456789"},
        {"existing, truncate then update", true, 8, true, true, true, "Z"},
        {"existing, truncate read-only", true, 12, true, true, false, ""},
    };
    for (const Case& c : cases) {
        TemporaryDirectory dir{"svfile-"};
        ASSERT_FALSE(dir.Path().empty());
        std::string path = dir.File("f");
        if (c.exists) WriteText(path, "0123456789");
        {
            SV::File file;
            EXPECT_EQ(file.Open(path, c.flags), c.opens) << c.what;
            EXPECT_EQ(file.IsOpen(), c.opens) << c.what;
            if (file.IsOpen()) {
                EXPECT_EQ(file.Write({'Z'}) == 1 && std::fflush(nullptr) == 0 && !file.IsError(),
                          c.writable)
                    << c.what;
            }
        }
        EXPECT_EQ(SV::FileExists(path), c.existsAfter) << c.what;
        if (c.existsAfter) {
            EXPECT_EQ(ReadText(path), c.contentAfter) << c.what;
        }
    }
}

TEST(File, ReadOnlyFileSizeAndOpenForUpdate) {
    TemporaryDirectory dir{"svfile-"};
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    std::string path = dir.File("ro");
    WriteText(path, std::string(100, 'r'));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);

    auto check = [&] {
        SV::File update;
        SV::File readOnly;
        return SV::GetFileSize(path) == 100 && !update.Open(path, 0) &&
               readOnly.Open(path, SV::File::kReadOnly) && readOnly.GetSize() == 100;
    };
    int result = RunUnprivileged(check);
    if (result == 77) {
        // Without a way to drop privileges, at least the size must not depend on write access.
        EXPECT_EQ(SV::GetFileSize(path), 100);
        GTEST_SKIP() << "cannot switch to an unprivileged user";
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(SV::GetFileSize(path), 100);
}

TEST(File, SizePositionAndReads) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("data");
    std::string content;
    for (int i = 0; i < 100; ++i) content += static_cast<char>('A' + i % 26);
    WriteText(path, content);

    SV::File file(path, SV::File::kBinary | SV::File::kReadOnly);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Seek(10, SEEK_SET));
    EXPECT_EQ(file.GetSize(), 100);
    EXPECT_EQ(file.Tell(), 10);

    char buffer[8];
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), content.substr(10, 4));
    EXPECT_TRUE(file.Seek(-3, SEEK_END));
    EXPECT_EQ(file.Read(buffer, 8), 3u);  // short at the end, not an error
    EXPECT_TRUE(file.IsEof());
    EXPECT_FALSE(file.IsError());
    EXPECT_TRUE(file.Seek(-2, SEEK_CUR));
    EXPECT_EQ(file.Tell(), 98);

    EXPECT_FALSE(file.Seek(-1, SEEK_SET));
    EXPECT_FALSE(file.Seek(0, 7));
    EXPECT_EQ(file.Tell(), 98);

    ASSERT_TRUE(file.Seek(90, SEEK_SET));
    std::vector<unsigned char> rest = file.ReadBytes(1000);
    EXPECT_EQ(std::string(rest.begin(), rest.end()), content.substr(90));
}

TEST(File, ReadBytesWithAHugeCountReadsOnlyWhatIsThere) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("big");
    std::string content(1536 * 1024, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 4096);
    WriteText(path, content);

    SV::File file(path, SV::File::kBinary | SV::File::kReadOnly);
    ASSERT_TRUE(file.IsOpen());
    // A count like this must not be allocated up front.
    std::vector<unsigned char> bytes = file.ReadBytes(uint64_t(1) << 40);
    ASSERT_EQ(bytes.size(), content.size());
    auto same = [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); };
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), content.begin(), same));
    EXPECT_TRUE(file.ReadBytes(10).empty());
}

TEST(File, ClosedFileValues) {
    SV::File file;
    char buffer[4];
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Read(buffer, 4), UINT64_MAX);
    EXPECT_TRUE(file.ReadBytes(4).empty());
    EXPECT_EQ(file.Write({1, 2, 3}), 0u);
    EXPECT_EQ(file.Tell(), -1);
    EXPECT_FALSE(file.Seek(0, SEEK_SET));
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_TRUE(file.IsError());
    EXPECT_FALSE(file.IsEof());
    file.Close();  // harmless
}

TEST(File, ReopenClosesTheFirstStream) {
    TemporaryDirectory dir{"svfile-"};
    WriteText(dir.File("a"), "aaaa");
    WriteText(dir.File("b"), "bb");
    SV::File file(dir.File("a"), SV::File::kReadOnly);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.Open(dir.File("b"), SV::File::kReadOnly));
    EXPECT_EQ(file.GetSize(), 2);
    EXPECT_FALSE(file.Open(dir.File("missing"), SV::File::kReadOnly));
    EXPECT_FALSE(file.IsOpen());
}

// A title names a regular file. A FIFO, a device or a folder in its place is refused, and the
// opening does not wait (a FIFO with no writer would hold it for ever); a NUL inside a path
// would have the system open the shorter name before it.
TEST(File, OnlyARegularFileOpensWhenAskedAndNoneWithANulInItsPath) {
    TemporaryDirectory dir{"svfile-"};
    WriteText(dir.File("a"), "aaaa");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, mkdir(dir.File("folder").c_str(), 0755));
    const uint32_t reading = SV::File::kReadOnly | SV::File::kBinary;
    const uint32_t regular = SV::File::kRegularOnly;
    const struct {
        const char* what;
        std::string path;
        uint32_t flags;
        bool opens;
    } rows[] = {
        {"a regular file", dir.File("a"), reading | regular, true},
        {"a regular file for update", dir.File("a"), regular, true},
        {"a FIFO", fifo, reading | regular, false},
        {"a FIFO for update", fifo, regular, false},
        {"a device", "/dev/null", reading | regular, false},
        {"a folder", dir.File("folder"), reading | regular, false},
        {"a NUL after a file's name", dir.File("a") + std::string(1, '\0') + "/x", reading, false},
        {"a NUL after a file's name, regular only", dir.File("a") + std::string(1, '\0'),
         reading | regular, false},
        {"a NUL in a new file's name", dir.File("b") + std::string(1, '\0') + "c",
         SV::File::kCreate, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SV::File file;
        std::future<bool> opened =
            std::async(std::launch::async, [&] { return file.Open(row.path, row.flags); });
        if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Waiting in the FIFO's opening: a writer lets it go, and the row fails.
            const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0) close(writer);
            ADD_FAILURE() << "the opening waited";
        }
        EXPECT_EQ(row.opens, opened.get());
        EXPECT_EQ(row.opens, file.IsOpen());
        if (row.opens) {
            EXPECT_EQ(4, file.GetSize());
            char bytes[8] = {};
            EXPECT_EQ(4u, file.Read(bytes, sizeof bytes));
            EXPECT_EQ("aaaa", std::string(bytes));
        }
    }
    // Nothing was made by the refused name, nor under the name before its NUL.
    EXPECT_FALSE(SV::FileExists(dir.File("b")));
}

// What this process held before any test ran, passed on by whoever started it.
const std::map<int, std::string> kFileTestDescriptorsAtStart = SvTestSupport::OpenDescriptors();

// Files stay open for a long time (a title the engine reads, a log) while the application
// starts programs (a web view's processes): none of them keeps one.
TEST(File, AChildStartedMeanwhileHoldsNoneOfTheOpenFiles) {
    TemporaryDirectory dir{"svfile-"};
    WriteText(dir.File("a"), "aaaa");
    SV::File reading(dir.File("a"), SV::File::kReadOnly | SV::File::kBinary);
    SV::File updating(dir.File("a"), 0);
    SV::File made(dir.File("new"), SV::File::kCreate);
    SV::InputFileStream stream(dir.File("a"));
    SV::File regular(dir.File("a"), SV::File::kReadOnly | SV::File::kRegularOnly);
    ASSERT_TRUE(reading.IsOpen() && updating.IsOpen() && made.IsOpen() && stream &&
                regular.IsOpen());
    const std::vector<std::string> passed =
        SvTestSupport::DescriptorsPassedToAChild(kFileTestDescriptorsAtStart);
    EXPECT_TRUE(passed.empty()) << ::testing::PrintToString(passed);
}

// The stream reads as an ifstream does: the file's bytes, then the end; a file that cannot be
// opened leaves it failed with the reason in errno.
TEST(InputFileStream, ReadsTheWholeFileAndFailsOnAMissingOne) {
    TemporaryDirectory dir{"svfile-"};
    const std::string bytes("one\0two\nthree", 13);
    WriteText(dir.File("a"), bytes);
    SV::InputFileStream in(dir.File("a"));
    ASSERT_TRUE(in);
    // A read past the end, as the readers make one: what there was, then the end, no error.
    char buffer[64];
    in.read(buffer, sizeof buffer);
    EXPECT_EQ(bytes, std::string(buffer, static_cast<size_t>(in.gcount())));
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.bad());

    errno = 0;
    SV::InputFileStream missing(dir.File("missing"));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.bad());  // failed as an ifstream fails, not broken
    char c;
    EXPECT_FALSE(missing.read(&c, 1));
    EXPECT_EQ(0, missing.gcount());
}

TEST(FileSystem, PathTestsAndChanges) {
    TemporaryDirectory dir{"svfile-"};
    std::string file = dir.File("file");
    std::string sub = dir.File("sub");
    std::string missing = dir.File("missing");
    WriteText(file, "12345");

    EXPECT_TRUE(SV::FileExists(file));
    EXPECT_TRUE(SV::IsRegularFile(file));
    EXPECT_FALSE(SV::IsDirectory(file));
    EXPECT_FALSE(SV::FileExists(missing));
    EXPECT_FALSE(SV::IsDirectory(missing));
    EXPECT_FALSE(SV::IsRegularFile(missing));

    // MakeDirectory and RemovePath return true for FAILURE.
    EXPECT_FALSE(SV::MakeDirectory(sub));
    EXPECT_TRUE(SV::IsDirectory(sub));
    EXPECT_FALSE(SV::IsRegularFile(sub));
    EXPECT_TRUE(SV::MakeDirectory(sub));  // exists already
    EXPECT_TRUE(SV::MakeDirectory(missing + "/child"));
    EXPECT_FALSE(SV::FileExists(missing));

    WriteText(sub + "/inner", "x");
    EXPECT_TRUE(SV::RemovePath(sub));  // not empty
    EXPECT_TRUE(SV::IsDirectory(sub));
    EXPECT_FALSE(SV::RemovePath(sub + "/inner"));
    EXPECT_FALSE(SV::RemovePath(sub));
    EXPECT_FALSE(SV::FileExists(sub));
    EXPECT_TRUE(SV::RemovePath(missing));

    EXPECT_EQ(SV::GetFileSize(file), 5);
    EXPECT_EQ(SV::GetFileSize(missing), -1);
    EXPECT_EQ(SV::GetFileSize(dir.Path()), -1);
    EXPECT_EQ(SV::GetFileTime(file).Get(), 0u);
}

TEST(DirectoryListing, ListsEveryNameAndTellsDirectories) {
    TemporaryDirectory dir{"svfile-"};
    SV::DirectoryListing empty = SV::ListDirectory(dir.Path());
    EXPECT_EQ(empty.path, dir.Path());
    std::multiset<std::string> names;
    for (const SV::DirectoryEntry& e : empty.entries) names.insert(e.name);
    EXPECT_EQ(names, (std::multiset<std::string>{".", ".."}));

    WriteText(dir.File("a.ts"), "x");
    ASSERT_FALSE(SV::MakeDirectory(dir.File("sub")));
    SV::DirectoryListing listing = SV::ListDirectory(dir.Path() + "/");
    EXPECT_EQ(listing.path, dir.Path() + "/");
    std::set<std::string> directories;
    names.clear();
    for (const SV::DirectoryEntry& e : listing.entries) {
        EXPECT_EQ(e.directory, dir.Path() + "/");
        names.insert(e.name);
        if (e.IsDirectory()) directories.insert(e.name);
    }
    EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "a.ts", "sub"}));
    EXPECT_EQ(directories, (std::set<std::string>{".", "..", "sub"}));

    SV::DirectoryListing missing = SV::ListDirectory(dir.File("missing"));
    EXPECT_TRUE(missing.entries.empty());
    EXPECT_TRUE(missing.path.empty());
    SV::DirectoryListing notADirectory = SV::ListDirectory(dir.File("a.ts"));
    EXPECT_TRUE(notADirectory.path.empty());
}

// Runs Acquire aside, so that an attempt that blocks on a held lock fails the test instead of
// hanging it: after two seconds the holder is released through unblock.
bool AcquireAside(SV::FileLock& lock, uint32_t timeout, const std::function<void()>& unblock,
                  bool removeStale = false) {
    auto attempt =
        std::async(std::launch::async, [&] { return lock.Acquire(timeout, removeStale); });
    if (attempt.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        ADD_FAILURE() << "Acquire blocked past its time-out";
        unblock();
    }
    return attempt.get();
}

TEST(FileLock, TimesOutWhileAnotherDescriptorHoldsIt) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("lock");
    int other = open(path.c_str(), O_RDONLY | O_CREAT, 0666);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    auto unblock = [&] {
        close(other);
        other = -1;
    };

    SV::FileLock lock(path);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(AcquireAside(lock, 50, unblock));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(lock.descriptor, -1);
    EXPECT_FALSE(AcquireAside(lock, 0, unblock));
    EXPECT_TRUE(SV::FileExists(path));

    if (other >= 0) unblock();
    EXPECT_TRUE(lock.Acquire(SV::FileLock::kNoTimeout, false));
    EXPECT_GE(lock.descriptor, 0);
    EXPECT_TRUE(lock.Acquire(0, false));  // already held
    lock.Release();
    EXPECT_EQ(lock.descriptor, -1);
    EXPECT_TRUE(SV::FileExists(path));  // the file stays
}

TEST(FileLock, TwoLocksOnOnePathExcludeEachOther) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("lock");
    {
        SV::FileLock first(path);
        SV::FileLock second(path);
        ASSERT_TRUE(first.TryAcquire());
        EXPECT_FALSE(AcquireAside(second, 0, [&] { first.Release(); }));
        first.Release();
        EXPECT_TRUE(second.TryAcquire());
        // second goes out of scope still holding the lock: the destructor must drop it.
    }
    SV::FileLock third(path);
    EXPECT_TRUE(third.TryAcquire());
}

TEST(FileLock, RemoveStaleReplacesAHeldLockFile) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("lock");
    SV::FileLock holder(path);
    ASSERT_TRUE(holder.TryAcquire());
    SV::FileLock lock(path);
    EXPECT_TRUE(AcquireAside(
        lock, 0, [&] { holder.Release(); }, true));
    EXPECT_GE(lock.descriptor, 0);
}

TEST(FileLock, MissingDirectoryFailsAfterOneAttempt) {
    TemporaryDirectory dir{"svfile-"};
    std::string path = dir.File("missing/lock");
    SV::FileLock lock(path);
    EXPECT_FALSE(lock.Acquire(0, false));
    EXPECT_FALSE(lock.Acquire(0, true));
    EXPECT_EQ(lock.descriptor, -1);
}

}  // namespace
