#include "tools/common/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SvTools {

namespace {

std::string Reason(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace

bool OutputFile::Prepare(const std::string& path, std::string& error) {
    *this = OutputFile();
    path_ = path;
    if (path == "-") {
        standardOutput_ = true;
        struct stat info;
        if (fstat(STDOUT_FILENO, &info) != 0) {
            error = Reason("standard output", errno);
            return false;
        }
        if (isatty(STDOUT_FILENO)) {
            error = "standard output is a terminal: redirect it or name a file";
            return false;
        }
        // The stream is written through the standard output's device name, which opens the file
        // afresh from its start: a file being appended to would lose what it holds.
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (S_ISREG(info.st_mode) &&
            ((flags >= 0 && (flags & O_APPEND) != 0) || lseek(STDOUT_FILENO, 0, SEEK_CUR) > 0)) {
            error = "standard output is a file being appended to: name the file instead";
            return false;
        }
        return true;
    }

    struct stat link;
    if (lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT) {
            error = Reason(path, errno);
            return false;
        }
        // Nothing there: the file is ours, made exclusively so that one that appears meanwhile
        // is not taken for it.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = Reason(path, errno);
            return false;
        }
        struct stat info;
        if (fstat(fd, &info) == 0) {
            device_ = info.st_dev;
            inode_ = info.st_ino;
        }
        close(fd);
        created_ = true;
        regular_ = true;
        return true;
    }

    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        // A symlink to nothing: writing through it makes its target. The link stays ours to
        // leave alone, so the target is treated as a file written in place.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            error = Reason(path, errno);
            return false;
        }
        close(fd);
        regular_ = true;
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        error = Reason(path, EISDIR);
        return false;
    }
    // A regular file is probed by opening it for writing, without truncating it. Anything else
    // (a FIFO, a device) is not opened here: a FIFO's waiting reader would take the probe for
    // the writer and see its end, and some devices act on being opened.
    if (S_ISREG(info.st_mode)) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = Reason(path, errno);
            return false;
        }
        close(fd);
    } else if (access(path.c_str(), W_OK) != 0) {
        error = Reason(path, errno);
        return false;
    }
    regular_ = S_ISREG(info.st_mode);
    device_ = info.st_dev;
    inode_ = info.st_ino;
    return true;
}

std::string OutputFile::WritePath() const { return standardOutput_ ? "/dev/stdout" : path_; }

std::string OutputFile::DisplayName() const { return standardOutput_ ? "standard output" : path_; }

void OutputFile::Discard() {
    if (standardOutput_ || !regular_) {
        return;  // devices, FIFOs and standard output keep whatever reached them
    }
    if (created_) {
        // Only while the name still is the file made here: never a file put in its place.
        struct stat info;
        if (lstat(path_.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == device_ &&
            info.st_ino == inode_) {
            unlink(path_.c_str());
        }
        return;
    }
    if (!written_) {
        return;  // an existing file nothing was written to keeps what it holds
    }
    const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (ftruncate(fd, 0) != 0) {
            // Nothing more can be done: the failure itself has been told already.
        }
    }
    close(fd);
}

}  // namespace SvTools
