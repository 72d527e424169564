#include "engine/container/Mpeg2PsRecordPackets.h"

#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
}  // namespace SarvelonMediaKit
