#ifndef ENGINE_SAMPLES_EAC3HDDVDTORAWSAMPLEFILTER_H
#define ENGINE_SAMPLES_EAC3HDDVDTORAWSAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Removes the 4-byte HD-DVD private data (sub-stream id 0xC0-0xCF, one frame header, first
// access unit pointer 1) in front of E-AC-3 frames: format 16 to 15.
class Eac3HdDvdToRawSampleFilter : public SampleFilter {
public:
    explicit Eac3HdDvdToRawSampleFilter(const boost::shared_ptr<SampleStream>& stream);
    ~Eac3HdDvdToRawSampleFilter() override;

    // Drops samples shorter than the private data or not starting with it (the private
    // data's layout is kEac3HdDvdPrivateData of engine/codecs/Eac3.h).
    void DoReceiveSample(Sample& sample) override;
};

}  // namespace SarvelonMediaKit

#endif
