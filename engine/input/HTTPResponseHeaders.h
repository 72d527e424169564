#ifndef ENGINE_INPUT_HTTPRESPONSEHEADERS_H
#define ENGINE_INPUT_HTTPRESPONSEHEADERS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace SarvelonMediaKit {

// The header fields a transport needs from the last response head it received: the size
// announced by Content-Length and by the total of Content-Range. Header lines arrive one by
// one; a status line starts a new head (a redirect, an interim answer), so what a followed
// redirect said is forgotten. Each kept value is cut to its first 63 bytes.
class HTTPResponseHeaders {
public:
    static constexpr size_t kMaxValue = 63;

    // Takes one header line as received (with or without its line end).
    void AddLine(const char* line, size_t size);
    void Reset();

    // The resource's end position: the Content-Range total when it is a number, else the
    // Content-Length, else 0.
    uint64_t EndPosition() const;

    // The Content-Length as a plain decimal; false when missing or not a number.
    static bool ParseContentLength(const std::string& value, uint64_t* length);
    // The total of a "unit first-last/total" value; false for "*", for a malformed value and
    // for a field longer than 31 characters.
    static bool ParseContentRangeTotal(const std::string& value, uint64_t* total);
    // The total of an unsatisfied-range value "unit */total" (as a 416 answer carries it);
    // false for anything else, and for a total longer than 31 characters.
    static bool ParseUnsatisfiedRangeTotal(const std::string& value, uint64_t* total);

    const std::string& ContentLength() const { return contentLength_; }
    const std::string& ContentRange() const { return contentRange_; }

private:
    std::string contentLength_;
    std::string contentRange_;
};

}  // namespace SarvelonMediaKit

#endif
