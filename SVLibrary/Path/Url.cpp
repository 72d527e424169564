#include "SVLibrary/Path/Url.h"

#include <algorithm>
#include <cstring>

#include "SVLibrary/Path/PercentDecoder.h"

namespace SV {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The first occurrence of c at or after from, or limit when it comes earlier (or never).
size_t FindBefore(const std::string& text, char c, size_t from, size_t limit) {
    return std::min(text.find(c, from), limit);
}

// The text up to its first NUL.
size_t CLength(const std::string& text) { return std::strlen(text.c_str()); }

}  // namespace

bool ParseUrl(const std::string& url, size_t* schemeEnd, size_t* pathStart, size_t* queryStart,
              size_t* fragmentStart) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    if (!IsAsciiLetter(url[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = url[i];
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '.' && c != '+' && c != '-') return false;
    }
    if (url.compare(colon + 1, 2, "//") != 0) return false;

    size_t fragment = FindBefore(url, '#', colon + 1, url.size());
    size_t query = FindBefore(url, '?', colon + 1, fragment);
    size_t path = FindBefore(url, '/', colon + 3, query);

    if (schemeEnd) *schemeEnd = colon + 1;
    if (pathStart) *pathStart = path;
    if (queryStart) *queryStart = query;
    if (fragmentStart) *fragmentStart = fragment;
    return true;
}

bool IsUrl(const std::string& url) { return ParseUrl(url); }

std::string GetUrlScheme(const std::string& url) {
    size_t schemeEnd;
    if (!ParseUrl(url, &schemeEnd)) return std::string();
    std::string scheme = url.substr(0, schemeEnd - 1);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return scheme;
}

std::string GetUrlFileName(const std::string& url) {
    size_t path, query;
    if (!ParseUrl(url, nullptr, &path, &query) || path == query) return std::string();
    // A non-empty path starts with '/', so the search always finds one inside it.
    size_t slash = url.rfind('/', query - 1);
    return PercentDecode(url.substr(slash + 1, query - slash - 1));
}

std::string GetUrlQueryParameter(const std::string& url, const std::string& name, bool* found) {
    if (found) *found = false;
    size_t query, fragment;
    if (!ParseUrl(url, nullptr, nullptr, &query, &fragment)) return std::string();
    for (size_t i = query; i < fragment;) {
        size_t pairEnd = FindBefore(url, '&', i + 1, fragment);
        size_t keyEnd = FindBefore(url, '=', i + 1, pairEnd);
        size_t valueStart = keyEnd < pairEnd ? keyEnd + 1 : pairEnd;
        if (url.compare(i + 1, keyEnd - i - 1, name) == 0) {
            if (found) *found = true;
            return PercentDecode(url.substr(valueStart, pairEnd - valueStart));
        }
        i = pairEnd;
    }
    return std::string();
}

std::string AppendUrlPath(const std::string& base, const std::string& relativePath) {
    size_t path, query;
    if (!ParseUrl(base, nullptr, &path, &query)) return std::string();
    bool endsWithSlash = path < query && base[query - 1] == '/';
    std::string result = base.substr(0, query);
    if (!endsWithSlash) result += '/';
    result += PercentEncode(relativePath);
    result.append(base, query, std::string::npos);
    return result;
}

std::string GetUrlBase(const std::string& url) {
    size_t path, query;
    if (!ParseUrl(url, nullptr, &path, &query)) return std::string();
    if (path == query) return url.substr(0, path);
    return url.substr(0, url.rfind('/', query - 1));
}

std::string PercentEncode(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    size_t length = CLength(text);
    std::string result;
    result.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            result += c;
        } else {
            unsigned char byte = static_cast<unsigned char>(c);
            result += '%';
            result += kDigits[byte >> 4];
            result += kDigits[byte & 0x0F];
        }
    }
    return result;
}

std::string PercentDecode(const std::string& text) {
    std::string result;
    PercentDecoder(PercentDecoder::kUrlText).Decode(text.substr(0, CLength(text)), result);
    return result;
}

}  // namespace SV
