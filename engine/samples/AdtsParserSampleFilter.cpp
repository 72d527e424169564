#include "engine/samples/AdtsParserSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"

namespace SarvelonMediaKit {

AdtsParserSampleFilter::AdtsParserSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                               uint32_t inputFormat, uint32_t outputFormat)
    : SampleFilter(stream, inputFormat, outputFormat) {}

AdtsParserSampleFilter::~AdtsParserSampleFilter() {}

uint32_t AdtsParserSampleFilter::SamplingRate(uint32_t index) {
    static const uint32_t kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                        24000, 22050, 16000, 12000, 11025, 8000};
    return index < 12 ? kRates[index] : 0;
}

uint32_t AdtsParserSampleFilter::ParseHeader(const uint8_t* header) {
    const uint32_t profile = header[2] >> 6;
    const uint32_t index = (header[2] >> 2) & 0x0F;
    const uint32_t channels = ((header[2] & 1) << 2) | (header[3] >> 6);
    audioSpecificConfig_.resize(2);
    // audioObjectType (profile + 1, 5 bits), samplingFrequencyIndex (4 bits),
    // channelConfiguration (4 bits), frameLengthFlag, dependsOnCoreCoder, extensionFlag (0).
    audioSpecificConfig_[0] = static_cast<uint8_t>(((profile + 1) << 3) | (index >> 1));
    audioSpecificConfig_[1] = static_cast<uint8_t>(((index & 1) << 7) | (channels << 3));
    return index;
}

void AdtsParserSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.Size() < kHeaderSize) {
        DebugPrint("AdtsParserSampleFilter: payload shorter than a header");
        return;
    }
    uint8_t header[kHeaderSize];
    MemoryChunkList::Cursor cursor(payload);
    for (uint32_t i = 0; i < kHeaderSize; ++i) {
        header[i] = *cursor;
        cursor.Advance(1);
    }
    // number_of_raw_data_blocks_in_frame: one block only.
    if ((header[6] & 0x03) != 0) {
        DebugPrint("AdtsParserSampleFilter: %u raw data blocks", (header[6] & 0x03) + 1);
        return;
    }
    ParseHeader(header);
    SendSampleDownstream(sample);
}

bool AdtsParserSampleFilter::GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) {
    if (kind != StreamInfoKindAudioSpecificConfig || audioSpecificConfig_.empty() || !data ||
        !size) {
        return false;
    }
    *data = audioSpecificConfig_.data();
    *size = static_cast<uint32_t>(audioSpecificConfig_.size());
    return true;
}

}  // namespace SarvelonMediaKit
