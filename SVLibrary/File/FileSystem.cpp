#include "SVLibrary/File/FileSystem.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

namespace SV {

namespace {

bool StatPath(const std::string& path, struct stat* info) {
    return ::stat(path.c_str(), info) == 0;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat info;
    return StatPath(path, &info);
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return StatPath(path, &info) && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return StatPath(path, &info) && S_ISREG(info.st_mode);
}

bool MakeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0775) != 0; }

bool RemovePath(const std::string& path) {
    if (IsDirectory(path)) return ::rmdir(path.c_str()) != 0;
    return ::unlink(path.c_str()) != 0;
}

int64_t GetFileSize(const std::string& path) {
    // Asking the file system needs no open, so a read-only file (or one we may not even read)
    // has its size too, and nothing blocks on a FIFO or a device.
    struct stat info;
    if (!StatPath(path, &info) || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}

PilTime GetFileTime(const std::string& /*path*/) { return PilTime(0); }

bool ResolvePath(const std::string& path, std::string& resolved) {
    // A NUL inside would make the system resolve a shorter path than the one asked about.
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return false;
    resolved = real;
    std::free(real);
    return true;
}

bool IsPathInside(const std::string& folder, const std::string& path) {
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    // The root holds everything; any other folder ends where a name ends.
    return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

}  // namespace SV
