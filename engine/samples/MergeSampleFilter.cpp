#include "engine/samples/MergeSampleFilter.h"

namespace SarvelonMediaKit {

MergeSampleFilter::MergeSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                     uint32_t mergeCount, uint32_t minimumBytes)
    : SampleFilter(stream, SampleFormatNone, SampleFormatNone),
      mergeCount_(mergeCount),
      minimumBytes_(minimumBytes),
      pending_(MakeSample(0)),
      count_(0) {}

MergeSampleFilter::~MergeSampleFilter() {}

void MergeSampleFilter::DoReceiveSample(Sample& sample) {
    if (sample.GetPayload().IsEmpty()) {
        return;
    }
    if (pending_.GetPayload().IsEmpty()) {
        pending_ = sample;
        count_ = 1;
    } else {
        pending_.GetPayload().AppendChunks(sample.GetPayload());
        ++count_;
    }
    if (count_ >= mergeCount_ && pending_.GetPayload().Size() >= minimumBytes_) {
        Sample merged = pending_;
        pending_ = MakeSample(0);
        count_ = 0;
        SendSampleDownstream(merged);
    }
}

void MergeSampleFilter::Drain() {
    if (pending_.GetPayload().IsEmpty()) {
        return;
    }
    Sample merged = pending_;
    pending_ = MakeSample(0);
    count_ = 0;
    SendSampleDownstream(merged);
}

void MergeSampleFilter::Reset() {
    pending_ = MakeSample(0);
    count_ = 0;
}

}  // namespace SarvelonMediaKit
