#include "portal/server/HttpRange.h"

#include <algorithm>

namespace ZulPortal {

namespace {

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool Digits(const std::string& s) {
    return !s.empty() && s.size() < 20 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

HttpRange HttpRange::Parse(const std::string& value, uint64_t size) {
    HttpRange range;
    const std::string v = Trim(value);
    if (v.compare(0, 6, "bytes=") != 0 || v.find(',') != std::string::npos) return range;
    const std::string spec = v.substr(6);
    const size_t dash = spec.find('-');
    if (dash == std::string::npos) return range;
    const std::string a = spec.substr(0, dash);
    const std::string b = spec.substr(dash + 1);
    if (a.empty()) {
        if (!Digits(b)) return range;
        const uint64_t suffix = std::stoull(b);
        if (suffix == 0 || size == 0) {
            range.kind_ = Kind::Unsatisfiable;
            return range;
        }
        range.kind_ = Kind::Satisfiable;
        range.first_ = size > suffix ? size - suffix : 0;
        range.last_ = size - 1;
        return range;
    }
    if (!Digits(a) || (!b.empty() && !Digits(b))) return range;
    const uint64_t first = std::stoull(a);
    // An open range from the end on or past it is unsatisfiable (416), as a real server
    // answers it; only a written last before the first makes the range invalid (ignored).
    if (b.empty() && first >= size) {
        range.kind_ = Kind::Unsatisfiable;
        return range;
    }
    const uint64_t last = b.empty() ? size - 1 : std::stoull(b);
    if (last < first) return range;
    if (first >= size) {
        range.kind_ = Kind::Unsatisfiable;
        return range;
    }
    range.kind_ = Kind::Satisfiable;
    range.first_ = first;
    range.last_ = std::min(last, size - 1);
    return range;
}

}  // namespace ZulPortal
