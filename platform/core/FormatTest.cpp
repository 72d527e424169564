#include "platform/core/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using ns::Format;

// The C library's printf is the oracle wherever argument types match the format.
template <typename... Args>
std::string Printf(const char* format, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

TEST(FormatTest, ClockTextsOfThePlayerControls) {
    EXPECT_EQ(Format("%2d:%02d:%02d", 1, 0, 0), " 1:00:00");
    EXPECT_EQ(Format("%2d:%02d:%02d", 12, 34, 5), "12:34:05");
    EXPECT_EQ(Format("%1d:%02d", 7, 9), "7:09");
    EXPECT_EQ(Format("%1d:%02d", 123, 59), "123:59");  // a width is a minimum
}

TEST(FormatTest, IntegersMatchPrintfForMatchingTypes) {
    const char* intFormats[] = {"%d",  "%i",   "%5d",   "%-5d|",  "%05d", "%+d",
                                "% d", "%.3d", "%8.3d", "%-+6i|", "%x",   "%X",
                                "%#x", "%08X", "%u",    "%10u",   "%o",   "%.0d"};
    const int ints[] = {0, 1, -1, 42, -42, 12345678, INT_MAX, INT_MIN};
    for (const char* f : intFormats) {
        for (int v : ints) {
            EXPECT_EQ(Format(f, v), Printf(f, v)) << f << " with " << v;
        }
    }
    const long longs[] = {0L, -1L, LONG_MAX, LONG_MIN, 1234567890123L};
    for (const char* f : {"%ld", "%li", "%20ld", "%-20ld|", "%020ld"}) {
        for (long v : longs) EXPECT_EQ(Format(f, v), Printf(f, v)) << f << " with " << v;
    }
    const unsigned long ulongs[] = {0UL, 1UL, ULONG_MAX, 4294967296UL};
    for (const char* f : {"%lu", "%12lu", "%lx", "%#lX"}) {
        for (unsigned long v : ulongs) EXPECT_EQ(Format(f, v), Printf(f, v)) << f << " " << v;
    }
}

TEST(FormatTest, FloatsMatchPrintfForMatchingTypes) {
    const char* formats[] = {"%f",   "%.2f", "%8.3f", "%-8.1f|", "%08.2f", "%+f",
                             "%.0f", "%e",   "%g",    "%G",      "%#.0f"};
    const double values[] = {0.0, -0.0, 1.5, -2.25, 3.14159265358979, 1e10, 123456.789, 0.5};
    for (const char* f : formats) {
        for (double v : values) EXPECT_EQ(Format(f, v), Printf(f, v)) << f << " with " << v;
    }
    EXPECT_EQ(Format("[Q] size: %f", 2.0f), "[Q] size: 2.000000");  // a float is promoted
    EXPECT_EQ(Format("%f", 1.0 / 0.0), "inf");
    EXPECT_EQ(Format("%5f", -1.0 / 0.0), " -inf");
}

TEST(FormatTest, ObjectsAndNil) {
    EXPECT_EQ(Format("[S] searchForString:%@", "matrix"), "[S] searchForString:matrix");
    EXPECT_EQ(Format("%@", std::string("abc")), "abc");
    EXPECT_EQ(Format("%@", nullptr), "(null)");
    const char* nil = nullptr;
    EXPECT_EQ(Format("x=%@;", nil), "x=(null);");
    EXPECT_EQ(Format("%@ (%d)", "Error", 210), "Error (210)");
    EXPECT_EQ(Format("%@, %@ %@", "Pad", "Tablet", "6.1"), "Pad, Tablet 6.1");
    // "%%" prints one percent sign, so a text passed as an argument keeps its own "%%@".
    EXPECT_EQ(Format("http://%@/s?q=%@", "host", "%%@"), "http://host/s?q=%%@");
    EXPECT_EQ(Format("http://%@/s?q=%%@", "host"), "http://host/s?q=%@");
    EXPECT_EQ(Format("100%%"), "100%");
    // Width, left-justification and precision count characters, not bytes.
    EXPECT_EQ(Format("[%6@]", "\xC3\xA9t\xC3\xA9"), "[   \xC3\xA9t\xC3\xA9]");
    EXPECT_EQ(Format("[%-5@]", "ab"), "[ab   ]");
    EXPECT_EQ(Format("[%.2@]", "\xC3\xA9t\xC3\xA9"), "[\xC3\xA9t]");
    EXPECT_EQ(Format("%s|%c|%c", "txt", 'A', 66), "txt|A|B");
}

struct Described {
    std::string Description() const { return "<Described 7>"; }
};

TEST(FormatTest, ValuesAndSelfDescribingObjects) {
    Described d;
    EXPECT_EQ(Format("%@", d), "<Described 7>");
    EXPECT_EQ(Format("%@", &d), "<Described 7>");
    const Described* none = nullptr;
    EXPECT_EQ(Format("%@", none), "(null)");
    EXPECT_EQ(Format("%@", std::make_shared<Described>()), "<Described 7>");
    EXPECT_EQ(Format("%@", std::shared_ptr<Described>()), "(null)");

    EXPECT_EQ(Format("__p('complete',%@);", ns::Value("m-17")), "__p('complete',m-17);");
    EXPECT_EQ(Format("%@|%d", ns::Value(int64_t{123}), ns::Value(int64_t{-5})), "123|-5");
    EXPECT_EQ(Format("%@", ns::Value()), "(null)");
    EXPECT_EQ(Format("%@", 0.25), "0.25");  // a number given to %@ prints its value
    EXPECT_EQ(Format("%@", -12), "-12");
}

struct Opaque {
    int a = 1;
};

TEST(FormatTest, OnlyRealBoolsAndDescribablePointersAreAccepted) {
    // Pointers that have no text to show are refused when compiling, not printed as "1".
    static_assert(!std::is_constructible_v<ns::FormatArg, int*>);
    static_assert(!std::is_constructible_v<ns::FormatArg, const int*>);
    static_assert(!std::is_constructible_v<ns::FormatArg, Opaque*>);
    static_assert(!std::is_constructible_v<ns::FormatArg, void*>);
    static_assert(!std::is_constructible_v<ns::FormatArg, const double*>);
    // Text, describable objects and their pointers still are.
    static_assert(std::is_constructible_v<ns::FormatArg, const char*>);
    static_assert(std::is_constructible_v<ns::FormatArg, char*>);
    static_assert(std::is_constructible_v<ns::FormatArg, Described*>);
    static_assert(std::is_constructible_v<ns::FormatArg, const ns::Value*>);
    static_assert(std::is_constructible_v<ns::FormatArg, std::nullptr_t>);

    EXPECT_EQ(Format("%@|%d|%@", true, false, false), "1|0|0");
    char buffer[] = "array";
    EXPECT_EQ(Format("%@ %s", buffer, buffer), "array array");  // an array is text
    const ns::Value value("v");
    EXPECT_EQ(Format("%@", &value), "v");
    const ns::Value* noValue = nullptr;
    EXPECT_EQ(Format("%@", noValue), "(null)");
}

TEST(FormatTest, MissingAndWrongTypedArgumentsAreHarmless) {
    EXPECT_EQ(Format("%@ and %@", "one"), "one and (null)");
    EXPECT_EQ(Format("%d-%i-%u-%ld-%lu"), "0-0-0-0-0");
    EXPECT_EQ(Format("%f"), "0.000000");
    EXPECT_EQ(Format("%s"), "(null)");
    EXPECT_EQ(Format("%d", "12"), "0");  // a text is not a number
    EXPECT_EQ(Format("%5.1f|", "x"), "  0.0|");
    EXPECT_EQ(Format("%d", nullptr), "0");
    EXPECT_EQ(Format("%s", 5), "(null)");  // %s wants a text
    // Numbers of the other kind convert by value.
    EXPECT_EQ(Format("%d", 2.9), "2");
    EXPECT_EQ(Format("%d", -2.9), "-2");
    EXPECT_EQ(Format("%d", 1e300), "18446744073709551615");  // saturated magnitude
    EXPECT_EQ(Format("%d", 0.0 / 0.0), "0");
    EXPECT_EQ(Format("%.1f", 3), "3.0");
    // Negative integers under %u and %x: two's complement in their own width, as C prints.
    EXPECT_EQ(Format("%u", -1), "4294967295");
    EXPECT_EQ(Format("%x", static_cast<short>(-2)), "fffe");
    EXPECT_EQ(Format("%lu", int64_t{-1}), "18446744073709551615");
    EXPECT_EQ(Format("%u", -1.5), "0");
    // A large unsigned value under %d is printed, not wrapped to a negative number.
    EXPECT_EQ(Format("%d", uint64_t{18446744073709551615ULL}), "18446744073709551615");
    // Extra arguments are ignored; booleans print as 1 and 0.
    EXPECT_EQ(Format("%d", true, "unused"), "1");
}

TEST(FormatTest, OddFormatsAreCopiedAndBounded) {
    // "% o" is a conversion (octal, space flag) of a missing argument, as in C: "0", then "ff".
    EXPECT_EQ(Format("50% off"), "500ff");
    EXPECT_EQ(Format("%y%d", 3), "%y3");  // unknown conversion copied, no argument used
    EXPECT_EQ(Format("end %"), "end %");
    EXPECT_EQ(Format("end %05"), "end %05");
    EXPECT_EQ(Format("%*d|%-*d|", 4, 7, 3, 8), "   7|8  |");
    EXPECT_EQ(Format("%.*f", 2, 3.14159), "3.14");
    EXPECT_EQ(Format("%*d", -3, 1), "1  ");  // a negative '*' width left-justifies
    // A huge width is capped instead of filling memory.
    EXPECT_EQ(Format("%99999999999999999999d", 1).size(), 4096u);
    EXPECT_EQ(Format("%.99999999f", 1.0).size(), 4098u);  // "1." and 4096 zeros
    EXPECT_EQ(Format(""), "");
}

}  // namespace
