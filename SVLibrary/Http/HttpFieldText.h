#ifndef SVLIBRARY_HTTP_HTTPFIELDTEXT_H
#define SVLIBRARY_HTTP_HTTPFIELDTEXT_H

#include <cstdint>
#include <string>

namespace SV {

// The small readings of HTTP header text that the servers' request readers and the byte range
// share, so that they agree on what a blank, a field name and a number are.
class HttpFieldText {
public:
    // The text without the spaces and tabs around it (the blanks HTTP allows around a value).
    static std::string Trim(const std::string& text);
    // ASCII letters in lower case, for names and tokens that HTTP compares without case.
    static std::string Lower(std::string text);
    // A run of decimal digits as a number; false (value untouched) when empty, not all digits
    // or longer than 19 digits, which keeps every accepted number inside 64 bits.
    static bool ParseDecimal(const std::string& text, uint64_t* value);
};

}  // namespace SV

#endif  // SVLIBRARY_HTTP_HTTPFIELDTEXT_H
