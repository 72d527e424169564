#ifndef ENGINE_CODECS_AAC_H
#define ENGINE_CODECS_AAC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

// Bytes of an ADTS header without and with its CRC (protection_absent 1 and 0).
constexpr uint32_t kAdtsHeaderSize = 7;
constexpr uint32_t kAdtsHeaderSizeWithCrc = 9;
// The largest aac_frame_length (13 bits, header included).
constexpr uint32_t kAdtsMaxFrameLength = 0x1FFF;
// adts_buffer_fullness of a variable-bit-rate stream.
constexpr uint32_t kAdtsVariableBitRateFullness = 0x7FF;
// PCM samples (per channel) one raw data block decodes to.
constexpr uint32_t kAacSamplesPerRawDataBlock = 1024;
// The highest audio object type an ADTS header's 2-bit profile (object type - 1) can carry.
constexpr uint8_t kAdtsMaxAudioObjectType = 4;
// The sampling_frequency_index that announces an explicit 24-bit frequency in an
// AudioSpecificConfig; an ADTS header cannot carry such a frequency.
constexpr uint8_t kAacExplicitFrequencyIndex = 15;

// Fields of one ADTS header (ISO/IEC 13818-7, 6.2; ISO/IEC 14496-3, 1.A.2).
struct AdtsHeader {
    uint8_t mpegId = 0;  // 0 MPEG-4, 1 MPEG-2
    bool protectionAbsent = true;
    uint8_t audioObjectType = 0;  // profile + 1 (2 = AAC LC)
    uint8_t samplingFrequencyIndex = 0;
    uint32_t samplingFrequency = 0;
    uint8_t channelConfiguration = 0;
    uint32_t frameLength = 0;    // header included
    uint32_t headerSize = 0;     // 7, or 9 with the CRC
    uint32_t rawDataBlocks = 1;  // number_of_raw_data_blocks_in_frame + 1
    uint32_t SamplesPerFrame() const { return kAacSamplesPerRawDataBlock * rawDataBlocks; }
};

// Sampling frequency of an index of the ISO/IEC 14496-3 table (0 to 12, 12 being 7350 Hz); 0
// for the reserved 13 and 14 and for 15 (an explicit frequency).
uint32_t AacSamplingFrequency(uint8_t index);

// Whether the bytes (at least 2) start with the ADTS syncword 0xFFF.
inline bool IsAdtsSyncword(const uint8_t* bytes) {
    return bytes[0] == 0xFF && (bytes[1] & 0xF0) == 0xF0;
}

// aac_frame_length (header included) of an ADTS header of at least 6 bytes.
inline uint32_t AdtsFrameLength(const uint8_t* header) {
    return (static_cast<uint32_t>(header[3] & 0x03) << 11) |
           (static_cast<uint32_t>(header[4]) << 3) | (header[5] >> 5);
}

// The fields of the kAdtsHeaderSize bytes at header as they stand, nothing checked: the
// syncword and layer are not looked at, a reserved frequency index gives samplingFrequency 0,
// and headerSize follows protection_absent whatever the frame length says.
AdtsHeader ReadAdtsHeaderFields(const uint8_t* header);

// Reads the ADTS header at the start of data. Raises MediaFormatError when fewer than 7 (or 9)
// bytes are given, the sync word is missing, the layer is not 0, the frequency index is
// reserved, or the frame length is shorter than the header.
AdtsHeader ParseAdtsHeader(const uint8_t* data, size_t size);

// Writes kAdtsHeaderSize bytes to out: an ADTS header without CRC (ID 0, layer 0), profile
// audioObjectType - 1 (object types 1 to kAdtsMaxAudioObjectType), the frequency index, the
// channel configuration as 4 bits across private_bit and channel_configuration (a value above
// 7, which the 4-bit AudioSpecificConfig field allows, sets the private bit), original_copy and
// home 1, the frame length (13 bits, header included), adts_buffer_fullness 0x7FF (variable bit
// rate) and one raw data block.
void WriteAdtsHeader(uint8_t* out, uint8_t audioObjectType, uint8_t samplingFrequencyIndex,
                     uint8_t channelConfiguration, uint32_t frameLength);

// The two-byte AudioSpecificConfig (ISO/IEC 14496-3, 1.6.2.1) of a plain AAC stream.
std::vector<uint8_t> BuildAudioSpecificConfig(uint8_t audioObjectType,
                                              uint8_t samplingFrequencyIndex,
                                              uint8_t channelConfiguration);

// ES_Descriptor (ISO/IEC 14496-1, 7.2.6.5) for an MPEG-4 audio stream: ES_ID, a
// DecoderConfigDescriptor (object type 0x40, stream type audio) carrying the
// AudioSpecificConfig as DecoderSpecificInfo, and the predefined SLConfigDescriptor 2.
std::vector<uint8_t> BuildAudioEsDescriptor(uint16_t esId,
                                            const std::vector<uint8_t>& audioSpecificConfig,
                                            uint32_t bufferSizeBytes, uint32_t maxBitRate,
                                            uint32_t averageBitRate);

// Appends an expandable descriptor length (ISO/IEC 14496-1, 8.3.3): seven bits a byte, the high
// bit set on every byte but the last.
void AppendDescriptorLength(std::vector<uint8_t>& out, uint32_t length);

}  // namespace SarvelonMediaKit

#endif
