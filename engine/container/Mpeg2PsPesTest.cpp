#include "engine/container/Mpeg2PsPes.h"

#include <gtest/gtest.h>

#include <vector>

namespace SarvelonMediaKit {
namespace {

std::vector<uint8_t> Written(const Mpeg2PsPes& pes) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(pes.AppendTo(out));
    return out;
}

TEST(Mpeg2PsPesTest, VideoPacketWithPtsAndDts) {
    Mpeg2PsPes pes;
    pes.SetStreamId(0xE0);
    pes.SetPts(900000);
    pes.SetDts(896250);
    pes.SetDataAlignment(true);
    const uint8_t payload[] = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};
    ASSERT_TRUE(pes.AddData(payload, sizeof payload, false));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01,                    // packet_start_code_prefix
        0xE0,                                // stream_id
        0x00, 0x13,                          // PES_packet_length: 3 + 10 + 6
        0x84,                                // '10', not scrambled, data_alignment_indicator
        0xC0,                                // PTS_DTS_flags '11'
        0x0A,                                // PES_header_data_length
        0x31, 0x00, 0x37, 0x77, 0x41,        // '0011', PTS 900000 with its markers
        0x11, 0x00, 0x37, 0x59, 0xF5,        // '0001', DTS 896250 with its markers
        0x00, 0x00, 0x00, 0x01, 0x09, 0xF0,  // payload
    };
    EXPECT_EQ(expected, Written(pes));
    EXPECT_EQ(19u, pes.GetHeaderSize());
}

TEST(Mpeg2PsPesTest, AudioPacketWithPtsOnlyAndTheLargest33BitValue) {
    Mpeg2PsPes pes;
    pes.SetStreamId(0xC0);
    pes.SetPts(0x1FFFFFFFFull);
    const uint8_t payload[] = {0xFF, 0xF1};
    ASSERT_TRUE(pes.AddData(payload, sizeof payload, true));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01, 0xC0,        // start code, stream_id
        0x00, 0x0A,                    // PES_packet_length: 3 + 5 + 2
        0x80,                          // '10', no alignment
        0x80,                          // PTS only
        0x05,                          // PES_header_data_length
        0x2F, 0xFF, 0xFF, 0xFF, 0xFF,  // '0010', all 33 bits set, markers
        0xFF, 0xF1,                    // payload
    };
    EXPECT_EQ(expected, Written(pes));
}

TEST(Mpeg2PsPesTest, StreamsWithoutTheOptionalHeaderDropFlagsAndTimestamps) {
    for (uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF2, 0xF8, 0xFF}) {
        Mpeg2PsPes pes;
        pes.SetStreamId(id);
        pes.SetPts(1234);
        pes.SetDataAlignment(true);
        const uint8_t payload[] = {'I', 'D', 'M', 'i'};
        ASSERT_TRUE(pes.AddData(payload, 4, false));
        const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, id,  // start code, stream_id
                                               0x00, 0x04,            // PES_packet_length
                                               'I',  'D',  'M',  'i'};
        EXPECT_EQ(expected, Written(pes)) << "stream id " << int(id);
    }
    // The metadata stream keeps the optional header.
    Mpeg2PsPes metadata;
    metadata.SetStreamId(0xF1);
    metadata.SetDataAlignment(true);
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0xF1,  // start code, stream_id
                                           0x00, 0x03,              // PES_packet_length
                                           0x84, 0x00, 0x00};       // flags, no timestamps
    EXPECT_EQ(expected, Written(metadata));
}

TEST(Mpeg2PsPesTest, ScramblingControlReplacesBitsSixToFour) {
    Mpeg2PsPes pes;
    pes.SetStreamId(0xE0);
    pes.SetDataAlignment(true);
    pes.SetScramblingControl(7);  // only the low two bits count
    EXPECT_EQ(0xB4, Written(pes)[6]);
    pes.SetScramblingControl(0);
    pes.SetDataAlignment(false);
    EXPECT_EQ(0x80, Written(pes)[6]);
}

TEST(Mpeg2PsPesTest, PayloadFillsTheSizeLimitExactly) {
    const std::vector<uint8_t> big(70000, 0xAB);

    Mpeg2PsPes unlimited;
    unlimited.SetStreamId(0xE0);
    EXPECT_EQ(65541 - 9, unlimited.GetFreeSpace());
    EXPECT_FALSE(unlimited.AddData(big.data(), 65541 - 9 + 1, false));
    ASSERT_TRUE(unlimited.AddData(big.data(), 65541 - 9, false));
    EXPECT_EQ(0, unlimited.GetFreeSpace());
    EXPECT_FALSE(unlimited.AddData(big.data(), 1, false));
    EXPECT_TRUE(unlimited.AddData(big.data(), 0, false));  // nothing to add is fine
    std::vector<uint8_t> out = Written(unlimited);
    ASSERT_EQ(65541u, out.size());
    EXPECT_EQ(0xFF, out[4]);  // PES_packet_length 65535
    EXPECT_EQ(0xFF, out[5]);

    Mpeg2PsPes limited(100);
    limited.SetStreamId(0xC0);
    ASSERT_TRUE(limited.AddData(big.data(), 50, false));
    ASSERT_TRUE(limited.AddData(big.data(), 41, true));  // exactly the free space
    EXPECT_FALSE(limited.AddData(big.data(), 1, true));
    EXPECT_EQ(100u, limited.GetSize());

    // A limit beyond what the length field can describe falls back to 65541.
    Mpeg2PsPes tooLarge(200000);
    tooLarge.SetStreamId(0xE0);
    EXPECT_FALSE(tooLarge.AddData(big.data(), 66000, false));
}

TEST(Mpeg2PsPesTest, APacketThatOutgrowsItsLengthFieldIsNotWritten) {
    // The payload fills the packet, then a timestamp makes the header 5 bytes longer.
    const std::vector<uint8_t> big(65541 - 9, 0x11);
    Mpeg2PsPes pes;
    pes.SetStreamId(0xE0);
    ASSERT_TRUE(pes.AddData(big.data(), static_cast<uint32_t>(big.size()), false));
    pes.SetPts(1);
    EXPECT_LT(pes.GetFreeSpace(), 0);
    std::vector<uint8_t> out(70000);
    EXPECT_EQ(0u, pes.Write(out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_EQ(0u, pes.WriteHeader(out.data(), static_cast<uint32_t>(out.size())));
}

TEST(Mpeg2PsPesTest, WritesNothingBeyondTheCapacity) {
    Mpeg2PsPes pes;
    pes.SetStreamId(0xE0);
    pes.SetPts(0);
    const uint8_t payload[10] = {};
    ASSERT_TRUE(pes.AddData(payload, sizeof payload, false));
    std::vector<uint8_t> out(24, 0x5A);
    EXPECT_EQ(0u, pes.Write(out.data(), 23));        // 24 bytes needed
    EXPECT_EQ(std::vector<uint8_t>(24, 0x5A), out);  // untouched
    EXPECT_EQ(0u, pes.WriteHeader(out.data(), 13));  // header is 14
    EXPECT_EQ(14u, pes.WriteHeader(out.data(), 14));
    EXPECT_EQ(24u, pes.Write(out.data(), 24));
}

TEST(Mpeg2PsPesTest, CopiedPayloadSurvivesTheCallerAndRecordCopies) {
    Mpeg2PsPes copy;
    {
        Mpeg2PsPes pes;
        pes.SetStreamId(0xBF);
        std::vector<uint8_t> temporary = {1, 2, 3};
        ASSERT_TRUE(pes.AddData(temporary.data(), 3, true));
        temporary.assign(3, 0);
        copy = pes;  // the copy holds bytes of its own
    }
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0xBF, 0x00, 0x03, 1, 2, 3};
    EXPECT_EQ(expected, Written(copy));

    Mpeg2PsPes moved;
    moved = std::move(copy);
    EXPECT_EQ(expected, Written(moved));
}

}  // namespace
}  // namespace SarvelonMediaKit
