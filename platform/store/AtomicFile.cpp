#include "platform/store/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace ns {

namespace {

std::string Reason(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes a descriptor when it goes out of scope unless released.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports the result (a failed close can mean lost data).
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

}  // namespace

bool AtomicFile::Write(const std::string& path, std::string_view bytes, mode_t mode,
                       std::string& error) {
    // mkstemp picks a name no one else uses; the name starts with a dot and the target's name
    // so a leftover from a crash is easy to recognise.
    const std::string folder = FolderOf(path);
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    Descriptor file(::mkostemp(name.data(), O_CLOEXEC));
    if (file.Get() < 0) {
        error = Reason("cannot create a temporary file for", path, errno);
        return false;
    }
    temporary = name.data();
    auto fail = [&](const std::string& what) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        error = Reason(what, path, saved);
        return false;
    };
    if (::fchmod(file.Get(), mode) != 0) {
        return fail("cannot set the mode of the new");
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write");
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(file.Get()) != 0) {
        return fail("cannot flush");
    }
    if (file.Close() != 0) {
        return fail("cannot close");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail("cannot replace");
    }
    // The rename itself is durable only once the folder is synced.
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0 || ::fsync(directory.Get()) != 0) {
        error = Reason("cannot flush the folder of", path, errno);
        return false;
    }
    return true;
}

bool AtomicFile::Read(const std::string& path, size_t maxSize, std::string& out, std::string& error,
                      bool* missing) {
    ReadFailure failure = ReadFailure::None;
    const bool ok = Read(path, maxSize, out, error, &failure, Links::Refuse);
    if (missing) {
        *missing = failure == ReadFailure::Missing;
    }
    return ok;
}

bool AtomicFile::Read(const std::string& path, size_t maxSize, std::string& out, std::string& error,
                      ReadFailure* failure, Links links) {
    ReadFailure ignored = ReadFailure::None;
    ReadFailure& why = failure ? *failure : ignored;
    why = ReadFailure::None;
    // Non-blocking, so that opening a pipe (or a device) that stands at the path returns at
    // once instead of waiting for a writer; the type check below then refuses it.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == Links::Refuse) {
        flags |= O_NOFOLLOW;
    }
    Descriptor file(::open(path.c_str(), flags));
    if (file.Get() < 0) {
        const int saved = errno;
        if (saved == ENOENT) {
            why = ReadFailure::Missing;
        } else if (saved == ELOOP && links == Links::Refuse) {
            why = ReadFailure::NotRegularFile;
            error = "cannot read " + path + ": it is a symbolic link";
            return false;
        } else {
            why = ReadFailure::System;
        }
        error = Reason("cannot open", path, saved);
        return false;
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        why = ReadFailure::System;
        error = Reason("cannot inspect", path, errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = ReadFailure::NotRegularFile;
        error = "cannot read " + path + ": not a regular file";
        return false;
    }
    const int mode = ::fcntl(file.Get(), F_GETFL);
    if (mode < 0 || ::fcntl(file.Get(), F_SETFL, mode & ~O_NONBLOCK) != 0) {
        why = ReadFailure::System;
        error = Reason("cannot set up reading", path, errno);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.Get(), buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            why = ReadFailure::System;
            error = Reason("cannot read", path, errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<size_t>(n) > maxSize) {
            why = ReadFailure::TooLarge;
            error = "cannot read " + path + ": larger than " + std::to_string(maxSize) + " bytes";
            return false;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    out = std::move(bytes);
    return true;
}

bool AtomicFile::MakeFolder(const std::string& path, mode_t mode, bool narrow, std::string& error) {
    if (path.empty()) {
        error = "cannot create a folder without a name";
        return false;
    }
    // Each parent in turn; an existing one is left as it is.
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Reason("cannot create the folder", parent, errno);
            return false;
        }
    }
    if (::mkdir(path.c_str(), mode) == 0) {
        // mkdir applies the umask; the folder must have exactly the mode asked for.
        if (::chmod(path.c_str(), mode) != 0) {
            error = Reason("cannot set the mode of the folder", path, errno);
            return false;
        }
        return true;
    }
    if (errno != EEXIST) {
        error = Reason("cannot create the folder", path, errno);
        return false;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = "cannot use " + path + " as a folder: it is not one";
        return false;
    }
    if (narrow && (status.st_mode & 07777) != mode && ::chmod(path.c_str(), mode) != 0) {
        error = Reason("cannot set the mode of the folder", path, errno);
        return false;
    }
    return true;
}

}  // namespace ns
