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
