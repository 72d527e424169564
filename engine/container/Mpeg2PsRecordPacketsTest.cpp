#include "engine/container/Mpeg2PsRecordPackets.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {
namespace {

std::vector<uint8_t> Record(size_t n) {
    std::vector<uint8_t> record(n);
    for (size_t i = 0; i < n; ++i) record[i] = static_cast<uint8_t>(i * 7);
    return record;
}

TEST(Mpeg2PsRecordPacketsTest, MetadataBlockPacketsAlignOnlyTheFirst) {
    const std::vector<uint8_t> record = Record(100);
    auto packets = MakeRecordPackets(0xF1, record, 40);
    ASSERT_EQ(4u, packets.size());  // 31 + 31 + 31 + 7 payload bytes
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < packets.size(); ++i) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(packets[i]->AppendTo(bytes));
        EXPECT_LE(bytes.size(), 40u);
        EXPECT_EQ(0xF1, bytes[3]);
        EXPECT_EQ(i == 0 ? 0x84 : 0x80, bytes[6]) << i;  // data_alignment_indicator
        payload.insert(payload.end(), bytes.begin() + 9, bytes.end());
    }
    EXPECT_EQ(record, payload);
}

TEST(Mpeg2PsRecordPacketsTest, IndexEntryPacketsCarryAtLeastTheEntryHeaderFirst) {
    const std::vector<uint8_t> record = Record(30);
    auto packets = MakeRecordPackets(0xBF, record, 10);  // raised to 6 + 12
    ASSERT_EQ(3u, packets.size());
    std::vector<uint8_t> payload;
    for (const auto& pes : packets) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(pes->AppendTo(bytes));
        EXPECT_EQ(0xBF, bytes[3]);
        payload.insert(payload.end(), bytes.begin() + 6, bytes.end());
    }
    EXPECT_EQ(record, payload);
    EXPECT_EQ(18u, packets[0]->GetSize());

    // Without a limit of its own a packet takes up to 65535 payload bytes.
    auto large = MakeRecordPackets(0xBF, Record(65536), 0);
    ASSERT_EQ(2u, large.size());
    EXPECT_EQ(65541u, large[0]->GetSize());
    EXPECT_EQ(7u, large[1]->GetSize());
    EXPECT_TRUE(MakeRecordPackets(0xBF, {}, 0).empty());
}

// The bytes of every packet, one after the other.
std::vector<uint8_t> Written(const std::vector<boost::shared_ptr<Mpeg2PsPes>>& packets) {
    std::vector<uint8_t> out;
    for (const auto& pes : packets) EXPECT_TRUE(pes->AppendTo(out));
    return out;
}

// A record gathered back from its packets, as a reader of the header section does: the
// payloads of consecutive packets of one stream. alignment receives each packet's
// data_alignment_indicator.
std::vector<uint8_t> Gathered(const std::vector<uint8_t>& bytes, uint8_t streamId,
                              std::vector<bool>& alignment) {
    std::vector<uint8_t> record;
    ByteReader in(bytes.data(), bytes.size());
    while (in.Left() > 0) {
        Mpeg2PsPes pes;
        if (!pes.Read(in)) {
            ADD_FAILURE() << "no packet at byte " << in.Position();
            break;
        }
        EXPECT_EQ(streamId, pes.GetStreamId());
        alignment.push_back(pes.GetDataAlignment());
        const std::vector<uint8_t> payload = pes.GetPayload();
        record.insert(record.end(), payload.begin(), payload.end());
    }
    return record;
}

TEST(Mpeg2PsRecordPacketsTest, MetadataBlockPacketsReadBackAndWriteTheSameBytes) {
    std::vector<uint8_t> golden = {
        0x00, 0x00, 0x01, 0xF1,  // start code, metadata stream
        0x00, 0x0F,              // PES_packet_length 15 (the limit 15 is raised to 9 + 12)
        0x84, 0x00, 0x00,        // '10', data_alignment_indicator: the block starts here
    };
    const std::vector<uint8_t> record = Record(20);
    golden.insert(golden.end(), record.begin(), record.begin() + 12);  // bytes 0-11
    const std::vector<uint8_t> second = {
        0x00, 0x00, 0x01, 0xF1,  // start code, metadata stream
        0x00, 0x0B,              // PES_packet_length 11
        0x80, 0x00, 0x00,        // '10', not aligned: the block goes on
    };
    golden.insert(golden.end(), second.begin(), second.end());
    golden.insert(golden.end(), record.begin() + 12, record.end());  // bytes 12-19

    std::vector<bool> alignment;
    const std::vector<uint8_t> read = Gathered(golden, 0xF1, alignment);
    EXPECT_EQ(record, read);
    EXPECT_EQ(std::vector<bool>({true, false}), alignment);
    EXPECT_EQ(golden, Written(MakeRecordPackets(0xF1, read, 15)));
}

TEST(Mpeg2PsRecordPacketsTest, IndexEntryPacketsReadBackAndWriteTheSameBytes) {
    std::vector<uint8_t> golden = {
        0x00, 0x00, 0x01, 0xBF,  // start code, private stream 2
        0x00, 0x0C,              // PES_packet_length 12 (the limit 10 is raised to 6 + 12)
    };
    const std::vector<uint8_t> record = Record(20);
    golden.insert(golden.end(), record.begin(), record.begin() + 12);  // bytes 0-11
    const std::vector<uint8_t> second = {
        0x00, 0x00, 0x01, 0xBF,  // start code, private stream 2
        0x00, 0x08,              // PES_packet_length 8
    };
    golden.insert(golden.end(), second.begin(), second.end());
    golden.insert(golden.end(), record.begin() + 12, record.end());  // bytes 12-19

    std::vector<bool> alignment;
    const std::vector<uint8_t> read = Gathered(golden, 0xBF, alignment);
    EXPECT_EQ(record, read);
    EXPECT_EQ(std::vector<bool>({false, false}), alignment);  // no flags in this stream
    EXPECT_EQ(golden, Written(MakeRecordPackets(0xBF, read, 10)));
}

}  // namespace
}  // namespace SarvelonMediaKit
