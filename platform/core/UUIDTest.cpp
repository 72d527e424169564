#include "platform/core/UUID.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

TEST(UUIDTest, RandomUUIDsAreVersionFourUpperCaseAndDistinct) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    int bitsSet[128] = {};
    for (int i = 0; i < 1000; ++i) {
        ns::UUID uuid = ns::UUID::Random();
        std::string text = uuid.String();
        EXPECT_TRUE(std::regex_match(text, form)) << text;
        EXPECT_EQ(uuid.Version(), 4);
        seen.insert(text);
        for (int bit = 0; bit < 128; ++bit)
            bitsSet[bit] += (uuid.GetBytes()[bit / 8] >> (7 - bit % 8)) & 1;
    }
    EXPECT_EQ(seen.size(), 1000u);
    // The 122 random bits each vary; the six fixed ones (version 0100, variant 10) never do.
    for (int bit = 0; bit < 128; ++bit) {
        bool fixedOne = bit == 49 || bit == 64;
        bool fixedZero = bit == 48 || bit == 50 || bit == 51 || bit == 65;
        if (fixedOne)
            EXPECT_EQ(bitsSet[bit], 1000) << bit;
        else if (fixedZero)
            EXPECT_EQ(bitsSet[bit], 0) << bit;
        else
            EXPECT_TRUE(bitsSet[bit] > 350 && bitsSet[bit] < 650) << bit << ": " << bitsSet[bit];
    }
}

TEST(UUIDTest, TextFormOfKnownBytes) {
    // Bytes in order, hyphens after bytes 4, 6, 8 and 10.
    ns::UUID uuid(ns::UUID::Bytes{0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3, 0xa4, 0x56, 0x42,
                                  0x66, 0x14, 0x17, 0x40, 0x00});
    EXPECT_EQ(uuid.String(), "123E4567-E89B-12D3-A456-426614174000");
    EXPECT_EQ(ns::UUID().String(), "00000000-0000-0000-0000-000000000000");
    auto parsed = ns::UUID::Parse("123e4567-e89b-12d3-a456-426614174000");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, uuid);
    ns::UUID random = ns::UUID::Random();
    EXPECT_EQ(ns::UUID::Parse(random.String()), random);
}

TEST(UUIDTest, MalformedTextIsRefused) {
    for (const char* bad : {"", "123E4567-E89B-12D3-A456-42661417400",    // one digit short
                            "123E4567-E89B-12D3-A456-4266141740000",      // one digit long
                            "123E4567E89B-12D3-A456-4266141740000",       // hyphen missing
                            "123E456-7E89B-12D3-A456-426614174000",       // hyphen moved
                            "123E4567-E89B-12D3-A456-42661417400G",       // not hex
                            "{123E4567-E89B-12D3-A456-426614174000}"}) {  // braces
        EXPECT_FALSE(ns::UUID::Parse(bad).has_value()) << bad;
    }
}

}  // namespace
