#include "tools/mktitle/InputFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <sys/stat.h>

namespace SvTools {

InputFile::InputFile(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rbe");
    if (!file_) {
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat status;
    if (fstat(fileno(file_), &status) != 0) {
        const int error = errno;
        std::fclose(file_);
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(error));
    }
    if (S_ISDIR(status.st_mode)) {
        std::fclose(file_);
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(EISDIR));
    }
    size_ = S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
}

InputFile::~InputFile() { std::fclose(file_); }

size_t InputFile::Read(uint8_t* out, size_t size) {
    const size_t n = std::fread(out, 1, size, file_);
    if (n < size && std::ferror(file_)) {
        throw std::runtime_error("cannot read " + path_ + ": " + std::strerror(errno));
    }
    return n;
}

}  // namespace SvTools
