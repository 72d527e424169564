#include "engine/demux/Mpeg2PsSampleAssembler.h"

#include <gtest/gtest.h>

#include <list>
#include <vector>

namespace SarvelonMediaKit {
namespace {

typedef std::vector<uint8_t> Bytes;

const uint8_t kPts = 0x80;
const uint8_t kPtsDts = 0xC0;
const uint8_t kAligned = 0x04;

// A video packet of the given payload length; its DTS is its PTS.
Mpeg2PsSampleAssembler::Packet VideoPacket(uint8_t flags2, uint16_t length, uint64_t pts = 0) {
    Mpeg2PsSampleAssembler::Packet packet;
    packet.streamId = 0xE0;
    packet.payloadLength = length;
    packet.flags2 = flags2;
    packet.pts = pts;
    packet.dts = pts;
    packet.type = SampleMediaTypeVideo;
    return packet;
}

// An assembler over the listener's default samples that keeps what it hands on, and stops with
// stopWith while that is set.
struct Assembly {
    Mpeg2PsParserListener listener;
    std::vector<Sample> finished;
    Mpeg2PsResult stopWith = Mpeg2PsResult::Ok;
    Mpeg2PsSampleAssembler assembler{listener, [this](Sample& sample) {
                                         finished.push_back(sample);
                                         return stopWith;
                                     }};

    Mpeg2PsResult Packet(uint8_t flags2, uint16_t length, const Bytes& bytes, uint64_t pts = 0) {
        const Mpeg2PsResult result = assembler.PacketStarts(VideoPacket(flags2, length, pts));
        assembler.Add(nullptr, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return result;
    }
};

Bytes PayloadOf(const Sample& sample) {
    Bytes out;
    for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
        out.insert(out.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
    }
    return out;
}

// One sample finished, of two chunks: a slice starting at sliceStart, then a copy.
void ExpectSliceThenCopy(Assembly& a, const uint8_t* sliceStart, const Bytes& payload) {
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    ASSERT_EQ(1u, a.finished.size());
    const std::list<MemoryChunk>& chunks = a.finished[0].GetPayload().GetChunks();
    ASSERT_EQ(2u, chunks.size());
    EXPECT_TRUE(chunks.front().IsSlice());
    EXPECT_EQ(sliceStart, chunks.front().Data(0));
    EXPECT_FALSE(chunks.back().IsSlice());
    EXPECT_EQ(payload, PayloadOf(a.finished[0]));
}

TEST(Mpeg2PsSampleAssemblerTest, OnlyWholeSamplesAreHandedOnAndEachOnce) {
    Assembly a;
    // A packet that ends after 2 of its 4 bytes, then a packet with a PTS: the first sample is
    // replaced, not handed on, and the second is not handed on until it is whole.
    a.Packet(kPts, 4, {1, 2});
    a.Packet(kPts, 3, {7, 8});
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    EXPECT_TRUE(a.finished.empty());
    // The missing byte, and one more than the packet holds, which is not kept.
    const Bytes rest = {9, 10};
    a.assembler.Add(nullptr, rest.data(), 2);
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    ASSERT_EQ(1u, a.finished.size());
    EXPECT_EQ(Bytes({7, 8, 9}), PayloadOf(a.finished[0]));
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    EXPECT_EQ(1u, a.finished.size());

    // A stop from the handler comes out of the packet that finished the sample; that packet
    // starts nothing, and the sample is not handed on again.
    a.Packet(kPts, 2, {1, 2});
    a.stopWith = Mpeg2PsResult::ProgramEnd;
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, a.Packet(kPts, 2, {3, 4}));
    a.stopWith = Mpeg2PsResult::Ok;
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    ASSERT_EQ(2u, a.finished.size());
    EXPECT_EQ(Bytes({1, 2}), PayloadOf(a.finished[1]));
}

TEST(Mpeg2PsSampleAssemblerTest, PacketsWithoutAPtsContinueOnlyAnOpenSample) {
    Assembly a;
    // Nothing open: the payload goes nowhere.
    a.Packet(0, 2, {5, 5});
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    EXPECT_TRUE(a.finished.empty());

    // One sample of two chunks, handed on by the next packet with a PTS.
    a.Packet(kPts, 3, {1, 1, 1});
    a.Packet(0, 2, {2, 2});
    // A pack came between: the next continuation is not added.
    a.assembler.StopCopying();
    a.Packet(0, 2, {3, 3});
    a.Packet(kPts, 1, {4});
    ASSERT_EQ(1u, a.finished.size());
    EXPECT_EQ(2u, a.finished[0].GetPayload().GetChunks().size());
    EXPECT_EQ(Bytes({1, 1, 1, 2, 2}), PayloadOf(a.finished[0]));

    // Reset drops the open sample.
    a.assembler.Reset();
    EXPECT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
    EXPECT_EQ(1u, a.finished.size());
}

TEST(Mpeg2PsSampleAssemblerTest, TimesFlagsAndTypeComeFromThePacketThatStartsTheSample) {
    struct Case {
        uint8_t flags1;
        uint8_t flags2;
        uint64_t pts, dts, offset;
        uint64_t decodeTime, presentationOffset;  // microseconds
        bool key;
        uint32_t scrambling;
    };
    const Case cases[] = {
        // DTS 90000 ticks = 1 s, plus the track's 0.25 s; PTS 4500 ticks (50 ms) later;
        // aligned, scrambling control 2 (flags byte 1 bits 5-4).
        {kAligned | 0x20, kPtsDts, 94500, 90000, 250000, 1250000, 50000, true, 2},
        // A DTS after its PTS: decode time from the DTS (18000 ticks = 200 ms), no offset.
        {0, kPtsDts, 9000, 18000, 0, 200000, 0, false, 0},
        // PTS only: 1 tick = 11.1 us, truncated.
        {0x30, kPts, 1, 0, 0, 11, 0, false, 3},
    };
    for (const Case& c : cases) {
        Assembly a;
        Mpeg2PsSampleAssembler::Packet packet;
        packet.streamId = 0xC0;
        packet.payloadLength = 1;
        packet.flags1 = c.flags1;
        packet.flags2 = c.flags2;
        packet.pts = c.pts;
        packet.dts = c.dts;
        packet.scr = 27000000;
        packet.type = SampleMediaTypeAudio;
        packet.timingOffset = c.offset;
        a.assembler.Start(packet);
        const uint8_t byte = 9;
        a.assembler.Add(nullptr, &byte, 1);
        ASSERT_EQ(Mpeg2PsResult::Ok, a.assembler.Finish());
        ASSERT_EQ(1u, a.finished.size());
        const Sample& s = a.finished[0];
        EXPECT_EQ(c.decodeTime, s.GetDecodeTime().Get()) << c.pts;
        EXPECT_EQ(c.presentationOffset, s.GetPresentationOffset().Get()) << c.pts;
        EXPECT_EQ(c.key, s.IsKeyFrame()) << c.pts;
        EXPECT_EQ(c.scrambling, s.GetScramblingControl()) << c.pts;
        EXPECT_EQ(1u, s.GetType());  // audio
        // The start clocks stay after the sample went.
        EXPECT_EQ(27000000u, a.assembler.GetStartScr());
        EXPECT_EQ(c.pts, a.assembler.GetStartPts());
    }
}

// A packet's payload that lies whole in the input chunk is handed on as a slice of it (no
// copy); one that comes in two pieces is copied. A stage writing into the sample's bytes does
// not change the input, which a cache may hand on again.
TEST(Mpeg2PsSampleAssemblerTest, APayloadWholeInTheInputIsASliceOfIt) {
    Assembly a;
    MemoryChunk input = MemoryChunk::CopyOf(Bytes({0xA0, 1, 2, 3, 4, 5, 6, 0xA7}));
    a.assembler.PacketStarts(VideoPacket(kPts, 3));
    a.assembler.Add(&input, input.Data(1), 7);  // bytes past the packet's 3 are not taken
    // A continuation whose 3 bytes come in two input chunks.
    a.assembler.PacketStarts(VideoPacket(0, 3));
    a.assembler.Add(&input, input.Data(4), 2);
    MemoryChunk next = MemoryChunk::CopyOf(Bytes({9, 9}));
    a.assembler.Add(&next, next.Data(0), 2);
    ASSERT_NO_FATAL_FAILURE(ExpectSliceThenCopy(a, input.Data(1), Bytes({1, 2, 3, 4, 5, 9})));

    // A start code written over the first bytes (as a sample filter does) stays in the sample.
    MemoryChunkList::Cursor cursor(a.finished[0].GetPayload());
    const uint8_t code[2] = {0xC0, 0xDE};
    EXPECT_EQ(2u, cursor.Write(code, 2));
    EXPECT_EQ(Bytes({0xC0, 0xDE, 3, 4, 5, 9}), PayloadOf(a.finished[0]));
    EXPECT_EQ(Bytes({0xA0, 1, 2, 3, 4, 5, 6, 0xA7}),
              Bytes(input.Data(0), input.Data(0) + input.Size()));
}

// Input chunks cut one after the other from one read: a payload across the cut stays one
// slice; across two reads it is one copied chunk of the packet's size.
TEST(Mpeg2PsSampleAssemblerTest, APayloadAcrossInputChunksOfOneBufferStaysOneSlice) {
    MemoryChunk read = MemoryChunk::CopyOf(Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const MemoryChunk pieces[] = {read.Slice(0, 4), read.Slice(4, 6)};
    MemoryChunk otherRead = MemoryChunk::CopyOf(Bytes({20, 21, 22}));
    Assembly a;
    a.assembler.PacketStarts(VideoPacket(kPts, 5));  // bytes 2..6
    a.assembler.Add(&pieces[0], pieces[0].Data(2), 2);
    a.assembler.Add(&pieces[1], pieces[1].Data(0), 6);
    a.assembler.PacketStarts(VideoPacket(0, 4));  // bytes 8, 9, then 20, 21 from another read
    a.assembler.Add(&pieces[1], pieces[1].Data(4), 2);
    a.assembler.Add(&otherRead, otherRead.Data(0), 3);
    ASSERT_NO_FATAL_FAILURE(
        ExpectSliceThenCopy(a, read.Data(2), Bytes({2, 3, 4, 5, 6, 8, 9, 20, 21})));
}

}  // namespace
}  // namespace SarvelonMediaKit
