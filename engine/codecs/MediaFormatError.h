#ifndef ENGINE_CODECS_MEDIAFORMATERROR_H
#define ENGINE_CODECS_MEDIAFORMATERROR_H

#include <stdexcept>
#include <string>

namespace SarvelonMediaKit {

// Raised by the readers of this folder when the bytes they are given are not what the format
// allows (too short, a reserved value, a field out of range). The text says what was wrong.
class MediaFormatError : public std::runtime_error {
public:
    explicit MediaFormatError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace SarvelonMediaKit

#endif
