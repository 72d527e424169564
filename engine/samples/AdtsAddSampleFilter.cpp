#include "engine/samples/AdtsAddSampleFilter.h"

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/Aac.h"
#include "engine/samples/SampleStream.h"

namespace SarvelonMediaKit {

AdtsAddSampleFilter::AdtsAddSampleFilter(const boost::shared_ptr<SampleStream>& stream,
                                         uint32_t inputFormat, uint32_t outputFormat)
    : SampleFilter(stream, inputFormat, outputFormat),
      haveConfig_(false),
      profile_(0),
      channelConfiguration_(0),
      samplingFrequencyIndex_(0) {}

AdtsAddSampleFilter::~AdtsAddSampleFilter() {}

bool AdtsAddSampleFilter::ReadConfig() {
    if (haveConfig_) {
        return true;
    }
    const boost::shared_ptr<SampleStream> stream = GetStream();
    const uint8_t* config = nullptr;
    uint32_t size = 0;
    if (!stream || !stream->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &size) ||
        !config || size < 2) {
        DebugPrint("AdtsAddSampleFilter: no AudioSpecificConfig");
        return false;
    }
    const uint32_t objectType = config[0] >> 3;
    const uint32_t index = ((config[0] & 7) << 1) | (config[1] >> 7);
    // The header's 2-bit profile holds object types 1-4 only, and index 15 (an explicit rate)
    // has no place in it: such a stream cannot be given correct headers.
    if (objectType < 1 || objectType > kAdtsMaxAudioObjectType ||
        index == kAacExplicitFrequencyIndex) {
        DebugPrint("AdtsAddSampleFilter: object type %u, index %u not expressible in ADTS",
                   objectType, index);
        return false;
    }
    profile_ = static_cast<uint8_t>(objectType - 1);
    channelConfiguration_ = static_cast<uint8_t>((config[1] >> 3) & 0x0F);
    samplingFrequencyIndex_ = static_cast<uint8_t>(index);
    haveConfig_ = true;
    return true;
}

void AdtsAddSampleFilter::DoReceiveSample(Sample& sample) {
    MemoryChunkList& payload = sample.GetPayload();
    if (payload.IsEmpty()) {
        return;
    }
    if (!ReadConfig()) {
        CountDroppedSample();  // no headers can be made for it
        return;
    }
    // The length covers the whole access unit, also when it spans several chunks.
    const uint64_t frameLength = payload.Size() + kAdtsHeaderSize;
    if (frameLength > kAdtsMaxFrameLength) {
        DebugPrint("AdtsAddSampleFilter: frame of %llu bytes too long",
                   static_cast<unsigned long long>(frameLength));
        CountDroppedSample();
        return;
    }
    MemoryChunk& first = payload.GetChunks().front();
    if (!first.Reserve(kAdtsHeaderSize)) {
        DebugPrint("AdtsAddSampleFilter: no headroom for the header");
        CountDroppedSample();
        return;
    }
    // No CRC, original_copy and home 1, variable bit rate, one raw data block.
    WriteAdtsHeader(first.Data(0), static_cast<uint8_t>(profile_ + 1), samplingFrequencyIndex_,
                    channelConfiguration_, static_cast<uint32_t>(frameLength));
    if (GetOutputFormat() != SampleFormatNone) {
        sample.SetFormat(GetOutputFormat());
    }
    SendSampleDownstream(sample);
}

}  // namespace SarvelonMediaKit
