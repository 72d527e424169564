#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Util/ByteOrder.h"
#include "SVLibrary/Util/Hex.h"
#include "SVLibrary/Util/Random.h"
#include "SVLibrary/Util/Saturating.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(ByteOrder, ReadsAndWritesMostSignificantFirst) {
    const uint8_t source[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    EXPECT_EQ(SV::ReadBigEndian16(source), 0x1234u);
    EXPECT_EQ(SV::ReadBigEndian32(source), 0x12345678u);
    EXPECT_EQ(SV::ReadBigEndian64(source), 0x123456789ABCDEF0ull);
    // High bytes with the top bit set must not sign-extend.
    EXPECT_EQ(SV::ReadBigEndian32(source + 4), 0x9ABCDEF0u);

    uint8_t out[8] = {};
    SV::WriteBigEndian16(0x12345, out);  // only the low 16 bits are used
    EXPECT_EQ(out[0], 0x23);
    EXPECT_EQ(out[1], 0x45);
    EXPECT_EQ(out[2], 0x00);  // nothing past the field
    SV::WriteBigEndian32(0xA1B2C3D4u, out);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
    SV::WriteBigEndian64(0x0102030405060708ull, out);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(SV::ReadBigEndian64(out), 0x0102030405060708ull);
}

TEST(Hex, BothWaysAndMalformedInput) {
    EXPECT_EQ(SV::HexToBytes("0aFf"), (Bytes{0x0A, 0xFF}));
    EXPECT_EQ(SV::HexToBytes("00017f80"), (Bytes{0x00, 0x01, 0x7F, 0x80}));
    // Malformed input is never decoded in part.
    const std::vector<std::string> malformed = {
        "", "abc", "0g", "0aG0", "zz", "0x12", " 0a", "0a ", "+1", std::string("0a\0b", 4)};
    for (const std::string& bad : malformed) {
        EXPECT_TRUE(SV::HexToBytes(bad).empty()) << bad;
    }
    EXPECT_EQ(SV::BytesToHex({0x0A, 0xFF}), "0aff");
    EXPECT_EQ(SV::BytesToHex({}), "");
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<unsigned char>(i));
    std::string text = SV::BytesToHex(all);
    EXPECT_EQ(text.size(), 512u);
    EXPECT_EQ(SV::HexToBytes(text), all);

    // Every character, the neighbours of each digit range included, against the digits spelled out.
    const std::string lower = "0123456789abcdef";
    const std::string upper = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
        const size_t inLower = lower.find(static_cast<char>(c));
        const size_t inUpper = upper.find(static_cast<char>(c));
        const int expected = inLower != std::string::npos   ? static_cast<int>(inLower)
                             : inUpper != std::string::npos ? static_cast<int>(inUpper)
                                                            : -1;
        EXPECT_EQ(expected, SV::HexDigitValue(static_cast<char>(c))) << c;
    }
}

TEST(Random, BoundsAndFill) {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(SV::RandomBelow(1), 0u);
    std::set<uint32_t> seen;
    for (int i = 0; i < 200; ++i) {
        uint32_t value = SV::RandomBelow(3);
        EXPECT_LT(value, 3u);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 3u);  // chance of a miss is below 1e-34
    EXPECT_NE(SV::RandomBelow(0), 0xFFFFFFFFu);

    // Every byte of a large request is filled, not just count modulo 256 of them.
    std::vector<unsigned char> buffer(300, 0);
    EXPECT_EQ(SV::FillRandom(buffer.data(), 300), 300);
    int zeros = 0;
    for (size_t i = 256; i < buffer.size(); ++i) zeros += buffer[i] == 0;
    EXPECT_LT(zeros, 10);
    EXPECT_EQ(SV::FillRandom(buffer.data(), -1), -1);

    unsigned char bytes[255] = {};
    EXPECT_TRUE(SV::GetRandomBytes(bytes, 255));
    EXPECT_TRUE(SV::GetRandomBytes(bytes, 0));
}

}  // namespace

TEST(Saturating, SumsStopAtTheLargestValueInsteadOfWrapping) {
    const uint32_t max32 = 0xFFFFFFFFu;
    EXPECT_EQ(SV::SaturatingAdd<uint32_t>(max32 - 1, 1), max32);  // exactly the largest
    EXPECT_EQ(SV::SaturatingAdd<uint32_t>(max32 - 1, 2), max32);  // one past it
    EXPECT_EQ(SV::SaturatingAdd<uint32_t>(max32, max32), max32);
    EXPECT_EQ(SV::SaturatingAdd<uint32_t>(40000, 25), 40025u);
    EXPECT_EQ(SV::SaturatingAdd<uint64_t>(0xFFFFFFFFFFFFFFF0ull, 0x20), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(SV::SaturatingAdd<uint16_t>(0xFFF0, 0x10), 0xFFFF);
}

TEST(Saturating, NarrowingStopsAtTheLargestValueInsteadOfDroppingHighBits) {
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(uint64_t{0xFFFFFFFF}), 0xFFFFFFFFu);   // fits exactly
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(uint64_t{0x100000000}), 0xFFFFFFFFu);  // would be 0
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(uint64_t{0x100000005}), 0xFFFFFFFFu);  // would be 5
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(~uint64_t{0}), 0xFFFFFFFFu);
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(uint64_t{123456}), 123456u);
    EXPECT_EQ(SV::SaturatingNarrow<uint32_t>(uint64_t{0}), 0u);
    EXPECT_EQ(SV::SaturatingNarrow<uint8_t>(uint32_t{256}), 255u);
    EXPECT_EQ(SV::SaturatingNarrow<uint8_t>(uint16_t{200}), 200u);
    EXPECT_EQ(SV::SaturatingNarrow<uint64_t>(uint32_t{0xFFFFFFFF}), 0xFFFFFFFFu);  // widening
    static_assert(SV::SaturatingNarrow<uint16_t>(uint64_t{70000}) == 0xFFFF,
                  "usable at compile time");
}
