#include "engine/codecs/PesTimestamp.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {
namespace {

std::vector<uint8_t> Written(uint8_t prefix, uint64_t timestamp) {
    std::vector<uint8_t> out(kPesTimestampSize, 0xAA);
    WritePesTimestamp(prefix, timestamp, out.data());
    return out;
}

// The expected bytes below are laid out by hand from the bit layout of ISO/IEC 13818-1:
// '0010' / '0011' / '0001' (4 bits), PTS[32..30] (3), marker '1', PTS[29..15] (15), marker '1',
// PTS[14..0] (15), marker '1'.

TEST(PesTimestamp, APtsAloneIsWrittenInFiveBytes) {
    // 126000 ticks (1.4 s) = 0x1EC30: bits 32-30 = 0, bits 29-15 = 3, bits 14-0 = 0x6C30.
    const std::vector<uint8_t> expected = {
        0x21,        // '0010', 000, marker
        0x00, 0x07,  // 000 0000 0000 0011, marker
        0xD8, 0x61,  // 110 1100 0011 0000, marker
    };
    EXPECT_EQ(expected, Written(kPesPtsAlonePrefix, 126000));
}

TEST(PesTimestamp, EveryGroupOfBitsLandsInItsPlace) {
    // 0x123456789: bits 32-30 = 100, bits 29-15 = 10 0011 0100 0101 0,
    // bits 14-0 = 110 0111 1000 1001.
    const std::vector<uint8_t> expected = {
        0x29,        // '0010', 100, marker
        0x8D, 0x15,  // 1000 1101 0001 010, marker
        0xCF, 0x13,  // 1100 1111 0001 001, marker
    };
    EXPECT_EQ(expected, Written(kPesPtsAlonePrefix, 0x123456789ull));

    // One bit in each group: bit 30, bit 15, bit 0.
    EXPECT_EQ((std::vector<uint8_t>{0x23, 0x00, 0x01, 0x00, 0x01}),  // '0010', 001, marker; ...
              Written(kPesPtsAlonePrefix, uint64_t{1} << 30));
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x00, 0x03, 0x00, 0x01}),  // ..., 000..001, marker; ...
              Written(kPesPtsAlonePrefix, uint64_t{1} << 15));
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x00, 0x01, 0x00, 0x03}),  // ...; 000..001, marker
              Written(kPesPtsAlonePrefix, 1));
}

TEST(PesTimestamp, EachPrefixAndTheMarkersSurroundTheBits) {
    // A PTS of 0 in front of a DTS: '0011', 000, marker, then zeros with their markers.
    EXPECT_EQ((std::vector<uint8_t>{0x31, 0x00, 0x01, 0x00, 0x01}),
              Written(kPesPtsBeforeDtsPrefix, 0));
    // The largest DTS: '0001', 111, marker, then every bit set.
    EXPECT_EQ((std::vector<uint8_t>{0x1F, 0xFF, 0xFF, 0xFF, 0xFF}),
              Written(kPesDtsPrefix, 0x1FFFFFFFFull));
}

TEST(PesTimestamp, OnlyTheLow33BitsAreWritten) {
    // 2^33 + 1 is written as 1: the bits above 32 must not reach the prefix.
    EXPECT_EQ((std::vector<uint8_t>{0x21, 0x00, 0x01, 0x00, 0x03}),
              Written(kPesPtsAlonePrefix, (uint64_t{1} << 33) + 1));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x00, 0x01, 0x00, 0x01}),
              Written(kPesDtsPrefix, ~uint64_t{0} << 33));
}

TEST(PesTimestamp, ReadsTheValueBackAndStepsOverIt) {
    const uint8_t bytes[] = {0x29, 0x8D, 0x15, 0xCF, 0x13, 0x77};
    ByteReader in(bytes, sizeof bytes);
    EXPECT_EQ(0x123456789ull, ReadPesTimestamp(in));
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(1u, in.Left());

    // Prefix and markers are not checked: the same bits with them cleared read the same.
    const uint8_t bare[] = {0x08, 0x8D, 0x14, 0xCF, 0x12};
    ByteReader bareIn(bare, sizeof bare);
    EXPECT_EQ(0x123456789ull, ReadPesTimestamp(bareIn));

    for (uint64_t value : {uint64_t{0}, uint64_t{126000}, uint64_t{0x1FFFFFFFF}}) {
        const std::vector<uint8_t> written = Written(kPesPtsBeforeDtsPrefix, value);
        ByteReader back(written.data(), written.size());
        EXPECT_EQ(value, ReadPesTimestamp(back));
    }
}

TEST(PesTimestamp, AShortInputFailsTheReader) {
    const uint8_t bytes[] = {0x29, 0x8D, 0x15, 0xCF};
    ByteReader in(bytes, sizeof bytes);
    ReadPesTimestamp(in);
    EXPECT_TRUE(in.Failed());  // the low group is not all there
}

}  // namespace
}  // namespace SarvelonMediaKit
