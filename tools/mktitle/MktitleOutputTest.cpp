// Where mktitle puts its title (devices, links, directories, standard output), what it shows
// on a terminal, and how much memory a long input costs it.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Fixtures.h"
#include "tools/mktitle/MktitleTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/HandMadeStreams.h"
#include "tests/support/TsTestWriter.h"
#include "tests/support/MediaFileTestSupport.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SV_SANITIZED 1
#endif
#endif

namespace {

using SvTestSupport::DirectoryEntries;
using SvTestSupport::PathKind;
using SvTestSupport::WriteWholeFile;

using MktitleTestSupport::Mktitle;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using Bytes = std::vector<uint8_t>;

class MktitleOutput : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.Path();
        clip_ = Fixtures::ShortClip();
        title_ = SvTestSupport::ReadFileBytes(Fixtures::ShortTitle());
        ASSERT_FALSE(title_.empty());
    }

    SvTestSupport::TemporaryDirectory tmp_{"mktitle-output"};
    std::string dir_;
    std::string clip_;
    Bytes title_;
};

// Inputs are read twice: a pipe or a FIFO is refused before anything is read or written,
// rather than failing on a second pass that finds no bytes.
TEST_F(MktitleOutput, InputsThatCanBeReadOnlyOnceAreRefused) {
    const std::string out = dir_ + "/out.svm";
    std::string report;
    EXPECT_EQ(1, RunProgram({"sh", "-c", "cat \"$1\" | \"$0\" /dev/stdin \"$2\"",
                             Fixtures::MktitlePath(), clip_, out},
                            &report));
    EXPECT_EQ("mktitle: /dev/stdin is not a regular file: it is read twice\n", report);
    EXPECT_EQ(0u, PathKind(out));

    // A FIFO among regular inputs; nobody writes it, and it is never opened.
    const std::string fifo = dir_ + "/in.ts";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    EXPECT_EQ(1, Mktitle({clip_, fifo, out}, &report));
    EXPECT_EQ("mktitle: " + fifo + " is not a regular file: it is read twice\n", report);
    EXPECT_EQ(0u, PathKind(out));
    EXPECT_EQ(S_IFIFO, PathKind(fifo));
}

TEST_F(MktitleOutput, DeviceIsWrittenToAndNeverReplaced) {
    const std::string null = dir_ + "/null", full = dir_ + "/full";
    // Device nodes need the right to make them and a file system that lets them be opened (not
    // one mounted nodev, as temporary folders often are); without either the test is skipped.
    // The nodes go with the folder, whatever happens.
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        GTEST_SKIP() << "cannot make device nodes in " << dir_ << ": " << std::strerror(errno);
    }
    for (const std::string& node : {null, full}) {
        const int fd = open(node.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            GTEST_SKIP() << "cannot open device nodes in " << dir_ << ": " << std::strerror(errno);
        }
        close(fd);
    }
    std::string out;
    EXPECT_EQ(0, Mktitle({clip_, "-o", null}, &out)) << out;
    EXPECT_EQ(S_IFCHR, PathKind(null)) << "the device node was replaced";
    EXPECT_EQ("", out);
    // A device that refuses the bytes: a failure in words, and the node stays.
    EXPECT_EQ(1, Mktitle({clip_, full}, &out)) << out;
    EXPECT_NE(std::string::npos, out.find("cannot write " + full + ": No space left on device"))
        << out;
    EXPECT_EQ(S_IFCHR, PathKind(full));
    EXPECT_EQ(std::set<std::string>({"null", "full"}), DirectoryEntries(dir_))
        << "nothing left behind";
}

TEST_F(MktitleOutput, LinkIsFollowedAndKept) {
    const std::string target = dir_ + "/target.svm", link = dir_ + "/link.svm";
    WriteWholeFile(target, "old");
    ASSERT_EQ(0, symlink("target.svm", link.c_str()));
    std::string out;
    // A failure leaves the link and what it points to as they were.
    EXPECT_EQ(1, Mktitle({clip_, link, "--chapter", "60:Late"}, &out)) << out;
    EXPECT_EQ(S_IFLNK, PathKind(link));
    EXPECT_EQ(Bytes({'o', 'l', 'd'}), SvTestSupport::ReadFileBytes(target));
    EXPECT_EQ(std::set<std::string>({"target.svm", "link.svm"}), DirectoryEntries(dir_));
    // Success replaces what the link points to; the link stays a link.
    EXPECT_EQ(0, Mktitle({clip_, link}, &out)) << out;
    EXPECT_EQ(S_IFLNK, PathKind(link));
    EXPECT_EQ(S_IFREG, PathKind(target));
    EXPECT_TRUE(title_ == SvTestSupport::ReadFileBytes(target));
    // A link to nothing yet: the file it names is made.
    const std::string dangling = dir_ + "/dangling.svm";
    ASSERT_EQ(0, symlink("made.svm", dangling.c_str()));
    EXPECT_EQ(0, Mktitle({clip_, "--output=" + dangling}, &out)) << out;
    EXPECT_EQ(S_IFLNK, PathKind(dangling));
    EXPECT_TRUE(title_ == SvTestSupport::ReadFileBytes(dir_ + "/made.svm"));
    EXPECT_EQ(std::set<std::string>({"target.svm", "link.svm", "dangling.svm", "made.svm"}),
              DirectoryEntries(dir_));
}

TEST_F(MktitleOutput, FileDirectoryAndStandardOutput) {
    // A failed run keeps the file that was there; a good one replaces it whole.
    const std::string file = dir_ + "/title.svm";
    WriteWholeFile(file, "old");
    std::string out;
    EXPECT_EQ(1, Mktitle({dir_ + "/missing.ts", file}, &out)) << out;
    EXPECT_NE(std::string::npos,
              out.find("cannot open " + dir_ + "/missing.ts: No such file or directory"))
        << out;
    EXPECT_EQ(Bytes({'o', 'l', 'd'}), SvTestSupport::ReadFileBytes(file));
    EXPECT_EQ(0, Mktitle({clip_, file}, &out)) << out;
    EXPECT_TRUE(title_ == SvTestSupport::ReadFileBytes(file));

    const std::string sub = dir_ + "/sub";
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    EXPECT_EQ(1, Mktitle({clip_, "-o", sub}, &out)) << out;
    EXPECT_NE(std::string::npos, out.find("cannot write " + sub + ": Is a directory")) << out;
    EXPECT_EQ(S_IFDIR, PathKind(sub));
    EXPECT_TRUE(DirectoryEntries(sub).empty());

    // Run in the test's folder: a file named "-" in place of standard output would show below.
    const std::string piped = dir_ + "/piped.svm";
    EXPECT_EQ(0, RunProgram({"sh", "-c", "cd \"$3\" && exec \"$0\" \"$1\" -o - > \"$2\"",
                             Fixtures::MktitlePath(), clip_, piped, dir_},
                            &out))
        << out;
    EXPECT_TRUE(title_ == SvTestSupport::ReadFileBytes(piped));
    EXPECT_EQ(std::set<std::string>({"title.svm", "sub", "piped.svm"}), DirectoryEntries(dir_));
}

// Runs mktitle with standard error on a pseudo-terminal and returns what the terminal got. The
// test keeps the terminal open itself until the child has ended, so reading it never sees a
// hang-up before the child has opened it.
std::string RunOnTerminal(const std::vector<std::string>& args, int* status) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return "";
    }
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (terminal < 0) {
        ADD_FAILURE() << "cannot open the terminal: " << std::strerror(errno);
        close(master);
        return "";
    }
    std::vector<std::string> argv = {Fixtures::MktitlePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null < 0) _exit(126);
        dup2(null, 0);
        dup2(null, 1);
        dup2(terminal, 2);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    std::string screen;
    char buffer[4096];
    int raw = 0;
    // Read while the child runs, so that it never waits on a full terminal.
    while (waitpid(child, &raw, WNOHANG) != child) {
        pollfd readable = {master, POLLIN, 0};
        if (poll(&readable, 1, 50) > 0) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) screen.append(buffer, static_cast<size_t>(n));
        }
    }
    // With the last end of the terminal closed, what is left comes first, then EIO.
    close(terminal);
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) {
            screen.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    close(master);
    return screen;
}

TEST_F(MktitleOutput, ProgressOnlyOnATerminal) {
    const std::string file = dir_ + "/title.svm";
    int status = -1;
    const std::string screen = RunOnTerminal({clip_, file}, &status);
    EXPECT_EQ(0, status) << screen;
    EXPECT_NE(std::string::npos, screen.find("\rmktitle: reading " + clip_ + " 100%")) << screen;
    EXPECT_NE(std::string::npos, screen.find("\rmktitle: writing " + file + " 100%")) << screen;
    EXPECT_EQ('\n', screen.empty() ? 0 : screen.back()) << "the line is ended";
    EXPECT_TRUE(title_ == SvTestSupport::ReadFileBytes(file));
    // Piped: nothing at all.
    std::string out;
    EXPECT_EQ(0, Mktitle({clip_, file}, &out));
    EXPECT_EQ("", out);
}

// About 130 MB of hand-made media: 200 large pictures, 8 s of audio. Written in pieces, so that
// the test's own memory stays small: a child process starts with its parent's peak.
void WriteLongInput(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    SvGolden::TsTestWriter ts;
    ts.Tables();
    const Bytes sps = SvGolden::Sps(), pps = SvGolden::Pps();
    Bytes key = sps;
    key.insert(key.end(), pps.begin(), pps.end());
    const Bytes idr = SvGolden::Slice(true, 7, 0, 0, 640000, 1);
    key.insert(key.end(), idr.begin(), idr.end());
    const Bytes picture = SvGolden::Slice(false, 5, 1, 2, 640000, 2);
    const Bytes frame = SvGolden::AdtsFrame(300, 3);
    const uint64_t start = 126000;
    size_t audio = 0;
    for (size_t i = 0; i < 200; ++i) {
        const uint64_t time = start + 3600 * i;
        ts.Pes(SvGolden::TsTestWriter::kVideoPid, 0xE0, time, time, i % 25 == 0,
               i % 25 == 0 ? key : picture);
        for (; start + 1920 * audio < time + 3600; ++audio) {
            ts.Pes(SvGolden::TsTestWriter::kAudioPid, 0xC0, start + 1920 * audio,
                   start + 1920 * audio, false, frame);
        }
        const Bytes piece = ts.Take();
        out.write(reinterpret_cast<const char*>(piece.data()),
                  static_cast<std::streamsize>(piece.size()));
    }
}

TEST_F(MktitleOutput, LongInputInBoundedMemory) {
#ifdef SV_SANITIZED
    GTEST_SKIP() << "a sanitizer's own memory use says nothing of the tool's";
#endif
    const std::string input = dir_ + "/long.ts", title = dir_ + "/long.svm";
    WriteLongInput(input);
    struct stat status;
    ASSERT_EQ(0, stat(input.c_str(), &status));
    ASSERT_GT(status.st_size, 128 * 1000 * 1000);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execl(Fixtures::MktitlePath().c_str(), "mktitle", input.c_str(), title.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int raw = 0;
    struct rusage usage;
    ASSERT_EQ(child, wait4(child, &raw, 0, &usage));
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(0, WEXITSTATUS(raw));
    // Peak resident memory in KiB: a few pictures' worth, far below the input's size (a tool
    // that holds the input in memory needs several times 130 MB).
    EXPECT_LT(usage.ru_maxrss, 48 * 1024);
    ASSERT_EQ(0, stat(title.c_str(), &status));
    EXPECT_GT(status.st_size, 128 * 1000 * 1000);
    std::string report;
    ASSERT_EQ(0, RunProgram({SV_TITLEDUMP_PATH, title}, &report)) << report;
    EXPECT_NE(std::string::npos, report.find("stream 0xe0: video, stream type 0x1b, 200 samples "
                                             "(8 key), 128"))
        << report;
}

// Runs mktitle INPUT -o OUTPUT in a child and sends it `signal` as soon as a file appears in
// `folder` (its output or the temporary file beside it), with the whole title still to write;
// returns the child's wait status.
int InterruptOnceAFileAppears(const std::string& input, const std::string& output,
                              const std::string& folder, int signal) {
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_CREATE) < 0) {
        ADD_FAILURE() << "inotify: " << std::strerror(errno);
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(Fixtures::MktitlePath().c_str(), "mktitle", input.c_str(), "-o", output.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    alignas(inotify_event) char buffer[4096];
    EXPECT_GT(read(watch, buffer, sizeof buffer), 0);
    kill(child, signal);
    int raw = 0;
    EXPECT_EQ(child, waitpid(child, &raw, 0));
    close(watch);
    return raw;
}

TEST_F(MktitleOutput, InterruptedRunLeavesNothing) {
    const std::string input = dir_ + "/long.ts";
    WriteLongInput(input);
    const std::string out = dir_ + "/out";
    ASSERT_EQ(0, mkdir(out.c_str(), 0755));
    // Stopped as soon as its temporary file appears, with the whole title still to write.
    const int raw = InterruptOnceAFileAppears(input, out + "/long.svm", out, SIGTERM);
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM) << "status " << raw;
    EXPECT_TRUE(DirectoryEntries(out).empty()) << "no half title, no temporary file";
}

// An existing title interrupted while its replacement is written: the old one stays whole, with
// nothing beside it.
TEST_F(MktitleOutput, InterruptedRunKeepsTheOldFile) {
    const std::string input = dir_ + "/long.ts";
    WriteLongInput(input);
    const std::string out = dir_ + "/out";
    ASSERT_EQ(0, mkdir(out.c_str(), 0755));
    const std::string title = out + "/long.svm";
    WriteWholeFile(title, "old");
    // Stopped as soon as the new title's file appears beside the old one.
    const int raw = InterruptOnceAFileAppears(input, title, out, SIGINT);
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGINT) << "status " << raw;
    EXPECT_EQ(std::set<std::string>({"long.svm"}), DirectoryEntries(out));
    EXPECT_EQ(Bytes({'o', 'l', 'd'}), SvTestSupport::ReadFileBytes(title));
}

}  // namespace
