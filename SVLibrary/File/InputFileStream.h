#ifndef SVLIBRARY_FILE_INPUTFILESTREAM_H
#define SVLIBRARY_FILE_INPUTFILESTREAM_H

// Header-only: a file read as a standard input stream, in place of std::ifstream, whose file
// buffer opens its descriptor without close-on-exec; a program the process starts meanwhile (a
// web view's process) would keep the file open. Reads as an ifstream opened in binary mode
// does: a file that cannot be opened leaves the stream failed with errno saying why.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ext/stdio_filebuf.h>
#include <istream>
#include <string>

namespace SV {

class InputFileStream : public std::istream {
public:
    explicit InputFileStream(const std::string& path)
        : std::istream(nullptr),
          fd_(Open(path, openError_)),
          buffer_(fd_, std::ios::in | std::ios::binary) {
        // As an ifstream: a buffer in any case, the stream failed when the file did not open.
        rdbuf(&buffer_);
        if (buffer_.is_open()) return;
        // Opened, but no stream could be made over it: the buffer does not own it.
        if (fd_ >= 0) {
            openError_ = errno;
            ::close(fd_);
        }
        setstate(std::ios::failbit);
        errno = openError_;
    }

    InputFileStream(const InputFileStream&) = delete;
    InputFileStream& operator=(const InputFileStream&) = delete;

private:
    static int Open(const std::string& path, int& error) {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        error = fd < 0 ? errno : 0;
        return fd;
    }

    int openError_ = 0;
    int fd_;
    // Closes the descriptor with itself.
    __gnu_cxx::stdio_filebuf<char> buffer_;
};

}  // namespace SV

#endif
