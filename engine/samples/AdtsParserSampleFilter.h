#ifndef ENGINE_SAMPLES_ADTSPARSERSAMPLEFILTER_H
#define ENGINE_SAMPLES_ADTSPARSERSAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/codecs/Aac.h"
#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Reads the ADTS header (ISO/IEC 13818-7 / 14496-3) in front of each AAC frame and derives the
// two-byte AudioSpecificConfig from it, which it offers as stream information of kind 5. The
// header's fields and the sampling rates are read with the helpers of engine/codecs/Aac.h.
class AdtsParserSampleFilter : public SampleFilter {
public:
    AdtsParserSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                           uint32_t outputFormat);
    ~AdtsParserSampleFilter() override;

    // Passes on samples that start with a header of a single raw data block; drops the rest.
    void DoReceiveSample(Sample& sample) override;
    // Kind 5 (StreamInfoKindAudioSpecificConfig) once a header was read.
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override;

protected:
    // Derives the AudioSpecificConfig from the header's profile, sampling_frequency_index and
    // channel_configuration (header has kAdtsHeaderSize bytes; syncword, layer and index are not
    // checked); returns the sampling_frequency_index.
    uint32_t ParseHeader(const uint8_t* header);

private:
    std::vector<uint8_t> audioSpecificConfig_;
};

}  // namespace SarvelonMediaKit

#endif
