#include "engine/input/HTTPResponseHeaders.h"

#include <strings.h>

#include <limits>

namespace SarvelonMediaKit {

namespace {

constexpr size_t kMaxField = 31;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Skips the range unit of a Content-Range value and the blanks around it; false when no unit
// or nothing after it. *at is where the range (or '*') starts.
bool SkipRangeUnit(const std::string& value, size_t* at) {
    size_t i = 0;
    while (i < value.size() && IsSpace(value[i])) ++i;
    const size_t unitStart = i;
    while (i < value.size() && !IsSpace(value[i])) ++i;
    if (i == unitStart || i == value.size()) return false;
    while (i < value.size() && IsSpace(value[i])) ++i;
    *at = i;
    return true;
}

// A run of decimal digits that fits the limit; nothing else allowed.
bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty()) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (limit - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

void HTTPResponseHeaders::Reset() {
    contentLength_.clear();
    contentRange_.clear();
}

void HTTPResponseHeaders::AddLine(const char* line, size_t size) {
    const std::string text(line, size);
    if (text.compare(0, 5, "HTTP/") == 0) {
        Reset();
        return;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    const std::string name = Trim(text.substr(0, colon));
    std::string value = Trim(text.substr(colon + 1));
    if (value.size() > kMaxValue) value.resize(kMaxValue);
    if (strcasecmp(name.c_str(), "Content-Length") == 0) {
        contentLength_ = value;
    } else if (strcasecmp(name.c_str(), "Content-Range") == 0) {
        contentRange_ = value;
    }
}

uint64_t HTTPResponseHeaders::EndPosition() const {
    uint64_t end = 0;
    if (ParseContentRangeTotal(contentRange_, &end)) return end;
    if (ParseContentLength(contentLength_, &end)) return end;
    return 0;
}

bool HTTPResponseHeaders::ParseContentLength(const std::string& value, uint64_t* length) {
    return ParseDecimal(Trim(value), std::numeric_limits<uint64_t>::max(), length);
}

bool HTTPResponseHeaders::ParseContentRangeTotal(const std::string& value, uint64_t* total) {
    // unit, blanks, first '-' last '/' total; every field bounded.
    size_t at = 0;
    if (!SkipRangeUnit(value, &at)) return false;
    const size_t dash = value.find('-', at);
    if (dash == std::string::npos || dash == at || dash - at > kMaxField) return false;
    const size_t slash = value.find('/', dash + 1);
    if (slash == std::string::npos || slash == dash + 1 || slash - dash - 1 > kMaxField) {
        return false;
    }
    const std::string third = Trim(value.substr(slash + 1));
    if (third.empty() || third.size() > kMaxField || third[0] == '*') return false;
    // A signed 64-bit total: a larger number is no size a server can mean.
    return ParseDecimal(third, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), total);
}

bool HTTPResponseHeaders::ParseUnsatisfiedRangeTotal(const std::string& value, uint64_t* total) {
    // unit, blanks, '*', '/', total.
    size_t at = 0;
    if (!SkipRangeUnit(value, &at)) return false;
    if (value.compare(at, 2, "*/") != 0) return false;
    const std::string third = Trim(value.substr(at + 2));
    if (third.size() > kMaxField) return false;
    return ParseDecimal(third, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), total);
}

}  // namespace SarvelonMediaKit
