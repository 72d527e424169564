#ifndef SVLIBRARY_UTIL_STRINGFORMAT_H
#define SVLIBRARY_UTIL_STRINGFORMAT_H

#include <cstdint>
#include <string>
#include <vector>

namespace SV {

// printf into a fixed buffer of size bytes (at least 1), which always ends with a NUL.
// Returns the length the whole text would have had, so a result above size - 1 means the text
// was cut. With size 0 nothing is written.
int32_t FormatToBuffer(char* buffer, uint32_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A text with numbered placeholders: "%1%" is the first argument, "%2%" the second, and so on;
// "%%" is one '%'. Arguments may be used any number of times in any order; a placeholder that
// names no argument vanishes, and an unterminated one ends the text.
//
//   (StringFormat("HTTP Error %1%") % status).Str()
class StringFormat {
public:
    explicit StringFormat(const std::string& format) : format(format) {}

    StringFormat& operator%(const std::string& text);
    StringFormat& operator%(const char* text);  // null appends an empty text
    StringFormat& operator%(int32_t value);
    StringFormat& operator%(uint32_t value);
    StringFormat& operator%(uint64_t value);

    // The finished text; may be called again.
    std::string Str() const;

private:
    std::string format;
    std::vector<std::string> arguments;  // in the order given
};

}  // namespace SV

#endif
