#include "engine/input/HTTPResponseHeaders.h"

#include <gtest/gtest.h>

#include <string>

namespace SarvelonMediaKit {
namespace {

void Add(HTTPResponseHeaders& headers, const std::string& line) {
    headers.AddLine(line.data(), line.size());
}

TEST(HTTPResponseHeaders, TotalOfContentRangeBeatsContentLength) {
    HTTPResponseHeaders headers;
    Add(headers, "HTTP/1.1 206 Partial Content\r\n");
    Add(headers, "content-length: 100\r\n");
    Add(headers, "Content-Range:  bytes 100-199/5000\r\n");
    EXPECT_EQ(headers.EndPosition(), 5000u);
}

TEST(HTTPResponseHeaders, UnknownTotalOrNoHeadersFallBack) {
    HTTPResponseHeaders headers;
    Add(headers, "Content-Length: 100\r\n");
    Add(headers, "Content-Range: bytes 100-199/*\r\n");
    EXPECT_EQ(headers.EndPosition(), 100u);
    // A new head (after a redirect) forgets the old one.
    Add(headers, "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(headers.EndPosition(), 0u);
}

TEST(HTTPResponseHeaders, MalformedOrOversizedValuesAreIgnored) {
    uint64_t value = 7;
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentLength("-5", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentLength("12x", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentLength("99999999999999999999", &value));
    EXPECT_TRUE(HTTPResponseHeaders::ParseContentLength(" 18446744073709551615 ", &value));
    EXPECT_EQ(value, 18446744073709551615ull);
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentRangeTotal("bytes 1-2/", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentRangeTotal("bytes1-2/3", &value));
    EXPECT_FALSE(
        HTTPResponseHeaders::ParseContentRangeTotal("bytes 1-2/9223372036854775808", &value));
    // A first field of 32 characters: longer than any field may be.
    EXPECT_FALSE(HTTPResponseHeaders::ParseContentRangeTotal(
        "bytes " + std::string(32, '1') + "-2/3", &value));
    EXPECT_TRUE(
        HTTPResponseHeaders::ParseContentRangeTotal("bytes 0-0/9223372036854775807", &value));
    EXPECT_EQ(value, 9223372036854775807ull);
    // A header longer than 63 bytes is cut there, which here spoils its total.
    HTTPResponseHeaders headers;
    Add(headers, "Content-Length: 10\r\n");
    Add(headers, "Content-Range: bytes 1-2/" + std::string(60, '9') + "\r\n");
    EXPECT_EQ(headers.ContentRange().size(), 63u);
    EXPECT_EQ(headers.EndPosition(), 10u);
}

TEST(HTTPResponseHeaders, TheSizeA416AnswerGivesIsReadFromItsContentRange) {
    uint64_t value = 0;
    EXPECT_TRUE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes */1000", &value));
    EXPECT_EQ(value, 1000u);
    EXPECT_TRUE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal(" bytes  */0 ", &value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes */*", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes */", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes 0-1/1000", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("*/1000", &value));
    EXPECT_FALSE(HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes */-1", &value));
    EXPECT_FALSE(
        HTTPResponseHeaders::ParseUnsatisfiedRangeTotal("bytes */" + std::string(32, '1'), &value));
}

}  // namespace
}  // namespace SarvelonMediaKit
