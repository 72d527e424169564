#ifndef ENGINE_SAMPLES_ADTSADDSAMPLEFILTER_H
#define ENGINE_SAMPLES_ADTSADDSAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Puts a 7-byte ADTS header, built from the stream's AudioSpecificConfig, in front of each raw
// AAC access unit, in the headroom of the payload's first chunk.
class AdtsAddSampleFilter : public SampleFilter {
public:
    AdtsAddSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                        uint32_t outputFormat);
    ~AdtsAddSampleFilter() override;

    // Drops empty samples, samples while no usable AudioSpecificConfig is known, samples whose
    // first chunk lacks 7 bytes of headroom, and frames too long for the 13-bit length.
    void DoReceiveSample(Sample& sample) override;

private:
    // Reads the configuration from the stream (once); false while it is missing or cannot be
    // put in a 7-byte header.
    bool ReadConfig();

    bool haveConfig_;
    uint8_t profile_;
    uint8_t channelConfiguration_;
    uint8_t samplingFrequencyIndex_;
};

}  // namespace SarvelonMediaKit

#endif
