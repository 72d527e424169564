#include "engine/samples/MergeSampleFilter.h"

namespace SarvelonMediaKit {

MergeSampleFilter::MergeSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                     uint32_t mergeCount, uint32_t minimumBytes)
    : SampleFilter(stream, SampleFormatNone, SampleFormatNone),
      mMergeCount(mergeCount),
      mMinimumBytes(minimumBytes),
      mPending(MakeSample(0)),
      mCount(0) {}

MergeSampleFilter::~MergeSampleFilter() {}

void MergeSampleFilter::DoReceiveSample(Sample& sample) {
    if (sample.GetPayload().IsEmpty()) {
        return;
    }
    if (mPending.GetPayload().IsEmpty()) {
        mPending = sample;
        mCount = 1;
    } else {
        mPending.GetPayload().AppendChunks(sample.GetPayload());
        ++mCount;
    }
    if (mCount >= mMergeCount && mPending.GetPayload().Size() >= mMinimumBytes) {
        Sample merged = mPending;
        mPending = MakeSample(0);
        mCount = 0;
        SendSampleDownstream(merged);
    }
}

void MergeSampleFilter::Reset() {
    mPending = MakeSample(0);
    mCount = 0;
}

}  // namespace SarvelonMediaKit
