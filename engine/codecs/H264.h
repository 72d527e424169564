#ifndef ENGINE_CODECS_H264_H
#define ENGINE_CODECS_H264_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// nal_unit_type (ISO/IEC 14496-10, table 7-1) from the first byte of a NAL unit.
inline uint8_t H264NalUnitType(uint8_t nalHeader) { return nalHeader & 0x1F; }

// One NAL unit inside an Annex B byte stream: where its first byte (the NAL header) lies and how
// many bytes it has, start code and trailing zero bytes excluded.
struct NalUnitRange {
    size_t offset = 0;
    size_t size = 0;
    uint8_t Type(const uint8_t* stream) const { return H264NalUnitType(stream[offset]); }
};

enum H264NalType : uint8_t {
    H264NalSlice = 1,
    H264NalIdrSlice = 5,
    H264NalSei = 6,
    H264NalSps = 7,
    H264NalPps = 8,
    H264NalAccessUnitDelimiter = 9,
    H264NalFiller = 12,
};

// Splits an Annex B byte stream (ISO/IEC 14496-10, annex B) at its 00 00 01 start codes. Bytes
// before the first start code are ignored; empty NAL units are left out.
std::vector<NalUnitRange> SplitAnnexB(const uint8_t* data, size_t size);

// True when the access unit holds a slice of an IDR picture.
bool ContainsIdrSlice(const uint8_t* data, size_t size);

// NAL payload with the emulation-prevention bytes (the 03 of 00 00 03) removed.
std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size);

// The fields of a sequence parameter set that describe the picture.
struct H264Sps {
    uint8_t profileIdc = 0;
    uint8_t constraintFlags = 0;  // the byte between profile_idc and level_idc
    uint8_t levelIdc = 0;
    uint32_t spsId = 0;
    uint32_t chromaFormatIdc = 1;
    uint32_t bitDepthLuma = 8;
    uint32_t bitDepthChroma = 8;
    bool frameMbsOnly = true;
    // Displayed size: coded size less the cropping rectangle.
    uint32_t width = 0;
    uint32_t height = 0;
    // Sample (pixel) aspect ratio from the VUI; 0:0 when the stream does not say.
    uint32_t sarWidth = 0;
    uint32_t sarHeight = 0;
    // VUI timing, 0 when absent.
    uint32_t numUnitsInTick = 0;
    uint32_t timeScale = 0;
    bool fixedFrameRate = false;
};

// Reads a sequence parameter set NAL unit (header byte included, emulation prevention still in
// place). Raises MediaFormatError on a truncated or malformed unit or a picture size that no
// level allows (above 16384 pixels a side).
H264Sps ParseH264Sps(const uint8_t* nal, size_t size);

// The longest parameter set an AVCDecoderConfigurationRecord can hold (16-bit length fields).
constexpr size_t kAvcMaxParameterSetSize = 0xFFFF;

// AVCDecoderConfigurationRecord (ISO/IEC 14496-15, 5.2.4.1) for the given parameter sets (NAL
// units, header byte included) with 4-byte NAL lengths, as the three profile bytes are given
// (AVCProfileIndication, profile_compatibility, AVCLevelIndication) and without the chroma and
// bit-depth extension: nothing of the SPS is parsed. Raises MediaFormatError without an SPS or
// a PPS, or with units empty, too long or too many for the record.
std::vector<uint8_t> BuildAvcDecoderConfigurationRecord(
    uint8_t profileIdc, uint8_t constraintFlags, uint8_t levelIdc,
    const std::vector<std::vector<uint8_t>>& spsUnits,
    const std::vector<std::vector<uint8_t>>& ppsUnits);

// AVCDecoderConfigurationRecord (ISO/IEC 14496-15, 5.2.4.1) for the given parameter sets (NAL
// units, header byte included) with 4-byte NAL lengths. Profile, compatibility and level come
// from the first SPS; the high profiles get the chroma and bit-depth extension. Raises
// MediaFormatError without an SPS or a PPS, or with units too long or too many for the record.
std::vector<uint8_t> BuildAvcDecoderConfigurationRecord(
    const std::vector<std::vector<uint8_t>>& spsUnits,
    const std::vector<std::vector<uint8_t>>& ppsUnits);

}  // namespace SarvelonMediaKit

#endif
