#include "engine/container/Mpeg2PsSystemHeader.h"

#include <gtest/gtest.h>

#include <vector>

namespace SarvelonMediaKit {
namespace {

TEST(Mpeg2PsSystemHeaderTest, TwoStreamBoundsMake18Bytes) {
    Mpeg2PsSystemHeader header;
    header.SetRateBound(0x1234);
    header.SetAudioBound(1);
    header.SetVideoBound(1);
    header.SetFixedFlag(false);
    header.SetCspsFlag(false);
    header.SetSystemAudioLockFlag(true);
    header.SetSystemVideoLockFlag(true);
    header.SetPacketRateRestrictionFlag(false);
    header.AddStreamBound(0xE0, false, 232);  // units of 1024 bytes: the scale bit
    header.AddStreamBound(0xC0, true, 32);    // units of 128 bytes
    ASSERT_EQ(18u, header.GetSize());
    std::vector<uint8_t> out(18);
    ASSERT_EQ(18u, header.Write(out.data(), 18));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01, 0xBB,  // system_header_start_code
        0x00, 0x0C,              // header_length 12
        0x80, 0x24, 0x69,        // marker, rate_bound 0x1234, marker
        0x04,                    // audio_bound 1, fixed_flag 0, CSPS_flag 0
        0xE1,                    // audio lock, video lock, marker, video_bound 1
        0x7F,                    // packet_rate_restriction_flag 0, reserved
        0xE0, 0xE0, 0xE8,        // stream 0xE0: '11', scale 1, bound 232
        0xC0, 0xC0, 0x20,        // stream 0xC0: '11', scale 0, bound 32
    };
    EXPECT_EQ(expected, out);
}

TEST(Mpeg2PsSystemHeaderTest, FlagsBoundRewritesAndDefaults) {
    Mpeg2PsSystemHeader header;
    header.SetFixedFlag(true);
    header.SetCspsFlag(true);
    header.SetPacketRateRestrictionFlag(true);
    header.AddStreamBound(0xBC, false, 0);
    header.AddStreamBound(0xE0, true, 5);
    header.SetStreamBound(0xE0, false, 0x1FFF);
    header.SetStreamBound(0xC5, false, 1);  // no such stream: nothing
    std::vector<uint8_t> out(header.GetSize());
    ASSERT_EQ(18u, header.Write(out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(0x80, out[6]);  // rate_bound 0 between the markers
    EXPECT_EQ(0x00, out[7]);
    EXPECT_EQ(0x01, out[8]);
    EXPECT_EQ(0x03, out[9]);   // audio_bound 0, fixed_flag, CSPS_flag
    EXPECT_EQ(0x20, out[10]);  // no locks, marker, video_bound 0
    EXPECT_EQ(0xFF, out[11]);  // packet_rate_restriction_flag set
    EXPECT_EQ(0xBC, out[12]);
    EXPECT_EQ(0xE0, out[13]);  // scale 1, bound 0
    EXPECT_EQ(0x00, out[14]);
    EXPECT_EQ(0xE0, out[15]);
    EXPECT_EQ(0xFF, out[16]);  // '11', scale 1, bound 0x1FFF
    EXPECT_EQ(0xFF, out[17]);
    EXPECT_EQ(0u, header.Write(out.data(), 17));
}

}  // namespace
}  // namespace SarvelonMediaKit
