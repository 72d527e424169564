#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SVLibrary/Util/StringFormat.h"

namespace {

std::string Format(const std::string& pattern, const std::vector<std::string>& arguments) {
    SV::StringFormat format(pattern);
    for (const std::string& a : arguments) format % a;
    return format.Str();
}

TEST(StringFormat, NumberedPlaceholders) {
    struct Case {
        std::string pattern;
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {"A%2%B%1%%%C%9%", {"x", "y"}, "AyBx%C"},
        {"%1%/%1%", {"x"}, "x/x"},
        {"%0%|%3%|%x%", {"a", "b"}, "||"},  // out of range or not a number: vanishes
        {"a%1", {"x"}, "a"},                // unterminated: the rest is dropped
        {"a%1%b%2", {"x", "y"}, "axb"},
        {"100%%", {}, "100%"},
        {"%%%1%%%", {"x"}, "%x%"},
        {"% 2%%+1%%-1%", {"x", "y"}, "yx"},     // read like atoi: blanks and a sign
        {"%1x%", {"x"}, "x"},                   // digits up to the first non-digit
        {"%99999999999999999999%", {"x"}, ""},  // huge numbers do not wrap around to 1
        {"%4294967297%", {"x"}, ""},
        {"no placeholders", {"x"}, "no placeholders"},
        {"%2%", {"", "z"}, "z"},
        {"", {"x"}, ""},
        {std::string("a%1%\0%1%", 8), {"x"}, "ax"},  // the pattern ends at its first NUL
    };
    for (const Case& c : cases) EXPECT_EQ(Format(c.pattern, c.arguments), c.expected) << c.pattern;
}

TEST(StringFormat, ArgumentKindsAndRepeatedStr) {
    SV::StringFormat format("%1% %2% %3% %4% %5% %6%");
    format % std::string("s") % "c" % int32_t(-5) % uint32_t(4294967295u) %
        uint64_t(0xFFFFFFFFFFFFFFFFull) % static_cast<const char*>(nullptr);
    EXPECT_EQ(format.Str(), "s c -5 4294967295 18446744073709551615 ");
    EXPECT_EQ(format.Str(), "s c -5 4294967295 18446744073709551615 ");
    EXPECT_EQ((SV::StringFormat("HTTP Error %1%") % 404).Str(), "HTTP Error 404");
    EXPECT_EQ((SV::StringFormat("%1%") % INT32_MIN).Str(), "-2147483648");
}

TEST(FormatToBuffer, TruncatesAndAlwaysTerminates) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(SV::FormatToBuffer(buffer, sizeof buffer, "%s", "abcdef"), 6);
    EXPECT_STREQ(buffer, "abc");

    char exact[7];
    EXPECT_EQ(SV::FormatToBuffer(exact, sizeof exact, "%d-%s", 12, "abc"), 6);
    EXPECT_STREQ(exact, "12-abc");

    char one[1] = {'x'};
    EXPECT_EQ(SV::FormatToBuffer(one, 1, "abc"), 3);
    EXPECT_EQ(one[0], '\0');

    char untouched = 'x';
    EXPECT_EQ(SV::FormatToBuffer(&untouched, 0, "abc"), 3);
    EXPECT_EQ(untouched, 'x');
}

}  // namespace
