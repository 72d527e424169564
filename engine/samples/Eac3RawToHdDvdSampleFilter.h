#ifndef ENGINE_SAMPLES_EAC3RAWTOHDDVDSAMPLEFILTER_H
#define ENGINE_SAMPLES_EAC3RAWTOHDDVDSAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Puts the 4-byte HD-DVD private data in front of each E-AC-3 frame, in the headroom of the
// payload's first chunk: format 15 to 16.
class Eac3RawToHdDvdSampleFilter : public SampleFilter {
public:
    // subStream: the sub-stream number n of the id 0xC0 + n (low four bits used).
    Eac3RawToHdDvdSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint8_t subStream);
    ~Eac3RawToHdDvdSampleFilter() override;

    // Drops empty samples and samples whose first chunk lacks 4 bytes of headroom.
    void DoReceiveSample(Sample& sample) override;

private:
    uint8_t subStream_;
};

}  // namespace SarvelonMediaKit

#endif
