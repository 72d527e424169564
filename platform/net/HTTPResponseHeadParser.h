#ifndef PLATFORM_NET_HTTP_RESPONSE_HEAD_PARSER_H
#define PLATFORM_NET_HTTP_RESPONSE_HEAD_PARSER_H
// Reads an HTTP/1.x response head one line at a time, as libcurl hands the lines over (each
// with its line ending): the status line, the header fields, and the blank line that ends the
// head. Interim 1xx heads are read and dropped; the head after them is the response's. A
// folded continuation line (starting with a space or tab) extends the previous field's value
// by one space and its trimmed text. Lines without a colon are ignored, and once the head is
// complete, trailer lines after a chunked body are ignored too.
//
// Everything received for one response counts against kMaxHeadBytes, interim heads and
// continuation lines included, and the fields against kMaxFields: a server cannot make the
// reader buffer or work without bound. Each line costs time in proportion to its own length.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/net/HTTPHeaderFields.h"

namespace ns {

class HTTPResponseHeadParser {
public:
    static constexpr size_t kMaxHeadBytes = 64 * 1024;
    static constexpr size_t kMaxFields = 256;

    enum class Result {
        kContinue,      // more lines of the head to come
        kHeadComplete,  // the final head has ended: Status() and Fields() hold it
        kIgnored,       // a trailer line after the head: nothing changed
        kBadResponse,   // not an HTTP response head, or it exceeds a limit
    };

    // One line, with or without its CRLF or LF ending. After kBadResponse every further line
    // is refused too, until Reset().
    Result Feed(const char* data, size_t size);
    // Ready for the next response (a new hop).
    void Reset();

    // The status of the latest status line (0 before one).
    int Status() const { return status_; }
    // The fields read so far of the current head, in received order.
    const HTTPHeaderFields& Fields() const { return fields_; }
    bool HeadComplete() const { return headComplete_; }
    bool Failed() const { return failed_; }
    // Why the head was refused (empty until it was).
    const std::string& FailureReason() const { return reason_; }
    size_t HeadBytes() const { return headBytes_; }

private:
    Result Fail(const char* reason);

    int status_ = 0;
    HTTPHeaderFields fields_;
    bool headComplete_ = false;
    bool failed_ = false;
    std::string reason_;
    size_t headBytes_ = 0;
};

}  // namespace ns

#endif
