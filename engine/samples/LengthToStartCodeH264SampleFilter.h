#ifndef ENGINE_SAMPLES_LENGTHTOSTARTCODEH264SAMPLEFILTER_H
#define ENGINE_SAMPLES_LENGTHTOSTARTCODEH264SAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/samples/H264SampleFilter.h"

namespace SarvelonMediaKit {

// Turns H.264 NAL units behind 4-byte big-endian lengths (format 25) into an Annex B byte
// stream (format 24): each length becomes the start code 00 00 00 01 in place. An access unit
// delimiter is put in front of a picture that has none, and the parameter sets of the
// AVCDecoderConfigurationRecord in front of the first picture (after creation or Reset) and of
// every key frame, so a decoder can start at any of them.
class LengthToStartCodeH264SampleFilter : public H264SampleFilter {
public:
    explicit LengthToStartCodeH264SampleFilter(const boost::shared_ptr<SampleStream>& stream);
    ~LengthToStartCodeH264SampleFilter() override;

    // Drops empty samples, samples whose NAL lengths run past the payload, and samples that
    // need parameter sets while no decoder configuration is known.
    void DoReceiveSample(Sample& sample) override;
    // The next sample carries the parameter sets again (the learned sets stay).
    void Reset() override;

private:
    // Appends start code + set for every parameter set of the record; false (prefix untouched)
    // when a count or length runs past the record.
    static bool AppendParameterSets(const uint8_t* record, uint32_t size,
                                    std::vector<uint8_t>& prefix);

    bool parameterSetsSent_;
};

}  // namespace SarvelonMediaKit

#endif
