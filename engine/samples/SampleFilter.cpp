#include "engine/samples/SampleFilter.h"

#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

SampleFilter::SampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                           uint32_t outputFormat)
    : mStream(stream),
      mInputFormat(inputFormat),
      mOutputFormat(outputFormat),
      mHeadroom(0),
      mTailroom(0) {}

SampleFilter::~SampleFilter() {}

bool SampleFilter::GetStreamInfo(uint32_t, const uint8_t**, uint32_t*) {
    return false;
}

bool SampleFilter::GetStreamValue(uint32_t, uint64_t*) {
    return false;
}

void SampleFilter::Reset() {}

Sample SampleFilter::MakeSample(uint32_t size) const {
    return Sample(SampleMediaTypeNone, mOutputFormat, StreamReference(kInvalidStreamReference),
                  mHeadroom, mTailroom, size);
}

}  // namespace SarvelonMediaKit
