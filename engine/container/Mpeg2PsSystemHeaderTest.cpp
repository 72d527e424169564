#include "engine/container/Mpeg2PsSystemHeader.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/codecs/ByteReader.h"

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

// 18 bytes as written for a video and an audio stream.
const std::vector<uint8_t> kTwoStreams = {
    0x00, 0x00, 0x01, 0xBB,  // system_header_start_code
    0x00, 0x0C,              // header_length 12
    0x80, 0x24, 0x69,        // marker, rate_bound 0x1234, marker
    0x07,                    // audio_bound 1, fixed_flag 1, CSPS_flag 1
    0xA1,                    // audio lock, no video lock, marker, video_bound 1
    0xFF,                    // packet_rate_restriction_flag 1, reserved
    0xE0, 0xE0, 0xE8,        // stream 0xE0: '11', scale 1, bound 232
    0xC0, 0xC0, 0x20,        // stream 0xC0: '11', scale 0, bound 32
};

TEST(Mpeg2PsSystemHeaderTest, ReadGivesTheFieldsAndWritesTheSameBytes) {
    std::vector<uint8_t> bytes = kTwoStreams;
    bytes.push_back(0x00);  // the next record: not read
    ByteReader in(bytes.data(), bytes.size());
    Mpeg2PsSystemHeader header;
    ASSERT_TRUE(header.Read(in));
    EXPECT_EQ(18u, in.Position());
    EXPECT_EQ(0x1234u, header.GetRateBound());
    EXPECT_EQ(1, header.GetAudioBound());
    EXPECT_EQ(1, header.GetVideoBound());
    EXPECT_TRUE(header.GetFixedFlag());
    EXPECT_TRUE(header.GetCspsFlag());
    EXPECT_TRUE(header.GetSystemAudioLockFlag());
    EXPECT_FALSE(header.GetSystemVideoLockFlag());
    EXPECT_TRUE(header.GetPacketRateRestrictionFlag());
    const std::vector<std::pair<uint8_t, uint16_t>> bounds = {
        {0xE0, 0x8000 | 232},  // units of 1024 bytes
        {0xC0, 32},            // units of 128 bytes
    };
    EXPECT_EQ(bounds, header.GetStreamBounds());

    std::vector<uint8_t> out(header.GetSize());
    ASSERT_EQ(18u, header.Write(out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(kTwoStreams, out);

    // Without stream bounds: 12 bytes.
    const std::vector<uint8_t> bare = {0x00, 0x00, 0x01, 0xBB,  // start code
                                       0x00, 0x06,              // header_length 6
                                       0xFF, 0xFF, 0xFF,        // rate_bound 0x3FFFFF, markers
                                       0x00,                    // no bounds, no flags
                                       0x3F,                    // marker, video_bound 31
                                       0x7F};                   // no restriction
    ByteReader bareIn(bare.data(), bare.size());
    ASSERT_TRUE(header.Read(bareIn));
    EXPECT_EQ(0x3FFFFFu, header.GetRateBound());
    EXPECT_EQ(31, header.GetVideoBound());
    EXPECT_FALSE(header.GetSystemAudioLockFlag());
    EXPECT_TRUE(header.GetStreamBounds().empty());
    out.assign(header.GetSize(), 0);
    ASSERT_EQ(12u, header.Write(out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(bare, out);
}

TEST(Mpeg2PsSystemHeaderTest, ReadRefusesWhatIsNotAWholeHeader) {
    struct Case {
        const char* name;
        size_t at;  // byte to replace, or the size to cut to when value < 0
        int value;
    };
    const Case cases[] = {
        {"another start code", 3, 0xBA},
        {"header_length beyond the bytes", 5, 0x0F},
        {"header_length not 6 + 3n", 5, 0x0B},
        {"header_length below 6", 5, 0x05},
        {"cut short", 17, -1},
        {"first rate marker clear", 6, 0x00},
        {"last rate marker clear", 8, 0x68},
        {"marker before video_bound clear", 10, 0x81},
        {"stream bound without '11'", 13, 0x60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = kTwoStreams;
        if (c.value < 0)
            bytes.resize(c.at);
        else
            bytes[c.at] = static_cast<uint8_t>(c.value);
        ByteReader in(bytes.data(), bytes.size());
        Mpeg2PsSystemHeader header;
        header.SetRateBound(77);
        EXPECT_FALSE(header.Read(in));
        EXPECT_EQ(0u, in.Position());  // the reader is left where it was
        EXPECT_FALSE(in.Failed());
        EXPECT_EQ(77u, header.GetRateBound());  // and the header as it was
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
