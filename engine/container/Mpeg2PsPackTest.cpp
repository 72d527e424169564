#include "engine/container/Mpeg2PsPack.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <vector>

#include "engine/codecs/ByteReader.h"

namespace SarvelonMediaKit {
namespace {

// The header of a pack with SCR 27000000 * 10 + 5 and mux rate 0x1234, as written and as read
// below.
const std::vector<uint8_t> kPackHeader = {
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
    EXPECT_EQ(kPackHeader, out);
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

// The 14-byte header of a pack with SCR 0, mux rate 0x1234 and that many stuffing bytes.
std::vector<uint8_t> HeaderOfScrZero(uint8_t stuffing) {
    std::vector<uint8_t> header = {
        0x00,
        0x00,
        0x01,
        0xBA,  // pack_start_code
        0x44,
        0x00,
        0x04,
        0x00,
        0x04,
        0x01,  // '01', SCR base 0, extension 0, markers
        0x00,
        0x48,
        0xD3,                                   // program_mux_rate 0x1234, two markers
        static_cast<uint8_t>(0xF8 | stuffing),  // reserved, pack_stuffing_length
    };
    header.insert(header.end(), stuffing, 0xFF);  // stuffing bytes
    return header;
}

// A PES packet of stream 0xE0 without timestamps and the given total size, payload 0x22.
std::vector<uint8_t> VideoPacketOfSize(uint32_t totalSize) {
    std::vector<uint8_t> packet = {
        0x00,
        0x00,
        0x01,
        0xE0,                                        // start code, stream_id
        static_cast<uint8_t>((totalSize - 6) >> 8),  // PES_packet_length
        static_cast<uint8_t>(totalSize - 6),
        0x80,
        0x00,
        0x00,  // '10', no timestamps, no header data
    };
    packet.insert(packet.end(), totalSize - 9, 0x22);  // payload
    return packet;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

bool ReadPack(const std::vector<uint8_t>& bytes, Mpeg2PsPack& pack, size_t* position = nullptr) {
    ByteReader in(bytes.data(), bytes.size());
    const bool ok = pack.Read(in);
    if (position) *position = in.Position();
    return ok;
}

TEST(Mpeg2PsPackTest, ReadGivesTheHeaderFieldsAndWritesTheSameBytes) {
    Mpeg2PsPack pack;
    size_t position = 0;
    ASSERT_TRUE(ReadPack(kPackHeader, pack, &position));
    EXPECT_EQ(14u, position);
    EXPECT_EQ(27000000ull * 10 + 5, pack.GetScr());  // base 900000, extension 5
    EXPECT_EQ(0x1234u, pack.GetMuxRate());
    EXPECT_FALSE(pack.GetSystemHeader());
    EXPECT_TRUE(pack.GetPes().empty());
    EXPECT_EQ(0u, pack.GetPaddingMode());
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    EXPECT_EQ(kPackHeader, out);

    const std::vector<uint8_t> largest = {
        0x00, 0x00, 0x01, 0xBA,        // pack_start_code
        0x7F, 0xFF, 0xFF, 0xFF, 0xFE,  // SCR base all ones, markers, extension 8-7
        0x57,                          // extension 6-0 (299 in all), marker
        0xFF, 0xFF, 0xFF,              // program_mux_rate 0x3FFFFF, markers
        0xF8,                          // no stuffing
    };
    ASSERT_TRUE(ReadPack(largest, pack));
    EXPECT_EQ(((1ull << 33) - 1) * 300 + 299, pack.GetScr());
    EXPECT_EQ(0x3FFFFFu, pack.GetMuxRate());
    out.clear();
    ASSERT_TRUE(pack.AppendTo(out));
    EXPECT_EQ(largest, out);
}

TEST(Mpeg2PsPackTest, ReadTakesTheRecordsUpToTheNextPack) {
    const std::vector<uint8_t> systemHeader = {
        0x00, 0x00, 0x01, 0xBB,  // system_header_start_code
        0x00, 0x09,              // header_length 9
        0x80, 0x00, 0x01,        // marker, rate_bound 0, marker
        0x04,                    // audio_bound 1
        0x21,                    // marker, video_bound 1
        0x7F,                    // reserved
        0xE0, 0xE0, 0x0A,        // stream 0xE0: '11', scale 1, bound 10
    };
    const std::vector<uint8_t> index = {0x00, 0x00, 0x01, 0xBF,  // private stream 2
                                        0x00, 0x02,              // PES_packet_length
                                        0x49, 0x44};             // payload
    const std::vector<uint8_t> next = {0x00, 0x00, 0x01, 0xBA};  // the next pack
    const std::vector<uint8_t> pack1 =
        Concat({HeaderOfScrZero(0), systemHeader, VideoPacketOfSize(30), index});
    for (const auto& after : {next, std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB9},  // end code
                              std::vector<uint8_t>{0x47}, std::vector<uint8_t>{}}) {
        Mpeg2PsPack pack;
        size_t position = 0;
        ASSERT_TRUE(ReadPack(Concat({pack1, after}), pack, &position));
        EXPECT_EQ(pack1.size(), position);
        EXPECT_EQ(0u, pack.GetScr());
        ASSERT_TRUE(pack.GetSystemHeader());
        ASSERT_EQ(1u, pack.GetSystemHeader()->GetStreamBounds().size());
        EXPECT_EQ(0xE0, pack.GetSystemHeader()->GetStreamBounds()[0].first);
        ASSERT_EQ(2u, pack.GetPes().size());
        EXPECT_EQ(0xE0, pack.GetPes()[0]->GetStreamId());
        EXPECT_EQ(30u, pack.GetPes()[0]->GetSize());
        EXPECT_EQ(0xBF, pack.GetPes()[1]->GetStreamId());
        std::vector<uint8_t> out;
        ASSERT_TRUE(pack.AppendTo(out));
        EXPECT_EQ(pack1, out);
    }
}

TEST(Mpeg2PsPackTest, ReadOfPaddedPacksGivesPaddingModeOne) {
    // Three bytes short of 2048: stuffing in the header.
    const std::vector<uint8_t> stuffed = Concat({HeaderOfScrZero(3), VideoPacketOfSize(2031)});
    // Eight or more short: a padding packet at the end.
    std::vector<uint8_t> paddingPacket = {0x00, 0x00, 0x01, 0xBE,  // padding start code
                                          0x00, 0x0A};             // PES_packet_length 10
    paddingPacket.insert(paddingPacket.end(), 10, 0xFF);           // padding bytes
    const std::vector<uint8_t> padded =
        Concat({HeaderOfScrZero(0), VideoPacketOfSize(2018), paddingPacket});
    ASSERT_EQ(2048u, stuffed.size());
    ASSERT_EQ(2048u, padded.size());
    for (const auto& bytes : {stuffed, padded}) {
        Mpeg2PsPack pack;
        ASSERT_TRUE(ReadPack(bytes, pack));
        EXPECT_EQ(1u, pack.GetPaddingMode());
        ASSERT_EQ(1u, pack.GetPes().size());  // the padding packet is the writer's to make
        EXPECT_EQ(0xE0, pack.GetPes()[0]->GetStreamId());
        std::vector<uint8_t> out;
        ASSERT_TRUE(pack.AppendTo(out));
        EXPECT_EQ(bytes, out);
    }

    // A padding packet in a pack of another size is a record of its own.
    const std::vector<uint8_t> small = Concat({HeaderOfScrZero(0), paddingPacket});
    Mpeg2PsPack pack;
    ASSERT_TRUE(ReadPack(small, pack));
    EXPECT_EQ(0u, pack.GetPaddingMode());
    ASSERT_EQ(1u, pack.GetPes().size());
    EXPECT_EQ(0xBE, pack.GetPes()[0]->GetStreamId());
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    EXPECT_EQ(small, out);
}

TEST(Mpeg2PsPackTest, ReadRefusesWhatIsNotAWholePack) {
    const std::vector<uint8_t> good = Concat({HeaderOfScrZero(0), VideoPacketOfSize(12)});
    struct Case {
        const char* name;
        size_t at;  // byte to replace
        uint8_t value;
        size_t cut;  // the size to cut the bytes to afterwards; 0: not cut
    };
    const Case cases[] = {
        {"another start code", 3, 0xBB, 0},
        {"'00' instead of '01' (an MPEG-1 pack)", 4, 0x24, 0},
        {"SCR marker after bits 32-30 clear", 4, 0x40, 0},
        {"SCR marker after bits 29-15 clear", 6, 0x00, 0},
        {"SCR marker after bits 14-0 clear", 8, 0x00, 0},
        {"last SCR marker clear", 9, 0x00, 0},
        {"SCR extension 384", 8, 0x07, 0},
        {"mux rate markers clear", 12, 0xD0, 0},
        {"stuffing beyond the bytes", 13, 0xFF, 14 + 6},
        {"header cut short", 0, 0x00, 13},
        {"packet cut short", 0, 0x00, 25},
        {"malformed packet", 20, 0x00, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good;
        bytes[c.at] = c.value;
        if (c.cut) bytes.resize(c.cut);
        Mpeg2PsPack pack;
        pack.SetMuxRate(77);
        size_t position = 99;
        EXPECT_FALSE(ReadPack(bytes, pack, &position));
        EXPECT_EQ(0u, position);            // the reader is left where it was
        EXPECT_EQ(77u, pack.GetMuxRate());  // and the pack as it was
    }
    Mpeg2PsPack pack;
    ASSERT_TRUE(ReadPack(good, pack));
    std::vector<uint8_t> out;
    ASSERT_TRUE(pack.AppendTo(out));
    EXPECT_EQ(good, out);
}

}  // namespace
}  // namespace SarvelonMediaKit
