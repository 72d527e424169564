#include "platform/net/HTTPResponseHeadParser.h"

#include "platform/net/HeaderText.h"

namespace ns {

namespace {

// Trims spaces and tabs at both ends of [begin, end) and returns the rest.
std::string Trimmed(const char* begin, const char* end) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    return std::string(begin, end);
}

}  // namespace

void HTTPResponseHeadParser::Reset() { *this = HTTPResponseHeadParser(); }

HTTPResponseHeadParser::Result HTTPResponseHeadParser::Fail(const char* reason) {
    failed_ = true;
    reason_ = reason;
    return Result::kBadResponse;
}

HTTPResponseHeadParser::Result HTTPResponseHeadParser::Feed(const char* data, size_t size) {
    if (failed_) return Result::kBadResponse;
    const bool statusLine = size >= 5 && std::string(data, 5) == "HTTP/";
    // Trailer lines after a chunked body are not part of the head and are dropped as they come.
    if (headComplete_ && !statusLine) return Result::kIgnored;
    if (size > kMaxHeadBytes - headBytes_) return Fail("response head too large");
    headBytes_ += size;

    const char* end = data + size;
    while (end > data && (end[-1] == '\n' || end[-1] == '\r')) --end;
    const size_t length = static_cast<size_t>(end - data);

    if (statusLine) {
        // "HTTP/1.1 200 OK": the three digits after the first space are the status.
        size_t space = 0;
        while (space < length && data[space] != ' ') ++space;
        if (space + 4 > length || !IsDigit(data[space + 1]) || !IsDigit(data[space + 2]) ||
            !IsDigit(data[space + 3])) {
            return Fail("malformed status line");
        }
        status_ =
            (data[space + 1] - '0') * 100 + (data[space + 2] - '0') * 10 + (data[space + 3] - '0');
        fields_.Clear();
        headComplete_ = false;
        return Result::kContinue;
    }
    if (status_ == 0) return Fail("response does not start with a status line");
    if (length == 0) {
        // An interim 1xx head is followed by the real one.
        if (status_ < 200) return Result::kContinue;
        headComplete_ = true;
        return Result::kHeadComplete;
    }
    if (data[0] == ' ' || data[0] == '\t') {
        if (fields_.Empty()) return Fail("continuation line before any field");
        // In place: the cost of a folded line is its own length, whatever came before.
        // One space joins the pieces; a blank piece, or a value still empty, needs none.
        const std::string piece = Trimmed(data, end);
        if (piece.empty()) return Result::kContinue;
        fields_.AppendToLastValue(fields_.Fields().back().second.empty() ? piece : " " + piece);
        return Result::kContinue;
    }
    size_t colon = 0;
    while (colon < length && data[colon] != ':') ++colon;
    if (colon == length || colon == 0) return Result::kContinue;  // not a field: ignored
    if (fields_.Count() >= kMaxFields) return Fail("too many header fields");
    fields_.Append(Trimmed(data, data + colon), Trimmed(data + colon + 1, end));
    return Result::kContinue;
}

}  // namespace ns
