#include "engine/samples/AdtsParserSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"

namespace SarvelonMediaKit {

AdtsParserSampleFilter::AdtsParserSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                               uint32_t inputFormat, uint32_t outputFormat)
    : SampleFilter(stream, inputFormat, outputFormat) {}

AdtsParserSampleFilter::~AdtsParserSampleFilter() {}

uint32_t AdtsParserSampleFilter::ParseHeader(const uint8_t* header) {
    const AdtsHeader fields = ReadAdtsHeaderFields(header);
    audioSpecificConfig_ = BuildAudioSpecificConfig(
        fields.audioObjectType, fields.samplingFrequencyIndex, fields.channelConfiguration);
    return fields.samplingFrequencyIndex;
}

void AdtsParserSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.Size() < kAdtsHeaderSize) {
        DebugPrint("AdtsParserSampleFilter: payload shorter than a header");
        CountDroppedSample();
        return;
    }
    uint8_t header[kAdtsHeaderSize];
    MemoryChunkList::Cursor(payload).Read(header, kAdtsHeaderSize);
    // number_of_raw_data_blocks_in_frame: one block only.
    const uint32_t rawDataBlocks = ReadAdtsHeaderFields(header).rawDataBlocks;
    if (rawDataBlocks != 1) {
        DebugPrint("AdtsParserSampleFilter: %u raw data blocks", rawDataBlocks);
        CountDroppedSample();
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
