#include "engine/codecs/Aac.h"

#include "engine/codecs/MediaFormatError.h"

namespace SarvelonMediaKit {

uint32_t AacSamplingFrequency(uint8_t index) {
    static const uint32_t kFrequencies[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                              22050, 16000, 12000, 11025, 8000,  7350};
    return index < 13 ? kFrequencies[index] : 0;
}

AdtsHeader ParseAdtsHeader(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 7) {
        throw MediaFormatError("ADTS: header shorter than 7 bytes");
    }
    if (data[0] != 0xFF || (data[1] & 0xF0) != 0xF0) {
        throw MediaFormatError("ADTS: no sync word");
    }
    if ((data[1] & 0x06) != 0) {
        throw MediaFormatError("ADTS: layer is not 0");
    }
    AdtsHeader header;
    header.mpegId = (data[1] >> 3) & 1;
    header.protectionAbsent = (data[1] & 1) != 0;
    header.audioObjectType = static_cast<uint8_t>(((data[2] >> 6) & 3) + 1);
    header.samplingFrequencyIndex = (data[2] >> 2) & 0x0F;
    header.samplingFrequency = AacSamplingFrequency(header.samplingFrequencyIndex);
    if (header.samplingFrequency == 0) {
        throw MediaFormatError("ADTS: reserved sampling frequency index");
    }
    header.channelConfiguration = static_cast<uint8_t>(((data[2] & 1) << 2) | (data[3] >> 6));
    header.frameLength = ((data[3] & 3u) << 11) | (uint32_t{data[4]} << 3) | (data[5] >> 5);
    header.rawDataBlocks = (data[6] & 3u) + 1;
    header.headerSize = header.protectionAbsent ? 7 : 9;
    if (size < header.headerSize) {
        throw MediaFormatError("ADTS: header shorter than 9 bytes");
    }
    if (header.frameLength < header.headerSize) {
        throw MediaFormatError("ADTS: frame length shorter than its header");
    }
    return header;
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
