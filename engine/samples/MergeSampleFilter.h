#ifndef ENGINE_SAMPLES_MERGESAMPLEFILTER_H
#define ENGINE_SAMPLES_MERGESAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "engine/samples/Sample.h"
#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Joins a fixed number of consecutive samples into one, timed and flagged by the first of
// them; the bytes are shared, not copied. The format is left as it is.
class MergeSampleFilter : public SampleFilter {
public:
    // mergeCount samples make one (0 and 1: each sample on its own); the merged payload must
    // hold at least minimumBytes before it leaves.
    MergeSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t mergeCount,
                      uint32_t minimumBytes);
    ~MergeSampleFilter() override;

    // Drops empty samples.
    void DoReceiveSample(Sample& sample) override;
    // Discards a partly merged sample (a seek: the frames belong to the old position).
    void Reset() override;
    // Passes on a partly merged sample, whatever its count and size: at the end of the
    // stream those are the last frames of the title.
    void Drain() override;

private:
    uint32_t mergeCount_;
    uint32_t minimumBytes_;
    Sample pending_;
    uint32_t count_;
};

}  // namespace SarvelonMediaKit

#endif
