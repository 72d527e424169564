// Filters and the stream that owns them: the filter's link back does not keep the stream
// alive, so a stream goes with everything its filters and queue hold.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/Eac3RawToHdDvdSampleFilter.h"
#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/samples/MergeSampleFilter.h"
#include "engine/samples/SampleFilterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace filtertest;

TEST(SampleFilterTest, StreamAndFiltersGoTogether) {
    boost::shared_ptr<SampleStream> audio = MakeStream(SampleMediaTypeAudio, SampleFormatAacAdts);
    audio->AddFilter(boost::make_shared<AdtsSynchronizeSampleFilter>(audio, SampleFormatAacAdts,
                                                                     SampleFormatAacAdts));
    audio->AddFilter(boost::make_shared<MergeSampleFilter>(audio, 4, 0));
    audio->AddFilter(
        boost::make_shared<AdtsAddSampleFilter>(audio, SampleFormatAacRaw, SampleFormatAacAdts));
    audio->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(audio));
    audio->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(audio, 0));
    // Frames held by the merge filter, a partial frame carried by the synchroniser.
    const Bytes frame = {0xFF, 0xF1, 0x50, 0x80, 0x01, 0x7F, 0xFC, 0x01, 0x02, 0x03};
    Bytes data;
    for (int i = 0; i < 3; ++i) {
        data.insert(data.end(), frame.begin(), frame.end());
    }
    data.insert(data.end(), frame.begin(), frame.begin() + 5);
    Push(*audio, {data});

    boost::shared_ptr<SampleStream> video =
        MakeStream(SampleMediaTypeVideo, SampleFormatH264Length);
    video->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(video));
    video->AddFilter(boost::make_shared<LengthToStartCodeH264SampleFilter>(video));
    Push(*video, {{0x00, 0x00, 0x00, 0x05, 0x67, 0x42, 0xC0, 0x1E, 0xD9,  //
                   0x00, 0x00, 0x00, 0x02, 0x68, 0xCE,                    //
                   0x00, 0x00, 0x00, 0x02, 0x65, 0x88}});
    ASSERT_FALSE(video->IsEmpty());

    std::vector<boost::weak_ptr<SampleFilter>> filters;
    for (const auto& filter : audio->GetFilters()) {
        filters.push_back(filter);
    }
    for (const auto& filter : video->GetFilters()) {
        filters.push_back(filter);
    }
    const boost::weak_ptr<SampleStream> audioLeft = audio;
    const boost::weak_ptr<SampleStream> videoLeft = video;
    audio.reset();
    video.reset();
    EXPECT_TRUE(audioLeft.expired());
    EXPECT_TRUE(videoLeft.expired());
    for (const auto& filter : filters) {
        EXPECT_TRUE(filter.expired());
    }
}

TEST(SampleFilterTest, FilterOutlivingItsStreamAsksNobody) {
    boost::shared_ptr<SampleStream> stream =
        MakeStream(SampleMediaTypeVideo, SampleFormatH264Length);
    boost::shared_ptr<LengthToStartCodeH264SampleFilter> filter =
        boost::make_shared<LengthToStartCodeH264SampleFilter>(stream);
    stream.reset();
    EXPECT_FALSE(filter->GetStream());
    // No decoder configuration can be found: the sample is dropped, nothing is touched.
    Sample sample(0, 0, 6);
    filter->Receive(sample);
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_FALSE(filter->GetStreamInfo(StreamInfoKindAvcDecoderConfigurationRecord, &data, &size));
}

}  // namespace
}  // namespace SarvelonMediaKit
