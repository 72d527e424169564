// The ADTS filters: the AudioSpecificConfig read from a header, frames cut out of a byte
// stream with their times (sync, garbage, split frames, flush, bad lengths), and headers added
// to raw access units.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsParserSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/SampleFilterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace filtertest;

// An AAC-LC stereo ADTS frame of payloadSize bytes of fill at sampling_frequency_index index;
// lengthField replaces aac_frame_length when given.
Bytes AdtsFrame(uint32_t index, uint32_t payloadSize, uint8_t fill, int lengthField = -1) {
    const uint32_t length = lengthField >= 0 ? uint32_t(lengthField) : 7 + payloadSize;
    Bytes frame = {
        0xFF,
        0xF1,                                         // syncword, MPEG-4, no CRC
        uint8_t((1 << 6) | (index << 2)),             // profile 1 (LC), index, private 0
        uint8_t((2 << 6) | ((length >> 11) & 0x03)),  // 2 channels, length bits 12-11
        uint8_t(length >> 3),                         // length bits 10-3
        uint8_t(((length & 0x07) << 5) | 0x1F),       // length bits 2-0, fullness high
        0xFC,                                         // fullness low, one raw data block
    };
    frame.insert(frame.end(), payloadSize, fill);
    return frame;
}

Bytes Part(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

// Parser ----------------------------------------------------------------------------------

TEST(AdtsParserSampleFilterTest, DerivesTheAudioSpecificConfig) {
    boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->AddFilter(boost::make_shared<AdtsParserSampleFilter>(stream, SampleFormatAacAdts,
                                                                 SampleFormatAacAdts));
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));

    Push(*stream, {AdtsFrame(4, 10, 0xAA)});
    ASSERT_EQ(1u, Drain(*stream).size());
    ASSERT_TRUE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
    // object type 2 (LC), index 4 (44100 Hz), 2 channels, three zero flags
    EXPECT_EQ(Bytes({0x12, 0x10}), Bytes(data, data + size));

    // Profile 0 (Main), index 3, channel configuration 6 (its high bit in byte 2).
    Bytes main = AdtsFrame(3, 4, 0x00);
    main[2] = (0 << 6) | (3 << 2) | 0x01;
    main[3] = (main[3] & 0x3F) | (2 << 6);
    Push(*stream, {main});
    ASSERT_EQ(1u, Drain(*stream).size());
    ASSERT_TRUE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
    EXPECT_EQ(Bytes({0x09, 0xB0}), Bytes(data, data + size));

    // Index 12 (7350 Hz), the header cut across three chunks.
    const Bytes low = AdtsFrame(12, 5, 0x00);
    Push(*stream, {Part(low, 0, 2), Part(low, 2, 3), Part(low, 5, low.size() - 5)});
    ASSERT_EQ(1u, Drain(*stream).size());
    ASSERT_TRUE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
    // object type 2 (00010), index 12 (1100), 2 channels (0010), three zero flags
    EXPECT_EQ(Bytes({0x16, 0x10}), Bytes(data, data + size));
}

TEST(AdtsParserSampleFilterTest, DropsShortSamplesAndSeveralRawDataBlocks) {
    boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->AddFilter(boost::make_shared<AdtsParserSampleFilter>(stream, SampleFormatAacAdts,
                                                                 SampleFormatAacAdts));
    Push(*stream, {Part(AdtsFrame(4, 0, 0), 0, 6)});
    Bytes twoBlocks = AdtsFrame(4, 10, 0xAA);
    twoBlocks[6] |= 0x01;  // number_of_raw_data_blocks_in_frame 1
    Push(*stream, {twoBlocks});
    EXPECT_TRUE(stream->IsEmpty());
    EXPECT_EQ(2u, stream->GetDroppedSamples()) << "a drop is counted, not only printed";
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
}

// Synchroniser ----------------------------------------------------------------------------

struct SyncChain {
    boost::shared_ptr<SampleStream> stream;
    boost::shared_ptr<AdtsSynchronizeSampleFilter> filter;
    SyncChain() {
        stream = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
        filter = boost::make_shared<AdtsSynchronizeSampleFilter>(stream, SampleFormatAacAdts,
                                                                 SampleFormatAacAdts);
        stream->AddFilter(filter);
    }
};

TEST(AdtsSynchronizeSampleFilterTest, ChunkOfOneFrameKeepsTheSampleTimes) {
    SyncChain chain;
    const Bytes frame = AdtsFrame(4, 20, 0x11);
    Sample sample = MakeSample(*chain.stream, {frame}, 5000, 100);
    sample.SetDataAlignment(true);
    chain.stream->PushSample(sample);
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(frame, PayloadOf(out[0]));
    EXPECT_EQ(5000u, out[0].GetDecodeTime());
    EXPECT_EQ(100u, out[0].GetPresentationOffset());
    EXPECT_TRUE(out[0].IsKeyFrame());
    EXPECT_EQ(uint32_t(SampleFormatAacAdts), out[0].GetFormat());
    EXPECT_EQ(uint32_t(SampleMediaTypeAudio), out[0].GetType());
}

TEST(AdtsSynchronizeSampleFilterTest, SkipsGarbageAndExtrapolatesTimes) {
    SyncChain chain;
    const Bytes first = AdtsFrame(4, 20, 0x11);
    const Bytes second = AdtsFrame(4, 30, 0x22);
    Push(*chain.stream, {Concat({{0x00, 0xFF, 0x13}, first, second})}, 1000000, 100);
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(first, PayloadOf(out[0]));
    EXPECT_EQ(second, PayloadOf(out[1]));
    EXPECT_EQ(1000000u, out[0].GetDecodeTime());
    EXPECT_EQ(100u, out[0].GetPresentationOffset());
    EXPECT_EQ(1000000u + 1024000000u / 44100, out[1].GetDecodeTime());
    EXPECT_EQ(0u, out[1].GetPresentationOffset());
}

TEST(AdtsSynchronizeSampleFilterTest, FrameDurationFollowsTheSamplingRate) {
    struct Case {
        uint32_t index;
        uint64_t duration;
    };
    const Case cases[] = {
        {4, 23219},    // 1024000000 / 44100, truncated
        {3, 21333},    // 48000 Hz
        {11, 128000},  // 8000 Hz
        {12, 21333},   // 7350 Hz, but only indexes below 12 are timed by their rate
        {13, 21333},   // reserved index: the 48 kHz duration
        {14, 21333},   // reserved
        {15, 21333},   // an explicit frequency, which ADTS cannot carry
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        SyncChain chain;
        Push(*chain.stream,
             {Concat(
                 {AdtsFrame(c.index, 8, 1), AdtsFrame(c.index, 8, 2), AdtsFrame(c.index, 8, 3)})},
             7);
        const std::vector<Sample> out = Drain(*chain.stream);
        ASSERT_EQ(3u, out.size());
        EXPECT_EQ(7u + c.duration, out[1].GetDecodeTime());
        EXPECT_EQ(7u + 2 * c.duration, out[2].GetDecodeTime());
    }
}

TEST(AdtsSynchronizeSampleFilterTest, JoinsAFrameSplitAcrossSamples) {
    SyncChain chain;
    const Bytes first = AdtsFrame(4, 20, 0x11);
    const Bytes second = AdtsFrame(4, 40, 0x22);
    const Bytes third = AdtsFrame(4, 10, 0x33);
    Push(*chain.stream, {Concat({first, Part(second, 0, 10)})}, 0, 0);
    Push(*chain.stream, {Concat({Part(second, 10, second.size() - 10), third})}, 50000, 300);
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ(first, PayloadOf(out[0]));
    EXPECT_EQ(second, PayloadOf(out[1]));
    EXPECT_EQ(third, PayloadOf(out[2]));
    EXPECT_EQ(0u, out[0].GetDecodeTime());
    // The joined frame is extrapolated; the first frame that starts in the sample takes its
    // own times.
    EXPECT_EQ(23219u, out[1].GetDecodeTime());
    EXPECT_EQ(0u, out[1].GetPresentationOffset());
    EXPECT_EQ(50000u, out[2].GetDecodeTime());
    EXPECT_EQ(300u, out[2].GetPresentationOffset());
}

TEST(AdtsSynchronizeSampleFilterTest, TimesDoNotGoBackAcrossChunksOfOneSample) {
    SyncChain chain;
    const Bytes first = AdtsFrame(4, 20, 0x11);
    const Bytes second = AdtsFrame(4, 40, 0x22);
    const Bytes third = AdtsFrame(4, 10, 0x33);
    // One sample whose second frame is cut across its two chunks.
    Push(*chain.stream,
         {Concat({first, Part(second, 0, 10)}),
          Concat({Part(second, 10, second.size() - 10), third})},
         1000);
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ(second, PayloadOf(out[1]));
    EXPECT_EQ(1000u, out[0].GetDecodeTime());
    EXPECT_EQ(1000u + 23219, out[1].GetDecodeTime());
    EXPECT_EQ(1000u + 2 * 23219, out[2].GetDecodeTime());
}

TEST(AdtsSynchronizeSampleFilterTest, ResynchronisesAfterGarbage) {
    SyncChain chain;
    const Bytes a = AdtsFrame(4, 20, 0x11);
    const Bytes b = AdtsFrame(4, 20, 0x22);
    Push(*chain.stream, {Concat({a, b})}, 0);
    // Sync is lost at the garbage: the rest of this sample goes.
    Push(*chain.stream, {Concat({{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE}, a})}, 100000);
    // Found again in the next sample, behind more garbage.
    Push(*chain.stream, {Concat({{0xFF, 0x00, 0x01}, b, a})}, 200000);
    // One stretch thrown away: the rest of the second sample.
    EXPECT_EQ(1u, chain.stream->GetDroppedSamples());
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ(a, PayloadOf(out[0]));
    EXPECT_EQ(b, PayloadOf(out[1]));
    EXPECT_EQ(b, PayloadOf(out[2]));
    EXPECT_EQ(a, PayloadOf(out[3]));
    EXPECT_EQ(200000u, out[2].GetDecodeTime());
    EXPECT_EQ(200000u + 23219, out[3].GetDecodeTime());
}

TEST(AdtsSynchronizeSampleFilterTest, FlushForgetsCarriedBytesAndTime) {
    SyncChain chain;
    const Bytes a = AdtsFrame(4, 20, 0x11);
    const Bytes b = AdtsFrame(4, 40, 0x22);
    // Before the seek: a whole frame and the start of the next one, kept for later.
    Push(*chain.stream, {Concat({a, Part(b, 0, 12)})}, 900000);
    ASSERT_EQ(1u, Drain(*chain.stream).size());

    chain.stream->Flush();  // seek back to the start
    const Bytes x = AdtsFrame(4, 16, 0x55);
    const Bytes y = AdtsFrame(4, 16, 0x66);
    Push(*chain.stream, {Concat({x, y})}, 0);
    const std::vector<Sample> out = Drain(*chain.stream);
    // Only the new frames, timed from the new sample: nothing joined to stale bytes.
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(x, PayloadOf(out[0]));
    EXPECT_EQ(y, PayloadOf(out[1]));
    EXPECT_EQ(0u, out[0].GetDecodeTime());
    EXPECT_EQ(23219u, out[1].GetDecodeTime());
}

TEST(AdtsSynchronizeSampleFilterTest, FrameLengthBelowTheHeaderIsLostSync) {
    const Bytes good = AdtsFrame(4, 20, 0x11);
    for (int length : {0, 1, 6}) {
        SCOPED_TRACE(length);
        const Bytes bad = AdtsFrame(4, 0, 0, length);
        SyncChain chain;
        // Never taken as a frame start, not even confirmed by itself.
        Push(*chain.stream, {Concat({bad, bad, bad, bad})}, 0);
        EXPECT_TRUE(chain.stream->IsEmpty());
        // Met while synchronised: the rest of the sample goes.
        Push(*chain.stream, {Concat({good, good})}, 1000);
        Push(*chain.stream, {Concat({bad, good, good})}, 2000);
        // And the stream is found again.
        Push(*chain.stream, {Concat({good, good})}, 3000);
        // The first sample (no frame start in it) and the rest of the third.
        EXPECT_EQ(2u, chain.stream->GetDroppedSamples());
        const std::vector<Sample> out = Drain(*chain.stream);
        ASSERT_EQ(4u, out.size());
        EXPECT_EQ(1000u, out[0].GetDecodeTime());
        EXPECT_EQ(3000u, out[2].GetDecodeTime());
        for (const Sample& sample : out) {
            EXPECT_EQ(good, PayloadOf(sample));
        }
    }
}

// Header adder ----------------------------------------------------------------------------

// Raw AAC whose owner knows the AudioSpecificConfig (when one is given), through the header
// adder.
struct AddChain : OwnedStream {
    AddChain(const Bytes& config, uint32_t headroom)
        : OwnedStream(SampleMediaTypeAudio, SampleFormatAacRaw, StreamInfoKindAudioSpecificConfig,
                      config, headroom) {
        stream->AddFilter(boost::make_shared<AdtsAddSampleFilter>(stream, SampleFormatAacRaw,
                                                                  SampleFormatAacAdts));
    }
};

TEST(AdtsAddSampleFilterTest, WritesTheHeaderIntoTheHeadroom) {
    AddChain chain({0x12, 0x10}, 16);  // AAC LC, 44100 Hz, 2 channels
    EXPECT_EQ(SampleFormatAacAdts, chain.stream->GetCurrentFormat());
    const Bytes frame(100, 0x5A);
    Push(*chain.stream, {frame}, 4000);
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    const Bytes header = {
        0xFF, 0xF1,  // syncword, ID 0, layer 0, protection_absent 1
        0x50,        // profile 1, index 4, private 0, channel bit 2 = 0
        0xB0,        // channel bits 1-0 = 2, original_copy 1, home 1, length bits 12-11 = 0
        0x0D,        // length 107 bits 10-3
        0x7F,        // length bits 2-0 = 3, fullness 0x7FF bits 10-6
        0xFC,        // fullness bits 5-0, one raw data block
    };
    EXPECT_EQ(Concat({header, frame}), PayloadOf(out[0]));
    EXPECT_EQ(uint32_t(SampleFormatAacAdts), out[0].GetFormat());
    EXPECT_EQ(4000u, out[0].GetDecodeTime());
}

TEST(AdtsAddSampleFilterTest, LengthCoversEveryChunk) {
    AddChain chain({0x12, 0x10}, 16);
    Push(*chain.stream, {Bytes(60, 0x01), Bytes(40, 0x02)});
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    const Bytes bytes = PayloadOf(out[0]);
    ASSERT_EQ(107u, bytes.size());
    // aac_frame_length across bytes 3-5: 107 = 0b00'00001101'011
    EXPECT_EQ(0x00, bytes[3] & 0x03);
    EXPECT_EQ(0x0D, bytes[4]);
    EXPECT_EQ(0x60, bytes[5] & 0xE0);
}

TEST(AdtsAddSampleFilterTest, LongestFrameFitsTheLengthField) {
    AddChain chain({0x12, 0x10}, 16);
    Push(*chain.stream, {Bytes(8191 - 7, 0x01)});  // aac_frame_length 8191
    Push(*chain.stream, {Bytes(8192 - 7, 0x02)});  // one byte too many for 13 bits
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    const Bytes bytes = PayloadOf(out[0]);
    ASSERT_EQ(8191u, bytes.size());
    EXPECT_EQ(0x03, bytes[3] & 0x03);  // length bits 12-11
    EXPECT_EQ(0xFF, bytes[4]);         // bits 10-3
    EXPECT_EQ(0xE0, bytes[5] & 0xE0);  // bits 2-0
}

TEST(AdtsAddSampleFilterTest, DropsWhatCannotGetAHeader) {
    struct Case {
        const char* name;
        Bytes config;
        uint32_t headroom;
        Bytes payload;
    };
    // An empty payload goes without a count: there is nothing in it to lose.
    const Case cases[] = {
        {"empty payload", {0x12, 0x10}, 16, {}},
        {"no AudioSpecificConfig", {}, 16, {1, 2, 3}},
        {"config of one byte", {0x12}, 16, {1, 2, 3}},
        {"no headroom", {0x12, 0x10}, 6, {1, 2, 3}},
        {"object type 5 has no profile", {0x2A, 0x10}, 16, {1, 2, 3}},
        {"explicit sampling rate", {0x17, 0x90}, 16, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddChain chain(c.config, c.headroom);
        Push(*chain.stream, {c.payload});
        EXPECT_TRUE(chain.stream->IsEmpty());
        EXPECT_EQ(c.payload.empty() ? 0u : 1u, chain.stream->GetDroppedSamples());
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
