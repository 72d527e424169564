// The byte range under both syntaxes: what a range selects (suffixes, open ends, clamping,
// the empty resource) is the same under both, and only the spellings the exact syntax refuses
// differ. Expected bytes are worked out by hand from the sizes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "SVLibrary/Http/ByteRange.h"

namespace {

using SV::ByteRange;
using Kind = ByteRange::Kind;
using Syntax = ByteRange::Syntax;

TEST(ByteRangeTest, RangesResolveAgainstTheSizeUnderEitherSyntax) {
    struct Case {
        const char* value;
        uint64_t size;
        Kind lenient;
        Kind exact;
        uint64_t first, last;
    } cases[] = {
        {"bytes=100-199", 1000, Kind::Satisfiable, Kind::Satisfiable, 100, 199},
        {"bytes=100-", 1000, Kind::Satisfiable, Kind::Satisfiable, 100, 999},
        {"bytes=-500", 1000, Kind::Satisfiable, Kind::Satisfiable, 500, 999},
        {"bytes=-5000", 1000, Kind::Satisfiable, Kind::Satisfiable, 0, 999},
        {"bytes=0-99999999999", 1000, Kind::Satisfiable, Kind::Satisfiable, 0, 999},
        {"bytes=999-999", 1000, Kind::Satisfiable, Kind::Satisfiable, 999, 999},
        {"\tbytes=5-9 ", 1000, Kind::Satisfiable, Kind::Satisfiable, 5, 9},
        {"bytes=1000-", 1000, Kind::Unsatisfiable, Kind::Unsatisfiable, 0, 0},
        {"bytes=1000-2000", 1000, Kind::Unsatisfiable, Kind::Unsatisfiable, 0, 0},
        {"bytes=-0", 1000, Kind::Unsatisfiable, Kind::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, Kind::Unsatisfiable, Kind::Unsatisfiable, 0, 0},
        {"bytes=-5", 0, Kind::Unsatisfiable, Kind::Unsatisfiable, 0, 0},
        {"bytes=5-1", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=2000-1", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=0-1,3-4", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"items=0-1", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes 0-1", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=5", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=-", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=a-5", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=+1-5", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        {"bytes=99999999999999999999-", 1000, Kind::Ignored, Kind::Ignored, 0, 0},
        // The spellings only the lenient syntax reads.
        {"BYTES=0-0", 1, Kind::Satisfiable, Kind::Ignored, 0, 0},
        {" bytes = 100 - ", 1000, Kind::Satisfiable, Kind::Ignored, 100, 999},
        {"bytes=0 -5", 1000, Kind::Satisfiable, Kind::Ignored, 0, 5},
        {"bytes= -5", 1000, Kind::Satisfiable, Kind::Ignored, 995, 999},
        {"Bytes =2000-", 1000, Kind::Unsatisfiable, Kind::Ignored, 0, 0},
    };
    for (const Case& c : cases) {
        for (const Syntax syntax : {Syntax::Lenient, Syntax::Exact}) {
            const Kind kind = syntax == Syntax::Lenient ? c.lenient : c.exact;
            const ByteRange range = ByteRange::Resolve(c.value, c.size, syntax);
            const std::string where =
                std::string(c.value) + (syntax == Syntax::Lenient ? " (lenient)" : " (exact)");
            EXPECT_EQ(kind, range.GetKind()) << where;
            if (kind == Kind::Satisfiable) {
                EXPECT_EQ(c.first, range.First()) << where;
                EXPECT_EQ(c.last, range.Last()) << where;
                EXPECT_EQ(c.last - c.first + 1, range.Length()) << where;
            }
        }
    }
}

TEST(ByteRangeTest, OnlyAnOpenRangeFromTheFirstByteIsTheWholeResource) {
    for (const Syntax syntax : {Syntax::Lenient, Syntax::Exact}) {
        EXPECT_TRUE(ByteRange::IsWholeFromStart("bytes=0-", syntax));
        EXPECT_FALSE(ByteRange::IsWholeFromStart("bytes=0-10", syntax));
        EXPECT_FALSE(ByteRange::IsWholeFromStart("bytes=1-", syntax));
        EXPECT_FALSE(ByteRange::IsWholeFromStart("bytes=-0", syntax));
        EXPECT_FALSE(ByteRange::IsWholeFromStart("bytes=0-,5-", syntax));
    }
    EXPECT_TRUE(ByteRange::IsWholeFromStart("bytes = 0 -", Syntax::Lenient));
    EXPECT_FALSE(ByteRange::IsWholeFromStart("bytes = 0 -", Syntax::Exact));
}

}  // namespace
