#ifndef SVLIBRARY_FILE_FILE_H
#define SVLIBRARY_FILE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace SV {

// A file over a C standard I/O stream, close-on-exec. Nothing here throws: failures show in the
// results, and every operation on a closed file returns its "closed" value and touches nothing.
class File {
public:
    // Open flags; other bits are ignored. No combination opens with a "w" or "a" mode: creating
    // and emptying are separate steps taken before the file is opened.
    static constexpr uint32_t kBinary = 1;    // "b" in the mode
    static constexpr uint32_t kCreate = 2;    // create an empty file first when none exists
    static constexpr uint32_t kReadOnly = 4;  // "r"; without it the file is opened for update
    static constexpr uint32_t kTruncate = 8;  // empty an existing file first
    // Open only a regular file: a FIFO, a device or a directory is refused, and the opening
    // itself never waits (a FIFO with no writer would hold it until one came).
    static constexpr uint32_t kRegularOnly = 16;

    File() = default;
    // Opens at once; IsOpen tells the outcome.
    File(const std::string& path, uint32_t flags);
    ~File();

    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens with the mode "r", "r+", "rb" or "r+b" chosen by kReadOnly and kBinary (each with
    // "e", close-on-exec), after the kTruncate and kCreate steps. A stream held before is closed
    // first. A path with a NUL in it is refused (the system would open the shorter name before
    // it). Returns IsOpen().
    bool Open(const std::string& path, uint32_t flags);
    void Close();
    bool IsOpen() const { return stream_ != nullptr; }

    // Reads up to count bytes; the count read (short at the end or on an error, see IsEof and
    // IsError), or all bits set when closed.
    uint64_t Read(void* buffer, uint64_t count);
    // Up to count bytes; empty when closed. Memory grows with what is actually read, so a huge
    // count on a small file costs only the file's bytes.
    std::vector<unsigned char> ReadBytes(uint64_t count);
    // The count written; 0 when closed.
    uint64_t Write(const std::vector<unsigned char>& bytes);

    // The position; -1 when closed or unreadable.
    int64_t Tell();
    // whence: 0 from the start, 1 from the current position, 2 from the end.
    bool Seek(int64_t offset, int whence);
    // The file's length; the position is left unchanged. -1 when closed or not seekable.
    int64_t GetSize();

    bool IsEof() const;
    // A closed file counts as in error.
    bool IsError() const;

private:
    FILE* stream_ = nullptr;
};

}  // namespace SV

#endif
