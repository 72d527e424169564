#include "engine/mux/Mpeg2TsMux.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <map>
#include <string>
#include <set>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/samples/MergeSampleFilter.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/FakeDemux.h"
#include "common/TsReader.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeDemux;
using SvTestSupport::RecordingSink;
typedef std::vector<uint8_t> Bytes;

// One AAC-LC frame, 48 kHz stereo, behind a 7-byte ADTS header; size counts the header.
Bytes AdtsFrame(uint32_t size) {
    Bytes frame(size, 0x21);
    frame[0] = 0xFF;
    frame[1] = 0xF1;                 // MPEG-4, layer 0, no CRC
    frame[2] = (1 << 6) | (3 << 2);  // LC, 48000 Hz, channels (high bit) 0
    frame[3] = static_cast<uint8_t>((2 << 6) | (size >> 11));  // 2 channels, length
    frame[4] = static_cast<uint8_t>(size >> 3);
    frame[5] = static_cast<uint8_t>(((size & 7) << 5) | 0x1F);  // buffer fullness 0x7FF
    frame[6] = 0xFC;                                            // one raw data block
    return frame;
}

Bytes Picture(uint32_t size) {
    Bytes picture(size, 0x5A);
    const uint8_t head[] = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x65};
    std::copy(head, head + std::min<size_t>(sizeof head, size), picture.begin());
    return picture;
}

// One 188-byte packet of the output, with the chunk it came in.
struct Packet {
    size_t chunk;
    const uint8_t* p;
    uint16_t Pid() const { return static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]); }
    bool UnitStart() const { return (p[1] & 0x40) != 0; }
    uint8_t Counter() const { return p[3] & 0x0F; }
    bool HasAdaptation() const { return (p[3] & 0x20) != 0; }
    // The payload after the adaptation field.
    const uint8_t* Payload() const { return HasAdaptation() ? p + 5 + p[4] : p + 4; }
    size_t PayloadSize() const { return static_cast<size_t>(p + 188 - Payload()); }
    bool HasPcr() const { return HasAdaptation() && p[4] > 0 && (p[5] & 0x10) != 0; }
    bool Discontinuity() const { return HasAdaptation() && p[4] > 0 && (p[5] & 0x80) != 0; }
    uint64_t Pcr() const {
        const uint8_t* f = p + 6;
        const uint64_t base = (uint64_t(f[0]) << 25) | (uint64_t(f[1]) << 17) |
                              (uint64_t(f[2]) << 9) | (uint64_t(f[3]) << 1) | (f[4] >> 7);
        return base * 300 + (((f[4] & 1) << 8) | f[5]);
    }
};

uint64_t ReadTimestamp(const uint8_t* f) {
    return (uint64_t((f[0] >> 1) & 7) << 30) | (uint64_t(f[1]) << 22) |
           (uint64_t(f[2] >> 1) << 15) | (uint64_t(f[3]) << 7) | (f[4] >> 1);
}

class Mpeg2TsMuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        video = demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
        audio = demux->AddStream(0xC0, SampleMediaTypeAudio, audioFormat);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
        demux->SetEndOfStreamAtEnd(true);
    }
    void Run() { mux->PullData(ByteAmount(0x7FFFFFFF)); }
    // The chain again with audio frames joined count to a PES: the multiplexer decides it
    // when a stream is added.
    void JoinFrames(uint32_t count) {
        stack = ComponentStack(StackIdMain);
        sink = boost::make_shared<RecordingSink>();
        mux = boost::make_shared<Mpeg2TsMux>(nullptr);
        mux->SetMergeCount(count);
        demux = boost::make_shared<FakeDemux>(nullptr);
        SetUp();
    }
    std::vector<Packet> Packets() const {
        std::vector<Packet> packets;
        for (size_t i = 0; i < sink->entries.size(); ++i) {
            const Bytes& bytes = sink->entries[i].bytes;
            for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
                packets.push_back(Packet{i, bytes.data() + at});
            }
        }
        return packets;
    }
    std::vector<Packet> PacketsOf(uint16_t pid) const {
        std::vector<Packet> out;
        for (const Packet& packet : Packets()) {
            if (packet.Pid() == pid) out.push_back(packet);
        }
        return out;
    }

    uint32_t audioFormat = SampleFormatAacAdts;
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(nullptr);
    boost::shared_ptr<FakeDemux> demux = boost::make_shared<FakeDemux>(nullptr);
    size_t video = 0;
    size_t audio = 0;
};

const uint8_t kPat[] = {
    0x00,                    // pointer_field
    0x00, 0xB0, 0x0D,        // table_id 0, section_syntax_indicator, section_length 13
    0x00, 0x00,              // transport_stream_id 0
    0xC1, 0x00, 0x00,        // version 0, current_next_indicator; section 0 of 0
    0x00, 0x01, 0xE0, 0x20,  // program 1 -> PMT PID 0x0020
    0xF9, 0x62, 0xF5, 0x8B,  // CRC_32
};

// PMT, H.264 video and AAC-LC 48 kHz stereo (AudioSpecificConfig 11 90), version 0.
const uint8_t kPmt[] = {
    0x00,                          // pointer_field
    0x02, 0xB0, 0x3C,              // table_id 2, section_length 60
    0x00, 0x01,                    // program_number 1
    0xC1, 0x00, 0x00,              // version 0, current_next_indicator; section 0 of 0
    0xE0, 0x21,                    // PCR_PID 0x0021
    0xF0, 0x25,                    // program_info_length 37
    0x1D, 0x23, 0x10, 0x01,        // IOD_descriptor, Scope_of_IOD_label, IOD_label
    0x02, 0x1F, 0x00, 0x4F,        // InitialObjectDescriptor, ObjectDescriptorID 1
    0xFF, 0xFF, 0xFE, 0xFE, 0xFF,  // profile-level indications
    0x03, 0x16, 0x00, 0x22, 0x10,  // ES_Descriptor, ES_ID 0x0022, streamPriority 16
    0x04, 0x11, 0x40, 0x15,        // DecoderConfigDescriptor: 14496-3 audio, audio stream
    0xFF, 0xFF, 0xFF,              // bufferSizeDB
    0xFF, 0xFF, 0xFF, 0xFF,        // maxBitrate
    0xFF, 0xFF, 0xFF, 0xFF,        // avgBitrate
    0x05, 0x02, 0x11, 0x90,        // DecoderSpecificInfo: the AudioSpecificConfig
    0x1B, 0xE0, 0x21, 0xF0, 0x00,  // H.264 on PID 0x0021
    0x0F, 0xE0, 0x22, 0xF0, 0x00,  // ADTS AAC on PID 0x0022
    0xB8, 0xAB, 0xB8, 0x57,        // CRC_32
};

TEST_F(Mpeg2TsMuxTest, PatAndPmtAreGoldenEachInOnePacketBeforeTheKeyFrame) {
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, {0x11, 0x90});
    demux->AddSample(video, Picture(1000), 10000000, 0, true);
    demux->AddSample(audio, AdtsFrame(300), 10000000);
    Run();

    EXPECT_EQ(Bytes(kPat, kPat + sizeof kPat), mux->GetPat());
    EXPECT_EQ(Bytes(kPmt, kPmt + sizeof kPmt), mux->GetPmt());
    ASSERT_GE(sink->entries.size(), 4u);
    // The group-of-pictures marker, timed by the PCR: 200 ms before the DTS.
    EXPECT_TRUE(sink->entries[0].isMarker);
    EXPECT_EQ(uint32_t(MemoryMarkerTypeGopStart), sink->entries[0].markerType);
    EXPECT_EQ(10000000u - 200000u, sink->entries[0].gopTime);

    struct Case {
        size_t entry;
        uint16_t pid;
        const uint8_t* section;
        size_t size;
    } cases[] = {{1, 0x0000, kPat, sizeof kPat}, {2, 0x0020, kPmt, sizeof kPmt}};
    for (const Case& c : cases) {
        const Bytes& packet = sink->entries[c.entry].bytes;
        ASSERT_EQ(188u, packet.size()) << c.pid;
        EXPECT_EQ(0x47, packet[0]);
        EXPECT_EQ(0x40 | (c.pid >> 8), packet[1]);  // payload_unit_start_indicator
        EXPECT_EQ(c.pid & 0xFF, packet[2]);
        EXPECT_EQ(0x30, packet[3]);          // adaptation field and payload, counter 0
        EXPECT_EQ(183 - c.size, packet[4]);  // stuffing fills the packet exactly
        EXPECT_EQ(0x00, packet[5]);          // no flags: the PAT carries no PCR
        EXPECT_EQ(Bytes(188 - 6 - c.size, 0xFF), Bytes(packet.begin() + 6, packet.end() - c.size));
        EXPECT_EQ(Bytes(c.section, c.section + c.size), Bytes(packet.end() - c.size, packet.end()));
    }

    // An outside reader agrees: CRCs good, one program, the two streams.
    SvTools::TsReader reader;
    const Bytes all = sink->Bytes();
    reader.Feed(all.data(), all.size());
    reader.Finish();
    EXPECT_EQ(0u, reader.SectionErrors());
    ASSERT_EQ(1u, reader.Programs().size());
    EXPECT_EQ(0x21, reader.Programs()[0].pcrPid);
    ASSERT_EQ(2u, reader.Programs()[0].streams.size());
    EXPECT_EQ(0x22, reader.Programs()[0].streams[1].pid);
}

TEST_F(Mpeg2TsMuxTest, ThePmtVersionGrowsAtEachRefreshAndCountersRunPerPidUntilARestart) {
    uint64_t time = 0;
    for (int refresh = 0; refresh < 33; ++refresh) {
        demux->AddSample(video, Picture(400), time, 0, true);
        demux->AddSample(audio, AdtsFrame(200), time);
        demux->AddSample(video, Picture(400), time + 40000, 0, false);
        time += 80000;
        Run();
        // Versions 0, 1 ... 31, then round to 0 again.
        const uint8_t expected[] = {0xC1, 0xC3, 0xFF, 0xC1};
        const int at[] = {0, 1, 31, 32};
        for (int k = 0; k < 4; ++k) {
            if (refresh == at[k]) {
                EXPECT_EQ(expected[k], mux->GetPmt()[6]) << refresh;
            }
        }
        mux->SetPosition(BytePosition(0), StackIdAny);
    }
    EXPECT_EQ(Bytes(kPat, kPat + sizeof kPat), mux->GetPat());  // never changes

    // Within a run the counters of each PID follow on; after each reposition the PID's first
    // packet starts again at 0 and says so with the discontinuity_indicator.
    std::map<uint16_t, int> next;
    std::map<uint16_t, int> count;
    std::map<uint16_t, int> restarts;
    for (const Packet& packet : Packets()) {
        const uint16_t pid = packet.Pid();
        if (packet.Discontinuity()) {
            EXPECT_TRUE(next.count(pid)) << "PID " << pid << ": flagged before anything";
            EXPECT_EQ(0, packet.Counter()) << "PID " << pid;
            EXPECT_TRUE(packet.UnitStart()) << "PID " << pid;
            ++restarts[pid];
        } else if (next.count(pid)) {
            EXPECT_EQ(next[pid], packet.Counter()) << "PID " << pid;
        }
        next[pid] = (packet.Counter() + 1) & 0x0F;
        ++count[pid];
    }
    EXPECT_EQ(33, count[0x0000]);
    EXPECT_EQ(33, count[0x0020]);
    EXPECT_EQ(66 * 3, count[0x0021]);  // 400 bytes with headers take three packets
    EXPECT_EQ(33 * 2, count[0x0022]);
    for (const uint16_t pid : {0x0000, 0x0020, 0x0021, 0x0022}) {
        EXPECT_EQ(32, restarts[pid]) << "PID " << pid;  // every run but the first
    }
}

// Four frames to a PES, as the HLS output joins them: a group never reaches across a key
// frame, so what lies between two key frames does not depend on where the output started.
TEST_F(Mpeg2TsMuxTest, JoinedAudioFramesCloseBeforeEachKeyFrameAndAtTheEnd) {
    JoinFrames(4);

    // Key frames at 1.0 and 1.1 s; audio frames every 20 ms from 1.0 s, ten of them.
    demux->AddSample(video, Picture(300), 1000000, 0, true);
    demux->AddSample(video, Picture(300), 1040000, 0, false);
    demux->AddSample(video, Picture(300), 1100000, 0, true);
    for (int i = 0; i < 10; ++i) demux->AddSample(audio, AdtsFrame(100 + i), 1000000 + i * 20000);
    Run();

    // Each audio PES: its PTS (90 kHz) and payload size, with the group-of-pictures markers
    // ('G') in their places.
    std::vector<std::string> seen;
    SvTools::TsReader reader([&](SvTools::TsPes& pes) {
        if (pes.pid == 0x22) {
            seen.push_back(std::to_string(pes.pts) + ":" + std::to_string(pes.payload.size()));
        }
    });
    for (const RecordingSink::Entry& entry : sink->entries) {
        if (entry.isMarker && entry.markerType == MemoryMarkerTypeGopStart) {
            reader.Finish();  // lets out the PES still gathered
            seen.push_back("G");
            reader = SvTools::TsReader([&](SvTools::TsPes& pes) {
                if (pes.pid == 0x22) {
                    seen.push_back(std::to_string(pes.pts) + ":" +
                                   std::to_string(pes.payload.size()));
                }
            });
            continue;
        }
        reader.Feed(entry.bytes.data(), entry.bytes.size());
    }
    reader.Finish();
    const std::vector<std::string> expected = {
        "G",           // the first key frame, at 1.0 s (a tie goes to the picture)
        "90000:406",   // 1.00 to 1.06 s: frames of 100 to 103 bytes
        "97200:104",   // 1.08 s alone: the group closes before the next key frame
        "G",           // the key frame at 1.1 s
        "99000:426",   // 1.10 to 1.16 s: 105 to 108 bytes
        "106200:109",  // 1.18 s alone: the end lets it out
    };
    EXPECT_EQ(expected, seen);
}

TEST_F(Mpeg2TsMuxTest, AFrameHeldForJoiningDoesNotOutliveAReposition) {
    JoinFrames(4);
    demux->SetEndOfStreamAtEnd(false);  // the first stretch does not end: its frames stay held
    demux->AddSample(video, Picture(300), 1000000, 0, true);
    demux->AddSample(audio, AdtsFrame(100), 1000000);
    demux->AddSample(audio, AdtsFrame(101), 1020000);
    demux->AddSample(video, Picture(300), 1040000, 0, false);
    Run();
    // Two frames held; the playback moves to 5 s.
    ASSERT_TRUE(PacketsOf(0x0022).empty());
    mux->SetPosition(BytePosition(0), StackIdAny);
    demux->SetEndOfStreamAtEnd(true);
    demux->AddSample(video, Picture(300), 5000000, 0, true);
    demux->AddSample(audio, AdtsFrame(102), 5000000);
    Run();

    SvTools::TsReader reader;
    const Bytes all = sink->Bytes();
    reader.Feed(all.data(), all.size());
    reader.Finish();
    std::vector<uint64_t> audioPts;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.pid == 0x22) audioPts.push_back(pes.pts);
    }
    // Only the frame of the new position, alone; the old ones are gone.
    EXPECT_EQ(std::vector<uint64_t>{450000}, audioPts);
    // The reader saw every counter jump announced.
    EXPECT_TRUE(reader.ContinuityErrors().empty());
}

TEST_F(Mpeg2TsMuxTest, AfterARepositionWhatFollowsTheNextMarkerAnnouncesItsRestart) {
    demux->SetEndOfStreamAtEnd(false);
    demux->AddSample(video, Picture(300), 1000000, 0, true);
    demux->AddSample(audio, AdtsFrame(100), 1000000);
    demux->AddSample(video, Picture(300), 1040000, 0, false);
    Run();
    mux->SetPosition(BytePosition(0), StackIdAny);
    // Sound ahead of the key frame: it belongs to the group before, which a segmenter drops.
    demux->SetEndOfStreamAtEnd(true);
    demux->AddSample(audio, AdtsFrame(101), 4980000);
    demux->AddSample(video, Picture(300), 5000000, 0, true);
    demux->AddSample(audio, AdtsFrame(102), 5000000);
    sink->entries.clear();
    Run();

    // From the marker on, as a segment has it: every PID's first packet starts again at 0 and
    // says so.
    size_t marker = sink->entries.size();
    for (size_t i = 0; i < sink->entries.size() && marker == sink->entries.size(); ++i) {
        if (sink->entries[i].isMarker) marker = i;
    }
    ASSERT_LT(marker, sink->entries.size());
    ASSERT_FALSE(sink->entries[marker - 1].isMarker);  // the sound ahead of it came first
    std::map<uint16_t, std::pair<bool, int>> first;    // PID -> (flagged, counter)
    for (size_t i = marker + 1; i < sink->entries.size(); ++i) {
        const Bytes& bytes = sink->entries[i].bytes;
        for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
            const Packet packet{i, bytes.data() + at};
            if (!first.count(packet.Pid())) {
                first[packet.Pid()] = std::make_pair(packet.Discontinuity(), packet.Counter());
            }
        }
    }
    const std::map<uint16_t, std::pair<bool, int>> expected = {
        {0x0000, {true, 0}}, {0x0020, {true, 0}}, {0x0021, {true, 0}}, {0x0022, {true, 0}}};
    EXPECT_EQ(expected, first);
}

TEST_F(Mpeg2TsMuxTest, TimestampsFollowTheSampleTimes) {
    struct Case {
        uint64_t decodeTime;
        uint64_t presentationOffset;
        uint64_t dts;
        uint64_t pts;
    } cases[] = {
        {10000000, 0, 900000, 900000},      // 10 s, PTS only
        {10000000, 80000, 900000, 907200},  // two frames of reordering
        {10001234, 0, 900111, 900111},      // (t + 5 us) x 0.09, truncated
        {10001107, 0, 900100, 900100},      // rounds to the nearest tick
    };
    for (const Case& c : cases) {
        demux->AddSample(video, Picture(100), c.decodeTime, c.presentationOffset, false);
    }
    Run();
    EXPECT_EQ(0u, mux->GetTimestampOffset());  // the first DTS is past 0.2 s
    const std::vector<Packet> packets = PacketsOf(0x0021);
    ASSERT_EQ(4u, packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        const Packet& packet = packets[i];
        ASSERT_TRUE(packet.HasPcr()) << i;  // every video PES carries a PCR
        EXPECT_EQ(cases[i].dts * 300 - 5400000, packet.Pcr()) << i;
        const uint8_t* pes = packet.Payload();
        ASSERT_EQ(0xE0, pes[3]);
        EXPECT_EQ(0x83, pes[6]);
        if (cases[i].pts == cases[i].dts) {
            EXPECT_EQ(0x80, pes[7]) << i;
            EXPECT_EQ(5, pes[8]);
            EXPECT_EQ(0x21, pes[9] & 0xF1);  // '0010' prefix and marker
            EXPECT_EQ(cases[i].pts, ReadTimestamp(pes + 9)) << i;
            EXPECT_EQ(100u + 14 - 6, (pes[4] << 8 | pes[5]));
        } else {
            EXPECT_EQ(0xC0, pes[7]) << i;
            EXPECT_EQ(10, pes[8]);
            EXPECT_EQ(0x31, pes[9] & 0xF1);   // '0011'
            EXPECT_EQ(0x11, pes[14] & 0xF1);  // '0001'
            EXPECT_EQ(cases[i].pts, ReadTimestamp(pes + 9)) << i;
            EXPECT_EQ(cases[i].dts, ReadTimestamp(pes + 14)) << i;
            EXPECT_EQ(100u + 19 - 6, (pes[4] << 8 | pes[5]));
        }
    }
}

TEST_F(Mpeg2TsMuxTest, AnEarlyFirstDecodeTimeShiftsEverythingByTwoTenthsOnce) {
    demux->AddSample(video, Picture(100), 0, 0, true);
    demux->AddSample(video, Picture(100), 40000, 0, false);
    Run();
    EXPECT_EQ(18000u, mux->GetTimestampOffset());
    std::vector<Packet> packets = PacketsOf(0x0021);
    ASSERT_EQ(2u, packets.size());
    EXPECT_EQ(18000u, ReadTimestamp(packets[0].Payload() + 9));
    EXPECT_EQ(0u, packets[0].Pcr());
    EXPECT_EQ(0u, sink->entries[0].gopTime);
    EXPECT_EQ(18000u + 3600u, ReadTimestamp(packets[1].Payload() + 9));

    // A seek back to the start: the offset is already in every timestamp and is not added a
    // second time, so the first picture does not land after the ones that follow it.
    mux->SetPosition(BytePosition(0), StackIdMain);
    demux->AddSample(video, Picture(100), 0, 0, true);
    demux->AddSample(video, Picture(100), 40000, 0, false);
    Run();
    packets = PacketsOf(0x0021);
    ASSERT_EQ(4u, packets.size());
    EXPECT_EQ(18000u, ReadTimestamp(packets[2].Payload() + 9));
    EXPECT_EQ(18000u + 3600u, ReadTimestamp(packets[3].Payload() + 9));
}

TEST_F(Mpeg2TsMuxTest, AFirstDecodeTimePastTwoToThe32TicksIsNotTakenForAnEarlyOne) {
    // 2^32 + 9005 ticks (about 13 h 15 min): its low 32 bits (9005) would pass for a decode
    // time under 0.2 s. 4294976301 ticks x 100 / 9 = 47721958900 us exactly.
    const uint64_t ticks = 4294976301ull;
    const uint64_t start = 47721958900ull;
    demux->AddSample(video, Picture(100), start, 0, true);
    demux->AddSample(video, Picture(100), start + 40000, 0, false);
    Run();
    EXPECT_EQ(0u, mux->GetTimestampOffset()) << "no shift: the time is far past 0.2 s";
    const std::vector<Packet> packets = PacketsOf(0x0021);
    ASSERT_EQ(2u, packets.size());
    // Both below 2^33: written as they are.
    EXPECT_EQ(ticks, ReadTimestamp(packets[0].Payload() + 9));
    EXPECT_EQ(ticks + 3600u, ReadTimestamp(packets[1].Payload() + 9));
    ASSERT_TRUE(packets[0].HasPcr());
    EXPECT_EQ((ticks - 18000u) * 300u, packets[0].Pcr()) << "0.2 s before the DTS";
    EXPECT_EQ((ticks + 3600u - 18000u) * 300u, packets[1].Pcr());
    ASSERT_FALSE(sink->entries.empty());
    EXPECT_EQ(start - 200000u, sink->entries[0].gopTime);
}

TEST_F(Mpeg2TsMuxTest, KeyFramesStartGroupsAndChunksHoldWholePacketsOfOneUnit) {
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, {0x11, 0x90});
    const uint32_t sizes[] = {100000, 3000, 70000, 5000};
    const bool keys[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        demux->AddSample(video, Picture(sizes[i]), 1000000 + i * 40000, 40000, keys[i]);
        demux->AddSample(audio, AdtsFrame(400), 1000000 + i * 40000 + 10000);
    }
    Run();

    // Marker, PAT, PMT, then the key frame, each time; nothing of the kind before others.
    const std::vector<RecordingSink::Entry>& entries = sink->entries;
    std::vector<size_t> markers;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].isMarker && entries[i].markerType == MemoryMarkerTypeGopStart) {
            markers.push_back(i);
        }
    }
    ASSERT_EQ(2u, markers.size());
    for (size_t m : markers) {
        ASSERT_LT(m + 3, entries.size());
        const Packet pat{m + 1, entries[m + 1].bytes.data()};
        const Packet pmt{m + 2, entries[m + 2].bytes.data()};
        const Packet picture{m + 3, entries[m + 3].bytes.data()};
        EXPECT_EQ(188u, entries[m + 1].bytes.size());
        EXPECT_EQ(0x0000, pat.Pid());
        EXPECT_EQ(188u, entries[m + 2].bytes.size());
        EXPECT_EQ(0x0020, pmt.Pid());
        EXPECT_EQ(0x0021, picture.Pid());
        EXPECT_TRUE(picture.UnitStart());
        EXPECT_EQ(picture.Pcr() / 27, entries[m].gopTime);
    }

    // Every chunk: whole packets of one PID, at most 348; every unit starts a chunk.
    std::vector<Packet> packets = Packets();
    size_t previousChunk = ~size_t(0);
    for (const Packet& packet : packets) {
        if (packet.UnitStart()) {
            EXPECT_NE(previousChunk, packet.chunk);
        }
        if (packet.chunk == previousChunk) {
            EXPECT_EQ(packets[&packet - &packets[0] - 1].Pid(), packet.Pid());
        }
        previousChunk = packet.chunk;
    }
    for (const RecordingSink::Entry& entry : entries) {
        if (entry.isMarker) continue;
        EXPECT_EQ(0u, entry.bytes.size() % 188);
        EXPECT_LE(entry.bytes.size(), 348u * 188u);
    }
    // The 100000-byte picture with its PCR and header needs 544 packets: a full chunk and
    // the rest.
    EXPECT_EQ(348u * 188u, entries[3].bytes.size());
    EXPECT_EQ((544u - 348u) * 188u, entries[4].bytes.size());
    const uint8_t* big = Packet{3, entries[3].bytes.data()}.Payload();
    EXPECT_EQ(0, big[4] | big[5]);  // PES_packet_length 0: too long for 16 bits

    // The payload arrives whole and in order.
    SvTools::TsReader reader;
    const Bytes all = sink->Bytes();
    reader.Feed(all.data(), all.size());
    reader.Finish();
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    EXPECT_EQ(0u, reader.PesErrors());
    std::vector<size_t> videoSizes;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.pid == 0x21) {
            videoSizes.push_back(pes.payload.size());
            EXPECT_EQ(Picture(static_cast<uint32_t>(pes.payload.size())), pes.payload);
        } else {
            EXPECT_EQ(AdtsFrame(400), pes.payload);
            EXPECT_EQ(0xC0, pes.streamId);
        }
    }
    EXPECT_EQ((std::vector<size_t>{100000, 3000, 70000, 5000}), videoSizes);
}

// A sink that keeps every chunk it was given beside the copy of its bytes taken on arrival.
class KeepingSink : public SvTestSupport::RecordingSink {
public:
    void DoAdd(const MemoryChunk& chunk) override {
        kept.push_back(chunk);
        RecordingSink::DoAdd(chunk);
    }
    std::vector<MemoryChunk> kept;
};

// The chunks are cut one after the other from shared buffers: several megabytes of output in
// chunks of every size (a picture over a chunk's maximum, small audio units), and every chunk
// still holds, after everything else was written, the bytes it held when it left; a stage that
// asks for room around the chunks gets chunks of their own with that room.
TEST_F(Mpeg2TsMuxTest, ChunksSharingBuffersKeepTheirBytesOnceTheyLeft) {
    for (const uint32_t room : {0u, 16u}) {
        stack = ComponentStack(StackIdMain);
        boost::shared_ptr<KeepingSink> keeping = boost::make_shared<KeepingSink>();
        sink = keeping;
        mux = boost::make_shared<Mpeg2TsMux>(nullptr);
        demux = boost::make_shared<FakeDemux>(nullptr);
        SetUp();
        keeping->SetHeadroom(room);
        mux->SetHeadroom(room);
        const uint32_t sizes[] = {100000, 3000, 65000, 17, 40000, 131072, 9000};
        for (int i = 0; i < 70; ++i) {
            const uint32_t size = sizes[i % 7] + static_cast<uint32_t>(i);
            demux->AddSample(video, Picture(size), 1000000 + i * 40000, 40000, i % 10 == 0);
            demux->AddSample(audio, AdtsFrame(300 + i), 1000000 + i * 40000 + 10000);
        }
        Run();
        const std::vector<RecordingSink::Entry>& entries = keeping->entries;
        size_t data = 0;
        std::set<const uint8_t*> buffers;
        uint64_t bytes = 0;
        for (size_t i = 0, k = 0; i < entries.size(); ++i) {
            if (entries[i].isMarker) continue;
            ASSERT_LT(k, keeping->kept.size());
            const MemoryChunk& chunk = keeping->kept[k++];
            ASSERT_EQ(entries[i].bytes.size(), chunk.Size());
            EXPECT_TRUE(std::equal(entries[i].bytes.begin(), entries[i].bytes.end(), chunk.Data(0)))
                << "chunk " << i << " changed after it left (room " << room << ")";
            EXPECT_EQ(room == 0, chunk.IsSlice());
            buffers.insert(chunk.Data(0));
            bytes += chunk.Size();
            ++data;
            if (room != 0) {
                // The room is the chunk's own: taking it moves the payload's front back in
                // place, where a slice would be copied.
                MemoryChunk same = chunk;
                const uint8_t* front = same.Data(0);
                ASSERT_TRUE(same.Reserve(room));
                EXPECT_EQ(front - room, same.Data(0));
            }
        }
        EXPECT_GT(bytes, 3u << 20);       // more than three of the shared buffers
        EXPECT_EQ(data, buffers.size());  // no two chunks show the same bytes
        // The whole output still reads as the program it was.
        SvTools::TsReader reader;
        const Bytes all = keeping->Bytes();
        reader.Feed(all.data(), all.size());
        reader.Finish();
        EXPECT_TRUE(reader.ContinuityErrors().empty());
        EXPECT_EQ(0u, reader.PesErrors());
    }
}

TEST_F(Mpeg2TsMuxTest, ShortUnitsFillOnePacketWithStuffing) {
    // 14 header bytes + 169 = 183: an adaptation field of one byte, length 0, no flags.
    demux->AddSample(audio, AdtsFrame(169), 1000000);
    // 14 + 8 (PCR) + 100: the PCR's adaptation field grows to fill the packet.
    demux->AddSample(video, Picture(100), 1000000, 0, false);
    Run();
    const std::vector<Packet> audioPackets = PacketsOf(0x0022);
    ASSERT_EQ(1u, audioPackets.size());
    EXPECT_EQ(0x30, audioPackets[0].p[3] & 0xF0);
    EXPECT_EQ(0, audioPackets[0].p[4]);
    EXPECT_EQ(0x00, audioPackets[0].p[5]);  // the first PES byte, not a flags byte
    EXPECT_EQ(183u, audioPackets[0].PayloadSize());

    const std::vector<Packet> videoPackets = PacketsOf(0x0021);
    ASSERT_EQ(1u, videoPackets.size());
    EXPECT_EQ(183 - 114, videoPackets[0].p[4]);
    EXPECT_EQ(0x10, videoPackets[0].p[5]);  // PCR_flag
    EXPECT_EQ(Bytes(183 - 114 - 7, 0xFF),
              Bytes(videoPackets[0].p + 12, videoPackets[0].p + 12 + 183 - 114 - 7));
    EXPECT_EQ(114u, videoPackets[0].PayloadSize());
}

TEST_F(Mpeg2TsMuxTest, AacWithoutAUsableConfigurationGetsNoDescriptor) {
    // The audio stream stays empty, so only the demultiplexer could tell the configuration:
    // first nothing, then one byte, then more than the descriptor lengths can count.
    const Bytes configs[] = {Bytes(), Bytes(1, 0x11), Bytes(223, 0x11)};
    for (const Bytes& config : configs) {
        if (!config.empty()) demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, config);
        demux->AddSample(video, Picture(100), 1000000, 0, true);
        Run();
        mux->SetPosition(BytePosition(0), StackIdAny);
        const Bytes& pmt = mux->GetPmt();
        ASSERT_EQ(27u, pmt.size()) << config.size();
        EXPECT_EQ(0xF0, pmt[11]);  // program_info_length 0
        EXPECT_EQ(0x00, pmt[12]);
        EXPECT_EQ(Bytes({0x1B, 0xE0, 0x21, 0xF0, 0x00, 0x0F, 0xE0, 0x22, 0xF0, 0x00}),
                  Bytes(pmt.begin() + 13, pmt.begin() + 23));
    }
    // The longest that fits: 222 bytes, descriptor_length 255.
    demux->SetStreamInfo(audio, StreamInfoKindAudioSpecificConfig, Bytes(222, 0x11));
    demux->AddSample(video, Picture(100), 1000000, 0, true);
    Run();
    EXPECT_EQ(0x1D, mux->GetPmt()[13]);
    EXPECT_EQ(0xFF, mux->GetPmt()[14]);
}

class Mpeg2TsMuxAudioOnlyTest : public Mpeg2TsMuxTest {
protected:
    void SetUp() override {
        audio = demux->AddStream(0xBD, SampleMediaTypeAudio, SampleFormatEac3);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
        demux->SetEndOfStreamAtEnd(true);
    }
};

TEST_F(Mpeg2TsMuxAudioOnlyTest, AudioAloneGetsNoTablesAndEac3GoesToPrivateStream1) {
    for (int i = 0; i < 3; ++i) demux->AddSample(audio, Bytes(300, 0x0B), 1000000 + i * 32000);
    Run();
    EXPECT_TRUE(PacketsOf(0x0000).empty());
    EXPECT_TRUE(PacketsOf(0x0020).empty());
    const std::vector<Packet> packets = PacketsOf(0x0022);
    ASSERT_EQ(6u, packets.size());
    EXPECT_EQ(0xBD, packets[0].Payload()[3]);
    EXPECT_FALSE(packets[0].HasPcr());
    // The table it would write lists E-AC-3 and nothing else.
    EXPECT_EQ(Bytes({0x87, 0xE0, 0x22, 0xF0, 0x00}),
              Bytes(mux->GetPmt().begin() + 13, mux->GetPmt().begin() + 18));
    EXPECT_EQ(22u, mux->GetPmt().size());
}

}  // namespace
}  // namespace SarvelonMediaKit

namespace SarvelonMediaKit {
namespace {

std::string FilterName(const boost::shared_ptr<SampleFilter>& filter) {
    const SampleFilter* f = filter.get();
    if (dynamic_cast<const AdtsAddSampleFilter*>(f)) return "AdtsAdd";
    if (dynamic_cast<const AdtsSynchronizeSampleFilter*>(f)) return "AdtsSynchronize";
    if (dynamic_cast<const Eac3HdDvdToRawSampleFilter*>(f)) return "Eac3HdDvdToRaw";
    if (dynamic_cast<const H264SampleFilterFillerRemove*>(f)) return "FillerRemove";
    if (dynamic_cast<const LengthToStartCodeH264SampleFilter*>(f)) return "LengthToStartCode";
    if (dynamic_cast<const MergeSampleFilter*>(f)) return "Merge";
    return "?";
}

TEST(Mpeg2TsMuxFilters, EachFormatGetsTheChainThatMakesItTransportStreamReady) {
    typedef std::vector<std::string> Names;
    struct Case {
        uint32_t type;
        uint32_t format;
        bool removeFiller;
        uint32_t merge;
        Names filters;
        uint32_t leaves;  // the stream's current format afterwards
    } cases[] = {
        {1, SampleFormatAacRaw, false, 0, {"AdtsAdd"}, SampleFormatAacAdts},
        {1, SampleFormatAacRaw, false, 4, {"AdtsAdd"}, SampleFormatAacAdts},
        {1, SampleFormatAacAdts, true, 0, {"AdtsSynchronize"}, SampleFormatAacAdts},
        {1, SampleFormatAacAdts, false, 4, {"AdtsSynchronize"}, SampleFormatAacAdts},
        {1, SampleFormatEac3, false, 4, {}, SampleFormatEac3},
        {1, SampleFormatEac3HdDvd, false, 4, {"Eac3HdDvdToRaw"}, SampleFormatEac3},
        {1, SampleFormatPesPrivate, false, 4, {}, SampleFormatPesPrivate},
        {2, SampleFormatH264AnnexB, false, 4, {}, SampleFormatH264AnnexB},
        {2, SampleFormatH264AnnexB, true, 4, {"FillerRemove"}, SampleFormatH264AnnexB},
        {2, SampleFormatH264Length, false, 4, {"LengthToStartCode"}, SampleFormatH264AnnexB},
        {2,
         SampleFormatH264Length,
         true,
         0,
         {"FillerRemove", "LengthToStartCode"},
         SampleFormatH264AnnexB},
        {2, 99, true, 4, {}, 99},
    };
    for (const Case& c : cases) {
        Mpeg2TsMux mux(nullptr);
        mux.SetRemoveFillerData(c.removeFiller);
        mux.SetMergeCount(c.merge);
        boost::shared_ptr<SampleStream> stream =
            boost::make_shared<SampleStream>(nullptr, StreamReference(1), c.type, c.format);
        mux.AddSampleStream(stream);
        Names names;
        for (const boost::shared_ptr<SampleFilter>& filter : stream->GetFilters()) {
            names.push_back(FilterName(filter));
        }
        EXPECT_EQ(c.filters, names) << "format " << c.format;
        EXPECT_EQ(c.leaves, stream->GetCurrentFormat()) << "format " << c.format;
        EXPECT_EQ(c.leaves, mux.GetStreamFormat(c.type));
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
