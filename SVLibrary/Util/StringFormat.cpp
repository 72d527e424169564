#include "SVLibrary/Util/StringFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace SV {

namespace {

constexpr uint32_t kNumberBufferSize = 256;

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the number the way atoi does (leading blanks, optional sign, digits up to the first
// non-digit, none giving 0), but saturating instead of overflowing.
long long PlaceholderNumber(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && IsBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (value < 1000000000000LL) value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

}  // namespace

int32_t FormatToBuffer(char* buffer, uint32_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = std::vsnprintf(size == 0 ? nullptr : buffer, size, format, arguments);
    va_end(arguments);
    if (size != 0) buffer[size - 1] = '\0';
    return result;
}

StringFormat& StringFormat::operator%(const std::string& text) {
    arguments.push_back(text);
    return *this;
}

StringFormat& StringFormat::operator%(const char* text) {
    arguments.emplace_back(text != nullptr ? text : "");
    return *this;
}

StringFormat& StringFormat::operator%(int32_t value) {
    char buffer[kNumberBufferSize];
    FormatToBuffer(buffer, sizeof buffer, "%ld", static_cast<long>(value));
    arguments.emplace_back(buffer);
    return *this;
}

StringFormat& StringFormat::operator%(uint32_t value) {
    char buffer[kNumberBufferSize];
    FormatToBuffer(buffer, sizeof buffer, "%u", value);
    arguments.emplace_back(buffer);
    return *this;
}

StringFormat& StringFormat::operator%(uint64_t value) {
    char buffer[kNumberBufferSize];
    FormatToBuffer(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(value));
    arguments.emplace_back(buffer);
    return *this;
}

std::string StringFormat::Str() const {
    const char* p = format.c_str();
    const char* end = p + std::strlen(p);  // the pattern ends at its first NUL
    std::string result;
    while (p < end) {
        if (*p != '%') {
            result += *p++;
            continue;
        }
        const char* close = static_cast<const char*>(std::memchr(p + 1, '%', end - p - 1));
        if (close == nullptr) break;  // unterminated placeholder: the rest is dropped
        if (close == p + 1) {
            result += '%';
        } else {
            long long number = PlaceholderNumber(p + 1, close);
            if (number >= 1 && number <= static_cast<long long>(arguments.size()))
                result += arguments[static_cast<size_t>(number - 1)];
        }
        p = close + 1;
    }
    return result;
}

}  // namespace SV
