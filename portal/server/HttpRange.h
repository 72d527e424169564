#ifndef PORTAL_SERVER_HTTPRANGE_H
#define PORTAL_SERVER_HTTPRANGE_H

#include <cstdint>
#include <string>

namespace ZulPortal {

// A single byte range of a Range header against a body of a known size.
class HttpRange {
public:
    enum class Kind {
        Ignored,        // not one range this server reads (several, malformed): send it all
        Satisfiable,    // first..last lie inside the body
        Unsatisfiable,  // starts at or past the end: 416
    };

    // Reads "bytes=first-last", "bytes=first-" and "bytes=-suffix".
    static HttpRange Parse(const std::string& value, uint64_t size);

    Kind GetKind() const { return kind_; }
    uint64_t First() const { return first_; }
    uint64_t Last() const { return last_; }
    uint64_t Length() const { return last_ - first_ + 1; }

private:
    Kind kind_ = Kind::Ignored;
    uint64_t first_ = 0;
    uint64_t last_ = 0;
};

}  // namespace ZulPortal

#endif
