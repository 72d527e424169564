// Feeds arbitrary bytes, cut into lines at each LF as libcurl hands them over, to the response
// head reader. Whatever it accepts must stay within its limits, and a head it completes must
// come out the same when its fields are written again as plain lines and read once more.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/HTTPResponseHeadParser.h"

namespace {

using ns::HTTPResponseHeadParser;
using Result = HTTPResponseHeadParser::Result;

Result FeedLine(HTTPResponseHeadParser& parser, const std::string& line) {
    return parser.Feed(line.data(), line.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    HTTPResponseHeadParser parser;
    size_t at = 0;
    bool complete = false;
    while (at < size) {
        size_t end = at;
        while (end < size && text[end] != '\n') ++end;
        if (end < size) ++end;
        const Result result = parser.Feed(text + at, end - at);
        at = end;
        if (parser.HeadBytes() > HTTPResponseHeadParser::kMaxHeadBytes ||
            parser.Fields().Count() > HTTPResponseHeadParser::kMaxFields) {
            __builtin_trap();
        }
        if (result == Result::kBadResponse) {
            if (!parser.Failed() || parser.FailureReason().empty()) __builtin_trap();
            return 0;
        }
        if (result == Result::kHeadComplete) {
            complete = true;
            break;
        }
    }
    if (!complete) return 0;
    if (parser.Status() < 200 || parser.Status() > 999 || !parser.HeadComplete()) {
        __builtin_trap();
    }

    // Written again without folds or stray lines: the same status and fields.
    HTTPResponseHeadParser again;
    const int status = parser.Status();
    std::string statusLine = "HTTP/1.1 ";
    statusLine += static_cast<char>('0' + status / 100);
    statusLine += static_cast<char>('0' + status / 10 % 10);
    statusLine += static_cast<char>('0' + status % 10);
    if (FeedLine(again, statusLine + " X\r\n") != Result::kContinue) __builtin_trap();
    for (const auto& field : parser.Fields().Fields()) {
        // A name never holds a colon nor starts with a space; a value that now holds a CR or LF
        // (a bare CR inside a line) would be cut differently, so the round trip stops there.
        if (field.first.empty() || field.first.find(':') != std::string::npos) __builtin_trap();
        if (field.second.find_first_of("\r\n") != std::string::npos) return 0;
        if (FeedLine(again, field.first + ": " + field.second + "\r\n") != Result::kContinue) {
            return 0;  // the plain form can be longer (": " for every field): over the cap
        }
    }
    if (FeedLine(again, "\r\n") != Result::kHeadComplete) return 0;
    if (again.Status() != status || again.Fields().Fields() != parser.Fields().Fields()) {
        __builtin_trap();
    }
    return 0;
}
