#include "engine/container/Mpeg2PsPes.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {
namespace {

// An audio packet with a PTS only, of the largest 33-bit value, as written and as read below.
const std::vector<uint8_t> kAudioPes = {
    0x00, 0x00, 0x01, 0xC0,        // start code, stream_id
    0x00, 0x0A,                    // PES_packet_length: 3 + 5 + 2
    0x80,                          // '10', no alignment
    0x80,                          // PTS only
    0x05,                          // PES_header_data_length
    0x2F, 0xFF, 0xFF, 0xFF, 0xFF,  // '0010', all 33 bits set, markers
    0xFF, 0xF1,                    // payload
};

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
    EXPECT_EQ(kAudioPes, Written(pes));
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

// Reads one packet from the front of bytes; the reader's position afterwards in *position.
bool ReadPes(const std::vector<uint8_t>& bytes, Mpeg2PsPes& pes, size_t* position = nullptr) {
    ByteReader in(bytes.data(), bytes.size());
    const bool ok = pes.Read(in);
    if (position) *position = in.Position();
    return ok;
}

TEST(Mpeg2PsPesTest, ReadGivesTheFieldsAndWritesTheSameBytes) {
    const std::vector<uint8_t> video = {
        0x00, 0x00, 0x01,                    // packet_start_code_prefix
        0xE0,                                // stream_id
        0x00, 0x13,                          // PES_packet_length: 3 + 10 + 6
        0xA4,                                // '10', scrambling 2, data_alignment_indicator
        0xC0,                                // PTS_DTS_flags '11'
        0x0A,                                // PES_header_data_length
        0x31, 0x00, 0x37, 0x77, 0x41,        // '0011', PTS 900000 with its markers
        0x11, 0x00, 0x37, 0x59, 0xF5,        // '0001', DTS 896250 with its markers
        0x00, 0x00, 0x00, 0x01, 0x09, 0xF0,  // payload
    };
    Mpeg2PsPes pes;
    size_t position = 0;
    ASSERT_TRUE(ReadPes(video, pes, &position));
    EXPECT_EQ(video.size(), position);
    EXPECT_EQ(0xE0, pes.GetStreamId());
    EXPECT_TRUE(pes.HasPts());
    EXPECT_EQ(900000u, pes.GetPts());
    EXPECT_TRUE(pes.HasDts());
    EXPECT_EQ(896250u, pes.GetDts());
    EXPECT_TRUE(pes.GetDataAlignment());
    EXPECT_EQ(2, pes.GetScramblingControl());
    EXPECT_EQ(std::vector<uint8_t>({0x00, 0x00, 0x00, 0x01, 0x09, 0xF0}), pes.GetPayload());
    EXPECT_EQ(video, Written(pes));

    ASSERT_TRUE(ReadPes(kAudioPes, pes));
    EXPECT_EQ(0xC0, pes.GetStreamId());
    EXPECT_TRUE(pes.HasPts());
    EXPECT_EQ(0x1FFFFFFFFull, pes.GetPts());
    EXPECT_FALSE(pes.HasDts());
    EXPECT_FALSE(pes.GetDataAlignment());
    EXPECT_EQ(0, pes.GetScramblingControl());
    EXPECT_EQ(kAudioPes, Written(pes));

    const std::vector<uint8_t> metadata = {0x00, 0x00, 0x01, 0xF1,  // start code, stream_id
                                           0x00, 0x05,              // PES_packet_length
                                           0x84, 0x00, 0x00,        // aligned, no timestamps
                                           0x12, 0x34};             // payload
    ASSERT_TRUE(ReadPes(metadata, pes));
    EXPECT_FALSE(pes.HasPts());
    EXPECT_TRUE(pes.GetDataAlignment());
    EXPECT_EQ(std::vector<uint8_t>({0x12, 0x34}), pes.GetPayload());
    EXPECT_EQ(metadata, Written(pes));
}

TEST(Mpeg2PsPesTest, ReadOfStreamsWithoutTheOptionalHeaderAndPadding) {
    const std::vector<uint8_t> index = {0x00, 0x00, 0x01, 0xBF,   // start code, private stream 2
                                        0x00, 0x04,               // PES_packet_length
                                        'I',  'D',  'M',  'i',    // payload, no header fields
                                        0x00, 0x00, 0x01, 0xBA};  // the next record: not read
    Mpeg2PsPes pes;
    size_t position = 0;
    ASSERT_TRUE(ReadPes(index, pes, &position));
    EXPECT_EQ(10u, position);
    EXPECT_EQ(0xBF, pes.GetStreamId());
    EXPECT_FALSE(pes.HasPts());
    EXPECT_EQ(std::vector<uint8_t>({'I', 'D', 'M', 'i'}), pes.GetPayload());
    EXPECT_EQ(std::vector<uint8_t>(index.begin(), index.begin() + 10), Written(pes));

    const std::vector<uint8_t> padding = {0x00, 0x00, 0x01, 0xBE,  // padding start code
                                          0x00, 0x02,              // PES_packet_length
                                          0xFF, 0xFF};             // padding bytes
    ASSERT_TRUE(ReadPes(padding, pes));
    EXPECT_EQ(0xBE, pes.GetStreamId());
    EXPECT_EQ(8u, pes.GetSize());
    EXPECT_EQ(padding, Written(pes));

    const std::vector<uint8_t> empty = {0x00, 0x00, 0x01, 0xBE, 0x00, 0x00};  // length 0
    ASSERT_TRUE(ReadPes(empty, pes));
    EXPECT_TRUE(pes.GetPayload().empty());
    EXPECT_EQ(empty, Written(pes));
}

TEST(Mpeg2PsPesTest, ReadStepsOverHeaderFieldsItDoesNotKeep) {
    const std::vector<uint8_t> bytes = {
        0x00, 0x00, 0x01, 0xE0,        // start code, stream_id
        0x00, 0x0F,                    // PES_packet_length: 3 + 10 + 2
        0x81,                          // '10', original_or_copy
        0xA0,                          // PTS only, ESCR_flag
        0x0A,                          // PES_header_data_length
        0x21, 0x00, 0x01, 0x00, 0x03,  // '0010', PTS 1
        0x44, 0x00, 0x04, 0x00, 0x04,  // ESCR: stepped over
        0xAB, 0xCD,                    // payload
    };
    Mpeg2PsPes pes;
    ASSERT_TRUE(ReadPes(bytes, pes));
    EXPECT_EQ(1u, pes.GetPts());
    EXPECT_EQ(std::vector<uint8_t>({0xAB, 0xCD}), pes.GetPayload());
    const std::vector<uint8_t> written = {0x00, 0x00, 0x01, 0xE0,        // start code, stream_id
                                          0x00, 0x0A,                    // 3 + 5 + 2
                                          0x81,                          // first flag byte kept
                                          0x80,                          // PTS only
                                          0x05,                          // one timestamp
                                          0x21, 0x00, 0x01, 0x00, 0x03,  // PTS 1
                                          0xAB, 0xCD};                   // payload
    EXPECT_EQ(written, Written(pes));
}

TEST(Mpeg2PsPesTest, ReadRefusesWhatIsNotAWholePacket) {
    const std::vector<uint8_t> good = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x05,  // video, length 5
                                       0x80, 0x00, 0x00, 0x77, 0x88};       // flags, payload
    struct Case {
        const char* name;
        size_t at;  // byte to replace, or the size to cut to when value < 0
        int value;
    };
    const Case cases[] = {
        {"no start code", 2, 0x02},
        {"a pack start code", 3, 0xBA},
        {"length beyond the bytes", 5, 0x06},
        {"cut short", 10, -1},
        {"flags without '10'", 6, 0x40},
        {"PTS_DTS_flags '01'", 7, 0x40},
        {"timestamp beyond the header", 7, 0x80},
        {"header beyond the packet", 8, 0x03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        if (c.value < 0)
            bytes.resize(c.at);
        else
            bytes[c.at] = static_cast<uint8_t>(c.value);
        Mpeg2PsPes pes;
        pes.SetStreamId(0xC5);
        size_t position = 99;
        EXPECT_FALSE(ReadPes(bytes, pes, &position));
        EXPECT_EQ(0u, position);             // the reader is left where it was
        EXPECT_EQ(0xC5, pes.GetStreamId());  // and the packet as it was
    }
    Mpeg2PsPes pes;
    ASSERT_TRUE(ReadPes(good, pes));
    EXPECT_EQ(good, Written(pes));
}

}  // namespace
}  // namespace SarvelonMediaKit
