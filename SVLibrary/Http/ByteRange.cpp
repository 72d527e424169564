#include "SVLibrary/Http/ByteRange.h"

#include "SVLibrary/Http/HttpFieldText.h"

namespace SV {

namespace {

// The range as written, before the resource's size is known.
struct RangeBounds {
    bool hasFirst = false;
    bool hasLast = false;
    uint64_t first = 0;
    uint64_t last = 0;
};

bool ParseBounds(const std::string& value, ByteRange::Syntax syntax, RangeBounds* bounds) {
    const bool lenient = syntax == ByteRange::Syntax::Lenient;
    const std::string text = HttpFieldText::Trim(value);
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    const std::string unit = text.substr(0, equals);
    if ((lenient ? HttpFieldText::Lower(HttpFieldText::Trim(unit)) : unit) != "bytes") return false;
    const std::string set = text.substr(equals + 1);
    if (set.find(',') != std::string::npos) return false;  // several ranges
    const size_t dash = set.find('-');
    if (dash == std::string::npos) return false;
    std::string first = set.substr(0, dash);
    std::string last = set.substr(dash + 1);
    if (lenient) {
        first = HttpFieldText::Trim(first);
        last = HttpFieldText::Trim(last);
    }
    bounds->hasFirst = !first.empty();
    bounds->hasLast = !last.empty();
    if (!bounds->hasFirst && !bounds->hasLast) return false;
    if (bounds->hasFirst && !HttpFieldText::ParseDecimal(first, &bounds->first)) return false;
    if (bounds->hasLast && !HttpFieldText::ParseDecimal(last, &bounds->last)) return false;
    return !(bounds->hasFirst && bounds->hasLast && bounds->last < bounds->first);
}

}  // namespace

ByteRange ByteRange::Resolve(const std::string& value, uint64_t size, Syntax syntax) {
    ByteRange range;
    RangeBounds bounds;
    if (!ParseBounds(value, syntax, &bounds)) return range;
    if (!bounds.hasFirst) {
        // A suffix: the final `last` bytes.
        if (bounds.last == 0 || size == 0) {
            range.kind_ = Kind::Unsatisfiable;
            return range;
        }
        range.kind_ = Kind::Satisfiable;
        range.first_ = bounds.last >= size ? 0 : size - bounds.last;
        range.last_ = size - 1;
        return range;
    }
    if (bounds.first >= size) {
        range.kind_ = Kind::Unsatisfiable;
        return range;
    }
    range.kind_ = Kind::Satisfiable;
    range.first_ = bounds.first;
    range.last_ = bounds.hasLast && bounds.last < size ? bounds.last : size - 1;
    return range;
}

bool ByteRange::IsWholeFromStart(const std::string& value, Syntax syntax) {
    RangeBounds bounds;
    return ParseBounds(value, syntax, &bounds) && bounds.hasFirst && bounds.first == 0 &&
           !bounds.hasLast;
}

}  // namespace SV
