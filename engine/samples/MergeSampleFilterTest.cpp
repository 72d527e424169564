// The merge filter: N samples leave as one, timed and flagged by the first.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "engine/samples/MergeSampleFilter.h"
#include "engine/samples/SampleFilterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace filtertest;

boost::shared_ptr<SampleStream> MergingStream(uint32_t count, uint32_t minimum) {
    boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, count, minimum));
    return stream;
}

TEST(MergeSampleFilterTest, JoinsFourSamplesTimedByTheFirst) {
    boost::shared_ptr<SampleStream> stream = MergingStream(4, 0);
    EXPECT_EQ(SampleFormatAacAdts, stream->GetCurrentFormat());  // output format 0
    Sample first = MakeSample(*stream, {{0xA1, 0xA2}}, 1000, 10);
    first.SetDataAlignment(true);
    first.SetScramblingControl(2);
    stream->PushSample(first);
    Push(*stream, {{0xB1}}, 2000, 20);
    Push(*stream, {{0xC1}, {0xC2}}, 3000, 30);
    EXPECT_TRUE(stream->IsEmpty());
    Push(*stream, {{0xD1}}, 4000, 40);
    Push(*stream, {{0xE1}}, 5000, 50);      // opens the next group
    EXPECT_EQ(6u, stream->GetBytesHeld());  // only the merged sample is queued

    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({0xA1, 0xA2, 0xB1, 0xC1, 0xC2, 0xD1}), PayloadOf(out[0]));
    EXPECT_EQ(1000u, out[0].GetDecodeTime());
    EXPECT_EQ(10u, out[0].GetPresentationOffset());
    EXPECT_TRUE(out[0].IsKeyFrame());
    EXPECT_EQ(2u, out[0].GetScramblingControl());
    EXPECT_EQ(uint32_t(SampleFormatAacAdts), out[0].GetFormat());
}

TEST(MergeSampleFilterTest, CountsOfZeroAndOnePassEachSample) {
    for (uint32_t count : {0u, 1u}) {
        SCOPED_TRACE(count);
        boost::shared_ptr<SampleStream> stream = MergingStream(count, 0);
        Push(*stream, {{0x01}}, 1);
        Push(*stream, {{}}, 2);  // empty: dropped
        Push(*stream, {{0x03}}, 3);
        const std::vector<Sample> out = Drain(*stream);
        ASSERT_EQ(2u, out.size());
        EXPECT_EQ(1u, out[0].GetDecodeTime());
        EXPECT_EQ(3u, out[1].GetDecodeTime());
    }
}

TEST(MergeSampleFilterTest, WaitsForTheMinimumBytes) {
    boost::shared_ptr<SampleStream> stream = MergingStream(2, 5);
    Push(*stream, {{1, 2}}, 1);
    Push(*stream, {{3}}, 2);  // two samples, 3 bytes: too few
    Push(*stream, {{4, 5}}, 3);
    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({1, 2, 3, 4, 5}), PayloadOf(out[0]));
    EXPECT_EQ(1u, out[0].GetDecodeTime());
}

TEST(MergeSampleFilterTest, FlushDiscardsAPartlyMergedSample) {
    boost::shared_ptr<SampleStream> stream = MergingStream(3, 0);
    Push(*stream, {{0x01}}, 1);
    Push(*stream, {{0x02}}, 2);
    stream->Flush();
    Push(*stream, {{0x03}}, 3);
    Push(*stream, {{0x04}}, 4);
    EXPECT_TRUE(stream->IsEmpty());
    Push(*stream, {{0x05}}, 5);
    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({0x03, 0x04, 0x05}), PayloadOf(out[0]));
    EXPECT_EQ(3u, out[0].GetDecodeTime());
}

TEST(MergeSampleFilterTest, DrainPassesOnAPartGroupWhateverItsSize) {
    // Three of four samples, and far below the minimum: at the end of the stream they are the
    // last frames, and they leave as one sample timed by the first.
    boost::shared_ptr<SampleStream> stream = MergingStream(4, 100);
    stream->Drain();  // nothing pending: nothing leaves
    EXPECT_TRUE(stream->IsEmpty());
    Push(*stream, {{0x01}}, 10, 1);
    Push(*stream, {{0x02, 0x03}}, 20, 2);
    Push(*stream, {{0x04}}, 30, 3);
    EXPECT_TRUE(stream->IsEmpty());
    stream->Drain();
    std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({0x01, 0x02, 0x03, 0x04}), PayloadOf(out[0]));
    EXPECT_EQ(10u, out[0].GetDecodeTime());
    EXPECT_EQ(1u, out[0].GetPresentationOffset());

    // Drained once only; the next sample opens a new group of its own.
    stream->Drain();
    EXPECT_TRUE(stream->IsEmpty());
    Push(*stream, {{0x05}}, 40);
    stream->Drain();
    out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({0x05}), PayloadOf(out[0]));
    EXPECT_EQ(40u, out[0].GetDecodeTime());
}

TEST(MergeSampleFilterTest, DrainRunsFirstToLastSoNothingStaysInALaterFilter) {
    // Pairs, then groups of three pairs: five samples leave the first filter as two pairs and
    // a single that only the drain lets out; the second filter must still see that single.
    boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, 2, 0));
    stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, 3, 0));
    for (uint8_t i = 1; i <= 5; ++i) Push(*stream, {{i}}, i * 100u);
    EXPECT_TRUE(stream->IsEmpty());
    stream->Drain();
    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Bytes({1, 2, 3, 4, 5}), PayloadOf(out[0]));
    EXPECT_EQ(100u, out[0].GetDecodeTime());
}

}  // namespace
}  // namespace SarvelonMediaKit
