#ifndef TOOLS_MKTITLE_BYTESINK_H
#define TOOLS_MKTITLE_BYTESINK_H

#include <cstddef>
#include <cstdint>

namespace SvTools {

// Takes a title's bytes in order as they are written. Raises std::runtime_error when they
// cannot be stored.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const uint8_t* data, size_t size) = 0;
};

}  // namespace SvTools

#endif
