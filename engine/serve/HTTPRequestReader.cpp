#include "engine/serve/HTTPRequestReader.h"

#include <cctype>

namespace SarvelonMediaKit {

namespace {

std::string Lower(const std::string& text) {
    std::string lower(text);
    for (size_t i = 0; i < lower.size(); ++i) {
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
    }
    return lower;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A run of decimal digits as a number; false when empty, not digits or past 64 bits.
bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t result = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        result = result * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *value = result;
    return true;
}

// "bytes=first-last", "bytes=first-" or "bytes=-suffix" (blanks allowed around the parts).
struct RangeSpec {
    bool hasFirst = false;
    bool hasLast = false;
    uint64_t first = 0;
    uint64_t last = 0;
};

bool ParseRangeSpec(const std::string& value, RangeSpec* spec) {
    const std::string text = Trim(value);
    const size_t equals = text.find('=');
    if (equals == std::string::npos || Lower(Trim(text.substr(0, equals))) != "bytes") {
        return false;
    }
    const std::string set = text.substr(equals + 1);
    if (set.find(',') != std::string::npos) return false;  // several ranges: ignored
    const size_t dash = set.find('-');
    if (dash == std::string::npos) return false;
    const std::string first = Trim(set.substr(0, dash));
    const std::string last = Trim(set.substr(dash + 1));
    spec->hasFirst = !first.empty();
    spec->hasLast = !last.empty();
    if (!spec->hasFirst && !spec->hasLast) return false;
    if (spec->hasFirst && !ParseNumber(first, &spec->first)) return false;
    if (spec->hasLast && !ParseNumber(last, &spec->last)) return false;
    if (spec->hasFirst && spec->hasLast && spec->last < spec->first) return false;
    return true;
}

}  // namespace

size_t HTTPRequestReader::FindHeadEnd(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        if (i + 1 < size && data[i + 1] == '\n') return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
    }
    return 0;
}

HTTPRequestReader::RangeKind HTTPRequestReader::ResolveRange(const std::string& value,
                                                             uint64_t size, uint64_t* first,
                                                             uint64_t* last) {
    RangeSpec spec;
    if (!ParseRangeSpec(value, &spec)) return RangeNone;
    if (!spec.hasFirst) {
        // The last spec.last bytes.
        if (spec.last == 0 || size == 0) return RangeUnsatisfiable;
        *first = spec.last >= size ? 0 : size - spec.last;
        *last = size - 1;
        return RangeSatisfiable;
    }
    if (spec.first >= size) return RangeUnsatisfiable;
    *first = spec.first;
    *last = spec.hasLast && spec.last < size ? spec.last : size - 1;
    return RangeSatisfiable;
}

bool HTTPRequestReader::IsWholeFromStart(const std::string& value) {
    RangeSpec spec;
    return ParseRangeSpec(value, &spec) && spec.hasFirst && spec.first == 0 && !spec.hasLast;
}

bool HTTPRequestReader::IsLoopbackHost(const std::string& value) {
    const std::string host = Lower(value);
    static const char* const kNames[] = {"localhost", "127.0.0.1", "[::1]"};
    for (const char* name : kNames) {
        const size_t length = std::char_traits<char>::length(name);
        if (host.compare(0, length, name) != 0) continue;
        if (host.size() == length) return true;
        // ":port": one to five digits, nothing else.
        if (host[length] != ':') continue;
        const std::string port = host.substr(length + 1);
        uint64_t number = 0;
        return port.size() <= 5 && ParseNumber(port, &number) && number <= 65535;
    }
    return false;
}

HTTPRequestReader::HTTPRequestReader()
    : method_(MethodOther), absoluteTarget_(false), minorVersion_(0) {}

bool HTTPRequestReader::Parse(const char* data, size_t size) {
    const std::string text(data, size);
    size_t position = 0;
    bool first = true;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line[line.size() - 1] == '\r') line.erase(line.size() - 1);
        if (first) {
            // Blank lines before a request line are tolerated.
            if (line.empty()) continue;
            first = false;
            if (!ParseRequestLine(line)) {
                method_ = MethodOther;
                methodName_.clear();
                path_.clear();
                pathPrefix_.clear();
                absoluteTarget_ = false;
                authority_.clear();
                headers_.clear();
                return false;
            }
            continue;
        }
        if (line.empty()) break;  // the end of the head
        const size_t colon = line.find(':');
        // A line without a name, or a folded continuation, carries nothing we use.
        if (colon == std::string::npos || colon == 0 || IsBlank(line[0])) continue;
        const std::string name = Lower(line.substr(0, colon));
        const std::string value = Trim(line.substr(colon + 1));
        std::map<std::string, std::string>::iterator entry = headers_.find(name);
        if (entry == headers_.end()) {
            headers_[name] = value;
        } else {
            entry->second += ", " + value;
        }
    }
    return !first;
}

bool HTTPRequestReader::ParseRequestLine(const std::string& line) {
    const size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos || firstSpace == 0) return false;
    const size_t secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || secondSpace == firstSpace + 1) return false;
    const std::string method = line.substr(0, firstSpace);
    std::string target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string version = line.substr(secondSpace + 1);
    if (version.size() != 8 || version.compare(0, 7, "HTTP/1.") != 0 || version[7] < '0' ||
        version[7] > '9') {
        return false;
    }
    for (size_t i = 0; i < method.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(method[i]);
        if (!std::isalpha(c) && c != '-' && c != '_') return false;
    }
    // The absolute form names the path after the authority.
    const std::string scheme = "http://";
    std::string authority;
    const bool absolute = Lower(target.substr(0, scheme.size())) == scheme;
    if (absolute) {
        const size_t slash = target.find('/', scheme.size());
        authority = target.substr(
            scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
        target = slash == std::string::npos ? std::string("/") : target.substr(slash);
    }
    const size_t query = target.find_first_of("?#");
    if (query != std::string::npos) target.erase(query);
    if (target.empty() || target[0] != '/') return false;
    for (size_t i = 0; i < target.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(target[i]);
        if (c <= ' ' || c == 0x7F) return false;
    }
    // A token in front of the name, "/token::name", is not part of the name.
    const size_t separator = target.rfind("::");
    if (separator != std::string::npos) {
        pathPrefix_ = target.substr(1, separator - 1);
        target = "/" + target.substr(separator + 2);
    }
    methodName_ = method;
    path_ = target;
    absoluteTarget_ = absolute;
    authority_ = authority;
    method_ = method == "GET" ? MethodGet : method == "HEAD" ? MethodHead : MethodOther;
    minorVersion_ = version[7] - '0';
    return true;
}

std::string HTTPRequestReader::GetHeader(const std::string& name) const {
    std::map<std::string, std::string>::const_iterator entry = headers_.find(Lower(name));
    return entry == headers_.end() ? std::string() : entry->second;
}

bool HTTPRequestReader::HasHeader(const std::string& name) const {
    return headers_.count(Lower(name)) != 0;
}

bool HTTPRequestReader::GetContentLength(uint64_t* length) const {
    *length = 0;
    if (!HasHeader("Content-Length")) return true;
    return ParseNumber(GetHeader("Content-Length"), length);
}

bool HTTPRequestReader::HeaderHasToken(const std::string& name, const std::string& token) const {
    const std::string list = Lower(GetHeader(name));
    const std::string wanted = Lower(token);
    size_t position = 0;
    while (position <= list.size()) {
        size_t comma = list.find(',', position);
        if (comma == std::string::npos) comma = list.size();
        if (Trim(list.substr(position, comma - position)) == wanted) return true;
        position = comma + 1;
    }
    return false;
}

}  // namespace SarvelonMediaKit
