#include "engine/serve/HlsRequestName.h"

#include <gtest/gtest.h>

#include <string>

namespace SarvelonMediaKit {
namespace {

TEST(HlsRequestNameTest, TheThreeFormsAreRead) {
    struct Case {
        const char* name;
        HlsRequestName::Kind kind;
        uint32_t track;
        uint32_t number;
    } cases[] = {
        {"0.ts", HlsRequestName::KindSegment, 0, 0},
        {"17.ts", HlsRequestName::KindSegment, 0, 17},
        {"4294967295.ts", HlsRequestName::KindSegment, 0, 4294967295u},  // 32 bits, all set
        {"3-0.ts", HlsRequestName::KindTrackSegment, 3, 0},
        {"4294967295-12.ts", HlsRequestName::KindTrackSegment, 4294967295u, 12},
        {"5.m3u8", HlsRequestName::KindPlaylist, 5, 0},
        {"12.ts?token=a-1.ts", HlsRequestName::KindSegment, 0, 12},  // the query goes first
        {"7.m3u8#x", HlsRequestName::KindPlaylist, 7, 0},
        {"2-9.ts?", HlsRequestName::KindTrackSegment, 2, 9},
    };
    for (const Case& c : cases) {
        const HlsRequestName parsed = HlsRequestName::Parse(c.name);
        EXPECT_EQ(c.kind, parsed.GetKind()) << c.name;
        EXPECT_EQ(c.track, parsed.GetTrack()) << c.name;
        EXPECT_EQ(c.number, parsed.GetNumber()) << c.name;
    }
}

TEST(HlsRequestNameTest, AnythingElseIsNone) {
    for (const char* name : {"",
                             "favicon.ico",
                             "-1.ts",
                             "+5.ts",
                             "5.tsX",
                             "5.ts.ts",
                             "05.ts",
                             "00.ts",
                             ".ts",
                             "ts",
                             "5.TS",
                             " 5.ts",
                             "5 .ts",
                             "4294967296.ts",
                             "99999999999999999999.ts",
                             "5-.ts",
                             "-.ts",
                             "1-2-3.ts",
                             "1--2.ts",
                             "1-+2.ts",
                             "1-02.ts",
                             "1-4294967296.ts",
                             "a.m3u8",
                             ".m3u8",
                             "5-6.m3u8",
                             "5.m3u8x",
                             "%35.ts",
                             "5.ts/",
                             "/5.ts",
                             "0x5.ts",
                             "?5.ts"}) {
        EXPECT_EQ(HlsRequestName::KindNone, HlsRequestName::Parse(name).GetKind()) << name;
    }
}

TEST(HlsRequestNameTest, PathEncodingKeepsSafeNamesAndRoundTripsEveryByte) {
    EXPECT_EQ("Title_01-x.m3u8", HlsRequestName::EncodePath("Title_01-x.m3u8"));
    EXPECT_EQ("a~b!$&'()*+,;=@.m3u8", HlsRequestName::EncodePath("a~b!$&'()*+,;=@.m3u8"));
    // Space, UTF-8 bytes of "é", '%', '?', '#', '/', and ':' (the token separator).
    EXPECT_EQ("My%20Title%20%C3%A9%25%3F%23%2F%3A.m3u8",
              HlsRequestName::EncodePath("My Title \xC3\xA9%?#/:.m3u8"));
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    std::string decoded;
    ASSERT_TRUE(HlsRequestName::DecodePath(HlsRequestName::EncodePath(all), decoded));
    EXPECT_EQ(all, decoded);
    // What comes out is safe in a request line: no byte at or below a space, no 0x7F and up.
    for (char c : HlsRequestName::EncodePath(all)) {
        EXPECT_GT(static_cast<unsigned char>(c), 0x20);
        EXPECT_LT(static_cast<unsigned char>(c), 0x7F);
    }
}

TEST(HlsRequestNameTest, DecodingRefusesBrokenEscapes) {
    std::string name = "kept";
    for (const char* path : {"%", "a%", "%4", "a%4", "%G1", "%1G", "%00", "%%41"}) {
        EXPECT_FALSE(HlsRequestName::DecodePath(path, name)) << path;
        EXPECT_EQ("kept", name) << path;
    }
    ASSERT_TRUE(HlsRequestName::DecodePath("a%2b%2B+c", name));
    EXPECT_EQ("a+++c", name);  // '+' is not a space in a path
    EXPECT_EQ("x.ts", HlsRequestName::StripQuery("x.ts?y#z"));
    EXPECT_EQ("", HlsRequestName::StripQuery("#x.ts"));
}

}  // namespace
}  // namespace SarvelonMediaKit
