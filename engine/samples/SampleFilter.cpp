#include "engine/samples/SampleFilter.h"

#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

SampleFilter::SampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                           uint32_t outputFormat)
    : stream_(stream),
      inputFormat_(inputFormat),
      outputFormat_(outputFormat),
      headroom_(0),
      tailroom_(0) {}

SampleFilter::~SampleFilter() {}

bool SampleFilter::GetStreamInfo(uint32_t, const uint8_t**, uint32_t*) { return false; }

bool SampleFilter::GetStreamValue(uint32_t, uint64_t*) { return false; }

void SampleFilter::Reset() {}

void SampleFilter::Drain() {}

Sample SampleFilter::MakeSample(uint32_t size) const {
    return Sample(SampleMediaTypeNone, outputFormat_, StreamReference(kInvalidStreamReference),
                  headroom_, tailroom_, size);
}

}  // namespace SarvelonMediaKit
