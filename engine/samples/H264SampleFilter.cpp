#include "engine/samples/H264SampleFilter.h"

#include "engine/codecs/H264.h"

namespace SarvelonMediaKit {

namespace {

void DropTrailingZeros(std::vector<uint8_t>& bytes) {
    while (!bytes.empty() && bytes.back() == 0) {
        bytes.pop_back();
    }
}

}  // namespace

H264SampleFilter::H264SampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                   uint32_t inputFormat, uint32_t outputFormat)
    : SampleFilter(stream, inputFormat, outputFormat) {}

H264SampleFilter::~H264SampleFilter() {}

bool H264SampleFilter::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    if (kind != StreamInfoKindAvcDecoderConfigurationRecord || !data || !size) {
        return false;
    }
    // Trailing zero bytes belong to the next start code (or are stuffing), not to the set.
    DropTrailingZeros(sps_);
    DropTrailingZeros(pps_);
    // The record needs profile, constraint flags and level from SPS bytes 1-3, and each set's
    // size must fit its 16-bit length field.
    if (avcC_.empty() && sps_.size() >= 4 && !pps_.empty() &&
        sps_.size() <= kAvcMaxParameterSetSize && pps_.size() <= kAvcMaxParameterSetSize) {
        // One SPS and one PPS as they are, no extension: the SPS is not parsed.
        avcC_ = BuildAvcDecoderConfigurationRecord(sps_[1], sps_[2], sps_[3], {sps_}, {pps_});
    }
    if (avcC_.empty()) {
        return false;
    }
    *data = avcC_.data();
    *size = static_cast<uint32_t>(avcC_.size());
    return true;
}

}  // namespace SarvelonMediaKit
