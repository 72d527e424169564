#include "engine/codecs/Aac.h"

#include "engine/codecs/MediaFormatError.h"

namespace SarvelonMediaKit {

uint32_t AacSamplingFrequency(uint8_t index) {
    static const uint32_t kFrequencies[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                              22050, 16000, 12000, 11025, 8000,  7350};
    return index < 13 ? kFrequencies[index] : 0;
}

AdtsHeader ReadAdtsHeaderFields(const uint8_t* header) {
    AdtsHeader fields;
    fields.mpegId = (header[1] >> 3) & 1;
    fields.protectionAbsent = (header[1] & 1) != 0;
    fields.audioObjectType = static_cast<uint8_t>(((header[2] >> 6) & 3) + 1);
    fields.samplingFrequencyIndex = (header[2] >> 2) & 0x0F;
    fields.samplingFrequency = AacSamplingFrequency(fields.samplingFrequencyIndex);
    fields.channelConfiguration = static_cast<uint8_t>(((header[2] & 1) << 2) | (header[3] >> 6));
    fields.frameLength = AdtsFrameLength(header);
    fields.rawDataBlocks = (header[6] & 3u) + 1;
    fields.headerSize = fields.protectionAbsent ? kAdtsHeaderSize : kAdtsHeaderSizeWithCrc;
    return fields;
}

AdtsHeader ParseAdtsHeader(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kAdtsHeaderSize) {
        throw MediaFormatError("ADTS: header shorter than 7 bytes");
    }
    if (!IsAdtsSyncword(data)) {
        throw MediaFormatError("ADTS: no sync word");
    }
    if ((data[1] & 0x06) != 0) {
        throw MediaFormatError("ADTS: layer is not 0");
    }
    const AdtsHeader header = ReadAdtsHeaderFields(data);
    if (header.samplingFrequency == 0) {
        throw MediaFormatError("ADTS: reserved sampling frequency index");
    }
    if (size < header.headerSize) {
        throw MediaFormatError("ADTS: header shorter than 9 bytes");
    }
    if (header.frameLength < header.headerSize) {
        throw MediaFormatError("ADTS: frame length shorter than its header");
    }
    return header;
}

void WriteAdtsHeader(uint8_t* out, uint8_t audioObjectType, uint8_t samplingFrequencyIndex,
                     uint8_t channelConfiguration, uint32_t frameLength) {
    const uint32_t profile = (audioObjectType - 1u) & 0x03;
    const uint32_t index = samplingFrequencyIndex & 0x0Fu;
    const uint32_t channels = channelConfiguration & 0x0Fu;
    const uint32_t length = frameLength & kAdtsMaxFrameLength;
    const uint32_t fullness = kAdtsVariableBitRateFullness;
    out[0] = 0xFF;  // syncword, high 8 bits
    // syncword low 4 bits, ID 0 (MPEG-4), layer 00, protection_absent 1 (no CRC)
    out[1] = 0xF1;
    // profile (2 bits), sampling_frequency_index (4 bits), then the 4-bit channel
    // configuration across private_bit and the high bit of channel_configuration
    out[2] = static_cast<uint8_t>((profile << 6) | (index << 2) | (channels >> 2));
    // channel_configuration low 2 bits, original_copy 1, home 1, copyright_identification_bit
    // 0, copyright_identification_start 0, aac_frame_length bits 12-11
    out[3] = static_cast<uint8_t>(((channels & 0x03) << 6) | 0x20 | 0x10 | (length >> 11));
    // aac_frame_length bits 10-3
    out[4] = static_cast<uint8_t>(length >> 3);
    // aac_frame_length bits 2-0, adts_buffer_fullness bits 10-6
    out[5] = static_cast<uint8_t>(((length & 0x07) << 5) | (fullness >> 6));
    // adts_buffer_fullness bits 5-0, number_of_raw_data_blocks_in_frame 0
    out[6] = static_cast<uint8_t>((fullness & 0x3F) << 2);
}

std::vector<uint8_t> BuildAudioSpecificConfig(uint8_t audioObjectType,
                                              uint8_t samplingFrequencyIndex,
                                              uint8_t channelConfiguration) {
    // audioObjectType (5 bits), samplingFrequencyIndex (4), channelConfiguration (4), then the
    // GASpecificConfig flags frameLengthFlag, dependsOnCoreCoder, extensionFlag, all 0.
    const uint16_t bits = static_cast<uint16_t>(((audioObjectType & 0x1F) << 11) |
                                                ((samplingFrequencyIndex & 0x0F) << 7) |
                                                ((channelConfiguration & 0x0F) << 3));
    return {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
}

void AppendDescriptorLength(std::vector<uint8_t>& out, uint32_t length) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(length & 0x7F);
        length >>= 7;
    } while (length != 0 && count < 5);
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
    }
}

namespace {

void Append32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::vector<uint8_t> BuildAudioEsDescriptor(uint16_t esId,
                                            const std::vector<uint8_t>& audioSpecificConfig,
                                            uint32_t bufferSizeBytes, uint32_t maxBitRate,
                                            uint32_t averageBitRate) {
    std::vector<uint8_t> specific;  // DecoderSpecificInfo
    specific.push_back(0x05);
    AppendDescriptorLength(specific, static_cast<uint32_t>(audioSpecificConfig.size()));
    specific.insert(specific.end(), audioSpecificConfig.begin(), audioSpecificConfig.end());

    std::vector<uint8_t> config;  // DecoderConfigDescriptor
    config.push_back(0x04);
    AppendDescriptorLength(config, static_cast<uint32_t>(13 + specific.size()));
    config.push_back(0x40);             // objectTypeIndication: ISO/IEC 14496-3 audio
    config.push_back((0x05 << 2) | 1);  // streamType audio, upStream 0, reserved 1
    config.push_back(static_cast<uint8_t>(bufferSizeBytes >> 16));  // bufferSizeDB, 24 bits
    config.push_back(static_cast<uint8_t>(bufferSizeBytes >> 8));
    config.push_back(static_cast<uint8_t>(bufferSizeBytes));
    Append32(config, maxBitRate);
    Append32(config, averageBitRate);
    config.insert(config.end(), specific.begin(), specific.end());

    const uint8_t slConfig[] = {0x06, 0x01, 0x02};  // SLConfigDescriptor, predefined = 2

    std::vector<uint8_t> descriptor;
    descriptor.push_back(0x03);
    AppendDescriptorLength(descriptor, static_cast<uint32_t>(3 + config.size() + sizeof slConfig));
    descriptor.push_back(static_cast<uint8_t>(esId >> 8));
    descriptor.push_back(static_cast<uint8_t>(esId));
    descriptor.push_back(0);  // no dependence, no URL, no OCR stream; priority 0
    descriptor.insert(descriptor.end(), config.begin(), config.end());
    descriptor.insert(descriptor.end(), slConfig, slConfig + sizeof slConfig);
    return descriptor;
}

}  // namespace SarvelonMediaKit
