#include "engine/codecs/H264.h"

#include "engine/codecs/BitReader.h"
#include "engine/codecs/MediaFormatError.h"

namespace SarvelonMediaKit {

namespace {

bool IsHighProfile(uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135: return true;
        default: return false;
    }
}

void SkipScalingList(BitReader& bits, unsigned size) {
    int32_t last = 8;
    int32_t next = 8;
    for (unsigned j = 0; j < size; ++j) {
        if (next != 0) {
            const int32_t delta = bits.ReadSe();
            if (delta < -128 || delta > 127) {
                throw MediaFormatError("H.264 SPS: scaling list delta out of range");
            }
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

// Table E-1 of ISO/IEC 14496-10: aspect_ratio_idc 1 to 16.
const uint16_t kSampleAspect[17][2] = {{0, 0},   {1, 1},    {12, 11}, {10, 11}, {16, 11}, {40, 33},
                                       {24, 11}, {20, 11},  {32, 11}, {80, 33}, {18, 11}, {15, 11},
                                       {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};

}  // namespace

std::vector<NalUnitRange> SplitAnnexB(const uint8_t* data, size_t size) {
    std::vector<NalUnitRange> units;
    if (data == nullptr) {
        return units;
    }
    size_t i = 0;
    size_t start = SIZE_MAX;
    auto close = [&](size_t end) {
        if (start == SIZE_MAX) {
            return;
        }
        while (end > start && data[end - 1] == 0) {
            --end;
        }
        if (end > start) {
            units.push_back({start, end - start});
        }
    };
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            close(i);
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    close(size);
    return units;
}

bool ContainsIdrSlice(const uint8_t* data, size_t size) {
    for (const NalUnitRange& unit : SplitAnnexB(data, size)) {
        if (unit.Type(data) == H264NalIdrSlice) {
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    unsigned zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(data[i]);
        zeros = data[i] == 0 ? zeros + 1 : 0;
    }
    return out;
}

H264Sps ParseH264Sps(const uint8_t* nal, size_t size) {
    if (nal == nullptr || size < 4) {
        throw MediaFormatError("H.264 SPS: too short");
    }
    if (H264NalUnitType(nal[0]) != H264NalSps) {
        throw MediaFormatError("H.264 SPS: not a sequence parameter set");
    }
    const std::vector<uint8_t> rbsp = RemoveEmulationPrevention(nal + 1, size - 1);
    BitReader bits(rbsp.data(), rbsp.size());
    H264Sps sps;
    sps.profileIdc = static_cast<uint8_t>(bits.ReadBits(8));
    sps.constraintFlags = static_cast<uint8_t>(bits.ReadBits(8));
    sps.levelIdc = static_cast<uint8_t>(bits.ReadBits(8));
    sps.spsId = bits.ReadUe();
    if (sps.spsId > 31) {
        throw MediaFormatError("H.264 SPS: seq_parameter_set_id above 31");
    }
    bool separateColourPlane = false;
    if (IsHighProfile(sps.profileIdc)) {
        sps.chromaFormatIdc = bits.ReadUe();
        if (sps.chromaFormatIdc > 3) {
            throw MediaFormatError("H.264 SPS: chroma_format_idc above 3");
        }
        if (sps.chromaFormatIdc == 3) {
            separateColourPlane = bits.ReadFlag();
        }
        const uint32_t lumaMinus8 = bits.ReadUe();
        const uint32_t chromaMinus8 = bits.ReadUe();
        if (lumaMinus8 > 6 || chromaMinus8 > 6) {
            throw MediaFormatError("H.264 SPS: bit depth above 14");
        }
        sps.bitDepthLuma = lumaMinus8 + 8;
        sps.bitDepthChroma = chromaMinus8 + 8;
        bits.ReadFlag();        // qpprime_y_zero_transform_bypass_flag
        if (bits.ReadFlag()) {  // seq_scaling_matrix_present_flag
            const unsigned lists = sps.chromaFormatIdc != 3 ? 8 : 12;
            for (unsigned i = 0; i < lists; ++i) {
                if (bits.ReadFlag()) {
                    SkipScalingList(bits, i < 6 ? 16 : 64);
                }
            }
        }
    }
    if (bits.ReadUe() > 12) {  // log2_max_frame_num_minus4
        throw MediaFormatError("H.264 SPS: log2_max_frame_num out of range");
    }
    const uint32_t pocType = bits.ReadUe();
    if (pocType == 0) {
        if (bits.ReadUe() > 12) {
            throw MediaFormatError("H.264 SPS: log2_max_pic_order_cnt_lsb out of range");
        }
    } else if (pocType == 1) {
        bits.ReadFlag();  // delta_pic_order_always_zero_flag
        bits.ReadSe();    // offset_for_non_ref_pic
        bits.ReadSe();    // offset_for_top_to_bottom_field
        const uint32_t cycle = bits.ReadUe();
        if (cycle > 255) {
            throw MediaFormatError("H.264 SPS: num_ref_frames_in_pic_order_cnt_cycle above 255");
        }
        for (uint32_t i = 0; i < cycle; ++i) {
            bits.ReadSe();
        }
    } else if (pocType != 2) {
        throw MediaFormatError("H.264 SPS: pic_order_cnt_type above 2");
    }
    bits.ReadUe();    // max_num_ref_frames
    bits.ReadFlag();  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthMbs = uint64_t{bits.ReadUe()} + 1;
    const uint64_t heightMapUnits = uint64_t{bits.ReadUe()} + 1;
    sps.frameMbsOnly = bits.ReadFlag();
    if (!sps.frameMbsOnly) {
        bits.ReadFlag();  // mb_adaptive_frame_field_flag
    }
    bits.ReadFlag();  // direct_8x8_inference_flag
    const uint64_t codedWidth = widthMbs * 16;
    const uint64_t codedHeight = heightMapUnits * 16 * (sps.frameMbsOnly ? 1 : 2);
    if (codedWidth > 16384 || codedHeight > 16384) {
        throw MediaFormatError("H.264 SPS: picture larger than 16384 pixels a side");
    }
    uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (bits.ReadFlag()) {  // frame_cropping_flag
        cropLeft = bits.ReadUe();
        cropRight = bits.ReadUe();
        cropTop = bits.ReadUe();
        cropBottom = bits.ReadUe();
    }
    const uint32_t chromaArrayType = separateColourPlane ? 0 : sps.chromaFormatIdc;
    const uint64_t subWidthC = chromaArrayType == 3 ? 1 : 2;
    const uint64_t subHeightC = chromaArrayType == 1 ? 2 : 1;
    const uint64_t cropUnitX = chromaArrayType == 0 ? 1 : subWidthC;
    const uint64_t cropUnitY = (chromaArrayType == 0 ? 1 : subHeightC) * (sps.frameMbsOnly ? 1 : 2);
    const uint64_t cropX = (cropLeft + cropRight) * cropUnitX;
    const uint64_t cropY = (cropTop + cropBottom) * cropUnitY;
    if (cropX >= codedWidth || cropY >= codedHeight) {
        throw MediaFormatError("H.264 SPS: cropping removes the whole picture");
    }
    sps.width = static_cast<uint32_t>(codedWidth - cropX);
    sps.height = static_cast<uint32_t>(codedHeight - cropY);

    if (!bits.ReadFlag()) {  // vui_parameters_present_flag
        return sps;
    }
    if (bits.ReadFlag()) {  // aspect_ratio_info_present_flag
        const uint32_t idc = bits.ReadBits(8);
        if (idc == 255) {
            sps.sarWidth = bits.ReadBits(16);
            sps.sarHeight = bits.ReadBits(16);
            if (sps.sarWidth == 0 || sps.sarHeight == 0) {
                sps.sarWidth = sps.sarHeight = 0;
            }
        } else if (idc >= 1 && idc <= 16) {
            sps.sarWidth = kSampleAspect[idc][0];
            sps.sarHeight = kSampleAspect[idc][1];
        }
    }
    if (bits.ReadFlag()) {  // overscan_info_present_flag
        bits.ReadFlag();
    }
    if (bits.ReadFlag()) {  // video_signal_type_present_flag
        bits.SkipBits(4);
        if (bits.ReadFlag()) {  // colour_description_present_flag
            bits.SkipBits(24);
        }
    }
    if (bits.ReadFlag()) {  // chroma_loc_info_present_flag
        bits.ReadUe();
        bits.ReadUe();
    }
    if (bits.ReadFlag()) {  // timing_info_present_flag
        sps.numUnitsInTick = bits.ReadBits(32);
        sps.timeScale = bits.ReadBits(32);
        sps.fixedFrameRate = bits.ReadFlag();
    }
    return sps;
}

namespace {

void CheckParameterSetCounts(const std::vector<std::vector<uint8_t>>& spsUnits,
                             const std::vector<std::vector<uint8_t>>& ppsUnits) {
    if (spsUnits.empty() || ppsUnits.empty()) {
        throw MediaFormatError("AVC configuration: needs at least one SPS and one PPS");
    }
    if (spsUnits.size() > 31 || ppsUnits.size() > 255) {
        throw MediaFormatError("AVC configuration: too many parameter sets");
    }
}

}  // namespace

std::vector<uint8_t> BuildAvcDecoderConfigurationRecord(
    uint8_t profileIdc, uint8_t constraintFlags, uint8_t levelIdc,
    const std::vector<std::vector<uint8_t>>& spsUnits,
    const std::vector<std::vector<uint8_t>>& ppsUnits) {
    CheckParameterSetCounts(spsUnits, ppsUnits);
    std::vector<uint8_t> record;
    record.push_back(1);  // configurationVersion
    record.push_back(profileIdc);
    record.push_back(constraintFlags);  // profile_compatibility
    record.push_back(levelIdc);
    record.push_back(0xFC | 3);  // reserved '111111', lengthSizeMinusOne = 3
    record.push_back(static_cast<uint8_t>(0xE0 | spsUnits.size()));
    auto append = [&record](const std::vector<uint8_t>& unit) {
        if (unit.empty() || unit.size() > kAvcMaxParameterSetSize) {
            throw MediaFormatError("AVC configuration: parameter set empty or above 65535 bytes");
        }
        record.push_back(static_cast<uint8_t>(unit.size() >> 8));
        record.push_back(static_cast<uint8_t>(unit.size()));
        record.insert(record.end(), unit.begin(), unit.end());
    };
    for (const auto& unit : spsUnits) {
        append(unit);
    }
    record.push_back(static_cast<uint8_t>(ppsUnits.size()));
    for (const auto& unit : ppsUnits) {
        append(unit);
    }
    return record;
}

std::vector<uint8_t> BuildAvcDecoderConfigurationRecord(
    const std::vector<std::vector<uint8_t>>& spsUnits,
    const std::vector<std::vector<uint8_t>>& ppsUnits) {
    CheckParameterSetCounts(spsUnits, ppsUnits);
    const H264Sps sps = ParseH264Sps(spsUnits[0].data(), spsUnits[0].size());
    std::vector<uint8_t> record = BuildAvcDecoderConfigurationRecord(
        sps.profileIdc, sps.constraintFlags, sps.levelIdc, spsUnits, ppsUnits);
    if (sps.profileIdc == 100 || sps.profileIdc == 110 || sps.profileIdc == 122 ||
        sps.profileIdc == 144) {
        record.push_back(static_cast<uint8_t>(0xFC | sps.chromaFormatIdc));
        record.push_back(static_cast<uint8_t>(0xF8 | (sps.bitDepthLuma - 8)));
        record.push_back(static_cast<uint8_t>(0xF8 | (sps.bitDepthChroma - 8)));
        record.push_back(0);  // numOfSequenceParameterSetExt
    }
    return record;
}

}  // namespace SarvelonMediaKit
