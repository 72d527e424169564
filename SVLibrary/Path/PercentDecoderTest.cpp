// The percent decoder under each policy its callers use, and the cases they disagree on: an
// escape cut short by the end, one with bytes that are not hex digits, and "%00". Expected
// texts are worked out by hand from the escapes' hexadecimal values.

#include <gtest/gtest.h>

#include <string>

#include "SVLibrary/Path/PercentDecoder.h"

namespace {

using SV::PercentDecoder;

const char kRejected[] = "<rejected>";

std::string Decode(const PercentDecoder::Policy& policy, const std::string& text) {
    std::string out = "untouched";
    if (!PercentDecoder(policy).Decode(text, out)) {
        // A refused text leaves the output as it was.
        EXPECT_EQ("untouched", out) << text;
        return kRejected;
    }
    return out;
}

TEST(PercentDecoder, EachPolicyOnTheCasesThatDiffer) {
    struct Case {
        std::string text;
        std::string strict, complete, fileName, urlText;
    };
    const std::string nul("\0", 1);
    const Case cases[] = {
        // Valid escapes in either case, '+' as itself: the same everywhere.
        {"a%41%4a%4A+b", "aAJJ+b", "aAJJ+b", "aAJJ+b", "aAJJ+b"},
        {"%C3%A9", "\xC3\xA9", "\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},
        // Decoded once only: "%25" is '%', and what follows it stays.
        {"%252F", "%2F", "%2F", "%2F", "%2F"},
        {"", "", "", "", ""},
        // Cut short by the end.
        {"100%", kRejected, kRejected, "100%", "100"},
        {"%4", kRejected, kRejected, "%4", ""},
        {"ab%2", kRejected, kRejected, "ab%2", "ab"},
        // Not two hex digits.
        {"%zz", kRejected, kRejected, "%zz", "%zz"},
        {"a%4gb", kRejected, kRejected, "a%4gb", "a%4gb"},
        {"%g41", kRejected, kRejected, "%g41", "%g41"},
        // A '%' that opens nothing, then a valid escape: 0x41 is 'A'.
        {"%%41", kRejected, kRejected, "%A", "%A"},
        // A NUL byte.
        {"a%00b", kRejected, "a" + nul + "b", "a%00b", "a" + nul + "b"},
        // A NUL already in the text is a byte like any other (callers cut C strings).
        {"a" + nul + "%41", "a" + nul + "A", "a" + nul + "A", "a" + nul + "A", "a" + nul + "A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.strict, Decode(PercentDecoder::kStrict, c.text));
        EXPECT_EQ(c.complete, Decode(PercentDecoder::kComplete, c.text));
        EXPECT_EQ(c.fileName, Decode(PercentDecoder::kFileName, c.text));
        EXPECT_EQ(c.urlText, Decode(PercentDecoder::kUrlText, c.text));
    }
}

TEST(PercentDecoder, StopEndsTheTextAtAnInvalidEscape) {
    const PercentDecoder::Policy stop{PercentDecoder::Malformed::Reject,
                                      PercentDecoder::Malformed::Stop,
                                      PercentDecoder::Zero::Decode};
    EXPECT_EQ("aA", Decode(stop, "a%41%zz%42"));
    EXPECT_EQ(kRejected, Decode(stop, "a%4"));
}

TEST(PercentDecoder, HexDigits) {
    for (char c : std::string("0123456789abcdefABCDEF")) EXPECT_TRUE(PercentDecoder::IsHexDigit(c));
    for (char c : std::string("gG/:@`\0 %", 9)) EXPECT_FALSE(PercentDecoder::IsHexDigit(c)) << c;
}

}  // namespace
