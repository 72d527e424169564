#include "engine/core/Crc32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace SarvelonMediaKit {
namespace {

TEST(Crc32Test, MatchesTheMpeg2CheckValueAndZeroesOverItsOwnCrc) {
    const char* check = "123456789";
    const uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(check), std::strlen(check));
    EXPECT_EQ(0x0376E6E7u, crc);  // the published check value of CRC-32/MPEG-2

    uint8_t withCrc[13];
    std::memcpy(withCrc, check, 9);
    withCrc[9] = static_cast<uint8_t>(crc >> 24);
    withCrc[10] = static_cast<uint8_t>(crc >> 16);
    withCrc[11] = static_cast<uint8_t>(crc >> 8);
    withCrc[12] = static_cast<uint8_t>(crc);
    EXPECT_EQ(0u, Crc32(withCrc, sizeof withCrc));
    EXPECT_EQ(0xFFFFFFFFu, Crc32(withCrc, 0));  // the initial value, not inverted
}

}  // namespace
}  // namespace SarvelonMediaKit

namespace SarvelonMediaKit {
namespace {

// The running value carried across pieces gives the whole's CRC, whatever the cut.
TEST(Crc32Test, UpdateCarriesTheRunningValueAcrossPieces) {
    // A program association table section as ffmpeg writes it (program 1 on PID 0x1000):
    // table_id 0, section_syntax_indicator 1 and section_length 13, transport_stream_id 1,
    // version 0 current, section numbers 0 and 0, program 1 -> PID 0x1000, then its CRC_32.
    const uint8_t pat[] = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00,
                           0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2};
    EXPECT_EQ(0x2AB104B2u, Crc32(pat, 12));
    for (size_t cut = 0; cut <= 12; ++cut) {
        const uint32_t first = Crc32Update(pat, cut, 0xFFFFFFFFu);
        EXPECT_EQ(0x2AB104B2u, Crc32Update(pat + cut, 12 - cut, first)) << "cut at " << cut;
    }
    EXPECT_EQ(0u, Crc32Update(pat, sizeof pat, 0xFFFFFFFFu));
    EXPECT_EQ(0x12345678u, Crc32Update(pat, 0, 0x12345678u));  // no bytes: unchanged
    // From another start the step is the plain polynomial division: one byte 0x01 from 0 is
    // the polynomial itself.
    const uint8_t one = 0x01;
    EXPECT_EQ(0x04C11DB7u, Crc32Update(&one, 1, 0));
}

}  // namespace
}  // namespace SarvelonMediaKit
