#ifndef TOOLS_MKTITLE_INPUTFILE_H
#define TOOLS_MKTITLE_INPUTFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace SvTools {

// A file read from the start in pieces. Failures raise std::runtime_error naming the file and
// the system's reason ("cannot open a.ts: No such file or directory").
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Up to size bytes; 0 at the end of the file.
    size_t Read(uint8_t* out, size_t size);
    // The file's size when it was opened (0 for what is not a regular file).
    uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
};

}  // namespace SvTools

#endif
