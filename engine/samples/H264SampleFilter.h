#ifndef ENGINE_SAMPLES_H264SAMPLEFILTER_H
#define ENGINE_SAMPLES_H264SAMPLEFILTER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/samples/SampleFilter.h"

namespace SarvelonMediaKit {

// Base of the H.264 filters that learn the stream's parameter sets: it keeps the last sequence
// and picture parameter set seen (without start code or length) and builds the
// AVCDecoderConfigurationRecord (ISO/IEC 14496-15) from the first complete pair.
class H264SampleFilter : public SampleFilter {
public:
    H264SampleFilter(const boost::shared_ptr<SampleStream>& stream, uint32_t inputFormat,
                     uint32_t outputFormat);
    ~H264SampleFilter() override;

    // Kind 4 (StreamInfoKindAvcDecoderConfigurationRecord) only: the record, built once from
    // the first SPS and PPS known; false while there is none.
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override;

protected:
    std::vector<uint8_t> sps_;
    std::vector<uint8_t> pps_;
    std::vector<uint8_t> avcC_;
};

}  // namespace SarvelonMediaKit

#endif
