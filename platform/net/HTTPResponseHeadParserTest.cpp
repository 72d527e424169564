#include "platform/net/HTTPResponseHeadParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ns::HTTPResponseHeadParser;
using Result = HTTPResponseHeadParser::Result;

Result Feed(HTTPResponseHeadParser& parser, const std::string& line) {
    return parser.Feed(line.data(), line.size());
}

TEST(HTTPResponseHeadParserTest, ReadsAHeadAfterAnInterimOneWithFoldedFields) {
    HTTPResponseHeadParser parser;
    EXPECT_EQ(Feed(parser, "HTTP/1.1 100 Continue\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "X-Interim: dropped\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "\r\n"), Result::kContinue);  // the end of a 1xx head is not the end
    EXPECT_FALSE(parser.HeadComplete());
    EXPECT_EQ(Feed(parser, "HTTP/1.1 302 Found\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "Location:  /next \r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "X-Long: first\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, " \t second  \r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "\tthird\n"), Result::kContinue);  // a bare LF ends a line too
    EXPECT_EQ(Feed(parser, "no colon here\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "X-Empty:\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "  \r\n"), Result::kContinue);      // a blank fold adds nothing
    EXPECT_EQ(Feed(parser, " later\r\n"), Result::kContinue);  // no space before the first text
    EXPECT_EQ(Feed(parser, "Set-Cookie: a=1\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "Set-Cookie: b=2\r\n"), Result::kContinue);
    EXPECT_EQ(Feed(parser, "\r\n"), Result::kHeadComplete);
    EXPECT_EQ(parser.Status(), 302);
    EXPECT_TRUE(parser.HeadComplete());
    const std::vector<ns::HTTPHeaderFields::Field> expected = {
        {"Location", "/next"}, {"X-Long", "first second third"},
        {"X-Empty", "later"},  {"Set-Cookie", "a=1"},
        {"Set-Cookie", "b=2"},
    };
    EXPECT_EQ(parser.Fields().Fields(), expected);
    // Trailer lines after a chunked body change nothing.
    EXPECT_EQ(Feed(parser, "X-Trailer: t\r\n"), Result::kIgnored);
    EXPECT_EQ(parser.Fields().Fields(), expected);

    parser.Reset();
    EXPECT_EQ(parser.Status(), 0);
    EXPECT_TRUE(parser.Fields().Empty());
    EXPECT_EQ(parser.HeadBytes(), 0u);
}

TEST(HTTPResponseHeadParserTest, RefusesWhatIsNoResponseHead) {
    const std::vector<std::vector<std::string>> heads = {
        {"Content-Type: text/plain\r\n"},        // no status line first
        {"HTTP/1.1 2x0 OK\r\n"},                 // status not three digits
        {"HTTP/1.1 20\r\n"},                     // status cut short
        {"HTTP/1.1\r\n"},                        // no status at all
        {"HTTP/1.1 200 OK\r\n", " folded\r\n"},  // continuation before any field
    };
    for (const std::vector<std::string>& lines : heads) {
        HTTPResponseHeadParser parser;
        Result last = Result::kContinue;
        for (const std::string& line : lines) last = Feed(parser, line);
        EXPECT_EQ(last, Result::kBadResponse) << lines.back();
        EXPECT_TRUE(parser.Failed());
        EXPECT_FALSE(parser.FailureReason().empty());
        // Once refused, the rest of the head is refused too.
        EXPECT_EQ(Feed(parser, "\r\n"), Result::kBadResponse);
    }
}

TEST(HTTPResponseHeadParserTest, ManyFoldedLinesHitTheHeadCap) {
    HTTPResponseHeadParser parser;
    const std::string status = "HTTP/1.1 200 OK\r\n";
    const std::string field = "X-Fold: a\r\n";
    const std::string fold = " b\r\n";  // 4 bytes a line
    ASSERT_EQ(Feed(parser, status), Result::kContinue);
    ASSERT_EQ(Feed(parser, field), Result::kContinue);
    const size_t room = HTTPResponseHeadParser::kMaxHeadBytes - status.size() - field.size();
    const size_t fits = room / fold.size();
    for (size_t i = 0; i < fits; ++i) ASSERT_EQ(Feed(parser, fold), Result::kContinue) << i;
    // "a" and then " b" once per folded line, built without copying the head again each time.
    EXPECT_EQ(parser.Fields().Value("X-Fold").size(), 1 + 2 * fits);
    EXPECT_EQ(parser.Fields().Value("X-Fold").substr(0, 7), "a b b b");
    // The head so far plus one more line is past 64 KiB: refused, and 70,000 lines never pile up.
    size_t refused = 0;
    for (int i = 0; i < 70000; ++i) refused += Feed(parser, fold) == Result::kBadResponse;
    EXPECT_EQ(refused, 70000u);
    EXPECT_LE(parser.HeadBytes(), HTTPResponseHeadParser::kMaxHeadBytes);
}

TEST(HTTPResponseHeadParserTest, InterimHeadsCountAgainstTheCapAndFieldsAreCapped) {
    HTTPResponseHeadParser parser;
    const std::string interim = "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n";
    Result last = Result::kContinue;
    size_t heads = 0;
    while (last != Result::kBadResponse && heads < 100000) {
        for (size_t at = 0; at < interim.size() && last != Result::kBadResponse;) {
            const size_t end = interim.find('\n', at) + 1;
            last = Feed(parser, interim.substr(at, end - at));
            at = end;
        }
        ++heads;
    }
    EXPECT_EQ(last, Result::kBadResponse);
    EXPECT_EQ(heads, HTTPResponseHeadParser::kMaxHeadBytes / interim.size() + 1);

    HTTPResponseHeadParser fields;
    ASSERT_EQ(Feed(fields, "HTTP/1.0 200 OK\r\n"), Result::kContinue);
    for (size_t i = 0; i < HTTPResponseHeadParser::kMaxFields; ++i) {
        ASSERT_EQ(Feed(fields, "F" + std::to_string(i) + ": v\r\n"), Result::kContinue);
    }
    EXPECT_EQ(Feed(fields, "One-Too-Many: v\r\n"), Result::kBadResponse);
}

}  // namespace
