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
    DropTrailingZeros(mSps);
    DropTrailingZeros(mPps);
    // The record needs profile, constraint flags and level from SPS bytes 1-3, and each set's
    // size must fit its 16-bit length field.
    if (mAvcC.empty() && mSps.size() >= 4 && !mPps.empty() && mSps.size() <= 0xFFFF &&
        mPps.size() <= 0xFFFF) {
        std::vector<uint8_t> record;
        record.reserve(11 + mSps.size() + mPps.size());
        record.push_back(1);         // configurationVersion
        record.push_back(mSps[1]);   // AVCProfileIndication (profile_idc)
        record.push_back(mSps[2]);   // profile_compatibility (constraint flags)
        record.push_back(mSps[3]);   // AVCLevelIndication (level_idc)
        record.push_back(0xFF);      // 6 reserved bits, lengthSizeMinusOne = 3
        record.push_back(0xE1);      // 3 reserved bits, numOfSequenceParameterSets = 1
        uint8_t length[2];
        SV::WriteBigEndian16(static_cast<uint32_t>(mSps.size()), length);
        record.insert(record.end(), length, length + 2);
        record.insert(record.end(), mSps.begin(), mSps.end());
        record.push_back(1);         // numOfPictureParameterSets
        SV::WriteBigEndian16(static_cast<uint32_t>(mPps.size()), length);
        record.insert(record.end(), length, length + 2);
        record.insert(record.end(), mPps.begin(), mPps.end());
        mAvcC.swap(record);
    }
    if (mAvcC.empty()) {
        return false;
    }
    *data = mAvcC.data();
    *size = static_cast<uint32_t>(mAvcC.size());
    return true;
}

}  // namespace SarvelonMediaKit
