#ifndef SVLIBRARY_TYPEDVALUE_TYPEDVALUEDETAIL_H
#define SVLIBRARY_TYPEDVALUE_TYPEDVALUEDETAIL_H

// Helpers shared by the typed-value sources; not part of the library's interface.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "SVLibrary/Util/ByteOrder.h"

namespace SV {
namespace TypedValueDetail {

// Bytes of `input` from `position` to its end; 0 for a position past the end.
inline size_t BytesLeft(const std::vector<uint8_t>& input, size_t position) {
    return position < input.size() ? input.size() - position : 0;
}

inline void AppendBigEndian32(std::vector<uint8_t>& output, uint32_t value) {
    uint8_t bytes[4];
    WriteBigEndian32(value, bytes);
    output.insert(output.end(), bytes, bytes + 4);
}

inline void AppendBigEndian64(std::vector<uint8_t>& output, uint64_t value) {
    uint8_t bytes[8];
    WriteBigEndian64(value, bytes);
    output.insert(output.end(), bytes, bytes + 8);
}

// Appends one printf-formatted number (or other short text) to `output`.
inline void AppendFormatted(std::string& output, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
inline void AppendFormatted(std::string& output, const char* format, ...) {
    char text[64];  // a float's "%f" is at most 47 characters
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length > 0) {
        output.append(text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                                      : sizeof text - 1);
    }
}

}  // namespace TypedValueDetail
}  // namespace SV

#endif
