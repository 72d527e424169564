// The H.264 filters: length prefixes to start codes with delimiter and parameter sets, the
// decoder configuration record learned from the stream, and filler removal in both packagings.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/samples/SampleFilterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace filtertest;

const Bytes kSps = {0x67, 0x42, 0xC0, 0x1E, 0xD9};  // NAL header, profile 66, flags, level 30, ...
const Bytes kPps = {0x68, 0xCE, 0x3C, 0x80};
// AVCDecoderConfigurationRecord of kSps and kPps.
const Bytes kRecord = {
    0x01,              // configurationVersion
    0x42, 0xC0, 0x1E,  // profile, compatibility, level from SPS bytes 1-3
    0xFF,              // reserved, lengthSizeMinusOne 3
    0xE1,              // reserved, one SPS
    0x00, 0x05,        // SPS length
    0x67, 0x42, 0xC0, 0x1E, 0xD9,
    0x01,        // one PPS
    0x00, 0x04,  // PPS length
    0x68, 0xCE, 0x3C, 0x80,
};
const Bytes kStartCode = {0x00, 0x00, 0x00, 0x01};
const Bytes kDelimiter = {0x00, 0x00, 0x00, 0x01, 0x09, 0xE0};  // start code, AUD, type 7
const Bytes kParameterSets = Concat({kStartCode, kSps, kStartCode, kPps});

// Length-prefixed video whose owner knows kRecord (or no record), through the start-code
// conversion.
struct H264Chain : OwnedStream {
    explicit H264Chain(bool ownerKnowsRecord)
        : OwnedStream(SampleMediaTypeVideo, SampleFormatH264Length,
                      StreamInfoKindAvcDecoderConfigurationRecord,
                      ownerKnowsRecord ? kRecord : Bytes()) {
        filter = boost::make_shared<LengthToStartCodeH264SampleFilter>(stream);
        stream->AddFilter(filter);
    }

    boost::shared_ptr<LengthToStartCodeH264SampleFilter> filter;
};

TEST(LengthToStartCodeH264SampleFilterTest, PutsDelimiterAndParameterSetsInFrontOfKeyFrames) {
    H264Chain chain(true);
    EXPECT_EQ(SampleFormatH264AnnexB, chain.stream->GetCurrentFormat());

    // 1: an IDR picture (length 5).
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x05, 0x65, 0x11, 0x22, 0x33, 0x44}}, 1000);
    // 2: a non-key picture without delimiter.
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x03, 0x41, 0x9A, 0x00}}, 2000);
    // 3: a non-key picture with its own delimiter (primary_pic_type 7).
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x02, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x02, 0x41, 0x9B}});
    // 4: marked random access by the container, though without IDR slice.
    Sample flagged = MakeSample(*chain.stream, {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9C}});
    flagged.SetDataAlignment(true);
    chain.stream->PushSample(flagged);

    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ(Concat({kDelimiter, kParameterSets, kStartCode, {0x65, 0x11, 0x22, 0x33, 0x44}}),
              PayloadOf(out[0]));
    EXPECT_TRUE(out[0].IsKeyFrame());
    EXPECT_EQ(1000u, out[0].GetDecodeTime());
    EXPECT_EQ(Concat({kDelimiter, kStartCode, {0x41, 0x9A, 0x00}}), PayloadOf(out[1]));
    EXPECT_FALSE(out[1].IsKeyFrame());
    // The delimiter already there is kept; no second one.
    EXPECT_EQ(Concat({kStartCode, {0x09, 0xF0}, kStartCode, {0x41, 0x9B}}), PayloadOf(out[2]));
    EXPECT_EQ(Concat({kDelimiter, kParameterSets, kStartCode, {0x41, 0x9C}}), PayloadOf(out[3]));
    for (const Sample& sample : out) {
        EXPECT_EQ(uint32_t(SampleFormatH264AnnexB), sample.GetFormat());
    }

    // After a flush the next picture carries the parameter sets again.
    chain.stream->Flush();
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9D}});
    const std::vector<Sample> afterFlush = Drain(*chain.stream);
    ASSERT_EQ(1u, afterFlush.size());
    EXPECT_EQ(Concat({kDelimiter, kParameterSets, kStartCode, {0x41, 0x9D}}),
              PayloadOf(afterFlush[0]));
}

TEST(LengthToStartCodeH264SampleFilterTest, LearnsTheRecordFromTheFirstPicture) {
    H264Chain chain(false);
    const Bytes spsWithZeros = Concat({kSps, {0x00, 0x00}});  // trailing zeros not part of it
    Push(*chain.stream, {Concat({{0x00, 0x00, 0x00, 0x07},
                                 spsWithZeros,
                                 {0x00, 0x00, 0x00, 0x04},
                                 kPps,
                                 {0x00, 0x00, 0x00, 0x02, 0x65, 0x88}})});
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Concat({kDelimiter,
                      kParameterSets,
                      kStartCode,
                      spsWithZeros,
                      kStartCode,
                      kPps,
                      kStartCode,
                      {0x65, 0x88}}),
              PayloadOf(out[0]));

    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(
        chain.stream->GetStreamInfo(StreamInfoKindAvcDecoderConfigurationRecord, &data, &size));
    EXPECT_EQ(kRecord, Bytes(data, data + size));
    EXPECT_FALSE(chain.stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
}

TEST(LengthToStartCodeH264SampleFilterTest, DropsWhatItCannotConvert) {
    struct Case {
        const char* name;
        bool ownerKnowsRecord;
        Bytes payload;
    };
    const Case cases[] = {
        {"empty payload", true, {}},
        {"last length past the end",
         true,
         {0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x09, 0x41}},
        {"largest length", true, {0xFF, 0xFF, 0xFF, 0xFF, 0x41}},
        {"no record for the first picture", false, {0x00, 0x00, 0x00, 0x02, 0x41, 0x9A}},
        {"a lone SPS gives no record", false, Concat({{0x00, 0x00, 0x00, 0x05}, kSps})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        H264Chain chain(c.ownerKnowsRecord);
        Push(*chain.stream, {c.payload});
        EXPECT_TRUE(chain.stream->IsEmpty());
        // An empty payload had nothing to lose; every other drop is counted.
        EXPECT_EQ(c.payload.empty() ? 0u : 1u, chain.stream->GetDroppedSamples());
    }
}

TEST(LengthToStartCodeH264SampleFilterTest, KeepsShortTailsAndZeroLengthsInBounds) {
    H264Chain chain(true);
    // A zero-length unit at the end and three stray bytes after it.
    Push(*chain.stream,
         {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC}});
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(
        Concat(
            {kDelimiter, kParameterSets, kStartCode, {0x41, 0x9A}, kStartCode, {0xAA, 0xBB, 0xCC}}),
        PayloadOf(out[0]));
}

TEST(LengthToStartCodeH264SampleFilterTest, MalformedRecordAddsNoParameterSets) {
    H264Chain chain(true);
    // One SPS announced with 9 bytes, only 2 present.
    chain.owner.info[StreamInfoKindAvcDecoderConfigurationRecord] = {0x01, 0x42, 0xC0, 0x1E, 0xFF,
                                                                     0xE1, 0x00, 0x09, 0x67, 0x42};
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9A}});
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9B}});
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Concat({kDelimiter, kStartCode, {0x41, 0x9A}}), PayloadOf(out[0]));
    EXPECT_EQ(Concat({kDelimiter, kStartCode, {0x41, 0x9B}}), PayloadOf(out[1]));
}

TEST(LengthToStartCodeH264SampleFilterTest, LengthFieldsMaySpanChunks) {
    H264Chain chain(true);
    Push(*chain.stream, {{0x00, 0x00, 0x00, 0x01, 0x41}});  // takes the parameter sets
    Drain(*chain.stream);
    // Units 41 9A 01 and 42, the length fields cut across three chunks.
    Push(*chain.stream,
         {{0x00, 0x00}, {0x00, 0x03, 0x41, 0x9A, 0x01, 0x00}, {0x00, 0x00, 0x01, 0x42}});
    const std::vector<Sample> out = Drain(*chain.stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Concat({kDelimiter, kStartCode, {0x41, 0x9A, 0x01}, kStartCode, {0x42}}),
              PayloadOf(out[0]));
}

// Filler removal --------------------------------------------------------------------------

struct FillerCase {
    const char* name;
    std::vector<Bytes> chunks;
    Bytes expected;
};

void RunFillerCases(uint32_t format, const std::vector<FillerCase>& cases) {
    for (const FillerCase& c : cases) {
        SCOPED_TRACE(c.name);
        boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeVideo, format);
        stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream));
        Push(*stream, c.chunks);
        const std::vector<Sample> out = Drain(*stream);
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(c.expected, PayloadOf(out[0]));
        EXPECT_EQ(format, out[0].GetFormat());
    }
}

TEST(H264SampleFilterFillerRemoveTest, RemovesFillerUnitsWithTheirLengths) {
    const Bytes slice = {0x00, 0x00, 0x00, 0x02, 0x41, 0x9A};
    const Bytes filler = {0x00, 0x00, 0x00, 0x03, 0x0C, 0xFF, 0x80};  // type 12
    const Bytes other = {0x00, 0x00, 0x00, 0x02, 0x41, 0x9B};
    RunFillerCases(
        SampleFormatH264Length,
        {
            {"between slices", {Concat({slice, filler, other})}, Concat({slice, other})},
            {"first", {Concat({filler, slice})}, slice},
            {"last", {Concat({slice, filler})}, slice},
            {"two in a row", {Concat({slice, filler, filler, other})}, Concat({slice, other})},
            {"across chunks",
             {Concat({slice, {0x00, 0x00}}), {0x00, 0x03, 0x0C}, Concat({{0xFF, 0x80}, other})},
             Concat({slice, other})},
            {"none", {Concat({slice, other})}, Concat({slice, other})},
        });
}

TEST(H264SampleFilterFillerRemoveTest, RemovesFillerUnitsWithTheirStartCodes) {
    RunFillerCases(
        SampleFormatH264AnnexB,
        {
            {"between 3-byte start codes",
             {{0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x00, 0x01, 0x0C, 0xFF, 0xFF, 0x80, 0x00, 0x00,
               0x01, 0x41, 0x9B}},
             {0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x00, 0x01, 0x41, 0x9B}},
            {"between 4-byte start codes",
             {{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x01, 0x0C, 0xFF, 0x80, 0x00,
               0x00, 0x00, 0x01, 0x65, 0x88}},
             {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88}},
            {"3-byte before, 4-byte after",
             {{0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x01, 0x0C, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x01,
               0x65, 0x88}},
             {0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88}},
            {"at the end",
             {{0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x00, 0x01, 0x0C, 0xFF, 0x80}},
             {0x00, 0x00, 0x01, 0x41}},
            {"at the start",
             {{0x00, 0x00, 0x01, 0x0C, 0xFF, 0x80, 0x00, 0x00, 0x01, 0x41}},
             {0x00, 0x00, 0x01, 0x41}},
            {"two in a row",
             {{0x00, 0x00, 0x01, 0x0C, 0xFF, 0x00, 0x00, 0x01, 0x0C, 0x80, 0x00, 0x00, 0x01, 0x41}},
             {0x00, 0x00, 0x01, 0x41}},
            {"start code split across chunks",
             {{0x00, 0x00, 0x01, 0x41, 0x00},
              {0x00, 0x01, 0x0C, 0xFF},
              {0x80, 0x00, 0x00, 0x01, 0x65}},
             {0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x01, 0x65}},
            {"no filler",
             {{0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x00, 0x01, 0x41}},
             {0x00, 0x00, 0x01, 0x41, 0x9A, 0x00, 0x00, 0x01, 0x41}},
        });
}

TEST(H264SampleFilterFillerRemoveTest, DropsOtherFormatsAndBadLengths) {
    boost::shared_ptr<SampleStream> audio = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    audio->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(audio));
    Push(*audio, {{0xFF, 0xF1, 0x50, 0x80, 0x01, 0x00, 0xFC}});
    EXPECT_TRUE(audio->IsEmpty());
    EXPECT_EQ(1u, audio->GetDroppedSamples());

    boost::shared_ptr<SampleStream> video =
        MakeStream(SampleMediaTypeVideo, SampleFormatH264Length);
    video->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(video));
    Push(*video, {{0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x09, 0x0C, 0xFF}});
    EXPECT_TRUE(video->IsEmpty());
    EXPECT_EQ(1u, video->GetDroppedSamples());
}

TEST(H264SampleFilterFillerRemoveTest, LeavesALoneLengthFieldAtTheEnd) {
    // A length of 9 with no byte behind it: no unit to look at, so the picture passes as it is
    // (the start-code conversion drops it, as its lengths must all hold).
    const Bytes picture = {0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x09};
    RunFillerCases(SampleFormatH264Length, {{"lone length field", {picture}, picture}});

    H264Chain chain(true);
    Push(*chain.stream, {picture});
    EXPECT_TRUE(chain.stream->IsEmpty());
}

TEST(H264SampleFilterFillerRemoveTest, RunsBeforeTheStartCodeConversion) {
    // The transport-stream multiplexer's order for length-prefixed video with filler removal.
    OwnedStream video(SampleMediaTypeVideo, SampleFormatH264Length,
                      StreamInfoKindAvcDecoderConfigurationRecord, kRecord);
    const boost::shared_ptr<SampleStream>& stream = video.stream;
    stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream));
    stream->AddFilter(boost::make_shared<LengthToStartCodeH264SampleFilter>(stream));
    Push(*stream, {{0x00, 0x00, 0x00, 0x02, 0x65, 0x88, 0x00, 0x00, 0x00, 0x02, 0x0C, 0xFF}});
    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Concat({kDelimiter, kParameterSets, kStartCode, {0x65, 0x88}}), PayloadOf(out[0]));
    EXPECT_TRUE(out[0].IsKeyFrame());
}

}  // namespace
}  // namespace SarvelonMediaKit
