#ifndef ENGINE_SAMPLES_ADTSPARSERSAMPLEFILTER_H
#define ENGINE_SAMPLES_ADTSPARSERSAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Reads the ADTS header (ISO/IEC 13818-7 / 14496-3) in front of each AAC frame and derives the
// two-byte AudioSpecificConfig from it, which it offers as stream information of kind 5.
class AdtsParserSampleFilter : public SampleFilter {
public:
    AdtsParserSampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                           uint32_t outputFormat);
    ~AdtsParserSampleFilter() override;

    // Passes on samples that start with a header of a single raw data block; drops the rest.
    void DoReceiveSample(Sample& sample) override;
    // Kind 5 (StreamInfoKindAudioSpecificConfig) once a header was read.
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override;

    // Smallest ADTS header (protection_absent 1); 9 bytes with the CRC.
    static const uint32_t kHeaderSize = 7;
    // Sampling rate of sampling_frequency_index 0-11 (ISO/IEC 14496-3), 0 for the others.
    static uint32_t SamplingRate(uint32_t index);
    // Whether the bytes start with the 12-bit syncword 0xFFF.
    static bool IsSyncword(const uint8_t* header) {
        return header[0] == 0xFF && (header[1] & 0xF0) == 0xF0;
    }
    // aac_frame_length of a header (header included); header has at least 6 bytes.
    static uint32_t FrameLength(const uint8_t* header) {
        return (static_cast<uint32_t>(header[3] & 0x03) << 11) |
               (static_cast<uint32_t>(header[4]) << 3) | (header[5] >> 5);
    }

protected:
    // Derives the AudioSpecificConfig from the header's profile, sampling_frequency_index and
    // channel_configuration (header has at least 4 bytes); returns the sampling_frequency_index.
    uint32_t ParseHeader(const uint8_t* header);

private:
    std::vector<uint8_t> audioSpecificConfig_;
};

}  // namespace SarvelonMediaKit

#endif
