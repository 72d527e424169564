#include "engine/samples/H264SampleFilter.h"

#include "SVLibrary/Util/ByteOrder.h"

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
    if (avcC_.empty() && sps_.size() >= 4 && !pps_.empty() && sps_.size() <= 0xFFFF &&
        pps_.size() <= 0xFFFF) {
        std::vector<uint8_t> record;
        record.reserve(11 + sps_.size() + pps_.size());
        record.push_back(1);        // configurationVersion
        record.push_back(sps_[1]);  // AVCProfileIndication (profile_idc)
        record.push_back(sps_[2]);  // profile_compatibility (constraint flags)
        record.push_back(sps_[3]);  // AVCLevelIndication (level_idc)
        record.push_back(0xFF);     // 6 reserved bits, lengthSizeMinusOne = 3
        record.push_back(0xE1);     // 3 reserved bits, numOfSequenceParameterSets = 1
        uint8_t length[2];
        SV::WriteBigEndian16(static_cast<uint32_t>(sps_.size()), length);
        record.insert(record.end(), length, length + 2);
        record.insert(record.end(), sps_.begin(), sps_.end());
        record.push_back(1);  // numOfPictureParameterSets
        SV::WriteBigEndian16(static_cast<uint32_t>(pps_.size()), length);
        record.insert(record.end(), length, length + 2);
        record.insert(record.end(), pps_.begin(), pps_.end());
        avcC_.swap(record);
    }
    if (avcC_.empty()) {
        return false;
    }
    *data = avcC_.data();
    *size = static_cast<uint32_t>(avcC_.size());
    return true;
}

}  // namespace SarvelonMediaKit
