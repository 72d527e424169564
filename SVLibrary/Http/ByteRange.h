#ifndef SVLIBRARY_HTTP_BYTERANGE_H
#define SVLIBRARY_HTTP_BYTERANGE_H

#include <cstdint>
#include <string>

namespace SV {

// What the value of a Range field (without its name) asks of a resource of a known size: one
// range, "bytes=first-last", "bytes=first-" or "bytes=-suffix". Several ranges, another unit, a
// malformed value, a number past 19 digits or a last byte before the first are ignored: the
// answer is then the whole resource.
//
// Servers differ in how strictly they read the field's spelling, so each caller states its
// Syntax instead of reading the field itself; what a range selects is the same under both.
class ByteRange {
public:
    enum class Kind {
        Ignored,        // no range this reads: send it all
        Satisfiable,    // First()..Last() lie inside the resource
        Unsatisfiable,  // a valid range that selects no byte of it: 416
    };
    enum class Syntax {
        Exact,    // "bytes=" in lower case, then digits and the '-' alone
        Lenient,  // the unit in any case; blanks around the unit, the '=' and either number
    };

    // The range value selects of size bytes; the last byte is clamped to the size. Blanks
    // around the whole value are passed over.
    static ByteRange Resolve(const std::string& value, uint64_t size, Syntax syntax);
    // True for a range from the first byte on with no last byte ("bytes=0-"): the whole
    // resource, whatever its length turns out to be.
    static bool IsWholeFromStart(const std::string& value, Syntax syntax);

    Kind GetKind() const { return kind_; }
    uint64_t First() const { return first_; }
    uint64_t Last() const { return last_; }
    uint64_t Length() const { return last_ - first_ + 1; }

private:
    Kind kind_ = Kind::Ignored;
    uint64_t first_ = 0;
    uint64_t last_ = 0;
};

}  // namespace SV

#endif  // SVLIBRARY_HTTP_BYTERANGE_H
