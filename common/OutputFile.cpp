#include "common/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace SvTools {

namespace {

const size_t kBufferSize = 1024 * 1024;
// As many links as the system itself follows before it gives up.
const int kMaxLinks = 40;

// The file a signal handler may remove: written in the slot that is not published, then
// published by its index, so a handler never reads a path half written.
struct Registered {
    char path[PATH_MAX];
    dev_t device;
    ino_t inode;
};
Registered gRegistered[2];
std::atomic<int> gPublished{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

void Register(const std::string& path, dev_t device, ino_t inode) {
    const int next = gPublished.load() == 0 ? 1 : 0;
    if (path.size() >= sizeof gRegistered[next].path) {
        gPublished.store(-1);  // longer than any name the system opens
        return;
    }
    std::memcpy(gRegistered[next].path, path.c_str(), path.size() + 1);
    gRegistered[next].device = device;
    gRegistered[next].inode = inode;
    gPublished.store(next);
}

void Unregister() { gPublished.store(-1); }

// True while the path still names the regular file made here, not one put in its place.
bool IsOurs(const char* path, dev_t device, ino_t inode) {
    struct stat info;
    return lstat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == device &&
           info.st_ino == inode;
}

// Holds every signal back on the calling thread while it lives: none may come between making a
// file and registering it for removal, or between renaming it and unregistering it.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

std::string Directory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::RemoveForSignal() {
    const int slot = gPublished.exchange(-1);
    if (slot < 0) {
        return;
    }
    const Registered& file = gRegistered[slot];
    if (IsOurs(file.path, file.device, file.inode)) {
        unlink(file.path);
    }
}

bool OutputFile::Fail(int reason, std::string& error) {
    error = DisplayName() + ": " + std::strerror(reason);
    return false;
}

bool OutputFile::Prepare(const std::string& path, std::string& error) {
    Discard();
    path_ = path;
    target_ = path;
    temporary_.clear();
    standardOutput_ = false;
    created_ = false;
    finished_ = false;
    fd_ = -1;
    ownsFd_ = true;
    device_ = 0;
    inode_ = 0;
    buffer_.clear();
    if (path == "-") {
        return PrepareStandardOutput(error);
    }

    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return Fail(EISDIR, error);
        }
        if (S_ISREG(info.st_mode)) {
            // Probed by opening it for writing, without truncating it: a file the user may not
            // write is not replaced either.
            const int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (probe < 0) {
                return Fail(errno, error);
            }
            close(probe);
            // Replaced where it really lies, so that links to it stay links.
            char* real = realpath(path.c_str(), nullptr);
            if (real == nullptr) {
                return Fail(errno, error);
            }
            target_ = real;
            std::free(real);
            return PrepareReplacement(info, error);
        }
        // A FIFO or a device is not opened here: a FIFO's waiting reader would take the probe
        // for the writer and see its end, and some devices act on being opened.
        if (access(path.c_str(), W_OK) != 0) {
            return Fail(errno, error);
        }
        return true;
    }
    if (errno != ENOENT) {
        return Fail(errno, error);
    }
    // Nothing there, or a link to nothing: the links are followed by hand to the name the file
    // is to be made under, and the links stay.
    for (int links = 0;; ++links) {
        if (lstat(target_.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                return Fail(errno, error);
            }
            break;
        }
        if (!S_ISLNK(info.st_mode) || links == kMaxLinks) {
            // Something appeared meanwhile, or the links go round.
            return Fail(S_ISLNK(info.st_mode) ? ELOOP : EEXIST, error);
        }
        std::vector<char> link(size_t(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
        const ssize_t n = readlink(target_.c_str(), link.data(), link.size());
        if (n < 0) {
            return Fail(errno, error);
        }
        if (size_t(n) >= link.size()) {
            return Fail(ENAMETOOLONG, error);  // the link changed meanwhile
        }
        const std::string to(link.data(), size_t(n));
        target_ = (!to.empty() && to[0] == '/') ? to : Directory(target_) + "/" + to;
    }
    return PrepareNew(target_, error);
}

bool OutputFile::PrepareStandardOutput(std::string& error) {
    standardOutput_ = true;
    fd_ = STDOUT_FILENO;
    ownsFd_ = false;
    struct stat info;
    if (fstat(STDOUT_FILENO, &info) != 0) {
        return Fail(errno, error);
    }
    if (isatty(STDOUT_FILENO)) {
        error = "standard output is a terminal: redirect it or name a file";
        return false;
    }
    // A writer by name opens the standard output's device afresh from its start: a file being
    // appended to would lose what it holds.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (S_ISREG(info.st_mode) &&
        ((flags >= 0 && (flags & O_APPEND) != 0) || lseek(STDOUT_FILENO, 0, SEEK_CUR) > 0)) {
        error = "standard output is a file being appended to: name the file instead";
        return false;
    }
    return true;
}

bool OutputFile::PrepareNew(const std::string& target, std::string& error) {
    // Made exclusively, so that a file that appears meanwhile is not taken for ours.
    const SignalsHeld held;
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (!TakeMadeFile(fd, target, error)) {
        return false;
    }
    created_ = true;
    return true;
}

bool OutputFile::TakeMadeFile(int fd, const std::string& path, std::string& error) {
    if (fd < 0) {
        return Fail(errno, error);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int reason = errno;
        close(fd);
        unlink(path.c_str());
        return Fail(reason, error);
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    Register(path, device_, inode_);
    return true;
}

bool OutputFile::PrepareReplacement(const struct stat& old, std::string& error) {
    std::string name = target_ + ".part-XXXXXX";
    {
        const SignalsHeld held;
        if (!TakeMadeFile(mkostemp(&name[0], O_CLOEXEC), name, error)) {
            return false;
        }
        temporary_ = name;
    }
    // The replacement keeps the old file's owner where the system lets us, and its permission
    // bits (after the owner, which would clear set-id bits).
    if (fchown(fd_, old.st_uid, old.st_gid) != 0) {
        // Not ours to give away: the new file stays ours, as any file we write.
    }
    if (fchmod(fd_, old.st_mode & 07777) != 0) {
        const int reason = errno;
        Discard();
        return Fail(reason, error);
    }
    return true;
}

std::string OutputFile::WritePath() const {
    if (standardOutput_) {
        return "/dev/stdout";
    }
    if (!temporary_.empty()) {
        return temporary_;
    }
    return created_ ? target_ : path_;
}

std::string OutputFile::DisplayName() const { return standardOutput_ ? "standard output" : path_; }

bool OutputFile::Open(std::string& error) {
    // A device or a FIFO, opened only once there is something to write.
    fd_ = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    return fd_ >= 0 || Fail(errno, error);
}

bool OutputFile::Write(const uint8_t* data, size_t size, std::string& error) {
    if (finished_) {
        return Fail(EBADF, error);
    }
    if (fd_ < 0 && !Open(error)) {
        return false;
    }
    if (buffer_.size() + size > kBufferSize && !Flush(error)) {
        return false;
    }
    if (size >= kBufferSize) {
        buffer_.assign(data, data + size);
        return Flush(error);
    }
    if (buffer_.capacity() < kBufferSize) {
        buffer_.reserve(kBufferSize);
    }
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
}

bool OutputFile::Flush(std::string& error) {
    size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno, error);
        }
        done += size_t(n);
    }
    buffer_.clear();
    return true;
}

void OutputFile::CloseQuietly() {
    if (fd_ >= 0 && ownsFd_) {
        close(fd_);
    }
    fd_ = -1;
}

bool OutputFile::Commit(std::string& error) {
    if (finished_) {
        return Fail(EBADF, error);
    }
    if (!buffer_.empty() && !Flush(error)) {
        Discard();
        return false;
    }
    // On disk before it takes the old file's place, so a crash leaves the old or the new one.
    if (!temporary_.empty() && fsync(fd_) != 0) {
        const int reason = errno;
        Discard();
        return Fail(reason, error);
    }
    if (fd_ >= 0 && ownsFd_) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            const int reason = errno;
            Discard();
            return Fail(reason, error);
        }
    }
    fd_ = -1;
    const SignalsHeld held;
    if (!temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int reason = errno;
        Discard();
        return Fail(reason, error);
    }
    if (!temporary_.empty() || created_) {
        Unregister();
    }
    finished_ = true;
    return true;
}

void OutputFile::Discard() {
    if (finished_) {
        return;
    }
    finished_ = true;
    CloseQuietly();
    buffer_.clear();
    const std::string& made = !temporary_.empty() ? temporary_ : target_;
    if (!temporary_.empty() || created_) {
        // Devices, FIFOs, standard output and files that were there keep whatever reached them.
        const SignalsHeld held;
        Unregister();
        if (IsOurs(made.c_str(), device_, inode_)) {
            unlink(made.c_str());
        }
    }
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat sa;
    struct stat sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace SvTools
