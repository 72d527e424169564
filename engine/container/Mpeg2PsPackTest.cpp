#include "engine/container/Mpeg2PsPack.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <vector>

namespace SarvelonMediaKit {
namespace {

// A PES of stream 0xE0 without timestamps (9 header bytes) and the given total size.
boost::shared_ptr<Mpeg2PsPes> PesOfSize(uint32_t totalSize) {
    static const std::vector<uint8_t> bytes(70000, 0x22);
    auto pes = boost::make_shared<Mpeg2PsPes>();
    pes->SetStreamId(0xE0);
    EXPECT_TRUE(pes->AddData(bytes.data(), totalSize - 9, false));
    return pes;
}

TEST(Mpeg2PsPackTest, ScrBaseAndExtensionAndMuxRate) {
    Mpeg2PsPack pack;
    pack.SetScr(27000000ull * 10 + 5);  // base 900000, extension 5
    pack.SetMuxRate(0x1234);
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x01, 0xBA,  // pack_start_code
        0x44,                    // '01', SCR base 32-30 = 0, marker, base 29-28 = 0
        0x00,                    // base 27-20
        0xDD,                    // base 19-15, marker, base 14-13
        0xDD,                    // base 12-5
        0x04,                    // base 4-0 = 0, marker, extension 8-7 = 0
        0x0B,                    // extension 6-0 = 5, marker
        0x00, 0x48, 0xD3,        // program_mux_rate 0x1234, two markers
        0xF8,                    // reserved, pack_stuffing_length 0
    };
    EXPECT_EQ(expected, out);
}

TEST(Mpeg2PsPackTest, LargestScrKeepsEveryBit) {
    Mpeg2PsPack pack;
    pack.SetScr(((1ull << 33) - 1) * 300 + 299);
    pack.SetMuxRate(0x3FFFFF);
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    const std::vector<uint8_t> fields = {0x7F, 0xFF, 0xFF, 0xFF, 0xFE,  // SCR base all ones
                                         0x57,                          // extension 299
                                         0xFF, 0xFF, 0xFF};             // rate, markers
    EXPECT_EQ(fields, std::vector<uint8_t>(out.begin() + 4, out.begin() + 13));
}

TEST(Mpeg2PsPackTest, RecordsFollowTheHeaderInOrder) {
    Mpeg2PsPack pack;
    auto header = boost::make_shared<Mpeg2PsSystemHeader>();
    header->AddStreamBound(0xE0, false, 10);
    auto psm = boost::make_shared<Mpeg2PsPsm>();
    psm->AddEsInfo(0xE0, 0x1B);
    pack.SetSystemHeader(header);
    pack.SetPsm(psm);
    pack.AddPes(PesOfSize(30));
    EXPECT_EQ(14u + 15u, pack.GetHeaderSize());
    EXPECT_EQ(29u + 20u + 30u, pack.GetSize(true));  // no padding mode
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    ASSERT_EQ(79u, out.size());
    EXPECT_EQ(0xBB, out[14 + 3]);  // system header after the pack header
    EXPECT_EQ(0xBC, out[29 + 3]);  // then the map
    EXPECT_EQ(0xE0, out[49 + 3]);  // then the PES
}

TEST(Mpeg2PsPackTest, PaddingModeFillsTo2048) {
    struct Case {
        uint32_t content;  // bytes of PES after the 14-byte header
        uint32_t stuffing;
        bool paddingPacket;
    };
    for (const Case& c :
         {Case{2045 - 14, 3, false}, Case{2040 - 14, 0, true}, Case{2048 - 14, 0, false},
          Case{2100 - 14, 0, false}, Case{2047 - 14, 1, false}, Case{2041 - 14, 7, false}}) {
        Mpeg2PsPack pack(1);
        pack.AddPes(PesOfSize(c.content));
        const uint32_t unpadded = 14 + c.content;
        const uint32_t total = unpadded < 2048 ? 2048 : unpadded;
        EXPECT_EQ(total, pack.GetSize(true));
        EXPECT_EQ(unpadded, pack.GetSize(false));
        std::vector<uint8_t> out(total + 10, 0x5A);
        ASSERT_EQ(total, pack.Write(out.data(), static_cast<uint32_t>(out.size()))) << c.content;
        EXPECT_EQ(0xF8 | c.stuffing, out[13]);  // pack_stuffing_length
        for (uint32_t i = 0; i < c.stuffing; ++i) EXPECT_EQ(0xFF, out[14 + i]);
        EXPECT_EQ(0xE0, out[14 + c.stuffing + 3]);  // the PES after the stuffing
        if (c.paddingPacket) {
            const std::vector<uint8_t> padding = {0x00, 0x00, 0x01, 0xBE,  // padding start code
                                                  0x00, 0x02,              // length 8 - 6
                                                  0xFF, 0xFF};             // padding bytes
            EXPECT_EQ(padding,
                      std::vector<uint8_t>(out.begin() + unpadded, out.begin() + unpadded + 8));
        }
        EXPECT_EQ(0x5A, out[total]);  // nothing written beyond the pack
    }
}

TEST(Mpeg2PsPackTest, CapacityCountsThePadding) {
    Mpeg2PsPack pack(1);
    pack.AddPes(PesOfSize(100));
    std::vector<uint8_t> out(2048, 0x5A);
    EXPECT_EQ(0u, pack.Write(out.data(), 2047));  // the content fits, its padding does not
    EXPECT_EQ(std::vector<uint8_t>(2048, 0x5A), out);
    EXPECT_EQ(2048u, pack.Write(out.data(), 2048));

    Mpeg2PsPack plain;
    plain.AddPes(PesOfSize(100));
    EXPECT_EQ(0u, plain.Write(out.data(), 113));
    EXPECT_EQ(114u, plain.Write(out.data(), 114));
}

}  // namespace
}  // namespace SarvelonMediaKit
