// What a tool's output does to what its path names, on success, on failure and on a signal.
#include "common/OutputFile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TemporaryDirectory.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using SvTestSupport::DirectoryEntries;
using SvTestSupport::PathKind;
using SvTestSupport::WriteWholeFile;

using SvTestSupport::TemporaryDirectory;
using SvTools::OutputFile;

bool Write(OutputFile& output, const std::string& text) {
    std::string error;
    const bool ok = output.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

bool Commit(OutputFile& output) {
    std::string error;
    const bool ok = output.Commit(error);
    EXPECT_TRUE(ok) << error;
    return ok;
}

class OutputFileTest : public ::testing::Test {
protected:
    TemporaryDirectory dir{"outputfile"};
};

TEST_F(OutputFileTest, ANewFileIsMadeAndRemovedOnlyWhileItIsOurs) {
    const std::string path = dir.File("new.ts");
    std::string error;
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(path, error)) << error;
        EXPECT_TRUE(output.Created());
        EXPECT_FALSE(output.Replaces());
        EXPECT_EQ(path, output.WritePath());
        EXPECT_EQ(S_IFREG, PathKind(path));  // the name is taken at once
        Write(output, "partial");
    }  // never committed: gone
    EXPECT_EQ(0, PathKind(path));

    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(path, error)) << error;
        // Someone else's file put in its place is not ours to remove.
        const std::string other = dir.File("other");
        WriteWholeFile(other, "theirs");
        ASSERT_EQ(0, rename(other.c_str(), path.c_str()));
        output.Discard();
        EXPECT_EQ("theirs", SvTestSupport::ReadWholeFile(path));
    }
    ASSERT_EQ(0, unlink(path.c_str()));

    OutputFile output;
    ASSERT_TRUE(output.Prepare(path, error)) << error;
    Write(output, "whole");
    ASSERT_TRUE(Commit(output));
    output.Discard();  // after Commit: nothing to undo
    EXPECT_EQ("whole", SvTestSupport::ReadWholeFile(path));
    EXPECT_EQ(std::set<std::string>({"new.ts"}), DirectoryEntries(dir.Path()));
}

TEST_F(OutputFileTest, AnExistingFileIsReplacedOnlyByAWholeOutput) {
    const std::string path = dir.File("title.svm");
    WriteWholeFile(path, "old");
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    struct stat before;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    std::string error;
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(path, error)) << error;
        EXPECT_FALSE(output.Created());
        EXPECT_TRUE(output.Replaces());
        EXPECT_NE(path, output.WritePath());
        Write(output, std::string(3u << 20, 'x'));  // more than is held back in memory
        EXPECT_EQ("old", SvTestSupport::ReadWholeFile(path));
        output.Discard();
    }
    EXPECT_EQ("old", SvTestSupport::ReadWholeFile(path));
    EXPECT_EQ(std::set<std::string>({"title.svm"}), DirectoryEntries(dir.Path()));

    // A whole output in uneven pieces, some larger than the buffer.
    std::string whole;
    for (size_t i = 0; i < 40; ++i) {
        whole += std::string((i * 7919) % (1500u << 10), char('a' + i % 26));
    }
    OutputFile output;
    ASSERT_TRUE(output.Prepare(path, error)) << error;
    for (size_t at = 0, i = 0; at < whole.size(); ++i) {
        const size_t n = std::min(whole.size() - at, (i * 7919) % (1500u << 10) + 1);
        ASSERT_TRUE(Write(output, whole.substr(at, n)));
        at += n;
    }
    ASSERT_TRUE(Commit(output));
    EXPECT_TRUE(whole == SvTestSupport::ReadWholeFile(path));
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(0640u, after.st_mode & 07777);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the old one's place
    EXPECT_EQ(std::set<std::string>({"title.svm"}), DirectoryEntries(dir.Path()));
}

TEST_F(OutputFileTest, LinksStayLinks) {
    const std::string target = dir.File("target.svm");
    const std::string link = dir.File("link.svm");
    WriteWholeFile(target, "old");
    ASSERT_EQ(0, symlink("target.svm", link.c_str()));
    std::string error;
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(link, error)) << error;
        Write(output, "new");
    }
    EXPECT_EQ("old", SvTestSupport::ReadWholeFile(target));
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(link, error)) << error;
        Write(output, "new");
        Commit(output);
    }
    EXPECT_EQ(S_IFLNK, PathKind(link));
    EXPECT_EQ("new", SvTestSupport::ReadWholeFile(target));

    // A link to nothing, through a second link: the file it names is made, and removed again
    // on failure; the links stay.
    const std::string dangling = dir.File("dangling.svm");
    const std::string chain = dir.File("chain.svm");
    ASSERT_EQ(0, symlink("made.svm", dangling.c_str()));
    ASSERT_EQ(0, symlink(dangling.c_str(), chain.c_str()));
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(chain, error)) << error;
        EXPECT_TRUE(output.Created());
        EXPECT_EQ(S_IFREG, PathKind(dir.File("made.svm")));
    }
    EXPECT_EQ(0, PathKind(dir.File("made.svm")));
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(chain, error)) << error;
        Write(output, "made");
        Commit(output);
    }
    EXPECT_EQ(S_IFLNK, PathKind(chain));
    EXPECT_EQ(S_IFLNK, PathKind(dangling));
    EXPECT_EQ("made", SvTestSupport::ReadWholeFile(dir.File("made.svm")));

    // Links that go round are refused.
    const std::string a = dir.File("a"), b = dir.File("b");
    ASSERT_EQ(0, symlink("b", a.c_str()));
    ASSERT_EQ(0, symlink("a", b.c_str()));
    OutputFile output;
    EXPECT_FALSE(output.Prepare(a, error));
    EXPECT_EQ(a + ": Too many levels of symbolic links", error);
}

TEST_F(OutputFileTest, WhatCannotBeWrittenIsRefusedAndLeftAsItIs) {
    std::string error;
    OutputFile output;
    const std::string sub = dir.File("sub");
    ASSERT_EQ(0, mkdir(sub.c_str(), 0755));
    EXPECT_FALSE(output.Prepare(sub, error));
    EXPECT_EQ(sub + ": Is a directory", error);
    EXPECT_EQ(S_IFDIR, PathKind(sub));

    const std::string nowhere = dir.File("missing/out.ts");
    EXPECT_FALSE(output.Prepare(nowhere, error));
    EXPECT_EQ(nowhere + ": No such file or directory", error);

    if (geteuid() != 0) {  // root may write anything
        const std::string readOnly = dir.File("read-only.ts");
        WriteWholeFile(readOnly, "keep");
        ASSERT_EQ(0, chmod(readOnly.c_str(), 0444));
        EXPECT_FALSE(output.Prepare(readOnly, error));
        EXPECT_EQ(readOnly + ": Permission denied", error);
        EXPECT_EQ("keep", SvTestSupport::ReadWholeFile(readOnly));
        // A file that may be written in a folder that may not be: no temporary file beside it,
        // so it is not replaced.
        const std::string locked = dir.File("locked");
        ASSERT_EQ(0, mkdir(locked.c_str(), 0755));
        WriteWholeFile(locked + "/out.ts", "keep");
        ASSERT_EQ(0, chmod(locked.c_str(), 0555));
        EXPECT_FALSE(output.Prepare(locked + "/out.ts", error));
        EXPECT_EQ(locked + "/out.ts: Permission denied", error);
        EXPECT_EQ("keep", SvTestSupport::ReadWholeFile(locked + "/out.ts"));
        chmod(locked.c_str(), 0755);
    }
}

TEST_F(OutputFileTest, DevicesAndFifosAreWrittenAsGivenAndNeverRemoved) {
    std::string error;
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare("/dev/null", error)) << error;
        EXPECT_EQ("/dev/null", output.WritePath());
        Write(output, "gone");
        EXPECT_TRUE(Commit(output));
    }
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare("/dev/null", error)) << error;
        output.Discard();
    }
    EXPECT_EQ(S_IFCHR, PathKind("/dev/null"));

    // A device that refuses the bytes: the failure in words, when they are written out.
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare("/dev/full", error)) << error;
        const std::string bytes(100, 'x');
        const bool written =
            output.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), error) &&
            output.Commit(error);
        EXPECT_FALSE(written);
        EXPECT_EQ("/dev/full: No space left on device", error);
    }
    EXPECT_EQ(S_IFCHR, PathKind("/dev/full"));

    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(fifo, error)) << error;
        EXPECT_EQ(fifo, output.WritePath());
    }
    EXPECT_EQ(S_IFIFO, PathKind(fifo));
}

TEST_F(OutputFileTest, ASignalRemovesOnlyTheFileMadeForTheRun) {
    const std::string path = dir.File("title.svm");
    WriteWholeFile(path, "old");
    std::string error;
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(path, error)) << error;
        EXPECT_EQ(2u, DirectoryEntries(dir.Path()).size());
        OutputFile::RemoveForSignal();
        EXPECT_EQ(std::set<std::string>({"title.svm"}), DirectoryEntries(dir.Path()));
        EXPECT_EQ("old", SvTestSupport::ReadWholeFile(path));
    }
    const std::string fresh = dir.File("fresh.ts");
    {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(fresh, error)) << error;
        OutputFile::RemoveForSignal();
        EXPECT_EQ(0, PathKind(fresh));
    }
    // Once committed, the output is no longer the run's to remove.
    for (const std::string& name : {path, fresh}) {
        OutputFile output;
        ASSERT_TRUE(output.Prepare(name, error)) << error;
        Write(output, "new");
        ASSERT_TRUE(Commit(output));
        OutputFile::RemoveForSignal();
        EXPECT_EQ("new", SvTestSupport::ReadWholeFile(name));
    }
}

}  // namespace
