#include "engine/mux/TsPacketWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "engine/mux/TsContinuityCounter.h"
#include "common/TsReader.h"

namespace SarvelonMediaKit {
namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Counting(size_t n, uint8_t first = 0) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// A payload list cut into chunks of the given sizes, so the writer has to cross chunk ends.
MemoryChunkList PayloadOf(const Bytes& bytes, size_t piece) {
    MemoryChunkList list(0, 0);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t n = std::min(piece, bytes.size() - at);
        MemoryChunk& chunk = list.AddChunk(static_cast<uint32_t>(n));
        std::copy(bytes.begin() + at, bytes.begin() + at + n, chunk.Data(0));
    }
    return list;
}

class TsPacketWriterTest : public ::testing::Test {
protected:
    // Output chunks carry room before and after their bytes, as a component's do: the writer
    // must write the payload range only.
    TsPacketWriter writer{[this](uint32_t size) {
                              requested.push_back(size);
                              return MemoryChunk(size, 16, 8);
                          },
                          [this](const MemoryChunk& chunk) {
                              chunks.push_back(Bytes(chunk.Data(0), chunk.Data(0) + chunk.Size()));
                          }};
    std::vector<uint32_t> requested;
    std::vector<Bytes> chunks;
};

// A PAT: pointer_field, table_id 0, section_length 13, transport_stream_id 0, version 0,
// program 1 on PMT PID 0x0020, CRC_32.
const Bytes kPatSection = {0x00, 0x00, 0xB0, 0x0D, 0x00, 0x00, 0xC1, 0x00, 0x00,
                           0x00, 0x01, 0xE0, 0x20, 0xF9, 0x62, 0xF5, 0x8B};

TEST_F(TsPacketWriterTest, ASectionFillsOnePacketBehindStuffing) {
    writer.WriteSection(0x0000, kPatSection);
    ASSERT_EQ(1u, chunks.size());
    const Bytes expected = Concat({
        {0x47},            // sync_byte
        {0x40, 0x00},      // payload_unit_start_indicator, PID 0x0000
        {0x30},            // adaptation field and payload, continuity_counter 0
        {0xA6},            // adaptation_field_length 166: 184 - 17 section bytes - this byte
        {0x00},            // no flags: a section carries no PCR
        Bytes(165, 0xFF),  // stuffing
        kPatSection,       // the section, pointer_field first
    });
    EXPECT_EQ(expected, chunks[0]);
    EXPECT_EQ(std::vector<uint32_t>{188}, requested);
}

TEST_F(TsPacketWriterTest, CountersRunPerPidAndWrapAfterFifteen) {
    for (int i = 0; i < 17; ++i) writer.WriteSection(0x0000, kPatSection);
    writer.WriteSection(0x0020, kPatSection);
    ASSERT_EQ(18u, chunks.size());
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(0x30 | (i % 16), chunks[i][3]) << i;  // 0 .. 15, then 0 again
    }
    EXPECT_EQ(0x30, chunks[17][3]);  // another PID starts at 0
    EXPECT_EQ(1u, writer.PeekCounter(0x0000));
    EXPECT_EQ(1u, writer.PeekCounter(0x0020));
    EXPECT_EQ(0u, writer.PeekCounter(0x0021));  // never written
}

TEST_F(TsPacketWriterTest, AShortPesWithPtsAndPcrIsOnePacket) {
    // PCR base 0x100000001 (bit 32 and bit 0 set), extension 299.
    const uint64_t pcr = 0x100000001ull * 300 + 299;
    MemoryChunkList payload = PayloadOf(Counting(10), 4);
    writer.WritePes(0x0021, 0xE0, 0x123456789ull, 0x123456789ull, pcr, payload);
    ASSERT_EQ(1u, chunks.size());
    const Bytes expected = Concat({
        {0x47},        // sync_byte
        {0x40, 0x21},  // payload_unit_start_indicator, PID 0x0021
        {0x30},        // adaptation field and payload, continuity_counter 0
        {0x9F},        // adaptation_field_length 159: 184 - 14 header - 10 payload - 1
        {0x10},        // PCR_flag
        // program_clock_reference: base bits 32..1 in four bytes (only bit 32 set), then
        // base bit 0, six reserved '1' bits, extension bit 8; extension bits 7..0 (0x2B).
        {0x80, 0x00, 0x00, 0x00, 0xFF, 0x2B},
        Bytes(152, 0xFF),                // stuffing: 160 - 8
        {0x00, 0x00, 0x01},              // packet_start_code_prefix
        {0xE0},                          // stream_id
        {0x00, 0x12},                    // PES_packet_length 18: 14 - 6 + 10
        {0x83},                          // '10', copyright, original_or_copy
        {0x80},                          // PTS_DTS_flags '10': PTS only
        {0x05},                          // PES_header_data_length
        {0x29, 0x8D, 0x15, 0xCF, 0x13},  // PTS 0x123456789: '0010', bits 32..30 '100', marker;
                                         // bits 29..15 0x468A, marker; 14..0 0x6789, marker
        Counting(10),                    // payload
    });
    EXPECT_EQ(expected, chunks[0]);
}

TEST_F(TsPacketWriterTest, APesWithDtsSpreadsOverPacketsAndStuffsTheLast) {
    MemoryChunkList payload = PayloadOf(Counting(400), 7);
    writer.WritePes(0x0022, 0xC0, 0x123456789ull, 0xDEADBEEFull, TsPacketWriter::kNoPcr, payload);
    ASSERT_EQ(1u, chunks.size());
    ASSERT_EQ(3u * 188u, chunks[0].size());
    const Bytes& out = chunks[0];
    const Bytes first = Concat({
        {0x47, 0x40, 0x22},              // sync_byte; payload_unit_start_indicator, PID 0x0022
        {0x10},                          // payload only, continuity_counter 0
        {0x00, 0x00, 0x01, 0xC0},        // packet_start_code_prefix, stream_id
        {0x01, 0x9D},                    // PES_packet_length 413: 19 - 6 + 400
        {0x83},                          // '10', copyright, original_or_copy
        {0xC0},                          // PTS_DTS_flags '11'
        {0x0A},                          // PES_header_data_length 10
        {0x39, 0x8D, 0x15, 0xCF, 0x13},  // PTS 0x123456789 behind '0011'
        {0x17, 0x7A, 0xB7, 0x7D, 0xDF},  // DTS 0xDEADBEEF: '0001', bits 32..30 '011',
                                         // bits 29..15 0x3D5B, bits 14..0 0x3EEF
        Counting(165),                   // 184 - 19
    });
    EXPECT_EQ(first, Bytes(out.begin(), out.begin() + 188));
    const Bytes second = Concat({
        {0x47, 0x00, 0x22},  // no payload_unit_start_indicator
        {0x11},              // payload only, continuity_counter 1
        Counting(184, 165),
    });
    EXPECT_EQ(second, Bytes(out.begin() + 188, out.begin() + 376));
    const Bytes third = Concat({
        {0x47, 0x00, 0x22},
        {0x32},  // adaptation field and payload, continuity_counter 2
        {0x84},  // adaptation_field_length 132: 184 - 51 payload - 1
        {0x00},  // no flags
        Bytes(131, 0xFF),
        Counting(51, static_cast<uint8_t>(349)),
    });
    EXPECT_EQ(third, Bytes(out.begin() + 376, out.end()));
}

TEST_F(TsPacketWriterTest, OneByteOfRoomIsAnAdaptationFieldOfLengthZero) {
    // 14 header bytes and 169 payload bytes leave one byte in the first packet; 165 + 183
    // behind a 19-byte header leave one in the second.
    MemoryChunkList shortPayload = PayloadOf(Counting(169), 169);
    writer.WritePes(0x0022, 0xC0, 1000, 1000, TsPacketWriter::kNoPcr, shortPayload);
    MemoryChunkList longPayload = PayloadOf(Counting(348), 100);
    writer.WritePes(0x0021, 0xE0, 2000, 1000, TsPacketWriter::kNoPcr, longPayload);
    ASSERT_EQ(2u, chunks.size());
    const Bytes& a = chunks[0];
    ASSERT_EQ(188u, a.size());
    EXPECT_EQ(0x30, a[3]);  // adaptation field and payload, continuity_counter 0
    EXPECT_EQ(0x00, a[4]);  // adaptation_field_length 0, no flags byte
    EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0xC0}), Bytes(a.begin() + 5, a.begin() + 9));
    EXPECT_EQ(Counting(169), Bytes(a.begin() + 19, a.end()));

    const Bytes& b = chunks[1];
    ASSERT_EQ(2u * 188u, b.size());
    EXPECT_EQ(0x10, b[3]);        // the first packet is full: payload only
    EXPECT_EQ(0x31, b[188 + 3]);  // adaptation field and payload, continuity_counter 1
    EXPECT_EQ(0x00, b[188 + 4]);  // adaptation_field_length 0
    EXPECT_EQ(Counting(183, 165), Bytes(b.begin() + 188 + 5, b.end()));
}

TEST_F(TsPacketWriterTest, ALongPesLeavesInChunksOfAtMost348PacketsAndReadsBackWhole) {
    // 19 + 8 + 100000 bytes need 544 packets: a full chunk of 348 and one of 196.
    const Bytes picture = Counting(100000, 3);
    MemoryChunkList payload = PayloadOf(picture, 4096);
    writer.WritePes(0x0021, 0xE0, 900000 + 3600, 900000, 900000ull * 300 - 5400000, payload);
    EXPECT_EQ((std::vector<uint32_t>{348 * 188, 196 * 188}), requested);
    ASSERT_EQ(2u, chunks.size());
    EXPECT_EQ(348u * 188u, chunks[0].size());
    EXPECT_EQ(196u * 188u, chunks[1].size());
    EXPECT_EQ(0x00, chunks[0][4 + 8 + 4]);  // PES_packet_length 0: too long for 16 bits
    EXPECT_EQ(0x00, chunks[0][4 + 8 + 5]);

    // An outside reader finds the counters in order and the payload, PTS and DTS whole.
    SvTools::TsReader reader;
    for (const Bytes& chunk : chunks) reader.Feed(chunk.data(), chunk.size());
    reader.Finish();
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    EXPECT_EQ(0u, reader.PesErrors());
    EXPECT_EQ(0u, reader.SkippedBytes());
    EXPECT_EQ(544u, reader.PacketsPerPid().at(0x0021));
    ASSERT_EQ(1u, reader.Pes().size());
    const SvTools::TsPes& pes = reader.Pes()[0];
    EXPECT_EQ(0xE0, pes.streamId);
    EXPECT_EQ(900000u + 3600u, pes.pts);
    EXPECT_EQ(900000u, pes.dts);
    EXPECT_EQ(picture, pes.payload);
    ASSERT_EQ(1u, reader.Pcrs().size());  // in the first packet only
    EXPECT_EQ(0u, reader.Pcrs()[0].packet);
    EXPECT_EQ(900000ull * 300 - 5400000, reader.Pcrs()[0].pcr);
}

TEST_F(TsPacketWriterTest, AnEmptySectionWritesNothingAndAnEmptyPesOnlyItsHeader) {
    writer.WriteSection(0x0000, Bytes());
    EXPECT_TRUE(chunks.empty());
    EXPECT_EQ(0u, writer.PeekCounter(0x0000));

    MemoryChunkList nothing(0, 0);
    writer.WritePes(0x0022, 0xC0, 5, 5, TsPacketWriter::kNoPcr, nothing);
    ASSERT_EQ(1u, chunks.size());
    const Bytes& p = chunks[0];
    EXPECT_EQ(0x30, p[3]);
    EXPECT_EQ(169, p[4]);                                   // adaptation_field_length: 184 - 14 - 1
    EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0xC0, 0x00, 0x08}),  // PES_packet_length 8: 14 - 6
              Bytes(p.end() - 14, p.end() - 8));
}

TEST_F(TsPacketWriterTest, ARestartSaysSoInTheFirstPacketOfEveryPidWrittenBefore) {
    // Nothing written yet: nothing to announce.
    writer.Restart();
    writer.WriteSection(0x0000, kPatSection);
    ASSERT_EQ(1u, chunks.size());
    EXPECT_EQ(0x00, chunks[0][5]);  // no flags
    MemoryChunkList full = PayloadOf(Counting(184 - 14), 50);
    writer.WritePes(0x0022, 0xC0, 1000, 1000, TsPacketWriter::kNoPcr, full);
    writer.WriteSection(0x0000, kPatSection);  // counter 1 on PID 0x0000
    ASSERT_EQ(3u, chunks.size());
    EXPECT_EQ(0x10, chunks[1][3]);  // 14 + 170 bytes fill the packet: payload only
    EXPECT_EQ(1u, writer.PeekCounter(0x0022));

    writer.Restart();
    EXPECT_TRUE(writer.IsDiscontinuityPending(0x0000));
    EXPECT_TRUE(writer.IsDiscontinuityPending(0x0022));
    EXPECT_FALSE(writer.IsDiscontinuityPending(0x0021));  // never written
    EXPECT_EQ(0u, writer.PeekCounter(0x0000));
    writer.WriteSection(0x0000, kPatSection);
    ASSERT_EQ(4u, chunks.size());
    const Bytes section = Concat({
        {0x47, 0x40, 0x00},  // sync_byte; payload_unit_start_indicator, PID 0x0000
        {0x30},              // adaptation field and payload, continuity_counter 0 again
        {0xA6},              // adaptation_field_length 166, as without the flag
        {0x80},              // discontinuity_indicator
        Bytes(165, 0xFF),    // stuffing
        kPatSection,
    });
    EXPECT_EQ(section, chunks[3]);

    // A PES that filled its first packet makes room for the flags: two bytes of its payload
    // move on to a second packet, which carries no flag.
    MemoryChunkList again = PayloadOf(Counting(184 - 14), 50);
    writer.WritePes(0x0022, 0xC0, 1000, 1000, TsPacketWriter::kNoPcr, again);
    ASSERT_EQ(5u, chunks.size());
    const Bytes& pes = chunks[4];
    ASSERT_EQ(2u * 188u, pes.size());
    const Bytes first = Concat({
        {0x47, 0x40, 0x22},              // payload_unit_start_indicator, PID 0x0022
        {0x30},                          // adaptation field and payload, counter 0
        {0x01},                          // adaptation_field_length 1: the flags alone
        {0x80},                          // discontinuity_indicator
        {0x00, 0x00, 0x01, 0xC0},        // packet_start_code_prefix, stream_id
        {0x00, 0xB2},                    // PES_packet_length 178: 14 - 6 + 170
        {0x83, 0x80, 0x05},              // flags, PTS only, PES_header_data_length 5
        {0x21, 0x00, 0x01, 0x07, 0xD1},  // PTS 1000
        Counting(168),                   // 184 - 2 - 14
    });
    EXPECT_EQ(first, Bytes(pes.begin(), pes.begin() + 188));
    EXPECT_EQ(0x31, pes[188 + 3]);  // adaptation field and payload, counter 1
    EXPECT_EQ(0x00, pes[188 + 5]);  // no flags in the second packet
    EXPECT_EQ(Counting(2, 168), Bytes(pes.end() - 2, pes.end()));
    EXPECT_FALSE(writer.IsDiscontinuityPending(0x0022));

    // An outside reader takes the announced jumps for what they are.
    SvTools::TsReader reader;
    for (const Bytes& chunk : chunks) reader.Feed(chunk.data(), chunk.size());
    reader.Finish();
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    ASSERT_EQ(2u, reader.Pes().size());
    EXPECT_EQ(Counting(170), reader.Pes()[1].payload);
    EXPECT_TRUE(reader.Pes()[1].discontinuity);
}

// Output chunks are not cleared before the writer lays them out, so it must write every byte
// itself: chunks that start out full of a poison byte (room included) must come out exactly as
// cleared ones do, for payloads cut at every awkward place (one byte, around a packet's 184,
// empty chunks between) and for the single packet, short and long units.
TEST(TsPacketWriterPoison, EveryOutputByteIsWrittenWhateverTheChunkHeld) {
    struct Output {
        std::vector<Bytes> chunks;
        TsPacketWriter writer;
        explicit Output(uint8_t fill)
            : writer(
                  [fill](uint32_t size) {
                      // 16 bytes of room before the payload and 8 after, all of it filled.
                      MemoryChunk chunk = MemoryChunk::Unset(size + 24, 0, 0);
                      std::fill(chunk.Data(0), chunk.Data(0) + size + 24, fill);
                      chunk.Advance(16);
                      chunk.TrimEnd(8);
                      return chunk;
                  },
                  [this](const MemoryChunk& chunk) {
                      chunks.push_back(Bytes(chunk.Data(0), chunk.Data(0) + chunk.Size()));
                  }) {}
    };
    Output cleared(0x00);
    Output poisoned(0xA5);
    const Bytes body = Counting(70000, 9);
    for (size_t piece :
         {size_t(1), size_t(7), size_t(183), size_t(184), size_t(185), size_t(65536)}) {
        for (Output* out : {&cleared, &poisoned}) {
            MemoryChunkList payload = PayloadOf(body, piece);
            // Empty chunks at the front, in the middle and at the back are skipped over.
            payload.GetChunks().push_front(MemoryChunk::Unset(0, 0, 0));
            payload.GetChunks().insert(std::next(payload.GetChunks().begin(), 2),
                                       MemoryChunk::Unset(0, 0, 0));
            payload.GetChunks().push_back(MemoryChunk::Unset(0, 0, 0));
            out->writer.WritePes(0x0021, 0xE0, 7200, 3600, 1000, payload);
            MemoryChunkList small = PayloadOf(Counting(185, 1), piece);
            out->writer.WritePes(0x0022, 0xC0, 90, 90, TsPacketWriter::kNoPcr, small);
            out->writer.WriteSection(0x0000, kPatSection);
        }
    }
    ASSERT_EQ(cleared.chunks.size(), poisoned.chunks.size());
    for (size_t i = 0; i < cleared.chunks.size(); ++i) {
        EXPECT_EQ(cleared.chunks[i], poisoned.chunks[i]) << "chunk " << i;
    }
    // And the payload reads back whole through an outside reader, cut where it was cut.
    SvTools::TsReader reader;
    for (const Bytes& chunk : poisoned.chunks) reader.Feed(chunk.data(), chunk.size());
    reader.Finish();
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    EXPECT_EQ(0u, reader.PesErrors());
    size_t videos = 0;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.streamId == 0xE0) {
            EXPECT_EQ(body, pes.payload);
            ++videos;
        } else {
            EXPECT_EQ(Counting(185, 1), pes.payload);
        }
    }
    EXPECT_EQ(6u, videos);
}

TEST(TsContinuityCounter, CountsFromZeroToFifteenAndRoundAgain) {
    TsContinuityCounter counter;
    EXPECT_EQ(0, counter.Peek());
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(i % 16, counter.Next()) << i;
    }
    EXPECT_EQ(40 % 16, counter.Peek());
}

}  // namespace
}  // namespace SarvelonMediaKit
