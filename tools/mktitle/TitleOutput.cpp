#include "tools/mktitle/TitleOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SvTools {

namespace {

const size_t kBufferSize = 1024 * 1024;
// As many links as the system itself follows before it gives up.
const int kMaxLinks = 40;

std::string Directory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TitleOutput::TitleOutput(const std::string& path) : path_(path), target_(path) {
    buffer_.reserve(kBufferSize);
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
        return;
    }
    struct stat status;
    bool exists = false;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            Fail("cannot write " + path_, EISDIR);
        }
        if (!S_ISREG(status.st_mode)) {
            // A device, a pipe or a socket, perhaps through links: written to as it is.
            fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0) {
                Fail("cannot write " + path_, errno);
            }
            return;
        }
        // A regular file, perhaps through links: replaced where it really lies.
        char* real = realpath(path.c_str(), nullptr);
        if (!real) {
            Fail("cannot write " + path_, errno);
        }
        target_ = real;
        std::free(real);
        exists = true;
    } else if (errno == ENOENT) {
        // Nothing there, or a link to nothing: the links are followed by hand to the name the
        // title is to be made under.
        for (int links = 0;; ++links) {
            if (lstat(target_.c_str(), &status) != 0) {
                if (errno != ENOENT) {
                    Fail("cannot write " + path_, errno);
                }
                break;
            }
            if (!S_ISLNK(status.st_mode) || links == kMaxLinks) {
                Fail("cannot write " + path_, S_ISLNK(status.st_mode) ? ELOOP : EEXIST);
            }
            std::vector<char> link(static_cast<size_t>(status.st_size > 0 ? status.st_size : 256) +
                                   1);
            const ssize_t n = readlink(target_.c_str(), link.data(), link.size());
            if (n < 0) {
                Fail("cannot write " + path_, errno);
            }
            if (static_cast<size_t>(n) >= link.size()) {
                Fail("cannot write " + path_, ENAMETOOLONG);  // the link changed meanwhile
            }
            const std::string to(link.data(), static_cast<size_t>(n));
            target_ = (!to.empty() && to[0] == '/') ? to : Directory(target_) + "/" + to;
        }
    } else {
        Fail("cannot write " + path_, errno);
    }
    if (exists && access(target_.c_str(), W_OK) != 0) {
        Fail("cannot write " + path_, errno);  // not ours to replace
    }
    std::string name = target_ + ".mktitle-XXXXXX";
    fd_ = mkostemp(&name[0], O_CLOEXEC);
    if (fd_ < 0) {
        Fail("cannot write " + path_, errno);
    }
    temporary_ = name;
    // The permissions a new file gets, or those of the file replaced.
    mode_t mode = 0;
    if (exists) {
        mode = status.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd_, mode) != 0) {
        const int error = errno;
        close(fd_);
        unlink(temporary_.c_str());
        Fail("cannot write " + path_, error);
    }
}

TitleOutput::~TitleOutput() {
    Close();
    if (!committed_ && !temporary_.empty()) {
        unlink(temporary_.c_str());
    }
}

void TitleOutput::Fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

void TitleOutput::Write(const uint8_t* data, size_t size) {
    if (buffer_.size() + size > kBufferSize) {
        Flush();
    }
    if (size >= kBufferSize) {
        buffer_.assign(data, data + size);
        Flush();
        return;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

void TitleOutput::Flush() {
    size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("cannot write " + path_, errno);
        }
        done += static_cast<size_t>(n);
    }
    buffer_.clear();
}

void TitleOutput::Close() {
    if (fd_ >= 0 && ownsFd_) {
        close(fd_);
    }
    fd_ = -1;
}

void TitleOutput::Commit() {
    Flush();
    if (temporary_.empty()) {
        if (ownsFd_) {
            const int fd = fd_;
            fd_ = -1;
            if (close(fd) != 0) {
                Fail("cannot write " + path_, errno);
            }
        }
        committed_ = true;
        return;
    }
    // On disk before it takes the old file's place, so a crash leaves the old or the new one.
    if (fsync(fd_) != 0) {
        Fail("cannot write " + path_, errno);
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        Fail("cannot write " + path_, errno);
    }
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
        Fail("cannot write " + path_, errno);
    }
    committed_ = true;
}

}  // namespace SvTools
