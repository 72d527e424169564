#include "SVLibrary/Http/ByteRange.h"

#include "SVLibrary/Http/HttpFieldText.h"

namespace SV {

namespace {

// The range as written, before the resource's size is known.
struct RangeSpec {
    bool hasFirst = false;
    bool hasLast = false;
    uint64_t first = 0;
    uint64_t last = 0;
};

bool ParseSpec(const std::string& value, ByteRange::Syntax syntax, RangeSpec* spec) {
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
    spec->hasFirst = !first.empty();
    spec->hasLast = !last.empty();
    if (!spec->hasFirst && !spec->hasLast) return false;
    if (spec->hasFirst && !HttpFieldText::ParseDecimal(first, &spec->first)) return false;
    if (spec->hasLast && !HttpFieldText::ParseDecimal(last, &spec->last)) return false;
    return !(spec->hasFirst && spec->hasLast && spec->last < spec->first);
}

}  // namespace

ByteRange ByteRange::Resolve(const std::string& value, uint64_t size, Syntax syntax) {
    ByteRange range;
    RangeSpec spec;
    if (!ParseSpec(value, syntax, &spec)) return range;
    if (!spec.hasFirst) {
        // The last spec.last bytes.
        if (spec.last == 0 || size == 0) {
            range.kind_ = Kind::Unsatisfiable;
            return range;
        }
        range.kind_ = Kind::Satisfiable;
        range.first_ = spec.last >= size ? 0 : size - spec.last;
        range.last_ = size - 1;
        return range;
    }
    if (spec.first >= size) {
        range.kind_ = Kind::Unsatisfiable;
        return range;
    }
    range.kind_ = Kind::Satisfiable;
    range.first_ = spec.first;
    range.last_ = spec.hasLast && spec.last < size ? spec.last : size - 1;
    return range;
}

bool ByteRange::IsWholeFromStart(const std::string& value, Syntax syntax) {
    RangeSpec spec;
    return ParseSpec(value, syntax, &spec) && spec.hasFirst && spec.first == 0 && !spec.hasLast;
}

}  // namespace SV
