#include "SVLibrary/File/File.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "SVLibrary/File/FileSystem.h"

namespace SV {

namespace {

// ReadBytes grows its result by at most this much per read.
constexpr uint64_t kReadPiece = 1 << 20;

// Makes (or empties) the file at the path; failures show later when the open fails.
void MakeEmptyFile(const std::string& path) {
    FILE* stream = std::fopen(path.c_str(), "w+e");
    if (stream != nullptr) std::fclose(stream);
}

// Opens the path as a regular file only. Without O_NONBLOCK, opening a FIFO waits for a
// writer (for ever, when none comes) and some devices wait in their open too; the flag is
// cleared again once the file is known to be regular, so reads behave as usual.
FILE* OpenRegularFile(const std::string& path, bool readOnly, const char* mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct stat status;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* stream = fdopen(fd, mode);
    if (stream == nullptr) ::close(fd);
    return stream;
}

}  // namespace

File::File(const std::string& path, uint32_t flags) { Open(path, flags); }

File::~File() { Close(); }

bool File::Open(const std::string& path, uint32_t flags) {
    Close();
    if (path.find('\0') != std::string::npos) return false;
    if ((flags & kTruncate) != 0 && FileExists(path)) MakeEmptyFile(path);
    if ((flags & kCreate) != 0 && !FileExists(path)) MakeEmptyFile(path);

    const bool binary = (flags & kBinary) != 0;
    // "e": close-on-exec, so no program this process starts keeps the file open.
    const char* mode;
    if ((flags & kReadOnly) != 0)
        mode = binary ? "rbe" : "re";
    else
        mode = binary ? "r+be" : "r+e";
    if ((flags & kRegularOnly) != 0) {
        stream_ = OpenRegularFile(path, (flags & kReadOnly) != 0, mode);
    } else {
        stream_ = std::fopen(path.c_str(), mode);
    }
    return IsOpen();
}

void File::Close() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

uint64_t File::Read(void* buffer, uint64_t count) {
    if (stream_ == nullptr) return UINT64_MAX;
    return std::fread(buffer, 1, count, stream_);
}

std::vector<unsigned char> File::ReadBytes(uint64_t count) {
    std::vector<unsigned char> bytes;
    if (stream_ == nullptr) return bytes;
    while (bytes.size() < count) {
        size_t have = bytes.size();
        size_t piece = static_cast<size_t>(std::min<uint64_t>(count - have, kReadPiece));
        bytes.resize(have + piece);
        size_t got = std::fread(bytes.data() + have, 1, piece, stream_);
        if (got < piece) {
            bytes.resize(have + got);
            break;
        }
    }
    return bytes;
}

uint64_t File::Write(const std::vector<unsigned char>& bytes) {
    if (stream_ == nullptr || bytes.empty()) return 0;
    return std::fwrite(bytes.data(), 1, bytes.size(), stream_);
}

int64_t File::Tell() {
    if (stream_ == nullptr) return -1;
    return ftello(stream_);
}

bool File::Seek(int64_t offset, int whence) {
    if (stream_ == nullptr) return false;
    return fseeko(stream_, static_cast<off_t>(offset), whence) == 0;
}

int64_t File::GetSize() {
    int64_t position = Tell();
    if (position < 0) return -1;
    if (!Seek(0, SEEK_END)) return -1;
    int64_t size = Tell();
    Seek(position, SEEK_SET);
    return size;
}

bool File::IsEof() const { return stream_ != nullptr && std::feof(stream_) != 0; }

bool File::IsError() const { return stream_ == nullptr || std::ferror(stream_) != 0; }

}  // namespace SV
