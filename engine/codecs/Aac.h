#ifndef ENGINE_CODECS_AAC_H
#define ENGINE_CODECS_AAC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

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
    uint32_t SamplesPerFrame() const { return 1024 * rawDataBlocks; }
};

// Sampling frequency of an index of the ISO/IEC 14496-3 table; 0 for 13 and above.
uint32_t AacSamplingFrequency(uint8_t index);

// Reads the ADTS header at the start of data. Raises MediaFormatError when fewer than 7 (or 9)
// bytes are given, the sync word is missing, the layer is not 0, the frequency index is
// reserved, or the frame length is shorter than the header.
AdtsHeader ParseAdtsHeader(const uint8_t* data, size_t size);

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
