#include "engine/mux/Mpeg2PsMux.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "tests/support/FakeDemux.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeDemux;
using SvTestSupport::RecordingSink;
typedef std::vector<uint8_t> Bytes;

// ---- An independent reader of the program stream written (ISO/IEC 13818-1, 2.5.3) ----

struct Pes {
    uint8_t id = 0;
    bool hasPts = false;
    bool hasDts = false;
    uint64_t pts = 0;
    uint64_t dts = 0;
    uint32_t size = 0;  // the whole packet
    Bytes payload;
};

struct Pack {
    uint64_t scr = 0;  // 27 MHz
    uint32_t muxRate = 0;
    uint32_t size = 0;
    Bytes systemHeader;  // the whole record, start code included
    Bytes psm;
    std::vector<Pes> pes;
    uint32_t ContentSize() const {
        uint32_t n = 0;
        for (const Pes& p : pes) n += p.size;
        return n;
    }
};

// A 33-bit timestamp in the 5-byte PES form: 4 prefix bits, 3 + 15 + 15 bits with markers.
uint64_t Timestamp(const uint8_t* f) {
    return (uint64_t((f[0] >> 1) & 7) << 30) | (uint64_t(f[1]) << 22) |
           (uint64_t(f[2] >> 1) << 15) | (uint64_t(f[3]) << 7) | (f[4] >> 1);
}

// Reads one chunk that must hold exactly one pack.
::testing::AssertionResult ReadPack(const Bytes& b, Pack& pack) {
    if (b.size() < 14 || b[0] != 0 || b[1] != 0 || b[2] != 1 || b[3] != 0xBA) {
        return ::testing::AssertionFailure() << "no pack header";
    }
    // '01', base 32-30, marker, base 29-28 | base 27-20 | base 19-15, marker, base 14-13 |
    // base 12-5 | base 4-0, marker, extension 8-7 | extension 6-0, marker.
    if ((b[4] & 0xC4) != 0x44 || (b[6] & 0x04) == 0 || (b[8] & 0x04) == 0 || (b[9] & 1) == 0) {
        return ::testing::AssertionFailure() << "pack header marker bits";
    }
    const uint64_t base = (uint64_t((b[4] >> 3) & 7) << 30) | (uint64_t(b[4] & 3) << 28) |
                          (uint64_t(b[5]) << 20) | (uint64_t(b[6] >> 3) << 15) |
                          (uint64_t(b[6] & 3) << 13) | (uint64_t(b[7]) << 5) | (b[8] >> 3);
    const uint32_t extension = ((b[8] & 3) << 7) | (b[9] >> 1);
    pack.scr = base * 300 + extension;
    if ((b[12] & 3) != 3) return ::testing::AssertionFailure() << "mux rate marker bits";
    pack.muxRate = (uint32_t(b[10]) << 14) | (uint32_t(b[11]) << 6) | (b[12] >> 2);
    if (b[13] != 0xF8) return ::testing::AssertionFailure() << "stuffing byte " << int(b[13]);
    size_t at = 14;
    while (at + 6 <= b.size()) {
        if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 1) {
            return ::testing::AssertionFailure() << "no start code at " << at;
        }
        const uint8_t id = b[at + 3];
        const size_t length = 6 + ((size_t(b[at + 4]) << 8) | b[at + 5]);
        if (at + length > b.size()) return ::testing::AssertionFailure() << "record cut at " << at;
        const Bytes record(b.begin() + at, b.begin() + at + length);
        if (id == 0xBB) {
            pack.systemHeader = record;
        } else if (id == 0xBC) {
            pack.psm = record;
        } else {
            Pes pes;
            pes.id = id;
            pes.size = static_cast<uint32_t>(length);
            if ((record[6] & 0xC0) != 0x80) return ::testing::AssertionFailure() << "PES '10'";
            const uint8_t flags = record[7];
            const size_t headerEnd = 9 + record[8];
            pes.hasPts = (flags & 0x80) != 0;
            pes.hasDts = (flags & 0x40) != 0;
            if (pes.hasPts) pes.pts = Timestamp(&record[9]);
            if (pes.hasDts) pes.dts = Timestamp(&record[14]);
            if (headerEnd != size_t(9 + 5 * (pes.hasPts + pes.hasDts))) {
                return ::testing::AssertionFailure() << "PES header length " << int(record[8]);
            }
            pes.payload.assign(record.begin() + headerEnd, record.end());
            pack.pes.push_back(pes);
        }
        at += length;
    }
    if (at != b.size()) return ::testing::AssertionFailure() << "bytes after the last packet";
    pack.size = static_cast<uint32_t>(b.size());
    return ::testing::AssertionSuccess();
}

// CRC-32/MPEG-2 bit by bit (polynomial 0x04C11DB7, initial all ones, no reflection).
uint32_t Crc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

Bytes Payload(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A demultiplexer whose source side takes every trick-play rate.
class TrickDemux : public FakeDemux {
public:
    TrickDemux() : FakeDemux(nullptr) {}
    bool DoTrickPlay(TrickPlayRate, MediaTime) override { return true; }
};

// The multiplexer between the fake demultiplexer and a recording sink.
struct PsChain {
    // Streams of the given formats (0: none of that kind).
    void Build(uint32_t videoFormat, uint32_t audioFormat) {
        if (videoFormat != 0) video = demux->AddStream(0xE0, SampleMediaTypeVideo, videoFormat);
        if (audioFormat != 0) audio = demux->AddStream(0xC0, SampleMediaTypeAudio, audioFormat);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
        demux->SetEndOfStreamAtEnd(true);
    }
    void Pull() { mux->PullData(ByteAmount(0x7FFFFFFF)); }
    // Every data chunk but the end code read as one pack; ended tells whether the output
    // closes with the end code.
    std::vector<Pack> Packs(bool* ended = nullptr) {
        std::vector<Pack> packs;
        bool end = false;
        for (const RecordingSink::Entry& entry : sink->entries) {
            if (entry.isMarker) continue;
            EXPECT_FALSE(end) << "data after the program end code";
            if (entry.bytes == Bytes{0x00, 0x00, 0x01, 0xB9}) {
                end = true;
                continue;
            }
            Pack pack;
            EXPECT_TRUE(ReadPack(entry.bytes, pack));
            packs.push_back(pack);
        }
        if (ended) *ended = end;
        return packs;
    }

    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<Mpeg2PsMux> mux = boost::make_shared<Mpeg2PsMux>(nullptr);
    boost::shared_ptr<FakeDemux> demux = boost::make_shared<TrickDemux>();
    size_t video = 0;
    size_t audio = 0;
};

class Mpeg2PsMuxTest : public ::testing::Test, public PsChain {};

// The system header for H.264 and ADTS AAC.
const uint8_t kSystemHeader[] = {
    0x00, 0x00, 0x01, 0xBB,  // system_header_start_code
    0x00, 0x0F,              // header_length 15
    0x80, 0x11, 0xE7,        // marker, rate_bound 2291, marker
    0x04,                    // audio_bound 1, fixed_flag 0, CSPS_flag 0
    0xE1,                    // audio lock, video lock, marker, video_bound 1
    0x7F,                    // packet_rate_restriction_flag 0, reserved
    0xBC, 0xE0, 0x01,        // the map: '11', scale 1 (1024 bytes), bound 1
    0xE0, 0xE0, 0xF4,        // video: '11', scale 1, bound 244
    0xC0, 0xC0, 0x4B,        // audio: '11', scale 0 (128 bytes), bound 75
};

TEST_F(Mpeg2PsMuxTest, FirstPackCarriesTheGoldenSystemHeaderAndAMapWithoutDescriptor) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    demux->AddSample(video, Payload(500, 1), 0, 80000, true);
    demux->AddSample(audio, Payload(200, 2), 0);
    Pull();
    bool ended = false;
    const std::vector<Pack> packs = Packs(&ended);
    ASSERT_EQ(1u, packs.size());
    EXPECT_TRUE(ended);
    EXPECT_EQ(Bytes(kSystemHeader, kSystemHeader + sizeof kSystemHeader), packs[0].systemHeader);
    // The system header follows the 14-byte pack header at once.
    const Bytes all = sink->Bytes();
    ASSERT_GE(all.size(), 14 + sizeof kSystemHeader);
    EXPECT_EQ(Bytes(kSystemHeader, kSystemHeader + sizeof kSystemHeader),
              Bytes(all.begin() + 14, all.begin() + 14 + sizeof kSystemHeader));

    Bytes psm = {
        0x00, 0x00, 0x01, 0xBC,  // packet_start_code_prefix, map_stream_id
        0x00, 0x12,              // program_stream_map_length 18
        0xE0,                    // current_next_indicator 1, reserved, version 0
        0xFF,                    // reserved, marker
        0x00, 0x00,              // program_stream_info_length 0: no AudioSpecificConfig
        0x00, 0x08,              // elementary_stream_map_length 8
        0x0F, 0xC0, 0x00, 0x00,  // ADTS AAC on 0xC0, no descriptors (audio first)
        0x1B, 0xE0, 0x00, 0x00,  // H.264 on 0xE0
    };
    const uint32_t crc = Crc(psm.data(), psm.size());
    for (int shift = 24; shift >= 0; shift -= 8) psm.push_back(static_cast<uint8_t>(crc >> shift));
    EXPECT_EQ(psm, packs[0].psm);
}

TEST_F(Mpeg2PsMuxTest, TheMapCarriesTheAudioConfigurationInAnIodDescriptor) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, {0x11, 0x90});
    demux->AddSample(video, Payload(100, 1), 0, 0, true);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    const Bytes& psm = packs[0].psm;
    ASSERT_EQ(16u + 37u + 8u, psm.size());
    EXPECT_EQ(0x00, psm[8]);  // program_stream_info_length 37
    EXPECT_EQ(37, psm[9]);
    const uint8_t iod[] = {
        0x1D, 0x23, 0x10, 0x01,        // IOD_descriptor, length 35, scope, IOD_label
        0x02, 0x1F, 0x00, 0x4F,        // InitialObjectDescriptor length 31, ObjectDescriptorID 1
        0xFF, 0xFF, 0xFE, 0xFE, 0xFF,  // profile-level indications
        0x03, 0x16, 0x00, 0xC0, 0x10,  // ES_Descriptor length 22, ES_ID 0x00C0, priority 16
        0x04, 0x11, 0x40, 0x15,        // DecoderConfigDescriptor length 17: 14496-3 audio
        0xFF, 0xFF, 0xFF,              // bufferSizeDB
        0xFF, 0xFF, 0xFF, 0xFF,        // maxBitrate
        0xFF, 0xFF, 0xFF, 0xFF,        // avgBitrate
        0x05, 0x02, 0x11, 0x90,        // DecoderSpecificInfo: the AudioSpecificConfig
    };
    EXPECT_EQ(Bytes(iod, iod + sizeof iod), Bytes(psm.begin() + 10, psm.begin() + 10 + sizeof iod));
    EXPECT_EQ(Crc(psm.data(), psm.size() - 4),
              (uint32_t(psm[psm.size() - 4]) << 24) | (uint32_t(psm[psm.size() - 3]) << 16) |
                  (uint32_t(psm[psm.size() - 2]) << 8) | psm[psm.size() - 1]);
}

TEST_F(Mpeg2PsMuxTest, AOneByteConfigurationLeavesTheDescriptorOut) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, {0x11});
    demux->AddSample(video, Payload(100, 1), 0, 0, true);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    ASSERT_EQ(24u, packs[0].psm.size());
    EXPECT_EQ(0, packs[0].psm[9]);
}

TEST_F(Mpeg2PsMuxTest, TimestampsAndFirstScrAtTimeZeroAndAtOneSecond) {
    {
        SCOPED_TRACE("at 0");
        Build(SampleFormatH264AnnexB, 0);
        // Decode time 0, presented 80 ms later (7200 ticks).
        demux->AddSample(video, Payload(300, 1), 0, 80000, true);
        Pull();
        const std::vector<Pack> packs = Packs();
        ASSERT_EQ(1u, packs.size());
        EXPECT_EQ(0u, packs[0].scr) << "0.2 s before the first DTS, which is moved to 0.2 s";
        ASSERT_EQ(1u, packs[0].pes.size());
        EXPECT_EQ(18000u, packs[0].pes[0].dts);
        EXPECT_EQ(18000u + 7200u, packs[0].pes[0].pts);
        EXPECT_EQ(18000u, mux->GetTimestampOffset());
    }
    PsChain other;
    {
        SCOPED_TRACE("at 1 s");
        other.Build(SampleFormatH264AnnexB, 0);
        other.demux->AddSample(other.video, Payload(300, 1), 1000000, 0, true);
        other.Pull();
        const std::vector<Pack> packs = other.Packs();
        ASSERT_EQ(1u, packs.size());
        EXPECT_EQ((90000u - 18000u) * 300u, packs[0].scr);
        EXPECT_EQ(0u, other.mux->GetTimestampOffset());
        ASSERT_EQ(1u, packs[0].pes.size());
        EXPECT_TRUE(packs[0].pes[0].hasPts);
        EXPECT_FALSE(packs[0].pes[0].hasDts) << "PTS equal to DTS goes alone";
        EXPECT_EQ(90000u, packs[0].pes[0].pts);
    }
}

TEST_F(Mpeg2PsMuxTest, AudioJoinsThePackOfThePictureBeforeItAndEachPictureOpensAPack) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    // Pictures every 40 ms from 1 s, audio frames every ~21 ms.
    for (int i = 0; i < 3; ++i) demux->AddSample(video, Payload(400, 1), 1000000 + i * 40000);
    for (int i = 0; i < 6; ++i) demux->AddSample(audio, Payload(100, 2), 1000000 + i * 21333);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(3u, packs.size());
    // Decode-time order: V0 A0 A1 | V1 A2 A3 | V2 A4 A5.
    const std::vector<std::vector<uint8_t>> ids = {
        {0xE0, 0xC0, 0xC0}, {0xE0, 0xC0, 0xC0}, {0xE0, 0xC0, 0xC0}};
    for (size_t i = 0; i < packs.size(); ++i) {
        std::vector<uint8_t> got;
        for (const Pes& pes : packs[i].pes) got.push_back(pes.id);
        EXPECT_EQ(ids[i], got) << "pack " << i;
        // The SCR is 0.2 s before the DTS of the picture that opened the pack.
        EXPECT_EQ((90000u + i * 3600u - 18000u) * 300u, packs[i].scr) << "pack " << i;
        EXPECT_EQ(i == 0, !packs[i].systemHeader.empty());
        EXPECT_EQ(i == 0, !packs[i].psm.empty());
    }
    // Each pack's rate spreads its size over the time to the next one (3600 ticks), in units
    // of 50 bytes a second.
    EXPECT_EQ(packs[0].size * 90000u / (3600u * 50u), packs[0].muxRate);
    EXPECT_EQ(packs[1].size * 90000u / (3600u * 50u), packs[1].muxRate);
}

TEST_F(Mpeg2PsMuxTest, AudioAloneOpensAPackWithEveryFrameAfterTheFirst) {
    Build(0, SampleFormatAacAdts);
    for (int i = 0; i < 4; ++i) demux->AddSample(audio, Payload(100, 2), 2000000 + i * 20000);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(4u, packs.size());
    for (size_t i = 0; i < packs.size(); ++i) {
        ASSERT_EQ(1u, packs[i].pes.size());
        EXPECT_EQ(0xC0, packs[i].pes[0].id);
        EXPECT_EQ((180000u + i * 1800u - 18000u) * 300u, packs[i].scr);
    }
    // No video: the system header names the map and the audio stream only.
    ASSERT_EQ(18u, packs[0].systemHeader.size());
    EXPECT_EQ(0x00, packs[0].systemHeader[10] & 0x1F) << "video_bound 0";
    EXPECT_EQ(0xC0, packs[0].systemHeader[15]);
}

TEST_F(Mpeg2PsMuxTest, TrickPlayDescribesVideoOnlyAndEveryPictureOpensAPack) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    demux->SetEndOfStreamAtEnd(false);
    Pull();  // the streams are made
    ASSERT_TRUE(mux->TrickPlay(TrickPlayRate(4), MediaTime(0)));
    for (int i = 0; i < 3; ++i) demux->AddSample(video, Payload(400, 1), 1000000 + i * 40000);
    demux->AddSample(audio, Payload(100, 2), 1000000);  // paused: never written
    demux->SetEndOfStreamAtEnd(true);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(3u, packs.size());
    const uint8_t header[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0x80, 0x11, 0xE7,
                              0x00,  // audio_bound 0
                              0xE1, 0x7F, 0xBC, 0xE0, 0x01, 0xE0, 0xE0, 0xF4};
    EXPECT_EQ(Bytes(header, header + sizeof header), packs[0].systemHeader);
    ASSERT_EQ(20u, packs[0].psm.size()) << "one entry";
    EXPECT_EQ(0x1B, packs[0].psm[12]);
    for (const Pack& pack : packs) {
        ASSERT_EQ(1u, pack.pes.size());
        EXPECT_EQ(0xE0, pack.pes[0].id);
    }
}

TEST_F(Mpeg2PsMuxTest, PacksNoLaterThanTheLastOneAreRatedOver3750Ticks) {
    Build(SampleFormatH264AnnexB, 0);
    demux->AddSample(video, Payload(300, 1), 1000000);
    demux->AddSample(video, Payload(3000, 1), 1040000);
    demux->AddSample(video, Payload(300, 1), 1040000);  // same DTS: the pack before lasts 0
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(3u, packs.size());
    EXPECT_EQ(packs[1].scr, packs[2].scr);
    EXPECT_EQ(packs[1].size * 90000u / (3750u * 50u), packs[1].muxRate);
}

TEST_F(Mpeg2PsMuxTest, EndOfStreamWritesThePendingPackThenTheEndCode) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    demux->AddSample(video, Payload(100, 1), 1000000);
    demux->AddSample(audio, Payload(50, 2), 1000000);
    demux->AddSample(video, Payload(100, 1), 1040000);
    Pull();
    bool ended = false;
    const std::vector<Pack> packs = Packs(&ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(2u, packs.size());
    ASSERT_EQ(1u, packs[1].pes.size());
    // The last pack lasts 9 ticks.
    EXPECT_EQ(packs[1].size * 90000u / (9u * 50u), packs[1].muxRate);
    // The end code goes out ahead of the end-of-stream marker.
    ASSERT_FALSE(sink->entries.empty());
    EXPECT_TRUE(sink->entries.back().isMarker);
    EXPECT_EQ(uint32_t(MemoryMarkerTypeEndOfStream), sink->entries.back().markerType);
}

TEST_F(Mpeg2PsMuxTest, EndOfStreamWithNothingPendingSendsOnlyTheEndCode) {
    Build(SampleFormatH264AnnexB, 0);
    Pull();  // no sample at all
    EXPECT_EQ((Bytes{0x00, 0x00, 0x01, 0xB9}), sink->Bytes());

    // After a reposition the packets of the old pack are dropped, and the end writes no pack.
    PsChain other;
    other.Build(SampleFormatH264AnnexB, 0);
    other.demux->SetEndOfStreamAtEnd(false);
    other.demux->AddSample(other.video, Payload(100, 1), 1000000);
    other.Pull();
    EXPECT_TRUE(other.sink->Bytes().empty()) << "the first pack is still open";
    other.mux->SetPosition(BytePosition(0), StackIdAny);
    other.demux->SetEndOfStreamAtEnd(true);
    other.Pull();
    EXPECT_EQ((Bytes{0x00, 0x00, 0x01, 0xB9}), other.sink->Bytes());
}

TEST_F(Mpeg2PsMuxTest, ARepositionOpensANewFirstPackWithHeaderAndMap) {
    Build(SampleFormatH264AnnexB, 0);
    demux->SetEndOfStreamAtEnd(false);
    demux->AddSample(video, Payload(100, 1), 0);
    demux->AddSample(video, Payload(100, 1), 40000);
    Pull();
    mux->SetPosition(BytePosition(0), StackIdAudioBranch);  // another stack: nothing changes
    demux->AddSample(video, Payload(100, 1), 80000);
    Pull();
    mux->SetPosition(BytePosition(0), StackIdMain);
    demux->SetEndOfStreamAtEnd(true);
    demux->AddSample(video, Payload(100, 1), 0);  // back to the start
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(3u, packs.size()) << "the pack open at the reposition is dropped";
    EXPECT_FALSE(packs[0].systemHeader.empty());
    EXPECT_TRUE(packs[1].systemHeader.empty());
    EXPECT_FALSE(packs[2].systemHeader.empty());
    EXPECT_FALSE(packs[2].psm.empty());
    // The offset stays once set: the sample at 0 is at 0.2 s again, not 0.4 s.
    ASSERT_EQ(1u, packs[2].pes.size());
    EXPECT_EQ(18000u, packs[2].pes[0].pts);
    EXPECT_EQ(0u, packs[2].scr);
}

TEST_F(Mpeg2PsMuxTest, ALargeSampleIsSplitAt65541BytesWithTimestampsOnTheFirstPacketOnly) {
    Build(SampleFormatH264AnnexB, 0);
    const Bytes picture = Payload(70000, 3);
    demux->AddSample(video, picture, 1000000, 40000);  // PTS and DTS differ: 19-byte header
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    ASSERT_EQ(2u, packs[0].pes.size());
    const Pes& first = packs[0].pes[0];
    const Pes& second = packs[0].pes[1];
    EXPECT_EQ(65541u, first.size) << "PES_packet_length 65535";
    EXPECT_EQ(65541u - 19u, first.payload.size());
    EXPECT_TRUE(first.hasPts && first.hasDts);
    EXPECT_EQ(90000u, first.dts);
    EXPECT_EQ(93600u, first.pts);
    EXPECT_FALSE(second.hasPts || second.hasDts);
    EXPECT_EQ(0xE0, second.id);
    Bytes joined = first.payload;
    joined.insert(joined.end(), second.payload.begin(), second.payload.end());
    EXPECT_EQ(picture, joined);
}

// The bytes of the audio packets behind the pack's last picture (all of them without one).
uint32_t AudioAfterLastPicture(const Pack& pack) {
    uint32_t n = 0;
    for (const Pes& pes : pack.pes) n = pes.id == 0xE0 ? 0 : n + pes.size;
    return n;
}

TEST_F(Mpeg2PsMuxTest, AudioBehindAFinishedVideoStreamStillClosesPacksAtTheSizeBound) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    // One large picture, then 4 s of audio: no picture comes to close a pack.
    demux->AddSample(video, Payload(100 * 1024, 1), 1000000);
    const size_t frames = 200;
    for (size_t i = 0; i < frames; ++i) {
        demux->AddSample(audio, Payload(1500, 2), 1000000 + i * 21333);
    }
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_GE(packs.size(), 4u);
    size_t audioPes = 0;
    for (const Pack& pack : packs) {
        // The bound is checked before each frame goes in: one frame (and its 14-byte PES
        // header) more at most.
        EXPECT_LE(AudioAfterLastPicture(pack), Mpeg2PsMux::kPackContentBound + 1500u + 14u);
        for (const Pes& pes : pack.pes) audioPes += pes.id == 0xC0;
    }
    // The picture does not count against the bound: its pack still took in a bound's worth
    // of audio.
    EXPECT_GT(AudioAfterLastPicture(packs[0]), Mpeg2PsMux::kPackContentBound);
    EXPECT_EQ(frames, audioPes) << "every frame written";
    for (size_t i = 1; i < packs.size(); ++i) EXPECT_GE(packs[i].scr, packs[i - 1].scr);
}

TEST_F(Mpeg2PsMuxTest, APictureOverTheBoundKeepsItsAudioUntilTheNextPicture) {
    Build(SampleFormatH264AnnexB, SampleFormatAacAdts);
    // A 100 KiB I-frame, two audio frames, the next picture 40 ms on.
    demux->AddSample(video, Payload(100 * 1024, 1), 1000000, 0, true);
    demux->AddSample(audio, Payload(300, 2), 1000000);
    demux->AddSample(audio, Payload(300, 3), 1021333);
    demux->AddSample(video, Payload(2000, 4), 1040000);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(2u, packs.size());
    std::vector<uint8_t> ids;
    for (const Pes& pes : packs[0].pes) ids.push_back(pes.id);
    // The picture in two packets (65541 bytes at most each), then both frames.
    EXPECT_EQ((std::vector<uint8_t>{0xE0, 0xE0, 0xC0, 0xC0}), ids);
    ASSERT_EQ(1u, packs[1].pes.size());
    EXPECT_EQ(0xE0, packs[1].pes[0].id);
    EXPECT_EQ((90000u + 3600u - 18000u) * 300u, packs[1].scr) << "opened by the picture";
}

TEST_F(Mpeg2PsMuxTest, TheFirstScrFollowsADecodeTimePastTwoToThe32Ticks) {
    Build(SampleFormatH264AnnexB, 0);
    // 14 h = 50400 s = 4536000000 ticks, beyond 2^32 (4294967296) and below 2^33.
    const uint64_t start = 50400ull * 1000000ull;
    const uint64_t ticks = 4536000000ull;
    demux->AddSample(video, Payload(300, 1), start, 0, true);
    demux->AddSample(video, Payload(300, 2), start + 40000);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(2u, packs.size());
    EXPECT_EQ(0u, mux->GetTimestampOffset());
    ASSERT_EQ(1u, packs[0].pes.size());
    EXPECT_EQ(ticks, packs[0].pes[0].pts);
    EXPECT_EQ((ticks - 18000u) * 300u, packs[0].scr) << "0.2 s before the first DTS";
    ASSERT_EQ(1u, packs[1].pes.size());
    EXPECT_EQ(ticks + 3600u, packs[1].pes[0].pts);
    EXPECT_EQ((ticks + 3600u - 18000u) * 300u, packs[1].scr);
    // The first pack lasts up to the second: its rate spreads it over 3600 ticks.
    EXPECT_EQ(packs[0].size * 90000u / (3600u * 50u), packs[0].muxRate);
}

TEST(Mpeg2PsMuxSideBranch, TheEndCodeWaitsForTheLastChainAndComesOnce) {
    PsChain chain;
    const size_t video = chain.demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    chain.stack = SvTestSupport::BuildChain(StackIdMain, {chain.sink, chain.mux, chain.demux});
    boost::shared_ptr<FakeDemux> side = boost::make_shared<FakeDemux>(nullptr);
    const size_t audio = side->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatAacAdts);
    ComponentStack branch = SvTestSupport::BuildChain(StackIdAudioBranch, {side});
    chain.mux->AddSideBranch(branch);
    chain.stack.Link();

    // Each sample with payload bytes of its own, to find it again in the output.
    std::vector<Bytes> pictures, frames;
    for (int i = 0; i < 3; ++i) {
        pictures.push_back(Payload(400, static_cast<uint8_t>(10 + i)));
        chain.demux->AddSample(video, pictures.back(), 1000000 + i * 40000, 0, i == 0);
    }
    for (int i = 0; i < 2; ++i) {
        frames.push_back(Payload(100, static_cast<uint8_t>(50 + i)));
        side->AddSample(audio, frames.back(), 1010000 + i * 20000);
    }
    chain.demux->SetSamplesPerPull(0);  // each announces its stream, holding its samples back
    side->SetSamplesPerPull(0);
    chain.demux->PullSamples();
    side->PullSamples();
    chain.demux->SetSamplesPerPull(1);
    side->SetSamplesPerPull(1);
    side->SetEndOfStreamAtEnd(true);  // the audio ends; the pictures go on
    chain.Pull();
    bool ended = false;
    chain.Packs(&ended);
    EXPECT_FALSE(ended) << "no end code while pictures still run";
    EXPECT_EQ(0u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));

    pictures.push_back(Payload(400, 13));
    chain.demux->AddSample(video, pictures.back(), 1120000);
    chain.demux->SetEndOfStreamAtEnd(true);
    chain.Pull();
    chain.Pull();  // a further pull ends nothing again

    size_t endCodes = 0;
    for (const RecordingSink::Entry& entry : chain.sink->entries) {
        endCodes += !entry.isMarker && entry.bytes == Bytes{0x00, 0x00, 0x01, 0xB9};
    }
    EXPECT_EQ(1u, endCodes);
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    // Packs() fails on data after the end code: every pack comes before it.
    const std::vector<Pack> packs = chain.Packs(&ended);
    EXPECT_TRUE(ended);
    std::vector<Bytes> gotPictures, gotFrames;
    for (const Pack& pack : packs) {
        for (const Pes& pes : pack.pes) {
            (pes.id == 0xE0 ? gotPictures : gotFrames).push_back(pes.payload);
        }
    }
    EXPECT_EQ(pictures, gotPictures);
    EXPECT_EQ(frames, gotFrames);
    ASSERT_EQ(4u, packs.size()) << "one pack per picture, the audio inside them";
    EXPECT_FALSE(packs[0].systemHeader.empty());
    EXPECT_EQ(0xC0, packs[0].systemHeader[18]) << "the side branch's audio is described";
}

TEST(Mpeg2PsMuxRate, TheMuxRateStaysInsideItsFieldAndAboveZero) {
    // size x 90000 / (duration x 50).
    EXPECT_EQ(1000u * 90000u / (3600u * 50u), Mpeg2PsMux::MuxRate(1000, 3600));
    EXPECT_EQ(1000u * 90000u / (3750u * 50u), Mpeg2PsMux::MuxRate(1000, 0));
    EXPECT_EQ(1000u * 90000u / (3750u * 50u), Mpeg2PsMux::MuxRate(1000, -90000));
    // A small pack over a long time would give 0, which the field must not hold.
    EXPECT_EQ(1u, Mpeg2PsMux::MuxRate(30, 90000 * 60));
    // A large pack over a short time would pass the 22 bits and wrap.
    EXPECT_EQ((1u << 22) - 1, Mpeg2PsMux::MuxRate(200000, 9));
    EXPECT_EQ((1u << 22) - 1, Mpeg2PsMux::MuxRate(~uint64_t(0), 1));
}

TEST_F(Mpeg2PsMuxTest, ALargeLastPackGetsTheLargestMuxRateNotAWrappedOne) {
    Build(SampleFormatH264AnnexB, 0);
    demux->AddSample(video, Payload(50000, 1), 1000000);  // over 9 ticks at the end
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    EXPECT_EQ((1u << 22) - 1, packs[0].muxRate);
}

TEST_F(Mpeg2PsMuxTest, Eac3GoesOutAsPrivateStreamOneBehindHdDvdData) {
    Build(SampleFormatH264AnnexB, SampleFormatEac3);
    // An E-AC-3 frame: syncword, then bytes as they come.
    Bytes frame = Payload(256, 4);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    demux->AddSample(video, Payload(100, 1), 1000000);
    demux->AddSample(audio, frame, 1000000);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    ASSERT_EQ(2u, packs[0].pes.size());
    EXPECT_EQ(0xBD, packs[0].pes[1].id);
    const Bytes& payload = packs[0].pes[1].payload;
    ASSERT_EQ(4u + frame.size(), payload.size()) << "4 bytes of private data in front";
    // sub_stream_id 0xC0, one frame header, first access unit at its byte 1.
    EXPECT_EQ((Bytes{0xC0, 0x01, 0x00, 0x01}), Bytes(payload.begin(), payload.begin() + 4));
    EXPECT_EQ(frame, Bytes(payload.begin() + 4, payload.end()));
    EXPECT_EQ(0xBD, packs[0].systemHeader[18]);
    EXPECT_EQ((Bytes{0x87, 0xBD, 0x00, 0x00}),
              Bytes(packs[0].psm.begin() + 12, packs[0].psm.begin() + 16));
    EXPECT_TRUE(mux->GetEac3ToHdDvd());
    EXPECT_EQ(0, mux->GetDvdMode());
}

TEST_F(Mpeg2PsMuxTest, WithoutHdDvdConversionHdDvdInputIsTurnedBackIntoRawFrames) {
    mux->SetEac3ToHdDvd(false);
    Build(0, SampleFormatEac3HdDvd);
    Bytes frame = Payload(256, 4);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    // Sub-stream 0, one frame, first at byte 1; then the frame.
    Bytes wrapped(4 + frame.size());
    wrapped[0] = 0xC0;
    wrapped[1] = 0x01;
    wrapped[2] = 0x00;
    wrapped[3] = 0x01;
    std::copy(frame.begin(), frame.end(), wrapped.begin() + 4);
    demux->AddSample(audio, wrapped, 1000000);
    Pull();
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    ASSERT_EQ(1u, packs[0].pes.size());
    EXPECT_EQ(frame, packs[0].pes[0].payload);
}

TEST_F(Mpeg2PsMuxTest, RawAacGetsAdtsHeadersAndSamplesOfOtherMediaTypesAreSkipped) {
    const size_t text = demux->AddStream(0xF1, 3, SampleFormatPesPrivate);
    demux->AddSample(text, Payload(30, 5), 1000000);
    Build(SampleFormatH264AnnexB, SampleFormatAacRaw);
    // AAC-LC, 48 kHz, stereo: what the ADTS header is made from.
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, {0x11, 0x90});
    demux->AddSample(video, Payload(100, 1), 1000000);
    demux->AddSample(audio, Payload(100, 2), 1000000);
    Pull();
    ASSERT_TRUE(demux->GetStream(audio));
    EXPECT_EQ(uint32_t(SampleFormatAacAdts), demux->GetStream(audio)->GetCurrentFormat());
    const std::vector<Pack> packs = Packs();
    ASSERT_EQ(1u, packs.size());
    ASSERT_EQ(2u, packs[0].pes.size());
    EXPECT_EQ(107u, packs[0].pes[1].payload.size()) << "a 7-byte ADTS header in front";
    EXPECT_EQ(0xFF, packs[0].pes[1].payload[0]);
    EXPECT_EQ(0xF0, packs[0].pes[1].payload[1] & 0xF0);
}

}  // namespace
}  // namespace SarvelonMediaKit
